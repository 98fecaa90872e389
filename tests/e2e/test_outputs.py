"""What an output keeps of its recording, and every name of an archive."""

import os
import shutil
import sys
import tempfile
import unittest

import avdtool

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools"))
import avdfixture  # noqa: E402


class OutputsTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="avdconv-outputs-")
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)
        self.archive = os.path.join(self.dir, "a.avd")
        avdtool.write_tree(self.dir, {"a.avd": avdfixture.mjpeg_header(25, 16, 16) + avdfixture.record(1, b"picture")})

    def convert(self, umask=None):
        status, _, err = avdtool.run([avdtool.tool_path(self.dir)], umask=umask)
        self.assertEqual((status, err), (0, b""))

    def test_every_name_of_a_hard_linked_archive_converts_in_one_run(self):
        for name in ("b.avd", os.path.join("other", "c.avd")):
            os.makedirs(os.path.dirname(os.path.join(self.dir, name)), exist_ok=True)
            os.link(self.archive, os.path.join(self.dir, name))
        self.convert()
        outputs = avdtool.snapshot(self.dir)
        self.assertEqual(sorted(outputs), ["a.avi", "b.avi", os.path.join("other", "c.avi")])
        self.assertEqual(len(set(outputs.values())), 1, "every name's output is the same conversion")

    def test_the_output_keeps_the_recordings_time_and_on_posix_its_mode_and_owner(self):
        recorded, owner = 1_600_000_000, (4321, 4322)
        os.utime(self.archive, (recorded, recorded))
        if not avdtool.WINDOWS:
            os.chmod(self.archive, 0o644)
            if os.geteuid() == 0:
                os.chown(self.archive, *owner)
        # A root run with a tight umask would otherwise leave the owner unable to read the recording.
        self.convert(umask=0o077)
        st = os.stat(os.path.join(self.dir, "a.avi"))
        self.assertEqual(int(st.st_mtime), recorded)
        if not avdtool.WINDOWS:
            self.assertEqual(st.st_mode & 0o777, 0o644)
            if os.geteuid() == 0:
                self.assertEqual((st.st_uid, st.st_gid), owner)


if __name__ == "__main__":
    unittest.main()
