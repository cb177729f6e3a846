// SkinPlatform on Windows. Working files carry the delete-on-close
// disposition until they are published, so no way of ending the process
// leaves one behind; locks are LockFileEx locks on a byte far beyond any
// archive's end, so they never stand in the way of reading; ReplaceFileA
// publishes and keeps the archive's security descriptor, attributes and
// streams.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "skinplatform.h"

namespace {

// The locked byte: beyond the end of any archive the engine can read.
const DWORD kLockOffsetHigh = 0x7FFFFFFF;

// A working file untouched this long (100 ns ticks: one hour) is stale.
const uint64_t kStaleAfterTicks = 36000000000ull;

uint64_t Ticks(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

HANDLE H(SkinPlatform::Handle handle) { return reinterpret_cast<HANDLE>(handle); }

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

SysResult Failed(std::string* error, DWORD code = GetLastError()) {
  *error = SystemText(code);
  return SysResult::kFailed;
}

bool IsNotFound(DWORD code) {
  return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ||
         code == ERROR_ACCESS_DENIED || code == ERROR_INVALID_NAME;
}

FileIdentity IdentityOf(const BY_HANDLE_FILE_INFORMATION& info) {
  FileIdentity id;
  id.volume = info.dwVolumeSerialNumber;
  id.index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  id.size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  uint64_t ticks = Ticks(info.ftLastWriteTime);
  id.modified = static_cast<int64_t>(ticks / 10000000);
  id.modifiednsec = static_cast<int64_t>(ticks % 10000000) * 100;
  return id;
}

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The final path of an open file, without the \\?\ prefix.
bool FinalPath(HANDLE file, const std::string& given, std::string* path) {
  char buffer[MAX_PATH + 16];
  DWORD length = GetFinalPathNameByHandleA(file, buffer, sizeof buffer, FILE_NAME_NORMALIZED);
  if (length > 0 && length < sizeof buffer) {
    std::string result(buffer, length);
    if (result.compare(0, 8, "\\\\?\\UNC\\") == 0) {
      result = "\\\\" + result.substr(8);
    } else if (result.compare(0, 4, "\\\\?\\") == 0) {
      result = result.substr(4);
    }
    *path = result;
    return true;
  }
  length = GetFullPathNameA(given.c_str(), sizeof buffer, buffer, nullptr);
  if (length == 0 || length >= sizeof buffer) return false;
  *path = std::string(buffer, length);
  return true;
}

bool SetDeleteOnClose(HANDLE file, bool remove) {
  FILE_DISPOSITION_INFO disposition;
  disposition.DeleteFile = remove ? TRUE : FALSE;
  return SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                    sizeof disposition) != 0;
}

std::string RandomPart() {
  static unsigned seed = GetCurrentProcessId() * 2654435761u ^ GetTickCount();
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string part(6, 'x');
  for (char& c : part) {
    seed = seed * 1103515245u + 12345u;
    c = kChars[(seed >> 16) % (sizeof kChars - 1)];
  }
  return part;
}

std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  char last = folder.back();
  return last == '\\' || last == '/' ? folder + name : folder + "\\" + name;
}

