#!/usr/bin/python3
"""A FUSE file system of two files. "image" reads slowly: position p holds
p & 0xFF (position 1 is the first byte), and every read waits a while first,
as a network share or a slow card would. "target" starts empty and takes
writes, but with fail_close=1 its every close fails, as on file systems that
commit a file only when it is closed, and each sync of it takes sync_delay_ms.

    slowfs.py MOUNTPOINT -o size=BYTES,delay_ms=MS[,fail_close=1][,sync_delay_ms=MS]
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
        self.fail_close = 0
        self.sync_delay_ms = 0
        self.target = bytearray()

    def getattr(self, path):
        st = fuse.Stat()
        if path == "/":
            st.st_mode = stat.S_IFDIR | 0o755
            st.st_nlink = 2
        elif path == "/image":
            st.st_mode = stat.S_IFREG | 0o444
            st.st_nlink = 1
            st.st_size = self.size
        elif path == "/target":
            st.st_mode = stat.S_IFREG | 0o644
            st.st_nlink = 1
            st.st_size = len(self.target)
        else:
            return -errno.ENOENT
        return st

    def readdir(self, path, offset):
        for name in (".", "..", "image", "target"):
            yield fuse.Direntry(name)

    def open(self, path, flags):
        if path == "/target":
            return 0
        if path != "/image":
            return -errno.ENOENT
        if flags & 3 != 0:
            return -errno.EROFS
        return 0

    def read(self, path, length, offset):
        if path == "/target":
            return bytes(self.target[offset:offset + length])
        time.sleep(self.delay_ms / 1000)
        end = min(offset + length, self.size)
        return bytes((p + 1) & 0xFF for p in range(offset, end)) if end > offset else b""

    def write(self, path, buf, offset):
        if path != "/target":
            return -errno.EROFS
        if offset > len(self.target):
            self.target.extend(bytes(offset - len(self.target)))
        self.target[offset:offset + len(buf)] = buf
        return len(buf)

    def truncate(self, path, size):
        if path != "/target":
            return -errno.EROFS
        del self.target[size:]
        self.target.extend(bytes(size - len(self.target)))
        return 0

    def fsync(self, path, datasync):
        time.sleep(self.sync_delay_ms / 1000)
        return 0

    def flush(self, path):
        return -errno.EIO if path == "/target" and self.fail_close else 0


def main():
    server = SlowFS(dash_s_do="setsingle")
    server.parser.add_option(mountopt="size", type="int", default=0)
    server.parser.add_option(mountopt="delay_ms", type="int", default=0)
    server.parser.add_option(mountopt="fail_close", type="int", default=0)
    server.parser.add_option(mountopt="sync_delay_ms", type="int", default=0)
    server.parse(values=server, errex=1)
    server.main()


if __name__ == "__main__":
    main()
