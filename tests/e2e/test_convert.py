"""Whole conversion runs over real temporary trees."""

import os
import shutil
import struct
import sys
import tempfile
import unittest

import avdtool
import media
import progress_lines

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools"))
import avdfixture  # noqa: E402


files_below = avdtool.snapshot


@media.needed
class ConversionRunTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.h264 = avdfixture.h264_archive(12, "320x240", 25, "main")
        cls.h264_high = avdfixture.h264_archive(6, "1920x1080", 25, "high")
        cls.mjpeg = avdfixture.mjpeg_archive(8, "320x240", 10)

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="avdconv-e2e-")
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)

    def put(self, name, data):
        avdtool.write_tree(self.dir, {name: data})

    def run_tool(self):
        status, out, err = avdtool.run([avdtool.tool_path(self.dir)])
        self.assertEqual(status, 0, err)
        return out

    def test_mixed_tree_converts_exactly_what_it_can(self):
        # Whole records of the H.264 archive end where the last frame is cut short.
        cut_h264 = self.h264[:-7]
        header_only = avdfixture.mjpeg_header(25, 64, 48)
        foreign = avdfixture.record(0, avdfixture.stream_header(3, b""))
        kept = {
            "foreign.avd": foreign,
            "deep/er/empty.avd": b"",
            "deep/frame-first.avd": avdfixture.record(1, b"frame first"),
            "deep/lies.avd": avdfixture.record(0, avdfixture.stream_header(2, struct.pack("<I", 25))),
            "notes.txt": b"not an archive",
            "upper.AVD": self.mjpeg,
        }
        converted = {
            "cam-h264.avd": ("cam-h264.flv", "h264", 320, 240, 12),
            "deep/er/cam-mjpeg.avd": ("deep/er/cam-mjpeg.avi", "mjpeg", 320, 240, 8),
            "deep/cut.avd": ("deep/cut.flv", "h264", 320, 240, 11),
            "full-hd.avd": ("full-hd.flv", "h264", 1920, 1080, 6),
        }
        sources = {"cam-h264.avd": self.h264, "deep/er/cam-mjpeg.avd": self.mjpeg, "deep/cut.avd": cut_h264,
                   "full-hd.avd": self.h264_high}
        for name, data in {**kept, **sources, "header-only.avd": header_only}.items():
            self.put(name, data)

        out = self.run_tool()

        total = sum(1 for name in {**kept, **sources, "header-only.avd": None} if name.endswith("avd"))
        self.assertEqual(total, 9)
        shown = avdtool.tool_path(self.dir)
        banner = avdtool.banner(shown)
        self.assertTrue(out.startswith(banner))
        self.assertTrue(out.endswith(b"\nfinished."))
        progress_lines.check(self, out[len(banner):-len(b"\nfinished.")], total)

        after = files_below(self.dir)
        expected_names = set(kept) | {v[0] for v in converted.values()} | {"header-only.avi"}
        self.assertEqual(set(after), expected_names)
        for name, data in kept.items():
            self.assertEqual(after[name], data, name)
        self.assertEqual(len(after["header-only.avi"]), 236)
        for output, codec, width, height, frames in converted.values():
            with self.subTest(output=output):
                self.assertEqual(media.probe(os.path.join(self.dir, output)), (codec, width, height, frames))
                self.assertEqual(media.decode_errors(os.path.join(self.dir, output)), "")

    @unittest.skipIf(avdtool.WINDOWS, "Windows names are UTF-16")
    def test_names_that_are_not_utf8_convert_under_their_own_bytes(self):
        # Latin-1; the long name's temporary name is cut by its bytes on disk.
        latin, long = os.path.join(os.fsencode(self.dir), b"caf\xe9"), b"\xff/" + b"\xe9" * 247
        avdtool.write_tree(latin, {b"cam\xe9.avd": self.mjpeg, long + b".avd": self.h264})
        status, out, err = avdtool.run([latin])
        self.assertEqual((status, err), (0, b""))
        self.assertTrue(out.startswith(avdtool.banner(self.dir + "/caf\\xe9")), out)
        self.assertEqual(set(files_below(latin)), {b"cam\xe9.avi", long + b".flv"})

    def test_rerun_over_a_converted_tree_finds_nothing(self):
        self.put("a.avd", self.mjpeg)
        self.run_tool()
        status, out, _ = avdtool.run([avdtool.tool_path(self.dir)])
        self.assertEqual(status, 0)
        self.assertTrue(out.endswith(avdtool.NO_ARCHIVES))
        self.assertEqual(set(files_below(self.dir)), {"a.avi"})

    def test_many_tiny_archives_finish_every_time(self):
        # Completion races: tasks finishing together must stop the run once,
        # and the run must never hang (the watchdog is the timeout).
        runs = 3 if avdtool.WINDOWS else 12
        count = 300
        tiny = avdfixture.mjpeg_header(25, 16, 16) + avdfixture.record(1, b"\xff\xd8\xff\xd9")
        for run in range(runs):
            with self.subTest(run=run):
                for i in range(count):
                    self.put(f"d{i % 7}/t{i}.avd", tiny)
                status, out, _ = avdtool.run([avdtool.tool_path(self.dir)], timeout=300)
                self.assertEqual(status, 0)
                self.assertTrue(out.endswith(b"\nfinished."))
                banner = avdtool.banner(avdtool.tool_path(self.dir))
                progress_lines.check(self, out[len(banner):-len(b"\nfinished.")], count)
                after = files_below(self.dir)
                self.assertEqual(len(after), count)
                self.assertTrue(all(name.endswith(".avi") for name in after))
                shutil.rmtree(self.dir)
                os.makedirs(self.dir)


if __name__ == "__main__":
    unittest.main()
