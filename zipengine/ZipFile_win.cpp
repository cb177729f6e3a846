// CZipFile over a kernel32 file handle. Failures throw the C runtime's errno
// value for the Windows error where one fits (so descriptions use the same
// fixed texts as on POSIX), and otherwise a file error (216) whose
// description is Windows' own text for the last error.
#include <windows.h>

#include <cerrno>
#include <cstdint>

#include "ZipException.h"
#include "ZipFile.h"

namespace {

HANDLE Handle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// The C runtime's own mapping (as its _dosmaperr does) for the errors a file
// call can meet; 0 means "no errno says it well".
int ErrnoFor(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_NO_MORE_FILES:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
      return ENOENT;
    case ERROR_TOO_MANY_OPEN_FILES:
      return EMFILE;
    case ERROR_ACCESS_DENIED:
    case ERROR_CURRENT_DIRECTORY:
    case ERROR_WRITE_PROTECT:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_NETWORK_ACCESS_DENIED:
    case ERROR_CANNOT_MAKE:
    case ERROR_DRIVE_LOCKED:
    case ERROR_SEEK_ON_DEVICE:
    case ERROR_NOT_LOCKED:
    case ERROR_LOCK_FAILED:
      return EACCES;
    case ERROR_INVALID_HANDLE:
    case ERROR_INVALID_TARGET_HANDLE:
      return EBADF;
    case ERROR_ARENA_TRASHED:
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_INVALID_BLOCK:
    case ERROR_OUTOFMEMORY:
    case ERROR_NOT_ENOUGH_QUOTA:
      return ENOMEM;
    case ERROR_NOT_SAME_DEVICE:
      return EXDEV;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_INVALID_FUNCTION:
    case ERROR_INVALID_PARAMETER:
    case ERROR_NEGATIVE_SEEK:
      return EINVAL;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    default:
      return 0;
  }
}

[[noreturn]] void ThrowSystemError(DWORD error, const std::string& path) {
  // A call that failed without saying why still must not look like success.
  if (error == ERROR_SUCCESS) error = ERROR_GEN_FAILURE;
  int cause = ErrnoFor(error);
  errno = cause != 0 ? cause : EIO;
  // The description reads the last error when it is built.
  SetLastError(error);
  CZipException::Throw(cause != 0 ? cause : static_cast<int>(CZipException::fileError),
                       path.c_str());
}

DWORD Access(uint32_t openFlags) {
  switch (openFlags & 3) {
    case CZipFile::modeWrite:
      return GENERIC_WRITE;
    case CZipFile::modeReadWrite:
      return GENERIC_READ | GENERIC_WRITE;
    default:
      return GENERIC_READ;
  }
}

// Bits 0x10 to 0x40 are the classic share modes (exclusive, deny write, deny
// read, deny none). Deleting is always shared: the working copy's Ctrl+C
// handler must be able to remove the file while the engine has it open.
DWORD ShareMode(uint32_t openFlags) {
  DWORD share;
  switch (openFlags & 0x70) {
    case 0x20:
      share = FILE_SHARE_READ;
      break;
    case 0x30:
      share = FILE_SHARE_WRITE;
      break;
    case 0x40:
      share = FILE_SHARE_READ | FILE_SHARE_WRITE;
      break;
    default:
      share = 0;
      break;
  }
  return share | FILE_SHARE_DELETE;
}

DWORD Disposition(uint32_t openFlags) {
  bool truncate = CZipFile::Truncates(openFlags);
  if (openFlags & CZipFile::modeCreate) return truncate ? CREATE_ALWAYS : OPEN_ALWAYS;
  return truncate ? TRUNCATE_EXISTING : OPEN_EXISTING;
}

}  // namespace

CZipFile::CZipFile() : m_hFile(-1), m_bOwned(true) {}

CZipFile::~CZipFile() { CloseQuietly(); }

void CZipFile::ThrowError() const { ThrowSystemError(GetLastError(), m_szFileName); }

