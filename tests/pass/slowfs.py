#!/usr/bin/python3
"""A read-only FUSE file system with one file, "image", that reads slowly:
position p holds p & 0xFF (position 1 is the first byte), and every read
waits a while first, as a network share or a slow card would.

    slowfs.py MOUNTPOINT -o size=BYTES,delay_ms=MS
"""
import errno
import stat
import time

import fuse

fuse.fuse_python_api = (0, 2)


class SlowFS(fuse.Fuse):
    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self.size = 0
        self.delay_ms = 0

    def getattr(self, path):
        st = fuse.Stat()
        if path == "/":
            st.st_mode = stat.S_IFDIR | 0o755
            st.st_nlink = 2
        elif path == "/image":
            st.st_mode = stat.S_IFREG | 0o444
            st.st_nlink = 1
            st.st_size = self.size
        else:
            return -errno.ENOENT
        return st

    def readdir(self, path, offset):
        for name in (".", "..", "image"):
            yield fuse.Direntry(name)

    def open(self, path, flags):
        if path != "/image":
            return -errno.ENOENT
        if flags & 3 != 0:
            return -errno.EROFS
        return 0

    def read(self, path, length, offset):
        time.sleep(self.delay_ms / 1000)
        end = min(offset + length, self.size)
        return bytes((p + 1) & 0xFF for p in range(offset, end)) if end > offset else b""


def main():
    server = SlowFS(dash_s_do="setsingle")
    server.parser.add_option(mountopt="size", type="int", default=0)
    server.parser.add_option(mountopt="delay_ms", type="int", default=0)
    server.parse(values=server, errex=1)
    server.main()


if __name__ == "__main__":
    main()
