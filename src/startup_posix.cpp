// Process start on POSIX systems: standard descriptors and file-size limits.
#include "startup.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

bool PrepareProcess() {
  // A closed standard descriptor would be handed to the next file opened:
  // the skin archive would be read as the user's answers, or messages
  // written into it. The null device takes its place; open returns the
  // lowest free descriptor, so going up from 0 fills each gap in turn.
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int null = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (null != fd) return false;
  }
  // Beyond a file-size limit (ulimit -f) a write then fails with EFBIG and is
  // reported like any write error, instead of the signal killing the run
  // with the working files still in place.
  signal(SIGXFSZ, SIG_IGN);
  return true;
}
