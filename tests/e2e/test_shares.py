"""Nothing lost where locks and leases cannot see the other side: recorders
behind a FUSE view or owned by another user, two runs through two views,
names at the length limit, a failing disk, and an archive another run
converted between this run's open and its lock."""

import contextlib
import os
import pwd
import grp
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

import avdtool

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools"))
import avdfixture  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
CRASHING = os.environ.get("AVDCONV_CRASHING", "")
SYSTEM_PYTHON = "/usr/bin/python3"
RECORDER_USER, RUNNER_USER, GROUP = "avdtest-rec", "avdtest-job", "avdtest-video"
# Set by the test command where the set-up installs them: a missing piece
# fails the tests instead of skipping them.
REQUIRED = os.environ.get("AVD_REQUIRE_FUSE") == "1"


def archive(frames=3, size=2000, start=avdfixture.START_SECONDS):
    """A small MJPEG archive; the payloads are not decoded, only carried."""
    return avdfixture.mjpeg_header(25, 16, 16) + b"".join(
        avdfixture.record(1, bytes([i]) * size, start + i) for i in range(frames))


FRAME = avdfixture.record(1, b"late frame", avdfixture.START_SECONDS + 99)


def age(path, seconds=120):
    then = time.time() - seconds
    os.utime(path, (then, then))


def missing(what):
    """Skips a test whose tool is missing, unless the run requires it."""
    if REQUIRED:
        raise AssertionError(f"{what} is missing but AVD_REQUIRE_FUSE=1")
    raise unittest.SkipTest(f"{what} is missing")


def fuse_usable():
    return os.geteuid() == 0 and os.path.exists("/dev/fuse")


@contextlib.contextmanager
def mounted(command, mountpoint):
    """Runs a FUSE file system over `mountpoint` for the block."""
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        for _ in range(200):
            if os.path.ismount(mountpoint):
                break
            if process.poll() is not None and not os.path.ismount(mountpoint):
                raise AssertionError(f"{command[0]} did not mount {mountpoint}")
            time.sleep(0.02)
        yield mountpoint
    finally:
        subprocess.run(["umount", "-l", mountpoint], stderr=subprocess.DEVNULL)
        with contextlib.suppress(subprocess.TimeoutExpired):
            process.wait(timeout=10)


def bindfs_view(real, view):
    if not shutil.which("bindfs"):
        missing("bindfs")
    os.makedirs(view, exist_ok=True)
    # bindfs goes into the background itself; -f keeps it ours to stop.
    return mounted(["bindfs", "-f", "-o", "allow_other", real, view], view)


def faultfs_view(real, view, *options):
    probe = subprocess.run([SYSTEM_PYTHON, "-c", "import fusepy"], capture_output=True)
    if probe.returncode != 0:
        missing("Debian's python3-fusepy")
    os.makedirs(view, exist_ok=True)
    return mounted([SYSTEM_PYTHON, os.path.join(HERE, "faultfs.py"), real, view, *options], view)


@contextlib.contextmanager
def recorder(path, period, user=None):
    """Another program with `path` open for writing: appending a frame every
    `period` seconds, or holding it silently with a period of 0."""
    stop = path + ".stop"
    code = ("import os, sys, time\n"
            "path, stop, period, frame = sys.argv[1], sys.argv[2], float(sys.argv[3]), bytes.fromhex(sys.argv[4])\n"
            "with open(path, 'ab', buffering=0) as f:\n"
            "    open(stop + '.ready', 'w').close()\n"
            "    while not os.path.exists(stop):\n"
            "        if period > 0: f.write(frame)\n"
            "        time.sleep(period or 0.02)\n")
    prefix = as_user(user) if user else []
    process = subprocess.Popen(prefix + [sys.executable, "-c", code, path, stop, str(period), FRAME.hex()])
    try:
        while not os.path.exists(stop + ".ready"):
            time.sleep(0.01)
        yield
    finally:
        open(stop, "w").close()
        process.wait(timeout=10)
        for leftover in (stop, stop + ".ready"):
            os.remove(leftover)


def as_user(name):
    user = pwd.getpwnam(name)
    return ["setpriv", f"--reuid={user.pw_uid}", f"--regid={user.pw_gid}", f"--groups={grp.getgrnam(GROUP).gr_gid}"]


def ensure_users():
    """The recording user and a converting one, both in the recording group."""
    if os.geteuid() != 0 or not shutil.which("useradd") or not shutil.which("setpriv"):
        missing("root with useradd and setpriv")
    subprocess.run(["groupadd", "-f", GROUP], check=True)
    for name in (RECORDER_USER, RUNNER_USER):
        try:
            pwd.getpwnam(name)
        except KeyError:
            subprocess.run(["useradd", "-M", "-N", "-g", GROUP, name], check=True)


