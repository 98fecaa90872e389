"""What an output keeps of its recording, and every name of an archive."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import avdtool

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools"))
import avdfixture  # noqa: E402

ARCHIVE = avdfixture.mjpeg_header(25, 16, 16) + b"".join(
    avdfixture.record(1, bytes([i]) * 5000, avdfixture.START_SECONDS + i) for i in range(4))
RECORDED = 1_600_000_000  # when the recording was last written, in seconds


class OutputsTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="avdconv-outputs-")
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)

    def put(self, name):
        path = os.path.join(self.dir, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(ARCHIVE)
        return path

    def test_every_name_of_a_hard_linked_archive_converts_in_one_run(self):
        first = self.put("cam/a.avd")
        os.link(first, os.path.join(self.dir, "cam", "b.avd"))
        os.makedirs(os.path.join(self.dir, "other"))
        os.link(first, os.path.join(self.dir, "other", "c.avd"))
        status, _, err = avdtool.run([avdtool.tool_path(self.dir)])
        self.assertEqual((status, err), (0, b""))
        outputs = avdtool.snapshot(self.dir)
        self.assertEqual(sorted(outputs), sorted(os.path.join(*p) for p in
                                                 (("cam", "a.avi"), ("cam", "b.avi"), ("other", "c.avi"))))
        self.assertEqual(len(set(outputs.values())), 1, "every name's output is the same conversion")

    def test_the_output_keeps_the_recordings_time_and_on_posix_its_mode_and_owner(self):
        path = self.put("cam.avd")
        os.utime(path, (RECORDED, RECORDED))
        owner = None
        if not avdtool.WINDOWS:
            os.chmod(path, 0o644)
            if os.geteuid() == 0:
                owner = (4321, 4322)
                os.chown(path, *owner)
        # A root run with a tight umask would otherwise leave the owner
        # unable to read the recording.
        status, _, err = avdtool.run([avdtool.tool_path(self.dir)], umask=0o077)
        self.assertEqual((status, err), (0, b""))
        st = os.stat(os.path.join(self.dir, "cam.avi"))
        self.assertEqual(int(st.st_mtime), RECORDED)
        if not avdtool.WINDOWS:
            self.assertEqual(st.st_mode & 0o777, 0o644)
        if owner:
            self.assertEqual((st.st_uid, st.st_gid), owner)


if __name__ == "__main__":
    unittest.main()
