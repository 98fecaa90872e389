"""--keep-archives and --dry-run, alone and with --format and --timestamps, over one tree: what each
leaves on disk, judged against a plain run of the same options over a copy of the tree."""

import os
import re
import shutil
import stat
import sys
import tempfile
import unittest

import avdtool
import media
import progress_lines

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools"))
import avdfixture  # noqa: E402

OLD = 1_500_000_000  # atimes are set back to this, so that any read that sets them shows (relatime)
ROWS = [
    ["--keep-archives"],
    ["--keep-archives", "--timestamps"],
    ["--keep-archives", "--format", "mp4"],
    ["-n"],
    ["--dry-run", "--timestamps", "--format=mp4"],
    ["-n", "--keep-archives", "--timestamps"],  # on a tree a keeping run has converted
    ["-n", "--salvage", "--format", "mp4"],
]
PLAIN = {"-n", "--dry-run", "--keep-archives"}


def state(root, files_only=False, rel=""):
    """Every entry below root (root too) with what a change to it would change; looked at without
    setting an access time."""
    path = os.path.join(root, rel)
    st = os.lstat(path)
    fd = os.open(path, os.O_RDONLY | os.O_NOATIME)
    try:
        if stat.S_ISDIR(st.st_mode):
            found = {} if files_only else {rel: (st.st_ino, st.st_mtime_ns, st.st_ctime_ns, ATIME_SHOWS and st.st_atime_ns)}
            for name in os.listdir(fd):
                found.update(state(root, files_only, os.path.join(rel, name)))
            return found
        data = os.read(fd, st.st_size + 1)
    finally:
        os.close(fd)
    return {rel: (st.st_ino, st.st_mtime_ns, st.st_ctime_ns, ATIME_SHOWS and st.st_atime_ns, data)}


def read_sets_atime():
    with tempfile.NamedTemporaryFile() as f:
        f.write(b"x")
        f.flush()
        os.utime(f.name, (OLD, OLD + 10))
        avdfixture.read_bytes(f.name)
        return os.stat(f.name).st_atime_ns != OLD * 10**9


# Windows leaves the access time to the volume's setting: Wine sets it on every read.
ATIME_SHOWS = not avdtool.WINDOWS and read_sets_atime()


def without_progress(run):
    """A run's (status, stdout, stderr) without the progress lines, whose
    redraws depend on how the workers' finishes fall."""
    status, out, err = run
    return status, re.sub(progress_lines.LINE.pattern.decode(), "", out), err


@media.needed
class OptionsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        stop = avdfixture.mjpeg_header(25, 16, 16) + avdfixture.record(1, b"picture")
        cls.tree = {"cam/h.avd": avdfixture.h264_archive(frames=5), "cam/m.avd": stop, "cam/stop.avd": stop + stop,
                    "codec.avd": avdfixture.record(0, avdfixture.stream_header(3, b"")), "e.avd": b"",
                    "d.avd": stop}

    def fresh(self):
        root = tempfile.mkdtemp(prefix="avdconv-options-")
        self.addCleanup(shutil.rmtree, root, ignore_errors=True)
        avdtool.write_tree(root, self.tree)
        os.mkdir(os.path.join(root, "d.avi"))  # an output name no run can take
        for dirpath, _, names in os.walk(root, topdown=False):
            for name in names + [""]:
                os.utime(os.path.join(dirpath, name), (OLD, OLD + 10))
        return root

    def run_tool(self, options, root):
        """Status, stdout and stderr, with the tree's root as ROOT and "/" between names."""
        status, out, err = avdtool.run(options + [avdtool.tool_path(root)])
        out, err = (text.decode().replace(avdtool.tool_path(root), "ROOT") for text in (out, err))
        if avdtool.WINDOWS:
            out, err = out.replace("\\", "/"), err.replace("\\", "/").replace("\r\n", "\n")
        return status, out, err

    def plain_run(self, options):
        """What a run without the three options does: its status, report, and the outputs of each archive."""
        root = self.fresh()
        status, _, err = self.run_tool([o for o in options if o not in PLAIN], root)
        made = {name: entry[4] for name, entry in state(root, files_only=True).items() if name not in self.tree}
        return status, err, made

    def dry_lines(self, root, out, expected):
        head, _, body = out.partition(avdtool.BANNER_RULE + "\n\n")
        self.assertTrue(head.startswith(avdtool.banner(avdtool.tool_path(root)).decode()[:60]), out)
        lines = body.replace(avdtool.tool_path(root), "ROOT").splitlines()
        self.assertEqual((sorted(lines[:-1]), lines[-1]), (sorted(expected), "finished."), out)

    def test_each_combination_over_one_tree(self):
        for options in ROWS:
            with self.subTest(options=options):
                status, err, made = self.plain_run(options)
                keep, dry = "--keep-archives" in options, options[0] in ("-n", "--dry-run")
                root = self.fresh()
                if keep and dry:
                    self.run_tool([o for o in options if o not in ("-n", "--dry-run")], root)
                before = state(root)
                got = self.run_tool(options, root)
                after = state(root)
                if dry:
                    self.assertEqual(after, before, "a dry run changes nothing")
                    kept = dict(re.findall(r"avdconv: kept ROOT/(\S*): (.*)", err))
                    lines = []
                    for archive in self.tree:
                        outputs = sorted(n for n in made if n.rsplit(".", 1)[0] == archive[:-4])
                        lines.append(f"ROOT/{archive}" + (f": kept: {kept[archive]}" if archive in kept else
                                                          ": already converted" if keep else
                                                          " -> " + ", ".join("ROOT/" + n for n in outputs)))
                    self.dry_lines(root, got[1], lines)
                    self.assertEqual((got[0], got[2]), (status, ""))
                    continue
                self.assertEqual((got[0], got[2]), (status, err), "a keeping run tells what a plain one does")
                for name in self.tree:
                    self.assertEqual(after[name], before[name], name)
                self.assertEqual({n: after[n][4] for n in after if n not in before}, made)
                # Again: nothing is converted again, and every conversion still counts.
                files = state(root, files_only=True)
                self.assertEqual(without_progress(self.run_tool(options, root)), without_progress(got))
                self.assertEqual(state(root, files_only=True), files)
                # A changed archive and a missing output are converted again; nothing else is.
                # Written again and dated back: only its change time tells.
                avdtool.write_tree(root, {"cam/h.avd": self.tree["cam/h.avd"]})
                os.utime(os.path.join(root, "cam", "h.avd"), ns=(OLD * 10**9, after["cam/h.avd"][1]))
                os.remove(os.path.join(root, sorted(n for n in made if n.startswith("cam/m."))[-1]))
                self.assertEqual(self.run_tool(options, root)[0], status)
                again = state(root, files_only=True)
                self.assertEqual(sorted(n for n in made if again[n][:3] != after[n][:3]),
                                 sorted(n for n in made if n.startswith(("cam/h.", "cam/m."))))


if __name__ == "__main__":
    unittest.main()
