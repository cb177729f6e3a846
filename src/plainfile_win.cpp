// Plain files on Windows: handles checked with GetFileType before the C
// runtime gets them.
#include "plainfile.h"
#include "scoped.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstring>

namespace plainfile {

namespace {

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A handle on a disk file or folder: devices (NUL, CON, COM1) and pipes are
// something else, and reading them could wait for ever.
bool IsDiskFile(HANDLE h) { return GetFileType(h) == FILE_TYPE_DISK; }

// Hands the handle to the C runtime: the FILE owns it afterwards.
FILE* WrapHandle(ScopedHandle& h, int flags, const char* mode) {
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h.get()), flags);
  if (fd < 0) return nullptr;
  h.release();  // fd owns it now
  FILE* f = _fdopen(fd, mode);
  if (f == nullptr) _close(fd);
  return f;
}

// Looks at what the path names without opening it for reading or writing,
// so a device cannot make it wait.
Kind Inspect(const char* path) {
  // No access asked for: opening then tells only what the path names.
  ScopedHandle h(
      CreateFileA(path, 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!h.valid()) return Kind::kMissing;
  BY_HANDLE_FILE_INFORMATION info;
  const bool regular = IsDiskFile(h.get()) && GetFileInformationByHandle(h.get(), &info) &&
                       (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  return regular ? Kind::kRegular : Kind::kOther;
}

}  // namespace

FILE* OpenForReading(const char* path, Kind* kind) {
  *kind = Inspect(path);
  if (*kind != Kind::kRegular) return nullptr;
  ScopedHandle h(CreateFileA(path, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h.valid()) {
    *kind = Kind::kMissing;
    return nullptr;
  }
  if (!IsDiskFile(h.get())) {
    *kind = Kind::kOther;
    return nullptr;
  }
  FILE* f = WrapHandle(h, _O_RDONLY | _O_BINARY, "rb");
  if (f == nullptr) *kind = Kind::kMissing;
  return f;
}

}  // namespace plainfile
