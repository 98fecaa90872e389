#!/usr/bin/python3
"""A pass-through FUSE view of a directory that fails chosen calls, as a
failing disk or a share would, for the end-to-end tests.

    faultfs.py ROOT MOUNTPOINT [--fail-read NAME:OFFSET] [--fsyncdir-errno N]

--fail-read: a read of the file called NAME (in any directory) that covers
byte OFFSET returns the bytes before it, and the next read fails with EIO;
--fsyncdir-errno: a sync of any directory fails with that errno.
Runs in the foreground until unmounted. Needs Debian's python3-fusepy (run
with the system's interpreter) and /dev/fuse.
"""

import argparse
import errno
import os

import fusepy


class FaultFS(fusepy.Operations):
    def __init__(self, root, fail_read, fsyncdir_errno):
        self.root = root
        self.fail_name, self.fail_offset = fail_read if fail_read else (None, None)
        self.fsyncdir_errno = fsyncdir_errno

    def _path(self, path):
        return os.path.join(self.root, path.lstrip("/"))

    def _call(self, fn, *args):
        try:
            return fn(*args)
        except OSError as e:
            raise fusepy.FuseOSError(e.errno)

    def access(self, path, mode):
        if not os.access(self._path(path), mode):
            raise fusepy.FuseOSError(errno.EACCES)

    def getattr(self, path, fh=None):
        st = self._call(os.lstat, self._path(path))
        keys = ("st_mode", "st_nlink", "st_uid", "st_gid", "st_size", "st_atime", "st_mtime", "st_ctime",
                "st_atime_ns", "st_mtime_ns", "st_ctime_ns")
        out = {k: getattr(st, k) for k in keys if hasattr(st, k)}
        out["st_ino"] = st.st_ino
        return out

    def readdir(self, path, fh):
        return [".", ".."] + self._call(os.listdir, self._path(path))

    def readlink(self, path):
        return self._call(os.readlink, self._path(path))

    def statfs(self, path):
        st = self._call(os.statvfs, self._path(path))
        return {k: getattr(st, k) for k in ("f_bavail", "f_bfree", "f_blocks", "f_bsize", "f_favail", "f_ffree",
                                            "f_files", "f_flag", "f_frsize", "f_namemax")}

    def chmod(self, path, mode):
        self._call(os.chmod, self._path(path), mode)

    def chown(self, path, uid, gid):
        self._call(os.chown, self._path(path), uid, gid)

    def utimens(self, path, times=None):
        self._call(os.utime, self._path(path), times)

    def mkdir(self, path, mode):
        self._call(os.mkdir, self._path(path), mode)

    def rmdir(self, path):
        self._call(os.rmdir, self._path(path))

    def unlink(self, path):
        self._call(os.unlink, self._path(path))

    def symlink(self, target, source):
        self._call(os.symlink, source, self._path(target))

    def rename(self, old, new):
        self._call(os.rename, self._path(old), self._path(new))

    def link(self, target, source):
        self._call(os.link, self._path(source), self._path(target))

    def open(self, path, flags):
        return self._call(os.open, self._path(path), flags)

    def create(self, path, mode, fi=None):
        return self._call(os.open, self._path(path), os.O_RDWR | os.O_CREAT | os.O_EXCL, mode)

    def read(self, path, size, offset, fh):
        if os.path.basename(path) == self.fail_name and offset <= self.fail_offset < offset + size:
            if offset == self.fail_offset:
                raise fusepy.FuseOSError(errno.EIO)
            size = self.fail_offset - offset
        return self._call(os.pread, fh, size, offset)

    def write(self, path, data, offset, fh):
        return self._call(os.pwrite, fh, data, offset)

    def truncate(self, path, length, fh=None):
        self._call(os.truncate, self._path(path), length)

    def flush(self, path, fh):
        return 0

    def release(self, path, fh):
        self._call(os.close, fh)

    def fsync(self, path, datasync, fh):
        self._call(os.fsync, fh)

    def fsyncdir(self, path, datasync, fh):
        if self.fsyncdir_errno:
            raise fusepy.FuseOSError(self.fsyncdir_errno)
        return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("root")
    parser.add_argument("mountpoint")
    parser.add_argument("--fail-read")
    parser.add_argument("--fsyncdir-errno", type=int, default=0)
    args = parser.parse_args()
    fail_read = None
    if args.fail_read:
        name, offset = args.fail_read.rsplit(":", 1)
        fail_read = (name, int(offset))
    # direct_io: every read reaches the view with the program's own offsets.
    fusepy.FUSE(FaultFS(os.path.realpath(args.root), fail_read, args.fsyncdir_errno), args.mountpoint,
                foreground=True, direct_io=True, use_ino=True, nothreads=True)


if __name__ == "__main__":
    main()
