// Plain files on POSIX systems: stat before a non-blocking open, mkstemp
// beside the target, fsync and rename.
#include "plainfile.h"
#include "scoped.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace plainfile {

namespace {

const int kMaxLinks = 40;  // as the kernel's own limit for one lookup
const char kTempName[] = ".vrdcfg-XXXXXX";

// out = the first dirlength characters of dir (which may be out itself) + name.
bool JoinPath(char* out, size_t size, const char* dir, size_t dirlength, const char* name) {
  const size_t namelength = strlen(name);
  if (dirlength + namelength + 1 > size) return false;
  if (out != dir) memcpy(out, dir, dirlength);
  memcpy(out + dirlength, name, namelength + 1);
  return true;
}

// Length of the folder part of path, its last slash included (0: none).
size_t FolderLength(const char* path) {
  const char* slash = strrchr(path, '/');
  return slash == nullptr ? 0 : static_cast<size_t>(slash - path) + 1;
}

}  // namespace

Status Inspect(const char* path) {
  Status status = {Kind::kMissing, 0, 0, 0, false};
  struct stat st;
  if (stat(path, &st) != 0) return status;
  status.kind = S_ISREG(st.st_mode) ? Kind::kRegular : Kind::kOther;
  status.mode = st.st_mode & 07777;
  status.owner = st.st_uid;
  status.group = st.st_gid;
  status.writable = access(path, W_OK) == 0;
  return status;
}

FILE* OpenForReading(const char* path, Kind* kind) {
  *kind = Inspect(path).kind;
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

bool RealTarget(const char* path, char* target, size_t size) {
  if (strlen(path) + 1 > size) return false;
  strcpy(target, path);
  char link[kPathSize];
  for (int i = 0; i < kMaxLinks; ++i) {
    struct stat st;
    if (lstat(target, &st) != 0 || !S_ISLNK(st.st_mode)) return true;
    const ssize_t n = readlink(target, link, sizeof link - 1);
    if (n < 0) return false;
    link[n] = '\0';
    // A relative link is relative to the folder that holds it.
    const size_t folder = link[0] == '/' ? 0 : FolderLength(target);
    if (!JoinPath(target, size, target, folder, link)) return false;
  }
  return false;  // a loop of links
}

FILE* CreateBeside(const char* target, const Status& existing, char* temp, size_t size) {
  if (!JoinPath(temp, size, target, FolderLength(target), kTempName)) return nullptr;
  ScopedFd fd(mkstemp(temp));
  if (fd.get() < 0) return nullptr;
  mode_t mode = static_cast<mode_t>(existing.mode);
  if (existing.kind != Kind::kRegular) {
    // What fopen would have given a new file.
    const mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  } else if (fchown(fd.get(), existing.owner, existing.group) != 0) {
    // Only the superuser may give a file away: anyone else's copy stays theirs.
  }
  FILE* f = fchmod(fd.get(), mode) == 0 ? fdopen(fd.get(), "wb") : nullptr;
  if (f == nullptr) {
    unlink(temp);
    return nullptr;
  }
  fd.release();  // f owns it now
  return f;
}

bool FlushToDisk(FILE* f) { return fflush(f) == 0 && fsync(fileno(f)) == 0; }

bool MoveOver(const char* temp, const char* target) { return rename(temp, target) == 0; }

}  // namespace plainfile
