// A file in one block of the C heap: the target of extractions and the
// source of added entries. Positions and sizes are 32-bit; the block grows
// in steps of grow-by bytes. Failures to grow throw memError.
#ifndef ZIPENGINE_ZIPMEMFILE_H
#define ZIPENGINE_ZIPMEMFILE_H

#include <cstdint>
#include <string>

#include "ZipAbstractFile.h"

class CZipMemFile : public CZipAbstractFile {
 public:
  // Requests beyond this are damaged sizes, not data: an entry header can
  // claim up to 4 GiB and callers preset the file to the claimed size.
  static const uint32_t kMaxSize = 512u * 1024 * 1024;

  explicit CZipMemFile(uint32_t growBy = 1024);
  ~CZipMemFile() override;
  CZipMemFile(const CZipMemFile&) = delete;  // owns its block
  CZipMemFile& operator=(const CZipMemFile&) = delete;

  bool Open(const char* path, uint32_t openFlags, bool throwOnError) override;
  void Close() override;
  void Flush() override {}
  uint64_t GetPosition() const override { return m_nPos; }
  uint64_t Seek(int64_t offset, int origin) override;
  uint64_t GetLength() const override { return m_nDataSize; }
  void SetLength(uint64_t length) override;
  std::string GetFilePath() const override { return std::string(); }
  bool HasFilePath() const override { return false; }
  uint32_t Read(void* buffer, uint32_t count) override;
  void Write(const void* buffer, uint32_t count) override;
  bool IsClosed() const override { return m_lpBuf == nullptr; }

  // Hands the block to the caller (who frees it with free) and resets every
  // field, grow-by included, without freeing.
  void* Detach();
  // Bytes allocated, for callers that check the growth steps.
  uint32_t GetBufferSize() const { return m_nBufSize; }

 private:
  void Grow(uint64_t needed);

  uint32_t m_nGrowBy;
  uint32_t m_nPos;
  uint32_t m_nBufSize;
  uint32_t m_nDataSize;
  unsigned char* m_lpBuf;
  bool m_bAutoDelete;
};

#endif
