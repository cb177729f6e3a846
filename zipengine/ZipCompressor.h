// Entry data in and out of the archive: CZipCompressor is the interface the
// archive drives; ZipArchiveLib::CDeflateCompressor serves both methods the
// engine supports, stored (0) and raw deflate (8) through zlib.
#ifndef ZIPENGINE_ZIPCOMPRESSOR_H
#define ZIPENGINE_ZIPCOMPRESSOR_H

#include <zlib.h>

#include <cstdint>
#include <memory>

#include "ZipAutoBuffer.h"
#include "ZipFileHeader.h"
#include "ZipFormat.h"
#include "ZipStorage.h"

class CZipCompressor {
 public:
  struct COptions {
    uint32_t m_uBufferSize = 131072;      // the I/O buffer: read-ahead and deflate output
    bool m_bDetectLibMemoryLeaks = true;  // zlib's blocks are always freed with the compressor
    bool m_bCheckLastBlock = true;        // a stream must end where its data ends
  };

  static bool IsCompressionSupported(uint16_t method) {
    return method == ZipFormat::kMethodStore || method == ZipFormat::kMethodDeflate;
  }
  static std::unique_ptr<CZipCompressor> CreateCompressor(uint16_t method, CZipStorage* storage);

  explicit CZipCompressor(CZipStorage* storage) : m_pStorage(storage) {}
  virtual ~CZipCompressor() = default;
  CZipCompressor(const CZipCompressor&) = delete;  // owns a zlib stream
  CZipCompressor& operator=(const CZipCompressor&) = delete;

  // Reading: the storage must stand at the entry's data.
  virtual void InitDecompression(CZipFileHeader* file) = 0;
  // Up to `count` bytes of entry data; 0 at the end.
  virtual uint32_t Decompress(void* buffer, uint32_t count) = 0;
  virtual void FinishDecompression(bool afterException) = 0;

  // Writing: the storage must stand after the entry's local header.
  virtual void InitCompression(int level, CZipFileHeader* file) = 0;
  virtual void Compress(const void* buffer, uint32_t count) = 0;
  // Writes what is pending and stores CRC and sizes in the header.
  virtual void FinishCompression(bool afterException) = 0;

  uint32_t m_uUncomprLeft = 0;
  uint32_t m_uComprLeft = 0;
  uint32_t m_uCrc32 = 0;

 protected:
  // Throws with the archive path while the storage is open.
  [[noreturn]] void ThrowError(int code) const { m_pStorage->ThrowError(code); }
  void UpdateCrc(const void* data, uint32_t count) {
    if (count > 0)
      m_uCrc32 = static_cast<uint32_t>(crc32(m_uCrc32, static_cast<const Bytef*>(data), count));
  }

  CZipStorage* m_pStorage;
  CZipFileHeader* m_pFile = nullptr;
  CZipAutoBuffer m_buffer;
  COptions m_options;
};

namespace ZipArchiveLib {

// What every zlib-based compressor shares: the mapping of zlib results.
class CBaseLibCompressor : public CZipCompressor {
 public:
  using CZipCompressor::CZipCompressor;

 protected:
  // Throws the engine code of a zlib result that does not let work go on.
  void CheckForError(int zlibResult) const;
};

class CDeflateCompressor : public CBaseLibCompressor {
 public:
  explicit CDeflateCompressor(CZipStorage* storage);
  ~CDeflateCompressor() override;

  void InitDecompression(CZipFileHeader* file) override;
  uint32_t Decompress(void* buffer, uint32_t count) override;
  void FinishDecompression(bool afterException) override;

  void InitCompression(int level, CZipFileHeader* file) override;
  void Compress(const void* buffer, uint32_t count) override;
  void FinishCompression(bool afterException) override;

 private:
  bool IsDeflate() const { return m_pFile->m_uMethod == ZipFormat::kMethodDeflate; }
  uint32_t DecompressStored(void* buffer, uint32_t count);
  uint32_t DecompressDeflated(void* buffer, uint32_t count);
  void CheckStreamEnd();
  void AllocateBuffer();
  void RefillInput();
  void CountInput(uint32_t count);
  void FlushWindow();
  void ResetWindow();
  void EndStream();

  z_stream m_stream;
  bool m_bStreamOpen = false;
  bool m_bInflating = false;
  bool m_bDecompressionDone = false;
  uint64_t m_uTotalIn = 0;
  uint64_t m_uTotalOut = 0;
};

}  // namespace ZipArchiveLib

#endif
