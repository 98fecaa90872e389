"""MP4 outputs and SubRip timestamps, judged by the decoders and a browser."""

import datetime
import fractions
import functools
import json
import os
import re
import resource
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import unittest
import zoneinfo

import avdtool
import browser
import media

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools"))
import avdfixture  # noqa: E402

# 2025-12-31 23:59:59 UTC: the first seconds cross a date.
NEW_YEAR = 1_767_225_599
# 25 frames a second with up to 15 ms of jitter and a gap of 2.5 s after frame 20.
JITTER = [i * 40_000 + i * 7_919 % 15_000 + (2_500_000 if i >= 20 else 0) for i in range(36)]


@functools.cache
def archives():
    """name: (picture size, archive) of the H.264 archives every MP4 promise is checked on."""
    return {
        "baseline": ((320, 240), avdfixture.h264_archive(30, "320x240", 25, "baseline", start=NEW_YEAR)),
        "bframes": ((640, 360), avdfixture.h264_archive(40, "640x360", 25, "main", bframes=2, start=NEW_YEAR + 3600)),
        "jitter": ((352, 288), avdfixture.h264_archive(36, "352x288", 25, "baseline", times=JITTER, start=NEW_YEAR)),
        # Several megabytes: the writer flushes several times.
        "large": ((640, 480), avdfixture.h264_archive(60, "640x480", 25, "main", filters="noise=alls=60:allf=t")),
    }


def frames_of(archive):
    """(capture time in microseconds since 1970, keyframe) of each frame, up to a second stream header."""
    found, pos = [], 0
    while pos + 12 <= len(archive):
        word, seconds, micros = struct.unpack_from("<III", archive, pos)
        if word & 0xFF == 0 and pos:
            break
        if word & 0xFF:
            found.append((seconds * 1_000_000 + micros, word & 0xFF == 2))
        pos += 12 + (word >> 8)
    return found


def convert(directory, *options, env=None):
    status, out, err = avdtool.run([*options, avdtool.tool_path(directory)], env=env, timeout=300)
    return status, err.replace(b"\r\n", b"\n").decode("utf-8", "replace")


def ffprobe(path, *args):
    return json.loads(subprocess.run(["ffprobe", "-v", "error", *args, "-of", "json", path],
                                     capture_output=True, check=True).stdout)


def packets(path):
    """(decode time in microseconds, keyframe) of each stored sample, edit lists aside."""
    shown = ffprobe(path, "-ignore_editlist", "1", "-select_streams", "v:0",
                    "-show_entries", "stream=time_base:packet=dts,flags")
    base = fractions.Fraction(shown["streams"][0]["time_base"])
    times = (p["dts"] * base * 1_000_000 for p in shown["packets"])
    return [(int(t) if t.denominator == 1 else float(t), "K" in p["flags"]) for t, p in zip(times, shown["packets"])]


def annexb(path):
    return subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-c", "copy", "-bsf:v", "h264_mp4toannexb",
                           "-f", "h264", "-"], capture_output=True, check=True).stdout


def top_level_boxes(path):
    names, pos, end = [], 0, os.path.getsize(path)
    with open(path, "rb") as f:
        while pos < end:
            f.seek(pos)
            size, kind = struct.unpack(">I4s", f.read(8))
            size = struct.unpack(">Q", f.read(8))[0] if size == 1 else size or end - pos
            if size < 8:
                raise AssertionError(f"box {kind!r} of {size} bytes at {pos}")
            names.append(kind.decode("latin-1"))
            pos += size
    if pos != end:
        raise AssertionError(f"the last box runs {pos - end} bytes past the end")
    return names


