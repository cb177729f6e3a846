// SkinPlatform on Windows. Working files carry the delete-on-close
// disposition until they are released for publishing, and are opened
// without delete sharing, so no cleaning run can remove a live one; locks
// are LockFileEx locks on a byte far beyond any archive's end, so they never
// stand in the way of reading; ReplaceFileA publishes and keeps the target's
// security descriptor, attributes and streams.
#include <windows.h>

#include <cstdio>

#include "ZipPlatform.h"
#include "scoped.h"
#include "skinplatform.h"

namespace {

// The locked byte: beyond the end of any archive the engine can read.
const DWORD kLockOffsetHigh = 0x7FFFFFFF;

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE H(SkinPlatform::Handle handle) { return reinterpret_cast<HANDLE>(handle); }

std::string SystemText(DWORD code) {
  std::string result = ZipPlatform::WindowsErrorText(code);
  return result.empty() ? "System error " + std::to_string(code) : result;
}

SysResult Failed(std::string* error, DWORD code = GetLastError()) {
  *error = SystemText(code);
  return SysResult::kFailed;
}

// Codes that another program's open handle gives for a while (a virus
// scanner, an indexer or a sync client that holds a fresh file, or the
// game) are kBusy or kDenied, which a later try may not get; others kFailed.
SysResult FailedOrBusy(std::string* error, DWORD code = GetLastError()) {
  Failed(error, code);
  if (code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION) return SysResult::kBusy;
  return code == ERROR_ACCESS_DENIED ? SysResult::kDenied : SysResult::kFailed;
}

// A name that is taken is kExists; else as FailedOrBusy.
SysResult FailedOrExists(std::string* error, DWORD code = GetLastError()) {
  if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) return FailedOrBusy(error, code);
  Failed(error, code);
  return SysResult::kExists;
}

bool IsNotFound(DWORD code) { return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND; }

int64_t Seconds(int64_t ticks) { return ticks / 10000000; }
int64_t Nanoseconds(int64_t ticks) { return ticks % 10000000 * 100; }

SysResult IdentityOf(HANDLE file, FileIdentity* identity, std::string* error) {
  BY_HANDLE_FILE_INFORMATION info;
  FILE_BASIC_INFO basic;
  if (!GetFileInformationByHandle(file, &info) ||
      !GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic)) {
    return Failed(error);
  }
  FileIdentity id;
  id.volume = info.dwVolumeSerialNumber;
  id.index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  id.size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  id.modified = Seconds(basic.LastWriteTime.QuadPart);
  id.modifiednsec = Nanoseconds(basic.LastWriteTime.QuadPart);
  id.changed = Seconds(basic.ChangeTime.QuadPart);
  id.changednsec = Nanoseconds(basic.ChangeTime.QuadPart);
  *identity = id;
  return SysResult::kOk;
}

// Where the system found the open file: the path as given when it leads
// there without links (it may be shorter than the full path, and the ANSI
// calls take at most MAX_PATH characters), else the final path without the
// \\?\ prefix.
void FinalPath(HANDLE file, const std::string& given, std::string* path) {
  char buffer[MAX_PATH + 16];
  char full[MAX_PATH + 16];
  DWORD length = GetFinalPathNameByHandleA(file, buffer, sizeof buffer, FILE_NAME_NORMALIZED);
  DWORD fulllength = GetFullPathNameA(given.c_str(), sizeof full, full, nullptr);
  if (length == 0 || length >= sizeof buffer) length = 0;
  std::string result(buffer, length);
  if (result.compare(0, 8, "\\\\?\\UNC\\") == 0) {
    result = "\\\\" + result.substr(8);
  } else if (result.compare(0, 4, "\\\\?\\") == 0) {
    result = result.substr(4);
  }
  const bool direct = length == 0 || (fulllength > 0 && fulllength < sizeof full &&
                                      lstrcmpiA(full, result.c_str()) == 0);
  if (!direct) {
    *path = result;
    return;
  }
  // ReplaceFileA finds the folder by the last backslash: a bare name gets
  // one, and slashes become backslashes.
  *path = given.find_first_of("\\/:") == std::string::npos ? ".\\" + given : given;
  for (char& c : *path) c = c == '/' ? '\\' : c;
}

