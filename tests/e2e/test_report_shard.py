"""--report and --shard over one small tree, alone and combined with the other
options: every report line is checked against the files the run left (hashes
with hashlib), the summary against standard error and the exit status, and
the shards against the hash README names, computed here."""

import datetime
import hashlib
import json
import os
import re
import shutil
import struct
import sys
import tempfile
import time
import unittest

import avdtool
import media

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools"))
import avdfixture  # noqa: E402

PICTURES = avdfixture.mjpeg_header(25, 16, 16) + b"".join(
    avdfixture.record(1, b"\xff\xd8 picture %d \xff\xd9" % i, microseconds=i * 40_000) for i in range(4))
USAGE = "Usage: avdconv [OPTIONS] [DIRECTORY]"


def shard_of(relative, n):
    """The shard (1..n) README promises for an archive's path below the directory."""
    return int.from_bytes(hashlib.sha256(relative.encode()).digest()[:8], "big") % n + 1


def frame_times(archive):
    """Capture times of the frames before a second stream header, RFC 3339."""
    times, pos = [], 0
    while pos + 12 <= len(archive):
        word, seconds, micros = struct.unpack_from("<III", archive, pos)
        if word & 0xFF == 0 and pos:
            break
        if word & 0xFF:
            at = datetime.datetime.fromtimestamp(seconds, datetime.timezone.utc) + datetime.timedelta(microseconds=micros)
            times.append(at.strftime("%Y-%m-%dT%H:%M:%S.%fZ"))
        pos += 12 + (word >> 8)
    return times


def run(directory, *options, **how):
    status, out, err = avdtool.run([*options, avdtool.tool_path(directory)], timeout=300, **how)
    return status, out, err.replace(b"\r\n", b"\n").decode()


