"""Media checks with the real decoders."""

import json
import os
import shutil
import subprocess
import unittest


def available():
    return shutil.which("ffprobe") is not None and shutil.which("ffmpeg") is not None


def needed(cls):
    """Class decorator for tests that make or check media: without ffmpeg they
    skip, unless the run requires the media checks (AVD_REQUIRE_MEDIA=1, as CI
    sets), where a missing install step must fail rather than pass as a skip."""
    if available():
        return cls
    if os.environ.get("AVD_REQUIRE_MEDIA") != "1":
        return unittest.skip("ffmpeg and ffprobe are needed for the media")(cls)

    def missing(_cls):
        raise RuntimeError("ffmpeg or ffprobe is not on PATH but AVD_REQUIRE_MEDIA=1")

    cls.setUpClass = classmethod(missing)
    return cls


def probe(path):
    """Codec, size and decoded frame count of the first video stream."""
    out = subprocess.run(
        ["ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0",
         "-show_entries", "stream=codec_name,width,height,nb_read_frames", "-of", "json", path],
        capture_output=True, check=True).stdout
    stream = json.loads(out)["streams"][0]
    return stream["codec_name"], int(stream["width"]), int(stream["height"]), int(stream["nb_read_frames"])


def decode_errors(path):
    """What the decoder complains about while decoding the whole file."""
    result = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-f", "null", "-"], capture_output=True)
    return result.stderr.decode(errors="replace") + ("" if result.returncode == 0 else f"exit {result.returncode}")
