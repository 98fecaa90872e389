"""--salvage through the real executable: each damaged archive's outputs must
decode frame for frame as its undamaged twins' do, converted without it."""

import functools
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import avdtool
import media

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools"))
import avdfixture  # noqa: E402

START = avdfixture.START_SECONDS


def records(archive):
    """The archive's records, each with its header."""
    out, pos = [], 0
    while pos < len(archive):
        end = pos + 12 + (int.from_bytes(archive[pos:pos + 4], "little") >> 8)
        out.append(archive[pos:end])
        pos = end
    return out


@functools.cache
def recordings():
    """Two sessions of each codec, the second with other parameters, and a
    later H.264 session with the first one's."""
    return {
        "h": records(avdfixture.h264_archive(30, "320x240", 25, "baseline")),
        "h2": records(avdfixture.h264_archive(20, "352x288", 25, "baseline", start=START + 60)),
        "hlater": records(avdfixture.h264_archive(30, "320x240", 25, "baseline", start=START + 100)),
        "m": records(avdfixture.mjpeg_archive(20, "320x240", 10)),
        "m2": records(avdfixture.mjpeg_archive(10, "160x120", 10, start=START + 60)),
    }


def garbage(n):
    return bytes((i * 7919 + 13) % 251 + 3 for i in range(n))


def cases():
    """name: (options, damaged archive, the twin of each output, bytes skipped, where first)."""
    r = recordings()
    h, h2, m, m2 = r["h"], r["h2"], r["m"], r["m2"]
    join = b"".join
    table = {
        "h264-garbage": ([], join(h[:10]) + garbage(3000) + join(h[11:]), [join(h[:10] + h[11:])], 3000, [10]),
        "mjpeg-zeros": ([], join(m[:5]) + bytes(len(m[5])) + join(m[6:]), [join(m[:5] + m[6:])], len(m[5]), [5]),
        "h264-cut": ([], join(h[:8]) + h[8][:100] + join(h[9:]), [join(h[:8] + h[9:])], 100, [8]),
        "mjpeg-header-covered": ([], join(m[:5]) + b"\xee" * 12 + m[5][12:] + join(m[6:]), [join(m[:5] + m[6:])],
                                 len(m[5]), [5]),
        "h264-sessions-mp4": (["--format", "mp4", "--timestamps"], join(h[:15]) + garbage(500) + join(h2),
                              [join(h[:15]), join(h2)], 500, [15]),
        "mjpeg-sessions": ([], join(m + m2), [join(m), join(m2)], 0, []),
        "h264-same-session": ([], join(h + r["hlater"]), [join(h + r["hlater"][1:])], 0, []),
        "mjpeg-garbage-at-end": (["--timestamps"], join(m) + garbage(777), [join(m)], 777, [len(m)]),
    }
    for name, (options, damaged, twins, skipped, first) in table.items():
        # The first damage lies behind the first records of the codec's recording.
        at = len(join((h if name[0] == "h" else m)[:first[0]])) if first else 0
        yield name, options, damaged, twins, skipped, at


def framemd5(path):
    return subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-f", "framemd5", "-"],
                          capture_output=True, check=True).stdout


@media.needed
class SalvageTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="avdconv-salvage-")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def run_tool(self, directory, *options):
        status, _, err = avdtool.run([*options, avdtool.tool_path(directory)])
        return status, err.replace(b"\r\n", b"\n").decode()

    def test_every_intact_frame_is_recovered_and_nothing_invented(self):
        for name, options, damaged, twins, skipped, at in cases():
            with self.subTest(name=name):
                work, twin_dir = os.path.join(self.dir, name), os.path.join(self.dir, name + "-twins")
                avdtool.write_tree(work, {"cam.avd": damaged})
                avdtool.write_tree(twin_dir, {f"t{i}.avd": t for i, t in enumerate(twins)})
                self.assertEqual(self.run_tool(twin_dir, *options), (0, ""))
                status, err = self.run_tool(work, "--salvage", *options)
                self.assertEqual(status, 0)
                kept = skipped != 0 or len(twins) > 1
                if kept:
                    where = f" in 1 place (the first at byte {at})" if skipped else " in 0 places"
                    frames = sum(r[0] in (1, 2) for t in twins for r in records(t))
                    shown = avdtool.tool_path(os.path.join(work, "cam.avd"))
                    outputs = f"{len(twins)} output" + "s" * (len(twins) > 1)
                    self.assertEqual(err, f"avdconv: kept {shown}: salvaged {frames} frames in {outputs}, "
                                          f"skipped {skipped} bytes{where}, archive kept\n"
                                          "avdconv: 0 converted, 1 kept, 0 skipped\n")
                else:
                    self.assertEqual(err, "")
                left = avdtool.snapshot(work)
                self.assertEqual(left.pop("cam.avd", None), damaged if kept else None)
                made = avdtool.snapshot(twin_dir)
                self.assertEqual(len(left), len(made))
                for i in range(len(twins)):
                    for ext in ("flv", "avi", "mp4", "srt"):
                        ours = os.path.join(work, "cam." + ("" if i == 0 else f"{i + 1}.") + ext)
                        theirs = os.path.join(twin_dir, f"t{i}.{ext}")
                        self.assertEqual(os.path.exists(ours), os.path.exists(theirs), ours)
                        if ext == "srt" and os.path.exists(ours):
                            self.assertEqual(left[os.path.basename(ours)], made[f"t{i}.srt"])
                        elif os.path.exists(ours):
                            self.assertEqual(framemd5(ours), framemd5(theirs))

    def test_a_session_name_another_archive_has_keeps_the_archive_untouched(self):
        r = recordings()
        sessions = b"".join(r["m"] + r["m2"])
        avdtool.write_tree(self.dir, {"cam.avd": sessions, "cam.2.avd": b"someone else's"})
        os.makedirs(os.path.join(self.dir, "sub", "cam.2.avi"))
        # What a killed salvage left for a second session goes (the crash switch's
        # tool takes every leftover as quiet).
        left = "cam.2.srt.1234-0badf00d" + avdtool.TEMPORARY_SUFFIX
        avdtool.write_tree(os.path.join(self.dir, "sub"), {"cam.avd": sessions, left: b"x"})
        env = dict(os.environ, AVD_CRASH_AT="0", AVD_QUIET_SECONDS="0")
        status, _, err = avdtool.run(["--salvage", avdtool.tool_path(self.dir)], exe=os.environ["AVDCONV_CRASHING"],
                                     env=env)
        # Less the count of file operations the switch adds.
        err = err.replace(b"\r\n", b"\n").decode().rsplit("file operations:", 1)[0]
        self.assertEqual(status, 1)
        shown = avdtool.tool_path(os.path.join(self.dir, "cam.avd"))
        sub = avdtool.tool_path(os.path.join(self.dir, "sub", "cam.avd"))
        self.assertEqual(err, f"avdconv: kept {avdtool.tool_path(os.path.join(self.dir, 'cam.2.avd'))}: "
                              "no stream header\n"
                              f"avdconv: kept {shown}: a further recording session needs the name cam.2.avi, "
                              "but cam.2.avd is another archive\n"
                              f"avdconv: kept {sub}: a further recording session needs the name cam.2.avi, "
                              "but that is a directory\n"
                              "avdconv: 0 converted, 3 kept, 0 skipped\n")
        self.assertEqual(sorted(avdtool.snapshot(self.dir)), ["cam.2.avd", "cam.avd", os.path.join("sub", "cam.avd")])


if __name__ == "__main__":
    unittest.main()