bool SetDeleteOnClose(HANDLE file, bool remove) {
  FILE_DISPOSITION_INFO disposition;
  disposition.DeleteFile = remove ? TRUE : FALSE;
  return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) !=
         0;
}

std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  char last = folder.back();
  return last == '\\' || last == '/' ? folder + name : folder + "\\" + name;
}

class WinSkinPlatform : public SkinPlatform {
 public:
  SysResult OpenRegular(const std::string& path, Handle* handle, FileIdentity* identity,
                        std::string*, std::string* error) override {
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      return SysResult::kNotRegular;
    }
    ScopedHandle file(CreateFileA(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
      DWORD code = GetLastError();
      *error = SystemText(code);
      return IsNotFound(code) ? SysResult::kNotFound : SysResult::kFailed;
    }
    if (GetFileType(file.get()) != FILE_TYPE_DISK) return SysResult::kNotRegular;
    SysResult result = IdentityOf(file.get(), identity, error);
    if (result != SysResult::kOk) return result;
    *handle = reinterpret_cast<Handle>(file.release());
    return SysResult::kOk;
  }

  // The system names an open file by where it is now; a file replaced
  // since the open is found changed by the identity checks of a change.
  SysResult LocateOpen(Handle handle, const std::string& given, std::string* realpath,
                       std::string*) override {
    FinalPath(H(handle), given, realpath);
    return SysResult::kOk;
  }

