"""The command line, the banner and the closing line, end to end."""

import os
import re
import shutil
import sys
import tempfile
import unittest

import avdtool

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools"))
import avdfixture  # noqa: E402

VERSION = b"Vantrel Archiv File Converter 1.1\n"


class CommandLineTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="avdconv-e2e-")
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)

    def test_empty_directory_prints_banner_and_no_archive_line(self):
        shown = avdtool.tool_path(self.dir)
        status, out, _ = avdtool.run([shown])
        self.assertEqual(status, 0)
        self.assertEqual(out, avdtool.banner(shown) + avdtool.NO_ARCHIVES)

    def test_trailing_separator_is_printed_as_given(self):
        shown = avdtool.tool_path(self.dir) + avdtool.separator()
        status, out, _ = avdtool.run([shown])
        self.assertEqual(status, 0)
        self.assertEqual(out, avdtool.banner(shown) + avdtool.NO_ARCHIVES)

    def test_missing_directory_shows_the_usual_text_and_fails(self):
        shown = avdtool.tool_path(os.path.join(self.dir, "missing"))
        status, out, _ = avdtool.run([shown, "ignored", "arguments"])
        self.assertEqual(status, 1)
        self.assertEqual(out, avdtool.banner(shown) + avdtool.NO_ARCHIVES)

    def test_program_directory_is_the_default(self):
        exe = os.path.join(self.dir, os.path.basename(avdtool.EXE))
        shutil.copy(avdtool.EXE, exe)
        shown = avdtool.tool_path(self.dir) + avdtool.separator()
        for args in ([], [""], ["."], ["./"]):
            with self.subTest(args=args):
                status, out, _ = avdtool.run(args, exe=exe, cwd="/")
                self.assertEqual(status, 0)
                self.assertEqual(out, avdtool.banner(shown) + avdtool.NO_ARCHIVES)

    def test_dot_backslash_is_scanned_as_a_path(self):
        # Only "." and "./" name the program directory; ".\" is a path of its own.
        status, out, _ = avdtool.run([".\\"], cwd=self.dir)
        # On Windows it names the working directory; elsewhere a directory that is not there,
        # whose backslash is shown doubled, as every backslash in a POSIX name is.
        self.assertEqual(status, 0 if avdtool.WINDOWS else 1)
        self.assertTrue(out.startswith(avdtool.banner(".\\" if avdtool.WINDOWS else ".\\\\")))

    def test_program_directory_is_read_whole(self):
        # Longer than any fixed buffer of 1,024 units, with non-BMP characters.
        long_dir = self.dir
        while len(long_dir) <= 1100:
            long_dir = os.path.join(long_dir, "\U0001F4C1 " + "d" * 60)
        os.makedirs(long_dir)
        exe = os.path.join(long_dir, os.path.basename(avdtool.EXE))
        shutil.copy(avdtool.EXE, exe)
        shown = avdtool.tool_path(long_dir) + avdtool.separator()
        status, out, _ = avdtool.run([], exe=exe, cwd="/")
        self.assertEqual(status, 0)
        self.assertEqual(out, avdtool.banner(shown) + avdtool.NO_ARCHIVES)

    def test_non_bmp_directory_argument_is_printed_as_utf8(self):
        target = os.path.join(self.dir, "\U0001F4C1 cams")
        os.makedirs(target)
        shown = avdtool.tool_path(target)
        status, out, _ = avdtool.run([shown])
        self.assertEqual(status, 0)
        self.assertIn("\U0001F4C1".encode("utf-8"), out)
        self.assertEqual(out, avdtool.banner(shown) + avdtool.NO_ARCHIVES)

    def test_help_and_version_wherever_they_stand_among_the_options(self):
        # Among the options they print and scan nothing, not even the program directory;
        # spelled as paths, after "--" or after the directory, they name directories.
        exe = os.path.join(self.dir, os.path.basename(avdtool.EXE))
        shutil.copy(avdtool.EXE, exe)
        archive = avdfixture.mjpeg_header(25, 16, 16) + avdfixture.record(1, b"picture")  # one a scan would convert
        avdtool.write_tree(self.dir, {"cam.avd": archive})
        os.makedirs(os.path.join(self.dir, "--help"))
        before = avdtool.snapshot(self.dir)
        usage = rb"Usage: avdconv \[OPTIONS\] \[DIRECTORY\]\n(?s:.*)\n  -h, --help +\S(?s:.*)\nExit status:\n(?s:.*)"
        helps = [["--help"], ["-h"], ["--help", "second"], ["--format", "mp4", "--timestamps", "-h", "--frmat"]]
        helps += [["/?"]] if avdtool.WINDOWS else []
        paths = [(["./--help", "--version"], "./--help", 0), (["--", "--help"], "--help", 0)]
        paths += [] if avdtool.WINDOWS else [(["/?"], "/?", 1)]
        cases = [(args, 0, usage) for args in helps] + [
            (args, 0, re.escape(VERSION)) for args in (["--version"], ["--format=mp4", "--version", "--help"])] + [
            (args, status, re.escape(avdtool.banner(shown) + avdtool.NO_ARCHIVES)) for args, shown, status in paths]
        for args, status, expected in cases:
            with self.subTest(args=args):
                code, out, err = avdtool.run(args, exe=exe, cwd=self.dir)
                self.assertEqual(code, status, err)
                self.assertIsNotNone(re.fullmatch(expected, out), out)
                if status == 0:
                    self.assertEqual(err, b"")
                self.assertEqual(avdtool.snapshot(self.dir), before)

    def test_bad_options_are_refused_before_anything_is_scanned(self):
        # The copy's own directory holds an archive: a run that went ahead anyway would convert it.
        exe = os.path.join(self.dir, os.path.basename(avdtool.EXE))
        shutil.copy(avdtool.EXE, exe)
        avdtool.write_tree(self.dir, {"cam.avd": avdfixture.mjpeg_header(25, 16, 16) + avdfixture.record(1, b"jpeg")})
        before = avdtool.snapshot(self.dir)
        cases = [(["--frmat", "mp4", "."], b"unknown option '--frmat'"), (["-x", "."], b"unknown option '-x'"),
                 (["--timestamps", "--format", "mkv", "."], b"--format takes flv or mp4, not 'mkv'"),
                 (["--format"], b"--format needs a value"),
                 (["--\x1b]0;owned\x07"], b"unknown option '--\\x1b]0;owned\\x07'")]
        for args, line in cases:
            with self.subTest(args=args):
                status, out, err = avdtool.run(args, exe=exe, cwd=self.dir)
                self.assertEqual(status, 2)
                self.assertEqual(out, b"")
                self.assertEqual(err.replace(b"\r\n", b"\n"),
                                 b"avdconv: " + line + b"\nUsage: avdconv [OPTIONS] [DIRECTORY]\n")
                self.assertEqual(avdtool.snapshot(self.dir), before)

    def test_an_argument_that_is_not_utf8_names_its_own_bytes(self):
        if avdtool.WINDOWS:
            self.skipTest("Windows hands the program UTF-16 arguments")
        # Read leniently, each would name the directory with the archive.
        lenient = {b"x\x85A": "x\u0141", b"x\xc0\x80": "x", b"x\xed\xa0\xbd\xed\xb8\x80": "x\U0001f600"}
        avdtool.write_tree(self.dir, {os.path.join(name, "cam.avd"): b"" for name in lenient.values()})
        for name in lenient:
            status, _, err = avdtool.run([os.path.join(os.fsencode(self.dir), name)])
            shown = "".join(chr(b) if b < 0x80 else f"\\x{b:02x}" for b in name)
            self.assertEqual((status, err.split(b": directory cannot be read: ")[0]),
                             (1, f"avdconv: skipped {self.dir}/{shown}".encode()))


if __name__ == "__main__":
    unittest.main()