def kept_lines(err):
    return {m.group(1): m.group(2) for m in re.finditer(r"^avdconv: kept (.*?): (.*)$", err, re.M)}


class Workspace(unittest.TestCase):
    def setUp(self):
        self.base = tempfile.mkdtemp(prefix="avdconv-shares-")
        os.chmod(self.base, 0o755)
        self.addCleanup(shutil.rmtree, self.base, ignore_errors=True)
        self.real = os.path.join(self.base, "real")
        os.makedirs(self.real)


@unittest.skipIf(avdtool.WINDOWS, "leases, FUSE views and other users are POSIX matters")
class UnseenWritersTest(Workspace):
    """A recorder the run cannot see is assumed: as a member of the recording
    group, and through a FUSE view, an archive is deleted only after a quiet
    minute; as the owner on a local disk the lease sees the recorder."""

    def test_recorders_keep_their_archives_wherever_the_run_looks_from(self):
        ensure_users()
        uid, gid = pwd.getpwnam(RECORDER_USER).pw_uid, grp.getgrnam(GROUP).gr_gid
        for view in ("real", "fuse"):
            for runner in ("root", RUNNER_USER):
                with self.subTest(view=view, runner=runner):
                    shutil.rmtree(self.real)
                    os.makedirs(self.real)
                    os.chown(self.real, uid, gid)
                    os.chmod(self.real, 0o2775)
                    for name in ("quiet.avd", "appending.avd", "holding.avd"):
                        path = os.path.join(self.real, name)
                        with open(path, "wb") as f:
                            f.write(archive())
                        os.chown(path, uid, gid)
                        os.chmod(path, 0o664)
                    age(os.path.join(self.real, "quiet.avd"))
                    before = avdtool.snapshot(self.real)
                    seen = os.path.join(self.base, "view")
                    with contextlib.ExitStack() as stack:
                        if view == "fuse":
                            stack.enter_context(bindfs_view(self.real, seen))
                        else:
                            seen = self.real
                        # The recorders write through the real directory, as
                        # one on the other side of a share would.
                        stack.enter_context(recorder(os.path.join(self.real, "appending.avd"), 0.04, RECORDER_USER))
                        stack.enter_context(recorder(os.path.join(self.real, "holding.avd"), 0, RECORDER_USER))
                        command = ([] if runner == "root" else as_user(runner)) + [avdtool.EXE, seen]
                        status, _, err = avdtool.run_command(command)
                    err = err.decode()
                    self.assertEqual(status, 0, err)
                    after = sorted(os.listdir(self.real))
                    self.assertNotIn("quiet.avd", after, err)
                    self.assertIn("quiet.avi", after)
                    for name in ("appending.avd", "holding.avd"):
                        self.assertIn(name, after, f"{name} was deleted under its recorder: {err}")
                        with open(os.path.join(self.real, name), "rb") as f:
                            self.assertTrue(f.read().startswith(before[name]))
                        self.assertIn("still being written", kept_lines(err).get(os.path.join(seen, name), ""), err)
                    self.assertFalse([n for n in after if n.endswith(avdtool.TEMPORARY_SUFFIX)])
                    if view == "fuse" or runner != "root":
                        self.assertIn("writers cannot be seen here", err)


