#!/usr/bin/env python3
"""Builds avd archives for tests and the demo from media encoded with ffmpeg.

An archive is a sequence of records: a 12-byte little-endian header (type in
the low byte of the first word, payload length in its upper 24 bits, then
seconds and microseconds since 1970) followed by the payload. The first
record is the stream header; the frames follow.

    avdfixture.py mjpeg OUT.avd [--frames N] [--size WxH] [--fps F]
    avdfixture.py h264 OUT.avd [--frames N] [--size WxH] [--fps F] [--profile P]
    avdfixture.py demo DIR
"""

import argparse
import os
import shutil
import struct
import subprocess
import tempfile

START_SECONDS = 1_700_000_000


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def record(rtype, payload, seconds=START_SECONDS, microseconds=0):
    return struct.pack("<III", rtype | (len(payload) << 8), seconds, microseconds) + payload


def stream_header(codec, codec_block, opaque=b""):
    return struct.pack("<IIII", 0x12345678, 0x9ABCDEF0, codec, len(opaque)) + opaque + codec_block


def mjpeg_header(fps, width, height, opaque=b""):
    return record(0, stream_header(2, struct.pack("<III", fps, width, height), opaque))


def h264_header(sps, pps, opaque=b""):
    block = struct.pack("<I", len(sps)) + sps + struct.pack("<I", len(pps)) + pps
    return record(0, stream_header(1, block, opaque))


def frame_time(index, fps, start=START_SECONDS):
    micros = index * 1_000_000 // fps
    return start + micros // 1_000_000, micros % 1_000_000


def ffmpeg(*args):
    subprocess.run(["ffmpeg", "-v", "error", "-y", *args], check=True)


def encode_jpegs(frames, size, fps):
    """Encodes test-pattern frames as separate JPEG pictures."""
    work = tempfile.mkdtemp(prefix="avdfixture-")
    try:
        ffmpeg("-f", "lavfi", "-i", f"testsrc=size={size}:rate={fps}", "-frames:v", str(frames),
               "-c:v", "mjpeg", "-q:v", "5", os.path.join(work, "f%05d.jpg"))
        names = sorted(os.listdir(work))
        return [read_bytes(os.path.join(work, n)) for n in names]
    finally:
        shutil.rmtree(work)


def flv_tags(data):
    """Yields (type, timestamp ms, whole tag with its previous-tag-size) of an FLV file."""
    pos = 9 + 4
    while pos + 11 <= len(data):
        size = int.from_bytes(data[pos + 1:pos + 4], "big")
        stamp = int.from_bytes(data[pos + 4:pos + 7], "big") | data[pos + 7] << 24
        end = pos + 11 + size + 4
        yield data[pos], stamp, data[pos:end]
        pos = end


def encode_h264_tags(frames, size, fps, profile, filters="", bframes=0):
    """Encodes a test pattern with libx264 into FLV tags; returns sps, pps, frame tags
    in decode order. `filters` are applied to the pattern first (noise makes large
    frames); with `bframes` the tags carry composition times."""
    work = tempfile.mkdtemp(prefix="avdfixture-")
    try:
        out = os.path.join(work, "v.flv")
        source = f"testsrc=size={size}:rate={fps}" + ("," + filters if filters else "")
        ffmpeg("-f", "lavfi", "-i", source, "-frames:v", str(frames),
               "-pix_fmt", "yuv420p", "-c:v", "libx264", "-profile:v", profile, "-g", str(fps),
               "-bf", str(bframes), "-f", "flv", out)
        data = read_bytes(out)
    finally:
        shutil.rmtree(work)
    sps = pps = None
    tags = []
    for tag_type, stamp, tag in flv_tags(data):
        if tag_type != 9:
            continue
        packet_type = tag[12]
        if packet_type == 0:  # decoder configuration
            config = tag[16:]
            sps_len = int.from_bytes(config[6:8], "big")
            sps = config[8:8 + sps_len]
            pps_len = int.from_bytes(config[9 + sps_len:11 + sps_len], "big")
            pps = config[11 + sps_len:11 + sps_len + pps_len]
        elif packet_type == 1:
            tags.append((stamp, tag))
    return sps, pps, tags


def capture_time(micros, start=START_SECONDS):
    """(seconds, microseconds) of a frame `micros` after `start` (seconds since 1970)."""
    return start + micros // 1_000_000, micros % 1_000_000


def mjpeg_archive(frames=10, size="320x240", fps=25, jpegs=None, times=None, start=START_SECONDS):
    """`times`: each frame's capture time in microseconds after `start`."""
    width, height = (int(v) for v in size.split("x"))
    jpegs = jpegs or encode_jpegs(frames, size, fps)
    out = mjpeg_header(fps, width, height)
    for i, jpeg in enumerate(jpegs):
        out += record(1, jpeg, *capture_time(times[i] if times else i * 1_000_000 // fps, start))
    return out


def h264_archive(frames=10, size="320x240", fps=25, profile="baseline", bframes=0, times=None,
                 start=START_SECONDS, filters=""):
    """Records in decode order, captured at the tags' decode times unless `times`
    gives each one in microseconds after `start` (seconds since 1970)."""
    sps, pps, tags = encode_h264_tags(frames, size, fps, profile, filters, bframes)
    out = h264_header(sps, pps)
    for i, (stamp, tag) in enumerate(tags):
        # The recorder's own clock: the tag's timestamp field is rewritten anyway.
        micros = times[i] if times else stamp * 1000
        out += record(2 if tag[11] >> 4 == 1 else 1, tag, *capture_time(micros, start))
    return out


def make_demo(directory):
    """A small tree with archives of both kinds and one the tool must keep."""
    os.makedirs(os.path.join(directory, "camera-1"), exist_ok=True)
    os.makedirs(os.path.join(directory, "camera-2", "2026-12-08"), exist_ok=True)
    files = {
        "camera-1/entrance.avd": h264_archive(75, "640x360", 25, "main"),
        "camera-1/yard.avd": mjpeg_archive(30, "320x240", 10),
        "camera-2/2026-12-08/hall.avd": h264_archive(50, "320x240", 25, "baseline"),
        "camera-2/2026-12-08/gate.avd": mjpeg_archive(20, "480x360", 15),
        # An archive of an unknown codec: the tool leaves it in place.
        "camera-2/unknown-codec.avd": record(0, stream_header(7, b"")),
    }
    for name, data in files.items():
        with open(os.path.join(directory, name), "wb") as f:
            f.write(data)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("kind", choices=["mjpeg", "h264", "demo"])
    parser.add_argument("out")
    parser.add_argument("--frames", type=int, default=10)
    parser.add_argument("--size", default="320x240")
    parser.add_argument("--fps", type=int, default=25)
    parser.add_argument("--profile", default="baseline")
    args = parser.parse_args()
    if args.kind == "demo":
        make_demo(args.out)
        return
    data = (mjpeg_archive(args.frames, args.size, args.fps) if args.kind == "mjpeg"
            else h264_archive(args.frames, args.size, args.fps, args.profile))
    with open(args.out, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