def sha(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def stderr_counts(err, everything):
    found = re.search(r"^avdconv: (\d+) converted, (\d+) kept, (\d+) skipped$", err, re.M)
    return [int(n) for n in found.groups()] if found else [everything, 0, 0]


@media.needed
class ReportTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tree = {
            "a.avd": avdfixture.h264_archive(6, "64x48", 25),
            "cam/b.avd": PICTURES,
            "cam/sub/two sessions.avd": PICTURES + PICTURES,
            "cam/sub/café.avd": PICTURES,
            "empty.avd": b"",
        }

    def setUp(self):
        self.scratch = tempfile.mkdtemp(prefix="avdconv-report-")
        self.addCleanup(shutil.rmtree, self.scratch, ignore_errors=True)

    def check_run(self, options, report, shard=(1, 1)):
        root = os.path.join(self.scratch, "tree")
        shutil.rmtree(root, ignore_errors=True)
        avdtool.write_tree(root, self.tree)
        args = [o.replace("REPORT", avdtool.tool_path(report)) for o in options]
        status, _, err = run(root, *args)
        mine = {name for name in self.tree if shard_of(name, shard[1]) == shard[0]}
        with open(report, encoding="utf-8") as f:
            lines = [json.loads(line) for line in f]
        summary = lines.pop()["summary"]
        self.assertEqual([summary["converted"], summary["kept"], summary["skipped"]],
                         stderr_counts(err, len(mine)), err)
        self.assertEqual(summary["status"], status)
        shown = {avdtool.tool_path(os.path.join(root, name)): name for name in mine}
        self.assertEqual(sorted(line["archive"] for line in lines), sorted(shown))
        for line in lines:
            name = shown[line["archive"]]
            source = self.tree[name]
            outputs = [os.path.join(root, os.path.dirname(name), os.path.basename(p.replace("\\", "/")))
                       for p in line["outputs"]]
            with self.subTest(options=options, archive=name):
                self.assertEqual(line["outcome"], "converted" if name in ("a.avd", "cam/b.avd", "cam/sub/café.avd")
                                 else "kept")
                self.assertEqual(os.path.exists(os.path.join(root, name)), line["outcome"] == "kept")
                self.assertEqual(line["reason"] is None, line["outcome"] == "converted")
                self.assertEqual(line["archive_sha256"], hashlib.sha256(source).hexdigest() if source else None)
                self.assertEqual(line["bytes_read"], len(source))
                self.assertEqual(line["output_sha256"], [sha(p) for p in outputs])
                self.assertEqual(line["bytes_written"], sum(os.path.getsize(p) for p in outputs))
                extension = ".mp4" if "mp4" in options and name == "a.avd" else ".flv" if name == "a.avd" else ".avi"
                expected = [os.path.join(root, os.path.splitext(name)[0] + extension)] if source else []
                if source and "--timestamps" in options:
                    expected.append(os.path.join(root, os.path.splitext(name)[0] + ".srt"))
                self.assertEqual([os.path.normpath(p) for p in outputs], [os.path.normpath(p) for p in expected])
                times = frame_times(source)
                self.assertEqual(line["frames"], len(times))
                self.assertEqual([line["first_frame_time"], line["last_frame_time"]],
                                 [times[0], times[-1]] if times else [None, None])
        # Another shard's archives are as they were, with nothing beside them.
        left = avdtool.snapshot(root)
        for name in set(self.tree) - mine:
            stem = os.path.normpath(os.path.splitext(name)[0])
            self.assertEqual([n for n in left if n.startswith(stem + ".")], [os.path.normpath(name)])
            self.assertEqual(left[os.path.normpath(name)], self.tree[name])

    def test_every_combination_reports_what_it_did(self):
        elsewhere = os.path.join(self.scratch, "r.jsonl")
        for options, report, shard in [
            (["--report", "REPORT"], elsewhere, (1, 1)),
            (["--timestamps", "--report=REPORT"], elsewhere, (1, 1)),
            (["--format", "mp4", "--timestamps", "--report", "REPORT", "--shard", "2/3"], elsewhere, (2, 3)),
            (["--shard", "1/2", "--report", "REPORT"], elsewhere, (1, 2)),
            # Inside the tree, under an archive's name: it is no archive.
            (["--report", "REPORT"], os.path.join(self.scratch, "tree", "r.avd"), (1, 1)),
        ]:
            self.check_run(options, report, shard)

    def test_a_link_at_the_report_name_is_replaced_not_written_through(self):
        victim = os.path.join(self.scratch, "victim")
        with open(victim, "wb") as f:
            f.write(b"keep me")
        report = os.path.join(self.scratch, "r.jsonl")
        os.symlink(victim, report)
        self.check_run(["--report", "REPORT"], report)
        self.assertFalse(os.path.islink(report))
        with open(victim, "rb") as f:
            self.assertEqual(f.read(), b"keep me")


class ShardTest(unittest.TestCase):
    NAMES = ["a.avd", "b.avd", "cam1/c.avd", "cam1/d.avd", "cam1/deep/e.avd", "cam2/f.avd", "cam2/g.avd",
             "été/ç.avd", "été/h.avd", "z/i.avd", "z/j.avd", "z/k.avd"]

    def setUp(self):
        self.scratch = tempfile.mkdtemp(prefix="avdconv-shard-")
        self.addCleanup(shutil.rmtree, self.scratch, ignore_errors=True)

    def build(self, root, names):
        avdtool.write_tree(root, {name: PICTURES for name in names})
        # A killed run's temporary output beside every archive, an hour old.
        for name in names:
            leftover = os.path.join(root, os.path.splitext(name)[0] + ".avi.4242-0badf00d" + avdtool.TEMPORARY_SUFFIX)
            avdtool.write_tree(root, {leftover: b"old"})
            os.utime(leftover, (time.time() - 3600,) * 2)

    def test_shards_are_disjoint_complete_and_alike_in_any_scan_order(self):
        # The same tree built in two creation orders, under two roots.
        trees = [os.path.join(self.scratch, "one"), os.path.join(self.scratch, "other", "root")]
        self.build(trees[0], self.NAMES)
        self.build(trees[1], self.NAMES[::-1])
        for root in trees:
            done = set()
            for k in (1, 2, 3):
                with self.subTest(root=root, shard=k):
                    mine = {name for name in self.NAMES if shard_of(name, 3) == k}
                    # The tool with the test switch that takes every leftover as quiet.
                    status, out, err = run(root, "--shard", f"{k}/3", exe=os.environ["AVDCONV_CRASHING"],
                                           env=dict(os.environ, AVD_QUIET_SECONDS="0"))
                    self.assertEqual(status, 0, err)
                    self.assertRegex(err, "^file operations: \\d+\n$")
                    self.assertRegex(out.decode(), f"finished: {len(mine)}/{len(mine)} [^\n]*\nfinished\\.$")
                    left = avdtool.snapshot(root)
                    done |= mine
                    for name in self.NAMES:
                        stem = os.path.normpath(os.path.splitext(name)[0])
                        # Converted once its shard has run; its leftover gone with it, and only then.
                        self.assertEqual(sorted(n[len(stem):] for n in left if n.startswith(stem + ".")),
                                         [".avi"] if name in done else
                                         [".avd", ".avi.4242-0badf00d" + avdtool.TEMPORARY_SUFFIX])
            self.assertEqual(done, set(self.NAMES))

    def test_bad_values_stop_the_run_before_the_scan(self):
        avdtool.write_tree(self.scratch, {"a.avd": PICTURES})
        missing = os.path.join(self.scratch, "missing", "r.jsonl")
        for options in (["--shard", "4/3"], ["--shard", "0/3"], ["--shard", "x"], ["--shard", "1/0"],
                        ["--shard", "1/3/3"], ["--shard=-1/3"], ["--shard"], ["--report", ""],
                        ["--report", avdtool.tool_path(missing)]):
            with self.subTest(options=options):
                status, out, err = run(self.scratch, *options)
                self.assertEqual((status, out), (2, b""))
                lines = err.splitlines()
                self.assertRegex(lines[0], "^avdconv: --(shard|report) |^avdconv: cannot create the report ")
                self.assertIn(lines[1:], ([], [USAGE]))
                self.assertEqual(avdtool.snapshot(self.scratch), {"a.avd": PICTURES})