@unittest.skipIf(avdtool.WINDOWS, "FUSE views are a POSIX matter")
class TwoViewsTest(Workspace):
    """Two runs through two views whose locks need not meet: every archive is
    converted once or more, never lost, and neither run reports as kept an
    archive the other converted."""

    def test_two_runs_through_two_views_lose_nothing(self):
        if not fuse_usable():
            missing("root with /dev/fuse")
        tree = {f"cam{d}/a{i:02}.avd": archive(4, 3000 + i, avdfixture.START_SECONDS + i)
                for d in range(2) for i in range(15)}
        reference = os.path.join(self.base, "reference")
        avdtool.write_tree(reference, tree)
        status, _, _ = avdtool.run([reference])
        self.assertEqual(status, 0)
        converted = avdtool.snapshot(reference)
        for attempt in range(5):
            with self.subTest(attempt=attempt):
                shutil.rmtree(self.real)
                avdtool.write_tree(self.real, tree)
                for name in tree:
                    age(os.path.join(self.real, name))
                one, two = os.path.join(self.base, "one"), os.path.join(self.base, "two")
                with bindfs_view(self.real, one), bindfs_view(self.real, two):
                    runs = [subprocess.Popen([avdtool.EXE, view], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
                            for view in (one, two)]
                    results = [(run.wait(timeout=300), run.stderr.read().decode()) for run in runs]
                for status, err in results:
                    self.assertEqual(status, 0, err)
                    self.assertEqual(kept_lines(err), {}, err)
                self.assertTrue(avdtool.snapshot(self.real) == converted, "an archive or an output was lost")


class LongNamesTest(Workspace):
    """An archive whose output name fits the file system converts, however
    little room is left for the temporary name."""

    def test_archives_named_up_to_the_limit_convert(self):
        names = ["a" * 246 + ".avd", "b" * 251 + ".avd"]
        avdtool.write_tree(self.real, {name: archive() for name in names})
        status, _, err = avdtool.run([avdtool.tool_path(self.real)])
        self.assertEqual(status, 0, err)
        self.assertEqual(sorted(os.listdir(self.real)), sorted(name[:-3] + "avi" for name in names))


@unittest.skipIf(avdtool.WINDOWS, "the failing view is a FUSE file system")
class FailingDiskTest(Workspace):
    """A read that fails is reported at its own offset; a directory that
    cannot be synced leaves the output in place and keeps the archive; one
    that says it cannot sync directories is no failure."""

    def test_a_read_error_names_the_offset_of_the_read_that_failed(self):
        if not fuse_usable():
            missing("root with /dev/fuse")
        avdtool.write_tree(self.real, {"cam.avd": archive(10, 100_000)})
        age(os.path.join(self.real, "cam.avd"))
        view = os.path.join(self.base, "view")
        with faultfs_view(self.real, view, "--fail-read", "cam.avd:654321"):
            status, _, err = avdtool.run([view])
        self.assertEqual(status, 1)
        self.assertEqual(err.decode(), f"avdconv: kept {view}/cam.avd: read error at byte 654321: read: "
                                       f"{os.strerror(5)}\navdconv: 0 converted, 1 kept, 0 skipped\n")
        self.assertEqual(os.listdir(self.real), ["cam.avd"])

    def test_a_failed_directory_sync_keeps_the_archive_beside_its_output(self):
        if not fuse_usable():
            missing("root with /dev/fuse")
        for code, kept in ((5, True), (22, False)):
            with self.subTest(errno=code):
                shutil.rmtree(self.real)
                avdtool.write_tree(self.real, {"cam.avd": archive(), "cam.avi": b"an earlier output"})
                age(os.path.join(self.real, "cam.avd"))
                view = os.path.join(self.base, "view")
                with faultfs_view(self.real, view, "--fsyncdir-errno", str(code)):
                    status, _, err = avdtool.run([view])
                files = sorted(os.listdir(self.real))
                with open(os.path.join(self.real, "cam.avi"), "rb") as f:
                    self.assertNotEqual(f.read(), b"an earlier output", "the output is in place either way")
                if kept:
                    self.assertEqual(status, 1)
                    self.assertEqual(files, ["cam.avd", "cam.avi"])
                    self.assertEqual(err.decode(), f"avdconv: kept {view}/cam.avd: output written, archive kept: "
                                                   f"fsync {view}: {os.strerror(5)}\n"
                                                   "avdconv: 0 converted, 1 kept, 0 skipped\n")
                else:
                    self.assertEqual((status, files, err), (0, ["cam.avi"], b""))


@unittest.skipUnless(CRASHING, "needs the tool with a hold switch")
@unittest.skipIf(avdtool.WINDOWS, "an archive open without delete sharing cannot be removed by another run on Windows")
class ConvertedMeanwhileTest(Workspace):
    """An archive another run converted and removed between this run's open
    and its lock is converted elsewhere: not kept, not a failure."""

    def test_an_archive_removed_before_the_lock_is_converted_elsewhere(self):
        avdtool.write_tree(self.real, {"cam.avd": archive()})
        hold = os.path.join(self.base, "holding")
        env = dict(os.environ, AVD_HOLD_AT_LOCK=hold)
        command = [CRASHING, self.real]
        with tempfile.TemporaryFile() as err:
            process = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                       stderr=err)
            deadline = time.time() + 120
            while not os.path.exists(hold) and time.time() < deadline:
                time.sleep(0.01)
            # The other run's work: the output in place, the archive gone.
            with open(os.path.join(self.real, "cam.avi"), "wb") as f:
                f.write(b"the other run's output")
            os.remove(os.path.join(self.real, "cam.avd"))
            os.remove(hold)
            status = process.wait(timeout=120)
            err.seek(0)
            text = err.read().decode()
        self.assertEqual(status, 0, text)
        shown = os.path.join(self.real, "cam.avd")
        self.assertIn(f"avdconv: skipped {shown}: converted by another run\n", text)
        self.assertIn("avdconv: 0 converted, 0 kept, 1 skipped\n", text)
        with open(os.path.join(self.real, "cam.avi"), "rb") as f:
            self.assertEqual(f.read(), b"the other run's output")


if __name__ == "__main__":
    unittest.main()
