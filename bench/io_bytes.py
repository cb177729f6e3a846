#!/usr/bin/env python3
"""Runs a command under strace and counts the bytes its system calls wrote
and read, leaving out standard input, output and error (fds 0 to 2):
write, pwrite64, writev, pwritev(2), copy_file_range, sendfile and splice on
the writing side; read, pread64, readv, preadv(2) and the source side of
copy_file_range, sendfile and splice on the reading side.

  io_bytes.py CMD [ARGS...]   prints "bytes_written N" and "bytes_read N"
"""
import os
import re
import subprocess
import sys
import tempfile

# call -> (position of the written fd, position of the read fd); None: not that side.
CALLS = {
    "write": (0, None), "pwrite64": (0, None), "writev": (0, None),
    "pwritev": (0, None), "pwritev2": (0, None),
    "read": (None, 0), "pread64": (None, 0), "readv": (None, 0),
    "preadv": (None, 0), "preadv2": (None, 0),
    "copy_file_range": (2, 0), "splice": (2, 0), "sendfile": (0, 1), "sendfile64": (0, 1),
}
LINE = re.compile(r"^(\w+)\((.*)\)\s+=\s+(-?\d+)")
STD_FDS = {"0", "1", "2"}


def count(log):
    written = read = 0
    for line in log.splitlines():
        m = LINE.match(line)
        if not m or m.group(1) not in CALLS or int(m.group(3)) <= 0:
            continue
        args = [a.strip() for a in m.group(2).split(",")]
        out_at, in_at = CALLS[m.group(1)]
        n = int(m.group(3))
        if out_at is not None and args[out_at] not in STD_FDS:
            written += n
        if in_at is not None and args[in_at] not in STD_FDS:
            read += n
    return written, read


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    with tempfile.TemporaryDirectory() as tmp:
        log_path = os.path.join(tmp, "strace.log")
        rc = subprocess.call(["strace", "-qq", "-e", "signal=none", "-e", "trace=" + ",".join(CALLS),
                              "-o", log_path] + sys.argv[1:], stdout=subprocess.DEVNULL)
        with open(log_path) as f:
            written, read = count(f.read())
    print("bytes_written %d\nbytes_read %d" % (written, read))
    sys.exit(rc)


if __name__ == "__main__":
    main()