def utc_iso(seconds):
    return datetime.datetime.fromtimestamp(seconds, datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%S.000000Z")


@media.needed
class Mp4OutputTest(unittest.TestCase):
    """Each archive converted once with `--format mp4` and once, as a twin, without options."""

    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="avdconv-mp4-")
        for kind in ("mp4", "flv"):
            avdtool.write_tree(os.path.join(cls.dir, kind), {n + ".avd": a for n, (_, a) in archives().items()})
        cls.runs = (convert(os.path.join(cls.dir, "mp4"), "--format", "mp4"), convert(os.path.join(cls.dir, "flv")))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    def output(self, name, kind):
        return os.path.join(self.dir, kind, f"{name}.{kind}")

    def test_the_runs_leave_exactly_the_outputs(self):
        self.assertEqual(self.runs, ((0, ""), (0, "")))
        for kind in ("mp4", "flv"):
            self.assertEqual(sorted(avdtool.snapshot(os.path.join(self.dir, kind))),
                             sorted(f"{n}.{kind}" for n in archives()))

    def test_the_decoders_find_every_frame_at_its_capture_time(self):
        for name, (size, archive) in archives().items():
            with self.subTest(name=name):
                mp4, frames = self.output(name, "mp4"), frames_of(archive)
                self.assertEqual(media.probe(mp4), ("h264", *size, len(frames)))
                self.assertEqual(packets(mp4), [(t - frames[0][0], key) for t, key in frames])
                self.assertEqual(ffprobe(mp4, "-show_entries", "format_tags=creation_time")["format"]["tags"],
                                 {"creation_time": utc_iso(frames[0][0] // 1_000_000)})
                self.assertEqual(media.decode_errors(mp4), "")
                # The remux loses nothing the FLV keeps.
                stream = annexb(mp4)
                self.assertGreater(len(stream), 0)
                self.assertEqual(stream, annexb(self.output(name, "flv")))
                boxes = top_level_boxes(mp4)
                self.assertEqual(boxes[0], "ftyp")
                self.assertLess(boxes.index("moov"), boxes.index("mdat"))

    @browser.needed
    def test_chromium_plays_each_mp4_to_its_end_and_refuses_the_flv(self):
        for name, (size, archive) in archives().items():
            with self.subTest(name=name):
                times = [t for t, _ in frames_of(archive)]
                last = times[-1] - times[-2]
                seen = browser.play(self.output(name, "mp4"))
                self.assertNotIn("error", seen)
                self.assertEqual((seen["videoWidth"], seen["videoHeight"]), size)
                self.assertAlmostEqual(seen["duration"], (times[-1] - times[0] + last) / 1e6, delta=last / 1e6)
                self.assertTrue(seen.get("seeked") and seen.get("painted"), seen)
        self.assertIn("error", browser.play(self.output("baseline", "flv")))


def timeline_mp4(times, fps):
    return [(t - times[0]) / 1e6 for t in times] + [(2 * times[-1] - times[-2] - times[0]) / 1e6]


def timeline_flv(times, fps):
    ticks = [t // 10_000 for t in times]
    return timeline_mp4([k * 10_000 for k in ticks], fps)


def timeline_avi(times, fps):
    return [i / fps for i in range(len(times) + 1)]


def expected_cues(archive, timeline, fps, zone):
    """One cue per capture second that holds frames, from its first frame to the next cue."""
    times = [t for t, _ in frames_of(archive)]
    at = timeline(times, fps)
    firsts = [i for i, t in enumerate(times) if i == 0 or t // 1_000_000 != times[i - 1] // 1_000_000]
    ends = [at[i] for i in firsts[1:]] + [at[-1]]
    local = (datetime.datetime.fromtimestamp(times[i] // 1_000_000, zoneinfo.ZoneInfo(zone)).strftime(
        "%Y-%m-%d %H:%M:%S %z") for i in firsts)
    return [(at[i], end, text[:-2] + ":" + text[-2:]) for i, end, text in zip(firsts, ends, local)]


def read_cues(path):
    """(start, end in seconds, text) of each cue of a SubRip file."""
    data = avdfixture.read_bytes(path)
    if b"\r" in data:
        raise AssertionError("lines end in CR LF")
    cues = []
    for number, block in enumerate(data.decode("utf-8").strip("\n").split("\n\n"), 1):
        index, span, text = block.split("\n")
        if index != str(number):
            raise AssertionError(f"cue {number} is numbered {index}")
        h1, m1, s1, f1, h2, m2, s2, f2 = map(int, re.fullmatch(r"(\d\d):(\d\d):(\d\d),(\d{3}) --> "
                                                               r"(\d\d):(\d\d):(\d\d),(\d{3})", span).groups())
        cues.append((h1 * 3600 + m1 * 60 + s1 + f1 / 1000, h2 * 3600 + m2 * 60 + s2 + f2 / 1000, text))
    return cues


@media.needed
class TimestampsTest(unittest.TestCase):
    def test_cues_give_each_captured_second_its_local_time_on_the_outputs_timeline(self):
        h264 = archives()["jitter"][1]
        # Five frames a second, with a gap of two seconds after the seventh.
        mjpeg = avdfixture.mjpeg_archive(12, "160x120", 5, start=NEW_YEAR,
                                         times=[i * 200_000 + (2_000_000 if i >= 7 else 0) for i in range(12)])
        rows = [  # options, output of the H.264 archive and its timeline
            (["--format", "mp4"], "mp4", timeline_mp4),
            ([], "flv", timeline_flv),
        ]
        zones = ["UTC"] + ([] if avdtool.WINDOWS else ["Asia/Kolkata", "EST5EDT"])
        for options, kind, timeline in rows:
            for zone in zones:
                with self.subTest(options=options, zone=zone):
                    work = tempfile.mkdtemp(prefix="avdconv-srt-")
                    self.addCleanup(shutil.rmtree, work, ignore_errors=True)
                    avdtool.write_tree(work, {"h.avd": h264, "m.avd": mjpeg})
                    status, err = convert(work, *options, "--timestamps", env=dict(os.environ, TZ=zone))
                    self.assertEqual((status, err), (0, ""))
                    self.assertEqual(sorted(avdtool.snapshot(work)), ["h." + kind, "h.srt", "m.avi", "m.srt"])
                    for name, archive, line, fps in (("h", h264, timeline, 25), ("m", mjpeg, timeline_avi, 5)):
                        got, want = read_cues(os.path.join(work, name + ".srt")), expected_cues(archive, line, fps, zone)
                        self.assertEqual([c[2] for c in got], [c[2] for c in want], name)
                        for (start, end, _), (at, until, _) in zip(got, want):
                            # Milliseconds on the file's side.
                            self.assertAlmostEqual(start, at, delta=0.0011, msg=name)
                            self.assertAlmostEqual(end, until, delta=0.0011, msg=name)


@media.needed
class Mp4SafetyTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="avdconv-mp4-safety-")
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.dir, name)

    def assertComplete(self, mp4, frames):
        self.assertEqual(media.probe(mp4)[3], frames)
        self.assertEqual(media.decode_errors(mp4), "")

    def test_an_mjpeg_archive_stays_avi_byte_for_byte(self):
        mjpeg = avdfixture.mjpeg_archive(8, "320x240", 10)
        for kind, options in (("plain", []), ("mp4", ["--format", "mp4"])):
            avdtool.write_tree(self.path(kind), {"cam.avd": mjpeg})
            self.assertEqual(convert(self.path(kind), *options), (0, ""))
        self.assertEqual(avdtool.snapshot(self.path("mp4")), avdtool.snapshot(self.path("plain")))
        self.assertEqual(list(avdtool.snapshot(self.path("plain"))), ["cam.avi"])

    def test_earlier_outputs_and_kept_archives(self):
        base = archives()["baseline"][1]
        refused = avdfixture.h264_header(b"\x67\x42", b"\x68") + avdfixture.record(1, b"tag")
        rows = {  # name: archive, files an earlier run left, archive kept, MP4 of the archive's first session
            "replaced": (base, {"replaced.mp4": b"earlier"}, False, True),
            "refused": (refused, {"refused.mp4": b"earlier"}, True, False),
            "flv-left": (base, {"flv-left.flv": b"earlier"}, False, True),
            "sessions": (base + base, {}, True, True),
        }
        for name, (archive, earlier, _, _) in rows.items():
            avdtool.write_tree(self.dir, {name + ".avd": archive, **earlier})
        status, err = convert(self.dir, "--format", "mp4")
        self.assertEqual(status, 0, err)
        self.assertIn(f"sessions.avd: stopped at byte {len(base)} of {2 * len(base)} (second stream header), "
                      "output written, archive kept; --salvage converts what follows\n", err)
        after = avdtool.snapshot(self.dir)
        self.assertFalse([n for n in after if n.endswith(avdtool.TEMPORARY_SUFFIX)])
        for name, (archive, earlier, kept, written) in rows.items():
            with self.subTest(name=name):
                self.assertEqual(after.get(name + ".avd"), archive if kept else None)
                for left, data in earlier.items():
                    if not (written and left.endswith(".mp4")):
                        self.assertEqual(after[left], data)
                if written:
                    self.assertComplete(self.path(name + ".mp4"), len(frames_of(base)))
                self.assertEqual({n for n in after if n.startswith(name + ".") and not n.endswith(".avd")},
                                 {name + ".mp4"} | set(earlier))

    @unittest.skipIf(avdtool.WINDOWS, "file size limits are a POSIX matter")
    def test_a_full_disk_leaves_an_existing_mp4_alone(self):
        large = archives()["large"][1]
        avdtool.write_tree(self.dir, {"cam.avd": large, "cam.mp4": b"earlier"})

        def limit():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (len(large) // 2, len(large) // 2))

        run = subprocess.run([avdtool.EXE, "--format", "mp4", self.dir], capture_output=True, preexec_fn=limit,
                             timeout=300)
        self.assertIn(b"cam.avd: output could not be written", run.stderr)
        self.assertEqual(avdtool.snapshot(self.dir), {"cam.avd": large, "cam.mp4": b"earlier"})


if __name__ == "__main__":
    unittest.main()
