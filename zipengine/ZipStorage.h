// The archive's file access layer: the open file, its path, the write
// buffer that collects small writes, and the offset of the archive inside
// the file (bytes of a self-extractor stub in front of it). Reads and seeks
// first write out whatever is buffered, so the file is always consistent.
// A read-only storage over a file that reads at offsets keeps its own
// position and reads through a large buffer: walking many small entries
// then costs a few large reads and no seeks, and several such storages can
// share one file across threads.
#ifndef ZIPENGINE_ZIPSTORAGE_H
#define ZIPENGINE_ZIPSTORAGE_H

#include <cstdint>
#include <string>

#include "ZipAutoBuffer.h"
#include "ZipFile.h"

class CZipStorage {
 public:
  enum { stateOpened = 1, stateReadOnly = 2 };
  static const uint32_t kDefaultWriteBufferSize = 65536;

  CZipStorage();
  CZipStorage(const CZipStorage&) = delete;  // owns the open file
  CZipStorage& operator=(const CZipStorage&) = delete;

  // Opens an existing archive file for reading; throws the system error
  // with the path.
  void Open(const char* path);
  // Uses a file the caller opened and keeps owning: Close leaves it open.
  // Exceptions carry the file's own path.
  void Open(CZipAbstractFile& file, bool readOnly);
  // Writes out the buffer (unless after an exception) and closes the file;
  // returns the path. The storage is closed afterwards even when this throws.
  std::string Close(bool afterException);

  bool IsClosed() const { return (m_iState & stateOpened) == 0; }
  bool IsReadOnly() const { return (m_iState & stateReadOnly) != 0; }
  // Makes an open archive refuse every change (used after a failed open).
  void SetReadOnly() { m_iState |= stateReadOnly; }

  // Reads exactly `count` bytes; a short read throws badZipFile.
  void Read(void* buffer, uint32_t count);
  // Reads up to `count` bytes; returns how many came.
  uint32_t ReadAtMost(void* buffer, uint32_t count);
  // Moves `count` bytes on; running out of file throws badZipFile.
  void Skip(uint32_t count);
  // Whether reads go by offset through the read buffer (read-only, over a
  // file that reads at offsets from several threads).
  bool ReadsAtOffsets() const { return m_bPositioned; }
  // Reading ahead stops at this position (a hint; reads past it work).
  void SetReadAheadEnd(uint64_t end) { m_uReadAheadEnd = end; }
  void Write(const void* buffer, uint32_t count);
  // Writes the buffered bytes to the file.
  void Flush();
  // Forgets buffered bytes (their write failed or their entry was dropped).
  void DiscardBuffer() { m_uBytesInWriteBuffer = 0; }

  // Absolute positions in the file.
  void Seek(uint64_t position);
  uint64_t SeekToEnd();
  uint64_t GetPosition();
  uint64_t GetLength();
  void SetLength(uint64_t length);
  // Forces written data to the device.
  void FlushFile();

  CZipAbstractFile& File() { return *m_pFile; }
  const CZipAbstractFile& File() const { return *m_pFile; }
  const std::string& GetPath() const { return m_szArchiveName; }
  // Throws `code` with the archive path.
  [[noreturn]] void ThrowError(int code) const;

  // Bytes in front of the archive; added to every stored offset.
  uint64_t m_uBytesBeforeZip;

 private:
  void Begin(CZipAbstractFile& file, const std::string& path, bool readOnly);
  void CloseQuietly();
  // Closes our own file, forgets a caller's one.
  void ReleaseFile();
  uint32_t ReadPositioned(char* out, uint32_t count);
  // Fills the read buffer from m_uReadPos; false at the end of the file.
  bool FillReadBuffer(uint32_t needed);

  CZipFile m_internalFile;
  CZipAbstractFile* m_pFile;
  std::string m_szArchiveName;
  CZipAutoBuffer m_writeBuffer;
  uint32_t m_uBytesInWriteBuffer;
  uint32_t m_uWriteBufferSize;
  int m_iState;
  bool m_bPositioned;
  uint64_t m_uReadPos;
  uint64_t m_uReadAheadEnd;
  CZipAutoBuffer m_readBuffer;
  uint64_t m_uReadBufferStart;
  uint32_t m_uReadBufferLength;
};

#endif
