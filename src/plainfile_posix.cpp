// Plain files on POSIX systems: stat before a non-blocking open.
#include "plainfile.h"
#include "scoped.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plainfile {

namespace {

// Looks at what the path names without opening it for reading or writing,
// so a FIFO or a device cannot make it wait.
Kind Inspect(const char* path) {
  struct stat st;
  if (stat(path, &st) != 0) return Kind::kMissing;
  return S_ISREG(st.st_mode) ? Kind::kRegular : Kind::kOther;
}

}  // namespace

FILE* OpenForReading(const char* path, Kind* kind) {
  *kind = Inspect(path);
  if (*kind != Kind::kRegular) return nullptr;
  // Non-blocking and checked again: the path may have been swapped for a
  // FIFO since it was looked at.
  ScopedFd fd(open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (fd.get() < 0) {
    *kind = Kind::kMissing;
    return nullptr;
  }
  struct stat st;
  if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    *kind = Kind::kOther;
    return nullptr;
  }
  fcntl(fd.get(), F_SETFL, fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
  FILE* f = fdopen(fd.get(), "rb");
  if (f == nullptr) {
    *kind = Kind::kMissing;
    return nullptr;
  }
  fd.release();  // f owns it now
  return f;
}

}  // namespace plainfile
