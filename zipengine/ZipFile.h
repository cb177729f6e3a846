// The archive's file on disk. The class keeps only platform-neutral data (a
// handle that is -1 when closed, and the path); every system call lives in
// ZipFile_posix.cpp or ZipFile_win.cpp. Failures throw the system error
// code with the file's path.
#ifndef ZIPENGINE_ZIPFILE_H
#define ZIPENGINE_ZIPFILE_H

#include <cstdint>
#include <string>

#include "ZipAbstractFile.h"

class CZipFile : public CZipAbstractFile {
 public:
  // Open flags: the low two bits pick the access, the rest modify it.
  enum {
    modeRead = 0,
    modeWrite = 1,
    modeReadWrite = 2,
    shareDenyWrite = 0x20,
    modeCreate = 0x1000,
    modeNoTruncate = 0x2000
  };
  // Whether Open empties the file: only writable access without
  // modeNoTruncate does, so a file opened to be read is never emptied,
  // whatever else the flags ask for.
  static bool Truncates(uint32_t openFlags) {
    uint32_t access = openFlags & 3;
    return (access == modeWrite || access == modeReadWrite) && !(openFlags & modeNoTruncate);
  }

  CZipFile();
  ~CZipFile() override;                // closes quietly: a destructor must not throw
  CZipFile(const CZipFile&) = delete;  // owns a system handle
  CZipFile& operator=(const CZipFile&) = delete;

  bool Open(const char* path, uint32_t openFlags, bool throwOnError) override;
  // Uses a handle the caller opened (a POSIX descriptor or a Windows HANDLE)
  // and keeps owning: Close and the destructor only forget it. `path` names
  // the file in exceptions.
  void Attach(intptr_t handle, const char* path) {
    CloseQuietly();
    m_hFile = handle;
    m_szFileName = path != nullptr ? path : "";
    m_bOwned = false;
  }
  void Close() override {
    const intptr_t handle = m_hFile;
    const bool owned = m_bOwned;
    const std::string path = m_szFileName;
    Forget();
    if (handle != -1 && owned) CloseSystemHandle(handle, &path);
  }
  void Flush() override;
  uint64_t GetPosition() const override;
  uint64_t Seek(int64_t offset, int origin) override;
  uint64_t GetLength() const override;
  void SetLength(uint64_t length) override;
  std::string GetFilePath() const override { return m_szFileName; }
  bool HasFilePath() const override { return true; }
  uint32_t Read(void* buffer, uint32_t count) override;
  void Write(const void* buffer, uint32_t count) override;
  // Reads at `offset` (pread, or ReadFile at an offset; the position is
  // left alone on POSIX and moved on Windows, and callers that read this
  // way do not use it), repeating short reads until `count` bytes or the
  // end of the file, so that threads can share the handle.
  uint32_t ReadAt(void* buffer, uint32_t count, uint64_t offset) override;
  bool ReadsConcurrently() const override { return true; }
  bool IsClosed() const override { return m_hFile == -1; }
  // Copies `count` bytes at `from` in `source` to `to` in this file inside
  // the system (sharing blocks where the file system can), leaving both
  // positions alone. Returns how many bytes it copied: fewer when the
  // system cannot (the caller copies the rest with Read and Write, which
  // also report any real error) or the source ends early.
  uint64_t CopyFrom(const CZipFile& source, uint64_t from, uint64_t to, uint64_t count);
  // The most bytes CopyFrom asks the system for in one call, and how many
  // calls it made. Tests shrink the limit so that a small archive needs many
  // calls, as a large one does.
  struct CopyCalls {
    uint64_t maxBytes;
    uint64_t made;
  };
  static constexpr uint64_t kMaxCopyCall = uint64_t{1} << 30;
  static inline CopyCalls s_copyCalls = {kMaxCopyCall, 0};
  // Starts writing the range to the device without waiting for it, so that
  // a later Flush, which reports any error, has less left to wait for. Does
  // nothing where the system offers no such call.
  void StartFlush(uint64_t from, uint64_t count);

 private:
  // Throws the current system error with this file's path.
  [[noreturn]] void ThrowError() const;
  void CloseQuietly() {
    if (m_hFile != -1 && m_bOwned) CloseSystemHandle(m_hFile, nullptr);
    Forget();
  }
  // Closes a system handle; throws the system error with *path when that
  // fails, or stays quiet when path is null.
  static void CloseSystemHandle(intptr_t handle, const std::string* path);
  // Drops the handle and the name without closing anything.
  void Forget() {
    m_hFile = -1;
    m_szFileName.clear();
  }

  intptr_t m_hFile;
  std::string m_szFileName;
  bool m_bOwned;  // false for an attached handle
};

#endif
