// WorkingCopy on Windows: a uniquely named file beside the real archive,
// FlushFileBuffers and MoveFileExA (replace, write through) to commit, and a
// console control handler that removes an abandoned copy on Ctrl+C, Ctrl+Break
// or when the console window is closed.
#include "workcopy.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// The control handler runs on a thread of its own, so the active copy's path
// lives here, guarded by a lock that Create, Commit and Discard also hold
// while they change the file or the path.
SRWLOCK g_lock = SRWLOCK_INIT;
char g_path[MAX_PATH + 32];
bool g_armed = false;
bool g_handlerinstalled = false;
bool g_atexitregistered = false;

void RemoveArmedCopy() {
  AcquireSRWLockExclusive(&g_lock);
  if (g_armed) DeleteFileA(g_path);
  g_armed = false;
  ReleaseSRWLockExclusive(&g_lock);
}

BOOL WINAPI RemoveOnControlEvent(DWORD /*event*/) {
  RemoveArmedCopy();
  // Not handled: the default handler still ends the process.
  return FALSE;
}

extern "C" void RemoveAtExit() { RemoveArmedCopy(); }

// Called with the lock held.
void Arm(const std::string& path) {
  std::memcpy(g_path, path.c_str(), path.size() + 1);
  g_armed = true;
  if (!g_handlerinstalled) {
    g_handlerinstalled = SetConsoleCtrlHandler(RemoveOnControlEvent, TRUE) != 0;
  }
  if (!g_atexitregistered) g_atexitregistered = atexit(RemoveAtExit) == 0;
}

std::string SystemText(DWORD code) {
  char* text = nullptr;
  DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&text), 0,
      nullptr);
  std::string result = length > 0 && text != nullptr ? std::string(text, length) : "";
  if (text != nullptr) LocalFree(text);
  while (!result.empty() && (result.back() == '\n' || result.back() == '\r')) result.pop_back();
  if (result.empty()) result = "System error " + std::to_string(code);
  return result;
}

// The file a link or a relative path stands for, so the copy lands beside the
// real archive and the commit replaces that file, not the link.
bool ResolvePath(const char* archive, std::string* resolved, DWORD* code) {
  HANDLE file = CreateFileA(archive, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *code = GetLastError();
    return false;
  }
  char buffer[MAX_PATH + 16];
  DWORD length = GetFinalPathNameByHandleA(file, buffer, sizeof buffer, FILE_NAME_NORMALIZED);
  CloseHandle(file);
  if (length > 0 && length < sizeof buffer) {
    std::string path(buffer, length);
    // Drop the \\?\ prefix so the result is an ordinary path again.
    if (path.compare(0, 8, "\\\\?\\UNC\\") == 0) {
      path = "\\\\" + path.substr(8);
    } else if (path.compare(0, 4, "\\\\?\\") == 0) {
      path = path.substr(4);
    }
    *resolved = path;
    return true;
  }
  length = GetFullPathNameA(archive, sizeof buffer, buffer, nullptr);
  if (length == 0 || length >= sizeof buffer) {
    *code = length == 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE;
    return false;
  }
  *resolved = std::string(buffer, length);
  return true;
}

std::string DirectoryPrefix(const std::string& path) {
  size_t separator = path.find_last_of("\\/");
  return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

bool CopyContents(HANDLE from, HANDLE to) {
  std::vector<char> buffer(65536);
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(from, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
      return false;
    }
    if (got == 0) return true;
    DWORD written = 0;
    if (!WriteFile(to, buffer.data(), got, &written, nullptr)) return false;
    if (written != got) {
      SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
  }
}

// Creates a new file named after the archive with a random suffix; gives up
// after a number of names that already exist.
HANDLE CreateUniqueFile(const std::string& stem, std::string* path, DWORD* code) {
  unsigned seed = GetCurrentProcessId() * 2654435761u ^ GetTickCount();
  for (int attempt = 0; attempt < 100; ++attempt) {
    seed = seed * 1103515245u + 12345u;
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ".%08x", seed);
    *path = stem + suffix;
    if (path->size() >= sizeof g_path) {
      *code = ERROR_FILENAME_EXCED_RANGE;
      return INVALID_HANDLE_VALUE;
    }
    HANDLE file = CreateFileA(path->c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE,
                              nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) return file;
    *code = GetLastError();
    if (*code != ERROR_FILE_EXISTS && *code != ERROR_ALREADY_EXISTS) break;
  }
  return INVALID_HANDLE_VALUE;
}

}  // namespace

WorkingCopy::~WorkingCopy() { Discard(); }

bool WorkingCopy::Create(const char* archive, std::string* error) {
  path_ = archive;
  if (active_) {
    *error = SystemText(ERROR_BUSY);
    return false;
  }
  DWORD code = 0;
  if (!ResolvePath(archive, &target_, &code)) {
    *error = SystemText(code);
    return false;
  }
  size_t namestart = DirectoryPrefix(target_).size();
  std::string stem = target_.substr(0, namestart) + "." + target_.substr(namestart);

  HANDLE copy;
  AcquireSRWLockExclusive(&g_lock);
  copy = CreateUniqueFile(stem, &path_, &code);
  if (copy != INVALID_HANDLE_VALUE) Arm(path_);
  ReleaseSRWLockExclusive(&g_lock);
  if (copy == INVALID_HANDLE_VALUE) {
    *error = SystemText(code);
    return false;
  }
  active_ = true;

  HANDLE source = CreateFileA(target_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  bool copied = source != INVALID_HANDLE_VALUE && CopyContents(source, copy);
  code = GetLastError();
  if (source != INVALID_HANDLE_VALUE) CloseHandle(source);
  if (!CloseHandle(copy) && copied) {
    copied = false;
    code = GetLastError();
  }
  if (!copied) {
    *error = SystemText(code);
    Discard();
    return false;
  }
  // Keeps the archive's hidden/system marks; read-only never gets this far.
  DWORD attributes = GetFileAttributesA(target_.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    attributes &= FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                  FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    SetFileAttributesA(path_.c_str(), attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL);
  }
  return true;
}

bool WorkingCopy::Commit(std::string* error) {
  if (!active_) {
    *error = SystemText(ERROR_FILE_NOT_FOUND);
    return false;
  }
  // The data must be on disk before the move makes it the archive.
  HANDLE file = CreateFileA(path_.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  bool flushed = file != INVALID_HANDLE_VALUE && FlushFileBuffers(file);
  DWORD code = GetLastError();
  if (file != INVALID_HANDLE_VALUE && !CloseHandle(file) && flushed) {
    flushed = false;
    code = GetLastError();
  }
  if (!flushed) {
    *error = SystemText(code);
    Discard();
    return false;
  }
  AcquireSRWLockExclusive(&g_lock);
  // Write-through: the call returns only once the rename itself is on disk.
  bool moved = MoveFileExA(path_.c_str(), target_.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  if (!moved) {
    code = GetLastError();
    DeleteFileA(path_.c_str());
  }
  g_armed = false;
  ReleaseSRWLockExclusive(&g_lock);
  active_ = false;
  if (!moved) *error = SystemText(code);
  return moved;
}

void WorkingCopy::Discard() {
  if (!active_) return;
  AcquireSRWLockExclusive(&g_lock);
  DeleteFileA(path_.c_str());
  g_armed = false;
  ReleaseSRWLockExclusive(&g_lock);
  active_ = false;
}
