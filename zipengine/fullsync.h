// FullSync(fd): writes a file's data (or a folder's entries) through to the
// drive, as far as the system can. On macOS fsync only hands the data to the
// drive, whose cache can still lose it at a power cut; F_FULLFSYNC also asks
// the drive to write its cache. A file system that refuses F_FULLFSYNC (some
// network and FUSE ones) gets fsync instead; any other failure is reported.
// Returns 0, or -1 with errno set, as fsync does.
#ifndef VRDSKINCFG_FULLSYNC_H
#define VRDSKINCFG_FULLSYNC_H

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

inline int FullSync(int fd) {
#ifdef F_FULLFSYNC
  int result;
  do {
    result = fcntl(fd, F_FULLFSYNC);
  } while (result != 0 && errno == EINTR);
  if (result == 0) return 0;
  if (errno != ENOTSUP && errno != EOPNOTSUPP && errno != EINVAL && errno != ENOTTY &&
      errno != ENOSYS) {
    return -1;
  }
#endif
  return fsync(fd);
}

#endif
