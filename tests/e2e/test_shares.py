"""Nothing lost where locks and leases cannot see the other side: recorders
behind a FUSE view or owned by another user, two runs through two views, and
names at the length limit."""

import contextlib
import os
import pwd
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

import avdtool

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools"))
import avdfixture  # noqa: E402

RECORDER_USER, RUNNER_USER, GROUP = "avdtest-rec", "avdtest-job", "avdtest-video"


def archive(frames=3, size=2000):
    """A small MJPEG archive; the payloads are not decoded, only carried."""
    return avdfixture.mjpeg_header(25, 16, 16) + b"".join(
        avdfixture.record(1, bytes([i]) * size, avdfixture.START_SECONDS + i) for i in range(frames))


def age(path):
    os.utime(path, (time.time() - 120,) * 2)  # past the quiet minute


def missing(what):
    # The test command sets AVD_REQUIRE_FUSE=1 where the set-up installs the tools.
    if os.environ.get("AVD_REQUIRE_FUSE") == "1":
        raise AssertionError(f"{what} is missing but AVD_REQUIRE_FUSE=1")
    raise unittest.SkipTest(f"{what} is missing")


@contextlib.contextmanager
def bindfs_view(real, view):
    """`real` seen through bindfs at `view` for the block."""
    if os.geteuid() != 0 or not os.path.exists("/dev/fuse") or not shutil.which("bindfs"):
        missing("root with /dev/fuse and bindfs")
    os.makedirs(view, exist_ok=True)
    # bindfs goes into the background once the view is mounted, and ends when it is unmounted.
    subprocess.run(["bindfs", "-o", "allow_other", real, view], check=True)
    try:
        yield view
    finally:
        subprocess.run(["umount", view], check=True)


def users():
    """The recording user and a converting one, both of the recording group."""
    if os.geteuid() != 0 or not shutil.which("useradd") or not shutil.which("setpriv"):
        missing("root with useradd and setpriv")
    subprocess.run(["groupadd", "-f", GROUP], check=True)
    for name in (RECORDER_USER, RUNNER_USER):
        if subprocess.run(["id", name], capture_output=True).returncode != 0:
            subprocess.run(["useradd", "-M", "-N", "-g", GROUP, name], check=True)
    return pwd.getpwnam(RECORDER_USER), pwd.getpwnam(RUNNER_USER)


def as_user(user):
    return ["setpriv", f"--reuid={user.pw_uid}", f"--regid={user.pw_gid}", f"--groups={user.pw_gid}"]


@contextlib.contextmanager
def recorder(path, period, user):
    """The recording user with `path` open for writing: appending a frame every
    `period` seconds, or holding it silently with a period of 0."""
    frame = avdfixture.record(1, b"late frame", avdfixture.START_SECONDS + 99)
    code = (f"import time\nwith open({path!r}, 'ab', buffering=0) as f:\n    print(flush=True)\n"
            f"    while True:\n        if {period}: f.write({frame!r})\n        time.sleep({period} or 1)\n")
    with subprocess.Popen(as_user(user) + [sys.executable, "-c", code], stdout=subprocess.PIPE) as process:
        try:
            process.stdout.readline()  # the file is open
            yield
        finally:
            process.kill()


class SharesTest(unittest.TestCase):
    def setUp(self):
        self.base = tempfile.mkdtemp(prefix="avdconv-shares-")
        os.chmod(self.base, 0o755)
        self.addCleanup(shutil.rmtree, self.base, ignore_errors=True)
        self.real = os.path.join(self.base, "real")

    @unittest.skipIf(avdtool.WINDOWS, "leases, FUSE views and other users are POSIX matters")
    def test_recorders_keep_their_archives_wherever_the_run_looks_from(self):
        # Through a FUSE view or as a member of the recording group the run cannot
        # see writers and waits for a quiet minute; as root on a local disk the lease sees them.
        recording, running = users()
        for view, runner in ((v, r) for v in ("real", "fuse") for r in (None, running)):
            with self.subTest(view=view, runner=runner and runner.pw_name):
                shutil.rmtree(self.real, ignore_errors=True)
                avdtool.write_tree(self.real, dict.fromkeys(("quiet.avd", "appending.avd", "holding.avd"), archive()))
                for path in [self.real] + [os.path.join(self.real, name) for name in os.listdir(self.real)]:
                    os.chown(path, recording.pw_uid, recording.pw_gid)
                    os.chmod(path, 0o2775 if path == self.real else 0o664)
                age(os.path.join(self.real, "quiet.avd"))
                mount = bindfs_view(self.real, os.path.join(self.base, "view")) if view == "fuse" else None
                # The recorders write through the real directory, as one on the other side of a share would.
                with (mount or contextlib.nullcontext(self.real) as seen,
                      recorder(os.path.join(self.real, "appending.avd"), 0.04, recording),
                      recorder(os.path.join(self.real, "holding.avd"), 0, recording)):
                    status, _, err = avdtool.run_command((as_user(runner) if runner else []) + [avdtool.EXE, seen])
                err = err.decode()
                self.assertEqual(status, 0, err)
                # Every archive converted; only the quiet one deleted.
                after = avdtool.snapshot(self.real)
                self.assertEqual(sorted(after), ["appending.avd", "appending.avi", "holding.avd", "holding.avi",
                                                 "quiet.avi"], err)
                for name in ("appending.avd", "holding.avd"):
                    self.assertTrue(after[name].startswith(archive()), name)
                    self.assertIn(f"avdconv: kept {seen}/{name}: still being written", err)
                self.assertEqual("writers cannot be seen here" in err, view == "fuse" or runner is not None, err)

    @unittest.skipIf(avdtool.WINDOWS, "FUSE views are a POSIX matter")
    def test_two_runs_through_two_views_lose_nothing(self):
        # Their locks need not meet: an archive may be converted twice, but is
        # never lost, and neither run reports as kept one the other converted.
        tree = {f"cam{d}/a{i:02}.avd": archive(4, 3000 + i) for d in range(2) for i in range(15)}
        reference = os.path.join(self.base, "reference")
        avdtool.write_tree(reference, tree)
        self.assertEqual(avdtool.run([reference])[0], 0)
        converted = avdtool.snapshot(reference)
        one, two = os.path.join(self.base, "one"), os.path.join(self.base, "two")
        for attempt in range(5):
            with self.subTest(attempt=attempt):
                shutil.rmtree(self.real, ignore_errors=True)
                avdtool.write_tree(self.real, tree)
                for name in tree:
                    age(os.path.join(self.real, name))
                with bindfs_view(self.real, one), bindfs_view(self.real, two):
                    runs = [subprocess.Popen([avdtool.EXE, view], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
                            for view in (one, two)]
                    errors = [run.communicate(timeout=300)[1].decode() for run in runs]
                for run, err in zip(runs, errors):
                    self.assertEqual((run.returncode, "avdconv: kept" in err), (0, False), err)
                self.assertTrue(avdtool.snapshot(self.real) == converted, "an archive or an output was lost")

    def test_archives_named_up_to_the_limit_convert(self):
        # However little room the output's name leaves for the temporary name.
        names = ["a" * 246 + ".avd", "b" * 251 + ".avd"]
        avdtool.write_tree(self.real, {name: archive() for name in names})
        status, _, err = avdtool.run([avdtool.tool_path(self.real)])
        self.assertEqual(status, 0, err)
        self.assertEqual(sorted(os.listdir(self.real)), sorted(name[:-3] + "avi" for name in names))


if __name__ == "__main__":
    unittest.main()