bool CZipFile::Open(const char* path, uint32_t openFlags, bool throwOnError) {
  CloseQuietly();
  HANDLE file = CreateFileA(path, Access(openFlags), ShareMode(openFlags), nullptr,
                            Disposition(openFlags), FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    if (!throwOnError) return false;
    ThrowSystemError(GetLastError(), path);
  }
  m_hFile = reinterpret_cast<intptr_t>(file);
  m_szFileName = path;
  m_bOwned = true;
  return true;
}

void CZipFile::CloseSystemHandle(intptr_t handle, const std::string* path) {
  if (!::CloseHandle(Handle(handle)) && path != nullptr) ThrowSystemError(GetLastError(), *path);
}

void CZipFile::Flush() {
  if (!FlushFileBuffers(Handle(m_hFile))) ThrowError();
}

uint64_t CZipFile::GetPosition() const {
  LARGE_INTEGER zero, pos;
  zero.QuadPart = 0;
  if (!SetFilePointerEx(Handle(m_hFile), zero, &pos, FILE_CURRENT)) ThrowError();
  return static_cast<uint64_t>(pos.QuadPart);
}

uint64_t CZipFile::Seek(int64_t offset, int origin) {
  DWORD method = origin == current ? FILE_CURRENT : origin == end ? FILE_END : FILE_BEGIN;
  LARGE_INTEGER distance, pos;
  distance.QuadPart = offset;
  if (!SetFilePointerEx(Handle(m_hFile), distance, &pos, method)) ThrowError();
  return static_cast<uint64_t>(pos.QuadPart);
}

uint64_t CZipFile::GetLength() const {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(Handle(m_hFile), &size)) ThrowError();
  return static_cast<uint64_t>(size.QuadPart);
}

// SetEndOfFile cuts at the file pointer; the pointer is put back afterwards,
// as ftruncate never moves it.
void CZipFile::SetLength(uint64_t length) {
  if (length > static_cast<uint64_t>(INT64_MAX)) {
    ThrowSystemError(ERROR_INVALID_PARAMETER, m_szFileName);
  }
  uint64_t old = GetPosition();
  Seek(static_cast<int64_t>(length), begin);
  if (!SetEndOfFile(Handle(m_hFile))) ThrowError();
  Seek(static_cast<int64_t>(old), begin);
}

uint32_t CZipFile::Read(void* buffer, uint32_t count) {
  char* out = static_cast<char*>(buffer);
  uint32_t done = 0;
  while (done < count) {
    DWORD got = 0;
    if (!ReadFile(Handle(m_hFile), out + done, count - done, &got, nullptr)) {
      if (GetLastError() == ERROR_HANDLE_EOF) break;
      ThrowError();
    }
    if (got == 0) break;
    done += got;
  }
  return done;
}

// The offset travels in the OVERLAPPED record; the handle is synchronous,
// so each call waits for its own data.
uint32_t CZipFile::ReadAt(void* buffer, uint32_t count, uint64_t offset) {
  if (offset > static_cast<uint64_t>(INT64_MAX)) return 0;
  char* out = static_cast<char*>(buffer);
  uint32_t done = 0;
  while (done < count) {
    OVERLAPPED at = {};
    uint64_t where = offset + done;
    at.Offset = static_cast<DWORD>(where);
    at.OffsetHigh = static_cast<DWORD>(where >> 32);
    DWORD got = 0;
    if (!ReadFile(Handle(m_hFile), out + done, count - done, &got, &at)) {
      if (GetLastError() == ERROR_HANDLE_EOF) break;
      ThrowError();
    }
    if (got == 0) break;
    done += got;
  }
  return done;
}

void CZipFile::Write(const void* buffer, uint32_t count) {
  const char* in = static_cast<const char*>(buffer);
  uint32_t done = 0;
  while (done < count) {
    DWORD written = 0;
    if (!WriteFile(Handle(m_hFile), in + done, count - done, &written, nullptr)) ThrowError();
    if (written == 0) ThrowSystemError(ERROR_DISK_FULL, m_szFileName);
    done += written;
  }
}

// Windows has no copy between two open handles; the caller reads and writes.
uint64_t CZipFile::CopyFrom(const CZipFile&, uint64_t, uint64_t, uint64_t) { return 0; }

void CZipFile::StartFlush(uint64_t, uint64_t) {}
