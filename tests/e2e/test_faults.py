"""No archive is ever lost: crashes at every file operation, kills at random
moments, a disk that fills up, and hostile trees."""

import os
import random
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

import avdtool
import media

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools"))
import avdfixture  # noqa: E402

CRASHING = os.environ.get("AVDCONV_CRASHING", "")


snapshot = avdtool.snapshot
write_tree = avdtool.write_tree


@media.needed
class NoArchiveIsLostTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        big_frames = 40 if avdtool.WINDOWS else 120
        cls.tree = {
            "a/cam1.avd": avdfixture.h264_archive(20, "320x240", 25, "baseline"),
            "a/cam2.avd": avdfixture.mjpeg_archive(6, "160x120", 5),
            "b/c/cam3.avd": avdfixture.h264_archive(big_frames, "640x480", 25, "main"),
            "b/cam4.avd": avdfixture.mjpeg_archive(3, "320x240", 10),
            "b/foreign.avd": avdfixture.record(0, avdfixture.stream_header(4, b"")),
        }
        work = tempfile.mkdtemp(prefix="avdconv-ref-")
        try:
            write_tree(work, cls.tree)
            started = time.monotonic()
            status, _, _ = avdtool.run([avdtool.tool_path(work)])
            cls.run_seconds = time.monotonic() - started
            assert status == 0
            cls.converted = snapshot(work)
        finally:
            shutil.rmtree(work)

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="avdconv-faults-")
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)

    def fresh_tree(self):
        shutil.rmtree(self.dir)
        os.makedirs(self.dir)
        write_tree(self.dir, self.tree)

    def check_invariant(self, after):
        for name, original in self.tree.items():
            if name in after:
                self.assertTrue(after[name] == original, f"{name} was changed")
                continue
            outputs = [name[:-3] + ext for ext in ("avi", "flv") if name[:-3] + ext in self.converted]
            self.assertEqual(len(outputs), 1, f"{name} was deleted although it cannot be converted")
            self.assertIn(outputs[0], after, f"{name} was deleted without its output")
            self.assertTrue(after[outputs[0]] == self.converted[outputs[0]], f"{name} was deleted with a damaged output")

    def rerun_converts_the_rest(self):
        # A run removes what a killed run left only once nobody has touched
        # it for a minute (a run through another view may still be at work);
        # the rerun here takes the killed run's files for old at once.
        env = dict(os.environ, AVD_CRASH_AT="0", AVD_QUIET_SECONDS="0")
        status, out, _ = avdtool.run([avdtool.tool_path(self.dir)], exe=CRASHING, env=env)
        self.assertEqual(status, 0)
        after = snapshot(self.dir)
        self.assertEqual(set(after), set(self.converted))
        self.assertTrue(after == self.converted, "the rerun left different outputs")

    def run_to_crash(self, env):
        """The crashing tool's status. Wine's end of a process that terminates
        itself hangs now and then: one that got to its crash point is killed
        after a while, as the crash would have."""
        command = ([avdtool.EMULATOR] if avdtool.EMULATOR else []) + [CRASHING, avdtool.tool_path(self.dir)]
        with tempfile.TemporaryFile() as err:
            try:
                return subprocess.run(command, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                      stderr=err, timeout=60 if avdtool.WINDOWS else 300).returncode
            except subprocess.TimeoutExpired:
                err.seek(0)
                if not avdtool.WINDOWS or b"crash point reached" not in err.read():
                    raise
                return 137

    def test_fault_free_reference(self):
        self.assertEqual(set(self.converted),
                         {"a/cam1.flv", "a/cam2.avi", "b/c/cam3.flv", "b/cam4.avi", "b/foreign.avd"})

    @unittest.skipUnless(CRASHING, "needs the tool with a crash switch")
    def test_crash_at_every_file_operation(self):
        self.fresh_tree()
        env = dict(os.environ, AVD_CRASH_AT="0")
        status, _, err = avdtool.run([avdtool.tool_path(self.dir)], exe=CRASHING, env=env, timeout=300)
        self.assertEqual(status, 0)
        operations = int(err.decode().rsplit("file operations:", 1)[1])
        self.assertTrue(snapshot(self.dir) == self.converted)
        self.assertGreater(operations, 40)
        points = range(1, operations + 1)
        if avdtool.WINDOWS:
            # Every process start under Wine costs seconds: a spread of points.
            points = sorted(set(range(1, operations + 1, max(1, operations // 40))) | {operations})
        for n in points:
            with self.subTest(crash_at=n):
                self.fresh_tree()
                env["AVD_CRASH_AT"] = str(n)
                status = self.run_to_crash(env)
                # Two workers share the batches differently from run to run,
                # so a run may end a few operations short of the count.
                if status == 0 and n > operations - 10:
                    self.assertTrue(snapshot(self.dir) == self.converted)
                    continue
                self.assertEqual(status, 137)
                self.check_invariant(snapshot(self.dir))
                self.rerun_converts_the_rest()

    @unittest.skipIf(avdtool.WINDOWS, "signals are a POSIX matter")
    def test_killed_at_random_moments(self):
        rng = random.Random(20261208)
        left_work = 0
        for trial in range(8):
            with self.subTest(trial=trial):
                # A moment within the time a whole run takes; a run that ends
                # before it is tried again with half the delay, so that every
                # trial's kill lands.
                delay = rng.uniform(0.0, 0.8) * self.run_seconds
                while True:
                    self.fresh_tree()
                    process = subprocess.Popen([avdtool.EXE, self.dir], stdout=subprocess.DEVNULL)
                    time.sleep(delay)
                    process.send_signal(signal.SIGKILL)
                    if process.wait() == -signal.SIGKILL:
                        break
                    delay /= 2
                after = snapshot(self.dir)
                left_work += any(name in after for name in self.tree if name != "b/foreign.avd")
                self.check_invariant(after)
                self.rerun_converts_the_rest()
        self.assertGreater(left_work, 0, "no kill left work for the rerun")

    @unittest.skipIf(avdtool.WINDOWS, "file size limits are a POSIX matter")
    def test_disk_that_fills_up(self):
        largest = max(len(v) for v in self.converted.values())
        for limit in (300, 5000, 100_000, largest // 2):
            with self.subTest(limit=limit):
                self.fresh_tree()

                def limit_file_size(limit=limit):
                    signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
                    resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))

                result = subprocess.run([avdtool.EXE, self.dir], capture_output=True, preexec_fn=limit_file_size,
                                        timeout=300)
                self.assertIn(result.returncode, (0, 1))
                self.assertTrue(result.stdout.endswith(b"\nfinished."))
                after = snapshot(self.dir)
                self.check_invariant(after)
                # An archive whose output cannot fit under the limit is still there.
                for name in self.tree:
                    output = next((name[:-3] + e for e in ("avi", "flv") if name[:-3] + e in self.converted), None)
                    if output and len(self.converted[output]) > limit:
                        self.assertTrue(name in after, f"{name} is gone although its output cannot fit")
                self.rerun_converts_the_rest()


class HostileTreeTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="avdconv-hostile-")
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)
        self.archive = avdfixture.mjpeg_header(25, 16, 16) + avdfixture.record(1, b"\xff\xd8\xff\xd9")

    def put(self, name, data):
        write_tree(self.dir, {name: data})

    def run_tool(self, status=0):
        status_seen, out, _ = avdtool.run([avdtool.tool_path(self.dir)], timeout=120)
        self.assertEqual(status_seen, status)
        self.assertTrue(out.endswith(b"\nfinished."))
        return out

    @unittest.skipIf(avdtool.WINDOWS, "directory links need privileges on Windows")
    def test_link_cycles_and_shared_directories_convert_each_archive_once(self):
        self.put("real/sub/cam.avd", self.archive)
        self.put("real/other.avd", self.archive)
        os.symlink(os.path.join(self.dir, "real"), os.path.join(self.dir, "real", "sub", "up"))  # to an ancestor
        os.symlink(os.path.join(self.dir, "real", "sub"), os.path.join(self.dir, "link1"))
        os.symlink(os.path.join(self.dir, "real", "sub"), os.path.join(self.dir, "link2"))
        os.symlink(os.path.join(self.dir, "real", "sub", "loop"), os.path.join(self.dir, "real", "sub", "loop"))
        out = self.run_tool()
        self.assertIn(b"finished: 2/2", out)
        self.assertEqual(sorted(os.listdir(os.path.join(self.dir, "real", "sub"))), ["cam.avi", "loop", "up"])

    @unittest.skipIf(avdtool.WINDOWS, "names are UTF-16 on Windows")
    def test_names_that_are_not_utf8_convert_under_their_own_bytes(self):
        bad_dir = os.path.join(os.fsencode(self.dir), b"dir\xff")
        os.makedirs(bad_dir)
        with open(os.path.join(bad_dir, b"inside.avd"), "wb") as f:
            f.write(self.archive)
        with open(os.path.join(os.fsencode(self.dir), b"bad\xfe.avd"), "wb") as f:
            f.write(self.archive)
        # A surrogate pair spelled as two three-byte forms.
        cesu = os.path.join(os.fsencode(self.dir), b"cesu\xed\xa0\xbd\xed\xb8\x80.avd")
        with open(cesu, "wb") as f:
            f.write(self.archive)
        self.put("good.avd", self.archive)
        out = self.run_tool()
        self.assertIn(b"finished: 4/4", out)
        self.assertEqual(set(avdtool.snapshot(os.fsencode(self.dir))), {
            b"dir\xff/inside.avi", b"bad\xfe.avi", b"cesu\xed\xa0\xbd\xed\xb8\x80.avi", b"good.avi"})

    def test_output_name_taken_by_a_directory_keeps_the_archive(self):
        self.put("m.avd", self.archive)
        os.makedirs(os.path.join(self.dir, "m.avi"))
        sps = bytes.fromhex("6742c00dd90141fb011000000300100000030320f142a480")
        self.put("h.avd", avdfixture.h264_header(sps, bytes.fromhex("68cb83cb20")))
        os.makedirs(os.path.join(self.dir, "h.flv"))
        self.run_tool(status=1)
        self.assertEqual(avdfixture.read_bytes(os.path.join(self.dir, "m.avd")), self.archive)
        self.assertTrue(os.path.exists(os.path.join(self.dir, "h.avd")))

    def test_non_ascii_names_convert(self):
        names = ["kämmerlein/überwachung €", "cam \U0001F3A5", "\U0001F4C1/cam"]
        for name in names:
            self.put(name + ".avd", self.archive)
        self.run_tool()
        for name in names:
            self.assertTrue(os.path.exists(os.path.join(self.dir, name + ".avi")), name)
            self.assertFalse(os.path.exists(os.path.join(self.dir, name + ".avd")), name)

    def test_archive_below_a_long_path_converts(self):
        # Past the 260 units beyond which Windows wants the extended-length form.
        deep = os.path.join(*["component-%02d-%s" % (i, "x" * 40) for i in range(6)])
        self.assertGreater(len(avdtool.tool_path(os.path.join(self.dir, deep, "cam.avd"))), 300)
        self.put(os.path.join(deep, "cam.avd"), self.archive)
        out = self.run_tool()
        self.assertIn(b"finished: 1/1", out)
        self.assertTrue(os.path.exists(os.path.join(self.dir, deep, "cam.avi")))
        self.assertFalse(os.path.exists(os.path.join(self.dir, deep, "cam.avd")))

if __name__ == "__main__":
    unittest.main()
