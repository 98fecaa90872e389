"""What real file systems and real users do to a run: links and FIFOs at the
output name, an existing output and a full disk, a recorder still writing,
two runs at once, a closed or vanishing console, archives that stop early."""

import os
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

import avdtool

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools"))
import avdfixture  # noqa: E402

TEMPORARY_SUFFIX = ".avdconv-tmp"


def mjpeg(frames=3, size=2000, seed=0):
    """An MJPEG archive of opaque pictures (nothing decodes them here)."""
    out = avdfixture.mjpeg_header(25, 16, 16)
    for i in range(frames):
        out += avdfixture.record(1, bytes((seed + i + j) & 0xFF for j in range(size)), *avdfixture.frame_time(i, 25))
    return out


def read(path):
    return avdfixture.read_bytes(path)


class SafetyTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="avdconv-safety-")
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)

    def path(self, *names):
        return os.path.join(self.dir, *names)

    def put(self, name, data):
        avdtool.write_tree(self.dir, {name: data})

    def run_tool(self, **kwargs):
        return avdtool.run([avdtool.tool_path(self.dir)], timeout=300, **kwargs)

    def reference(self, data, ext="avi"):
        """The output a clean run makes of `data`."""
        work = tempfile.mkdtemp(prefix="avdconv-ref-")
        try:
            avdtool.write_tree(work, {"x.avd": data})
            status, _, _ = avdtool.run([avdtool.tool_path(work)], timeout=300)
            self.assertEqual(status, 0)
            return read(os.path.join(work, "x." + ext))
        finally:
            shutil.rmtree(work)

    def assertNoTemporaryFiles(self):
        for dirpath, _, names in os.walk(self.dir):
            for name in names:
                self.assertFalse(name.endswith(TEMPORARY_SUFFIX), os.path.join(dirpath, name))

    def test_links_at_the_output_name_are_replaced_not_written_through(self):
        outside = tempfile.mkdtemp(prefix="avdconv-outside-")
        self.addCleanup(shutil.rmtree, outside)
        victim = os.path.join(outside, "victim")
        with open(victim, "wb") as f:
            f.write(b"not yours")
        self.put("sym.avd", mjpeg(seed=1))
        os.symlink(victim, self.path("sym.avi"))
        self.put("hard.avd", mjpeg(seed=2))
        self.put("other-name", b"shared inode")
        os.link(self.path("other-name"), self.path("hard.avi"))
        os.symlink(os.path.join(outside, "nowhere"), self.path("dangling.avi"))
        self.put("dangling.avd", mjpeg(seed=3))
        status, _, _ = self.run_tool()
        self.assertEqual(status, 0)
        self.assertEqual(read(victim), b"not yours")
        self.assertEqual(read(self.path("other-name")), b"shared inode")
        self.assertFalse(os.path.exists(os.path.join(outside, "nowhere")))
        for name, seed in (("sym", 1), ("hard", 2), ("dangling", 3)):
            self.assertFalse(os.path.islink(self.path(name + ".avi")), name)
            self.assertEqual(read(self.path(name + ".avi")), self.reference(mjpeg(seed=seed)), name)
            self.assertFalse(os.path.exists(self.path(name + ".avd")), name)

    def test_links_out_of_the_tree_lose_at_most_the_link(self):
        # An archive and a stopped run's leftover, both links to files outside
        # the tree. Wine shows a Unix link as the file it leads to, and would
        # delete that file: there the links stay, and the run says so.
        outside = tempfile.mkdtemp(prefix="avdconv-outside-")
        self.addCleanup(shutil.rmtree, outside)
        data = mjpeg(seed=8)
        avdtool.write_tree(outside, {"elsewhere.avd": data, "leftover": b"not yours"})
        os.symlink(os.path.join(outside, "elsewhere.avd"), self.path("cam.avd"))
        leftover = self.path("cam.avi.1234-0badf00d" + TEMPORARY_SUFFIX)
        os.symlink(os.path.join(outside, "leftover"), leftover)
        # A leftover goes only after a quiet minute, by its change time, which
        # no test can set back: the tool with the test switch takes it as old.
        env = dict(os.environ, AVD_CRASH_AT="0", AVD_QUIET_SECONDS="0")
        status, _, err = self.run_tool(exe=os.environ["AVDCONV_CRASHING"], env=env)
        self.assertEqual(avdtool.snapshot(outside), {"elsewhere.avd": data, "leftover": b"not yours"})
        self.assertEqual(read(self.path("cam.avi")), self.reference(data))
        if avdtool.WINDOWS:
            self.assertEqual(status, 1)
            self.assertIn(b"cam.avd: output written, archive could not be deleted", err)
            self.assertTrue(os.path.islink(self.path("cam.avd")))
            self.assertTrue(os.path.islink(leftover))
        else:
            self.assertEqual(status, 0, err)
            self.assertFalse(os.path.lexists(self.path("cam.avd")))
            self.assertFalse(os.path.lexists(leftover))

    def test_a_refused_header_leaves_an_existing_output_alone(self):
        archive = avdfixture.h264_header(b"\x67\x42", b"\x68") + avdfixture.record(1, b"tag")
        self.put("cam.avd", archive)
        self.put("cam.flv", b"an earlier conversion")
        self.run_tool()
        self.assertEqual(read(self.path("cam.flv")), b"an earlier conversion")
        self.assertEqual(read(self.path("cam.avd")), archive)
        self.assertNoTemporaryFiles()

    @unittest.skipIf(avdtool.WINDOWS, "file size limits are a POSIX matter")
    def test_a_full_disk_leaves_an_existing_output_alone(self):
        archive = mjpeg(frames=20, size=5000)
        self.put("cam.avd", archive)
        self.put("cam.avi", b"an earlier conversion")

        def limit():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (50_000, 50_000))

        subprocess.run([avdtool.EXE, self.dir], capture_output=True, preexec_fn=limit, timeout=300)
        self.assertEqual(read(self.path("cam.avi")), b"an earlier conversion")
        self.assertEqual(read(self.path("cam.avd")), archive)
        self.assertNoTemporaryFiles()

    @unittest.skipIf(avdtool.WINDOWS, "the recorder is a native process Wine's share modes do not see")
    def test_an_archive_still_being_recorded_is_kept_whole(self):
        # A recorder that keeps its file open and adds frames while the tool
        # runs, and one that is quiet for the whole run, then adds more.
        for busy in (True, False):
            with self.subTest(busy=busy):
                self.check_recorder(busy)

    def check_recorder(self, busy):
        archive = self.path("live.avd")
        start = mjpeg(frames=400, size=20_000)
        with open(archive, "wb") as f:
            f.write(start)
        stop = threading.Event()
        written = []

        def record():
            with open(archive, "ab", buffering=0) as f:
                i = 0
                while not stop.is_set() or i < 3:
                    if busy or stop.is_set():
                        frame = avdfixture.record(1, bytes([i & 0xFF]) * 1000, *avdfixture.frame_time(400 + i, 25))
                        f.write(frame)
                        written.append(frame)
                        i += 1
                    time.sleep(0.02)

        recorder = threading.Thread(target=record)
        recorder.start()
        try:
            time.sleep(0.05)
            status, _, err = self.run_tool()
        finally:
            stop.set()
            recorder.join()
        self.assertEqual(status, 0)
        self.assertIn(b"still being written by another program", err)
        self.assertTrue(os.path.exists(archive), "a file still being written was deleted")
        self.assertEqual(os.path.getsize(archive), len(start) + sum(map(len, written)))
        self.assertNoTemporaryFiles()
        # Once the recorder is done, the next run converts it whole.
        self.run_tool()
        self.assertFalse(os.path.exists(archive))
        self.assertTrue(os.path.exists(self.path("live.avi")))

    def test_two_runs_at_once_convert_each_archive_once_and_lose_nothing(self):
        tree = {f"d{i % 3}/cam{i}.avd": mjpeg(frames=5, size=30_000, seed=i) for i in range(24)}
        avdtool.write_tree(self.dir, tree)
        command = ([avdtool.EMULATOR] if avdtool.EMULATOR else []) + [avdtool.EXE, avdtool.tool_path(self.dir)]
        runs = [subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL) for _ in range(2)]
        for run in runs:
            run.wait(timeout=300)
        after = avdtool.snapshot(self.dir)
        for name, data in tree.items():
            output = name[:-3] + "avi"
            if name in after:
                # Left to the other run, which then did not get to it either.
                self.assertEqual(after[name], data)
            else:
                self.assertEqual(after.get(output), self.reference(data), output)
        self.assertNoTemporaryFiles()

    @unittest.skipIf(avdtool.WINDOWS, "FIFOs are a POSIX matter")
    def test_fifos_never_block_the_run(self):
        os.mkfifo(self.path("pipe.avd"))
        self.put("cam.avd", mjpeg(seed=4))
        os.mkfifo(self.path("cam.avi"))
        status, _, _ = self.run_tool()
        self.assertEqual(status, 0)
        self.assertTrue(os.path.exists(self.path("pipe.avd")))
        self.assertEqual(read(self.path("cam.avi")), self.reference(mjpeg(seed=4)))

    @unittest.skipIf(avdtool.WINDOWS, "descriptors are a POSIX matter")
    def test_closed_standard_output_reaches_no_output_file(self):
        tree = {f"cam{i}.avd": mjpeg(seed=i) for i in range(6)}
        avdtool.write_tree(self.dir, tree)
        result = subprocess.run([avdtool.EXE, self.dir], stdin=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                preexec_fn=lambda: os.close(1), timeout=300)
        self.assertEqual(result.returncode, 0, result.stderr)
        for name, data in tree.items():
            self.assertEqual(read(self.path(name[:-3] + "avi")), self.reference(data), name)

    def test_a_console_that_goes_away_does_not_stop_the_run(self):
        tree = {f"cam{i}.avd": mjpeg(frames=20, size=50_000, seed=i) for i in range(8)}
        avdtool.write_tree(self.dir, tree)
        command = ([avdtool.EMULATOR] if avdtool.EMULATOR else []) + [avdtool.EXE, avdtool.tool_path(self.dir)]
        process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL)
        process.stdout.read(1)
        process.stdout.close()
        process.wait(timeout=300)
        for name, data in tree.items():
            self.assertFalse(os.path.exists(self.path(name)), name)
            self.assertEqual(read(self.path(name[:-3] + "avi")), self.reference(data), name)

    def test_an_archive_that_stops_early_is_kept_unless_only_padding_follows(self):
        padded = mjpeg(seed=5) + bytes(100_000)
        two_sessions = mjpeg(seed=6) + mjpeg(seed=7)
        self.put("padded.avd", padded)
        self.put("sessions.avd", two_sessions)
        self.run_tool()
        self.assertFalse(os.path.exists(self.path("padded.avd")))
        self.assertEqual(read(self.path("padded.avi")), self.reference(mjpeg(seed=5)))
        # The first session is converted; the second stays in the archive.
        self.assertEqual(read(self.path("sessions.avd")), two_sessions)
        self.assertEqual(read(self.path("sessions.avi")), self.reference(mjpeg(seed=6)))


if __name__ == "__main__":
    unittest.main()
