"""The report on standard error and the exit status: standard output stays
exactly as it always was, standard error says why every archive that is still
there is there, and the status tells a script whether anything failed."""

import os
import re
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import unittest

import avdtool
import progress_lines

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools"))
import avdfixture  # noqa: E402

FRAMES = avdfixture.mjpeg_header(25, 16, 16) + avdfixture.record(1, b"\xff\xd8 picture \xff\xd9")


class ReportTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="avdconv-report-")
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)

    def put(self, name, data):
        avdtool.write_tree(self.dir, {name: data})

    def shown(self, *names):
        return avdtool.separator().join([avdtool.tool_path(self.dir), *names])

    def run_tool(self, archives):
        """Runs over the directory; checks standard output byte for byte and
        returns (status, standard error as text)."""
        status, out, err = avdtool.run([avdtool.tool_path(self.dir)], timeout=300)
        banner = avdtool.banner(avdtool.tool_path(self.dir))
        self.assertTrue(out.startswith(banner), out)
        if archives:
            self.assertTrue(out.endswith(b"\nfinished."), out)
            progress_lines.check(self, out[len(banner):-len(b"\nfinished.")], archives)
        else:
            self.assertEqual(out[len(banner):], avdtool.NO_ARCHIVES)
        return status, err.replace(b"\r\n", b"\n").decode("utf-8")

    def test_every_archive_converted_says_nothing(self):
        self.put("a.avd", FRAMES)
        self.put("b/c.avd", FRAMES)
        self.assertEqual(self.run_tool(2), (0, ""))

    def test_archives_kept_for_their_content_are_named_and_the_run_succeeds(self):
        second_session = FRAMES + FRAMES
        self.put("codec.avd", avdfixture.record(0, avdfixture.stream_header(3, b"")))
        self.put("empty.avd", b"")
        self.put("frame-first.avd", avdfixture.record(1, b"frame"))
        self.put("sessions.avd", second_session)
        self.put("good.avd", FRAMES)
        status, err = self.run_tool(5)
        self.assertEqual(status, 0)
        self.assertEqual(err, "".join([
            f"avdconv: kept {self.shown('codec.avd')}: unknown codec 3\n",
            f"avdconv: kept {self.shown('empty.avd')}: empty\n",
            f"avdconv: kept {self.shown('frame-first.avd')}: no stream header\n",
            f"avdconv: kept {self.shown('sessions.avd')}: stopped at byte {len(FRAMES)} of {len(second_session)}"
            " (second stream header), output written, archive kept; --salvage converts what follows\n",
            "avdconv: 1 converted, 4 kept, 0 skipped\n",
        ]))

    def test_failures_are_named_and_the_run_fails(self):
        self.put("taken.avd", FRAMES)
        os.makedirs(os.path.join(self.dir, "taken.avi"))
        self.put("good.avd", FRAMES)
        status, err = self.run_tool(2)
        self.assertEqual(status, 1)
        self.assertEqual(err, f"avdconv: kept {self.shown('taken.avd')}: output name is a directory\n"
                              "avdconv: 1 converted, 1 kept, 0 skipped\n")

    def test_a_directory_argument_that_cannot_be_read_fails_the_run(self):
        self.put("file", b"not a directory")
        for target in ("missing", "file"):
            with self.subTest(target=target):
                shown = self.shown(target)
                status, out, err = avdtool.run([shown])
                self.assertEqual(out, avdtool.banner(shown) + avdtool.NO_ARCHIVES)
                self.assertEqual(status, 1)
                err = err.replace(b"\r\n", b"\n").decode()
                self.assertTrue(err.startswith(f"avdconv: skipped {shown}: directory cannot be read: "), err)
                self.assertTrue(err.endswith("\navdconv: 0 converted, 0 kept, 1 skipped\n"), err)

    @unittest.skipIf(avdtool.WINDOWS, "file size limits are a POSIX matter")
    def test_a_full_disk_gives_the_systems_reason(self):
        def session(side, picture_bytes):
            picture = b"\xff\xd8\xff" + bytes(picture_bytes) + b"\xff\xd9"
            return avdfixture.mjpeg_header(25, side, side) + avdfixture.record(1, picture)

        big, small = session(16, 100_000), session(32, 1000)

        def limit():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (50_000, 50_000))

        # The file named is the one written, a later session's too.
        for options, archive, written in (([], big, "big.avi"), (["--salvage"], small + big, "big.2.avi")):
            with self.subTest(written=written):
                self.put("big.avd", archive)
                result = subprocess.run([avdtool.EXE, *options, self.dir], capture_output=True, preexec_fn=limit,
                                        timeout=300)
                self.assertEqual(result.returncode, 1)
                # The call that failed and the file it wrote, then the system's words.
                self.assertRegex(result.stderr.decode(),
                                 f"^avdconv: kept {re.escape(self.shown('big.avd'))}: output could not be written: "
                                 rf"fwrite {re.escape(written)}\.\d+-[0-9a-f]{{8}}\.avdconv-tmp: {os.strerror(27)}\n"
                                 "avdconv: 0 converted, 1 kept, 0 skipped\n$")

    @unittest.skipIf(avdtool.WINDOWS, "names are UTF-16 and paths are not limited this way on Windows")
    def test_paths_the_tool_cannot_use_are_reported(self):
        base = os.fsencode(self.dir)
        os.makedirs(os.path.join(base, b"dir\xff"))
        for name in (b"bad\xfe.avd", b"notes\xfe.txt"):
            with open(os.path.join(base, name), "wb") as f:
                f.write(FRAMES)
        # Deeper than the system lets a path reach: built step by step.
        fd = os.open(self.dir, os.O_RDONLY)
        deep = ["d" * 200] * 21
        for part in deep:
            os.mkdir(part, dir_fd=fd)
            inner = os.open(part, os.O_RDONLY, dir_fd=fd)
            os.close(fd)
            fd = inner
        os.close(fd)
        self.put("good.avd", FRAMES)
        status, err = self.run_tool(2)
        self.assertEqual(status, 1)
        lines = err.splitlines()
        # Named at the first directory whose path is too long to reach.
        self.assertRegex(lines[0], "^avdconv: skipped " + re.escape(self.shown("d" * 200)) + "(/d{200})+: path too long$")
        self.assertGreater(len(lines[0]), 4096)
        self.assertEqual(lines[1:], ["avdconv: 2 converted, 0 kept, 1 skipped"])

    @unittest.skipIf(avdtool.WINDOWS, "Windows names hold neither control characters nor bytes that are not UTF-8")
    def test_names_are_quoted_so_that_each_entry_stays_one_line(self):
        base = os.fsencode(self.dir)
        # Without quoting, this name would end its line and forge the count.
        forging = b"cam\n1\x1b[31m\navdconv: 9 converted, 0 kept, 0 skipped"
        os.makedirs(os.path.join(base, forging))
        with open(os.path.join(base, forging, b"x.avd"), "wb"):
            pass
        os.makedirs(os.path.join(base, b"caf\xc3\xa9\xff"))
        with open(os.path.join(base, b"caf\xc3\xa9\xff", b"y.avd"), "wb") as f:
            f.write(FRAMES)
        status, err = self.run_tool(2)
        self.assertEqual(status, 0)
        self.assertEqual(err.split("\n"), [
            f"avdconv: kept {self.shown('cam')}\\n1\\x1b[31m\\navdconv: 9 converted, 0 kept, 0 skipped"
            f"{avdtool.separator()}x.avd: empty",
            "avdconv: 1 converted, 1 kept, 0 skipped",
            "",
        ])
        self.assertFalse(re.search("[\x00-\x09\x0b-\x1f\x7f-\x9f]", err), err)

    @unittest.skipIf(avdtool.WINDOWS, "sharing one file between both streams is set up the POSIX way here")
    def test_the_report_starts_on_a_line_of_its_own_when_both_streams_share_one(self):
        self.put("empty.avd", b"")
        with tempfile.TemporaryFile() as both:
            subprocess.run([avdtool.EXE, self.dir], stdout=both, stderr=both, timeout=300)
            both.seek(0)
            text = both.read()
        self.assertTrue(text.endswith(b"\nfinished.\navdconv: kept " + os.fsencode(self.shown("empty.avd")) +
                                      b": empty\navdconv: 0 converted, 1 kept, 0 skipped\n"), text)


if __name__ == "__main__":
    unittest.main()