class WinSkinPlatform : public SkinPlatform {
 public:
  SysResult OpenRegular(const std::string& path, Handle* handle, FileIdentity* identity,
                        std::string* realpath, std::string* error) override {
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      return SysResult::kNotRegular;
    }
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      DWORD code = GetLastError();
      *error = SystemText(code);
      return IsNotFound(code) ? SysResult::kNotFound : SysResult::kFailed;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(file) != FILE_TYPE_DISK) {
      CloseHandle(file);
      return SysResult::kNotRegular;
    }
    if (!GetFileInformationByHandle(file, &info) || !FinalPath(file, path, realpath)) {
      DWORD code = GetLastError();
      CloseHandle(file);
      return Failed(error, code);
    }
    *handle = reinterpret_cast<Handle>(file);
    *identity = IdentityOf(info);
    return SysResult::kOk;
  }

  SysResult CheckWritable(const std::string& path, std::string* error) override {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return Failed(error);
    CloseHandle(file);
    return SysResult::kOk;
  }

  SysResult IdentifyPath(const std::string& path, FileIdentity* identity,
                         std::string* error) override {
    HANDLE file = CreateFileA(path.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      DWORD code = GetLastError();
      *error = SystemText(code);
      return IsNotFound(code) ? SysResult::kNotFound : SysResult::kFailed;
    }
    SysResult result = IdentifyHandle(reinterpret_cast<Handle>(file), identity, error);
    CloseHandle(file);
    return result;
  }

  SysResult IdentifyHandle(Handle handle, FileIdentity* identity, std::string* error) override {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(H(handle), &info)) return Failed(error);
    *identity = IdentityOf(info);
    return SysResult::kOk;
  }

  SysResult TryLock(Handle handle, std::string* error) override {
    OVERLAPPED where = {};
    where.OffsetHigh = kLockOffsetHigh;
    if (LockFileEx(H(handle), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                   &where)) {
      return SysResult::kOk;
    }
    DWORD code = GetLastError();
    if (code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING) return SysResult::kBusy;
    return Failed(error, code);
  }

  void Unlock(Handle handle) override {
    OVERLAPPED where = {};
    where.OffsetHigh = kLockOffsetHigh;
    UnlockFileEx(H(handle), 0, 1, 0, &where);
  }

  SysResult CreateWorkFile(const std::string& folder, const std::string& prefix, Handle* handle,
                           std::string* path, std::string* error) override {
    for (int attempt = 0; attempt < 100; ++attempt) {
      *path = Join(folder, prefix + RandomPart());
      // No delete sharing: while this run holds the file, no cleaning run
      // can remove it.
      HANDLE file = CreateFileA(path->c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file == INVALID_HANDLE_VALUE) {
        DWORD code = GetLastError();
        if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS) continue;
        return Failed(error, code);
      }
      if (!SetDeleteOnClose(file, true)) {
        DWORD code = GetLastError();
        CloseHandle(file);
        DeleteFileA(path->c_str());
        return Failed(error, code);
      }
      *handle = reinterpret_cast<Handle>(file);
      return SysResult::kOk;
    }
    return Failed(error, ERROR_FILE_EXISTS);
  }

  SysResult CopyMetadata(Handle, Handle, std::string*) override {
    return SysResult::kOk;  // ReplaceFileA keeps them
  }

  SysResult Sync(Handle handle, std::string* error) override {
    if (!FlushFileBuffers(H(handle))) return Failed(error);
    return SysResult::kOk;
  }

  SysResult Publish(Handle work, const std::string& workpath, const std::string&,
                    const std::string&, const std::string& target, std::string* error) override {
    // The file must survive its handle now, and be closed for the replace.
    if (!SetDeleteOnClose(H(work), false)) {
      DWORD code = GetLastError();
      CloseHandle(H(work));
      return Failed(error, code);
    }
    CloseHandle(H(work));
    if (ReplaceFileA(target.c_str(), workpath.c_str(), nullptr, REPLACEFILE_WRITE_THROUGH,
                     nullptr, nullptr)) {
      return SysResult::kOk;
    }
    DWORD code = GetLastError();
    DeleteFileA(workpath.c_str());
    return Failed(error, code);
  }

  void CloseWorkFile(Handle work, const std::string&) override { CloseHandle(H(work)); }

  void Close(Handle handle) override { CloseHandle(H(handle)); }

  std::vector<std::string> ListWorkFiles(const std::string& folder,
                                         const std::string& prefix) override {
    std::vector<std::string> found;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(Join(folder, prefix + "*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return found;
    do {
      std::string name = entry.cFileName;
      if (name.size() == prefix.size() + 6 && !(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        found.push_back(Join(folder, name));
      }
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    return found;
  }

  void RemoveIfStale(const std::string& path) override {
    // A live run's file vanishes with its handle; one only stays behind when
    // the system went down. Between clearing its delete disposition and the
    // replace, a publishing run's file is closed and unguarded, so only a
    // file untouched for a while counts as stale.
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    if (Ticks(now) - Ticks(data.ftLastWriteTime) < kStaleAfterTicks) return;
    DeleteFileA(path.c_str());
  }

  void SplitPath(const std::string& path, std::string* folder, std::string* name) override {
    size_t separator = path.find_last_of("\\/");
    *folder = separator == std::string::npos ? "." : path.substr(0, separator + 1);
    // "C:\" stays a root; any other folder loses its trailing separator.
    if (folder->size() > 1 && folder->size() != 3) folder->pop_back();
    *name = separator == std::string::npos ? path : path.substr(separator + 1);
  }

  std::string JoinPath(const std::string& folder, const std::string& name) override {
    return Join(folder, name);
  }

  void SleepMilliseconds(int milliseconds) override { Sleep(static_cast<DWORD>(milliseconds)); }

  size_t MaxNameLength(const std::string&) override { return 255; }
};

}  // namespace

SkinPlatform& SystemSkinPlatform(bool) {
  static WinSkinPlatform platform;
  return platform;
}
