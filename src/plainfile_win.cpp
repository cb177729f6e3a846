// Plain files on Windows: handles checked with GetFileType before the C
// runtime gets them, a CREATE_NEW file beside the target, FlushFileBuffers
// and MoveFileExA. Symbolic links are left to the system.
#include "plainfile.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstring>

namespace plainfile {

namespace {

const char kTempPrefix[] = ".vrdcfg-";
const int kTempTries = 100;

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A handle on a disk file or folder: devices (NUL, CON, COM1) and pipes are
// something else, and reading them could wait for ever.
bool IsDiskFile(HANDLE h) { return GetFileType(h) == FILE_TYPE_DISK; }

FILE* WrapHandle(HANDLE h, int flags, const char* mode) {
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), flags);
  if (fd < 0) {
    CloseHandle(h);
    return nullptr;
  }
  FILE* f = _fdopen(fd, mode);
  if (f == nullptr) _close(fd);
  return f;
}

}  // namespace

Status Inspect(const char* path) {
  Status status = {Kind::kMissing, 0, 0, 0, false};
  // No access asked for: opening then tells only what the path names.
  HANDLE h = CreateFileA(path, 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return status;
  BY_HANDLE_FILE_INFORMATION info;
  if (!IsDiskFile(h) || !GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    status.kind = Kind::kOther;
  } else {
    status.kind = Kind::kRegular;
    status.writable = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) == 0;
  }
  CloseHandle(h);
  return status;
}

FILE* OpenForReading(const char* path, Kind* kind) {
  *kind = Inspect(path).kind;
  if (*kind != Kind::kRegular) return nullptr;
  HANDLE h = CreateFileA(path, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    *kind = Kind::kMissing;
    return nullptr;
  }
  if (!IsDiskFile(h)) {
    *kind = Kind::kOther;
    CloseHandle(h);
    return nullptr;
  }
  FILE* f = WrapHandle(h, _O_RDONLY | _O_BINARY, "rb");
  if (f == nullptr) *kind = Kind::kMissing;
  return f;
}

bool RealTarget(const char* path, char* target, size_t size) {
  if (strlen(path) + 1 > size) return false;
  strcpy(target, path);
  return true;
}

FILE* CreateBeside(const char* target, const Status&, char* temp, size_t size) {
  size_t folder = 0;
  for (size_t i = 0; target[i] != '\0'; ++i) {
    if (target[i] == '\\' || target[i] == '/' || target[i] == ':') folder = i + 1;
  }
  // The prefix, 8 hex digits and the NUL.
  if (folder + sizeof kTempPrefix + 8 > size) return nullptr;
  DWORD seed = GetCurrentProcessId() * 2654435761u ^ GetTickCount();
  for (int i = 0; i < kTempTries; ++i) {
    seed = seed * 1664525u + 1013904223u;
    memcpy(temp, target, folder);
    snprintf(temp + folder, size - folder, "%s%08lx", kTempPrefix,
             static_cast<unsigned long>(seed));
    // The file gets the folder's inherited security like any new file.
    HANDLE h = CreateFileA(temp, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      FILE* f = WrapHandle(h, _O_WRONLY | _O_BINARY, "wb");
      if (f == nullptr) DeleteFileA(temp);
      return f;
    }
    if (GetLastError() != ERROR_FILE_EXISTS) return nullptr;
  }
  return nullptr;
}

bool FlushToDisk(FILE* f) {
  if (fflush(f) != 0) return false;
  HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)));
  return h != INVALID_HANDLE_VALUE && FlushFileBuffers(h);
}

bool MoveOver(const char* temp, const char* target) {
  return MoveFileExA(temp, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

}  // namespace plainfile
