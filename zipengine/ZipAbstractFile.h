// The file interface of the engine, so that an archive, an extraction target
// or an added source can be a disk file or a block of memory alike.
#ifndef ZIPENGINE_ZIPABSTRACTFILE_H
#define ZIPENGINE_ZIPABSTRACTFILE_H

#include <cstdint>
#include <string>

// Every operation that fails throws a CZipException: a disk file the system
// error with its path, a memory file memError; only Open may answer false
// instead, when not asked to throw. Operations other than Open and IsClosed
// require an open file.
class CZipAbstractFile {
 public:
  enum { begin = 0, current = 1, end = 2 };
  virtual ~CZipAbstractFile() = default;
  // Flags as CZipFile's; false (with `throwOnError` false) when it cannot.
  virtual bool Open(const char* path, uint32_t openFlags, bool throwOnError) = 0;
  virtual void Close() = 0;
  // Forces written data to the device.
  virtual void Flush() = 0;
  virtual uint64_t GetPosition() const = 0;
  // Moves to `offset` from `origin` (begin, current, end); returns the new
  // position.
  virtual uint64_t Seek(int64_t offset, int origin) = 0;
  virtual uint64_t GetLength() const = 0;
  virtual void SetLength(uint64_t length) = 0;
  uint64_t SeekToBegin() { return Seek(0, begin); }
  uint64_t SeekToEnd() { return Seek(0, end); }
  // The path that exceptions name; "" when HasFilePath is false.
  virtual std::string GetFilePath() const = 0;
  virtual bool HasFilePath() const = 0;
  // Up to `count` bytes; fewer only at the end of the file.
  virtual uint32_t Read(void* buffer, uint32_t count) = 0;
  // All `count` bytes, or throws.
  virtual void Write(const void* buffer, uint32_t count) = 0;
  // Up to `count` bytes from `offset`; fewer only at the end of the file.
  // Whether the position moves depends on the file: callers that read this
  // way keep their own position.
  virtual uint32_t ReadAt(void* buffer, uint32_t count, uint64_t offset) {
    Seek(static_cast<int64_t>(offset), begin);
    return Read(buffer, count);
  }
  // Whether ReadAt may run on several threads at once (and beside nothing
  // else on this file).
  virtual bool ReadsConcurrently() const { return false; }
  virtual bool IsClosed() const = 0;
};

#endif
