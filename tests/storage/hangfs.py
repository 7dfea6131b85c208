#!/usr/bin/python3
"""A pass-through file system whose statfs and getattr hang while a control file exists.

hangfs.py BACKING MOUNTPOINT CONTROL: serves BACKING at MOUNTPOINT in the foreground. While CONTROL
exists, statfs and getattr wait (30 s at most) before they answer, as a network share that stopped
answering does; reads and writes go on.
"""
import errno
import os
import sys
import time

from fusepy import FUSE, FuseOSError, Operations

HANG_SECONDS = 30


class HangFs(Operations):
    def __init__(self, backing, control):
        self.backing = backing
        self.control = control

    def _path(self, path):
        return os.path.join(self.backing, path.lstrip('/'))

    def _hang(self):
        until = time.monotonic() + HANG_SECONDS
        while os.path.exists(self.control) and time.monotonic() < until:
            time.sleep(0.05)

    def __call__(self, op, *args):
        try:
            return super().__call__(op, *args)
        except OSError as error:
            raise FuseOSError(error.errno or errno.EIO)

    def statfs(self, path):
        self._hang()
        st = os.statvfs(self._path(path))
        return {key: getattr(st, key) for key in ('f_bavail', 'f_bfree', 'f_blocks', 'f_bsize', 'f_favail',
                                                   'f_ffree', 'f_files', 'f_flag', 'f_frsize', 'f_namemax')}

    def getattr(self, path, fh=None):
        self._hang()
        st = os.lstat(self._path(path))
        return {key: getattr(st, key) for key in ('st_atime', 'st_ctime', 'st_gid', 'st_mode', 'st_mtime',
                                                   'st_nlink', 'st_size', 'st_uid')}

    def access(self, path, mode):
        if not os.access(self._path(path), mode):
            raise FuseOSError(errno.EACCES)

    def readdir(self, path, fh):
        return ['.', '..'] + os.listdir(self._path(path))

    def mkdir(self, path, mode):
        os.mkdir(self._path(path), mode)

    def rmdir(self, path):
        os.rmdir(self._path(path))

    def unlink(self, path):
        os.unlink(self._path(path))

    def rename(self, old, new):
        os.rename(self._path(old), self._path(new))

    def chmod(self, path, mode):
        os.chmod(self._path(path), mode)

    def utimens(self, path, times=None):
        os.utime(self._path(path), times)

    def truncate(self, path, length, fh=None):
        os.truncate(self._path(path), length)

    def open(self, path, flags):
        return os.open(self._path(path), flags)

    def create(self, path, mode, fi=None):
        return os.open(self._path(path), os.O_WRONLY | os.O_CREAT | os.O_TRUNC, mode)

    def read(self, path, size, offset, fh):
        return os.pread(fh, size, offset)

    def write(self, path, data, offset, fh):
        return os.pwrite(fh, data, offset)

    def flush(self, path, fh):
        return 0

    def fsync(self, path, datasync, fh):
        os.fsync(fh)

    def release(self, path, fh):
        os.close(fh)


if __name__ == '__main__':
    backing, mountpoint, control = sys.argv[1:4]
    FUSE(HangFs(os.path.abspath(backing), os.path.abspath(control)), mountpoint, foreground=True, nothreads=False)