  // A read through an OVERLAPPED offset moves the position of a handle
  // opened for synchronous use: it is put back.
  SysResult ReadAt(Handle handle, uint64_t offset, void* data, size_t size, size_t* got,
                   std::string* error) override {
    LARGE_INTEGER zero = {}, position;
    if (!SetFilePointerEx(H(handle), zero, &position, FILE_CURRENT)) return Failed(error);
    *got = 0;
    SysResult result = SysResult::kOk;
    while (*got < size) {
      OVERLAPPED where = {};
      const uint64_t at = offset + *got;
      where.Offset = static_cast<DWORD>(at);
      where.OffsetHigh = static_cast<DWORD>(at >> 32);
      const size_t left = size - *got;
      DWORD chunk = left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left);
      DWORD read = 0;
      if (!ReadFile(H(handle), static_cast<char*>(data) + *got, chunk, &read, &where)) {
        if (GetLastError() == ERROR_HANDLE_EOF) break;
        result = Failed(error);
        break;
      }
      if (read == 0) break;
      *got += read;
    }
    SetFilePointerEx(H(handle), position, nullptr, FILE_BEGIN);
    return result;
  }

  // What a replace needs: the right to change the file (not read-only) and
  // to remove it, with every sharing mode allowed, so a program that holds
  // the file sharing read and delete access is no obstacle.
  SysResult CheckWritable(const std::string& path, std::string* error) override {
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
      Failed(error, ERROR_ACCESS_DENIED);
      return SysResult::kNoAccess;
    }
    ScopedHandle file(CreateFileA(path.c_str(), DELETE | FILE_WRITE_ATTRIBUTES, kShareAll, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.valid() ? SysResult::kOk : FailedOrBusy(error);
  }

  SysResult IdentifyPath(const std::string& path, FileIdentity* identity,
                         std::string* error) override {
    ScopedHandle file(CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
      DWORD code = GetLastError();
      *error = SystemText(code);
      return IsNotFound(code) ? SysResult::kNotFound : SysResult::kFailed;
    }
    return IdentityOf(file.get(), identity, error);
  }

  SysResult IdentifyHandle(Handle handle, FileIdentity* identity, std::string* error) override {
    return IdentityOf(H(handle), identity, error);
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
    Failed(error, code);
    // Some network file systems offer no byte-range locks.
    if (code == ERROR_NOT_SUPPORTED || code == ERROR_INVALID_FUNCTION) return SysResult::kNoLocks;
    return SysResult::kFailed;
  }

  void Unlock(Handle handle) override {
    OVERLAPPED where = {};
    where.OffsetHigh = kLockOffsetHigh;
    UnlockFileEx(H(handle), 0, 1, 0, &where);
  }

  SysResult CreateUnnamedFile(const std::string&, unsigned, Handle*, std::string*) override {
    return SysResult::kUnsupported;
  }

  SysResult CreateNamedFile(const std::string& path, unsigned, Handle* handle,
                            std::string* error) override {
    // No delete sharing: while this run holds the file, no cleaning run can
    // remove it. The file gets the folder's inherited security like any new
    // file.
    ScopedHandle file(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                  FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
    if (!file.valid()) return FailedOrExists(error);
    if (!SetDeleteOnClose(file.get(), true)) {
      DWORD code = GetLastError();
      file.reset();
      DeleteFileA(path.c_str());
      return Failed(error, code);
    }
    *handle = reinterpret_cast<Handle>(file.release());
    return SysResult::kOk;
  }

  SysResult CopyMetadata(Handle, Handle, std::string*) override {
    return SysResult::kOk;  // ReplaceFileA keeps them
  }

  SysResult Write(Handle handle, const void* data, size_t size, std::string* error) override {
    const char* at = static_cast<const char*>(data);
    while (size > 0) {
      DWORD written = 0;
      DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
      if (!WriteFile(H(handle), at, chunk, &written, nullptr)) return Failed(error);
      if (written == 0) return Failed(error, ERROR_WRITE_FAULT);
      at += written;
      size -= written;
    }
    return SysResult::kOk;
  }

  SysResult Sync(Handle handle, std::string* error) override {
    if (!FlushFileBuffers(H(handle))) return Failed(error);
    return SysResult::kOk;
  }

  // The file must survive its handle now, and be closed for the replace.
  SysResult Release(Handle* work, const std::string&, bool, std::string* error) override {
    ScopedHandle file(H(*work));
    *work = kNoHandle;
    // On failure the file still goes with its handle.
    return SetDeleteOnClose(file.get(), false) ? SysResult::kOk : Failed(error);
  }

  SysResult Replace(const std::string& workpath, const std::string& target,
                    std::string* error) override {
    if (ReplaceFileA(target.c_str(), workpath.c_str(), nullptr, REPLACEFILE_WRITE_THROUGH, nullptr,
                     nullptr)) {
      return SysResult::kOk;
    }
    DWORD code = GetLastError();
    // The original is gone already, the working file still has its name.
    if (code == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
      Failed(error, code);
      return SysResult::kHalfReplaced;
    }
    return FailedOrBusy(error, code);
  }

  SysResult MoveInto(const std::string& workpath, const std::string& target,
                     std::string* error) override {
    // Never over a file: the name is free for a new file and after a
    // replace that took the original away; anything there now is another
    // program's.
    if (MoveFileExA(workpath.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) {
      return SysResult::kOk;
    }
    return FailedOrExists(error);
  }

  void SyncFolder(const std::string&) override {}  // the moves write through

  void CloseWorkFile(Handle work, const std::string& workpath) override {
    if (work != kNoHandle) {
      CloseHandle(H(work));  // its delete disposition removes it
    } else if (!workpath.empty()) {
      DeleteFileA(workpath.c_str());
    }
  }

  // Released files have no delete disposition any more.
  void KeepWorkFile(Handle work, const std::string&) override {
    if (work != kNoHandle) CloseHandle(H(work));
  }

  void Close(Handle handle) override { CloseHandle(H(handle)); }

  std::vector<std::string> ListNames(const std::string& folder,
                                     const std::string& prefix) override {
    std::vector<std::string> found;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(Join(folder, prefix + "*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return found;
    do {
      if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) found.push_back(entry.cFileName);
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    return found;
  }

  // A live run holds its working file without delete sharing, so the
  // removal fails for it; a publishing run holds the archive's lock, under
  // which alone cleaning runs.
  void RemoveIfStale(const std::string& path) override { DeleteFileA(path.c_str()); }

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

  // The ANSI calls take paths of at most MAX_PATH characters with the NUL.
  size_t NameRoom(const std::string& folder) override {
    const size_t used = folder.size() + 2;  // the separator and the NUL
    return used < MAX_PATH ? MAX_PATH - used : 1;
  }
};

}  // namespace

SkinPlatform& SystemSkinPlatform(bool) {
  static WinSkinPlatform platform;
  return platform;
}
