#include "ZipCompressor.h"

#include <algorithm>
#include <cstring>

#include "ZipException.h"

namespace {

const int kRawWindowBits = -15;  // raw deflate: no zlib header or trailer
const int kMemLevel = 8;

}  // namespace

std::unique_ptr<CZipCompressor> CZipCompressor::CreateCompressor(uint16_t method,
                                                                 CZipStorage* storage) {
  if (!IsCompressionSupported(method)) return nullptr;
  return std::make_unique<ZipArchiveLib::CDeflateCompressor>(storage);
}

namespace ZipArchiveLib {

void CBaseLibCompressor::CheckForError(int zlibResult) const {
  if (zlibResult != Z_OK && zlibResult != Z_NEED_DICT) {
    ThrowError(CZipException::ZlibErrToZip(zlibResult));
  }
}

CDeflateCompressor::CDeflateCompressor(CZipStorage* storage) : CBaseLibCompressor(storage) {
  memset(&m_stream, 0, sizeof m_stream);
}

CDeflateCompressor::~CDeflateCompressor() { EndStream(); }

void CDeflateCompressor::EndStream() {
  if (!m_bStreamOpen) return;
  m_bStreamOpen = false;
  if (m_bInflating) {
    inflateEnd(&m_stream);
  } else {
    deflateEnd(&m_stream);
  }
}

// ---- reading -------------------------------------------------------------

void CDeflateCompressor::InitDecompression(CZipFileHeader* file) {
  if (m_bStreamOpen && !m_bInflating) EndStream();
  m_bInflating = true;
  m_pFile = file;
  m_uComprLeft = file->m_uComprSize;
  m_uUncomprLeft = file->m_uUncomprSize;
  m_uCrc32 = 0;
  m_bDecompressionDone = false;
  if (!IsDeflate()) return;  // stored data goes straight to the caller
  AllocateBuffer();
  // One inflate stream serves every entry: a reset costs far less than a
  // new stream with its window.
  if (m_bStreamOpen) {
    CheckForError(inflateReset(&m_stream));
  } else {
    memset(&m_stream, 0, sizeof m_stream);
    CheckForError(inflateInit2(&m_stream, kRawWindowBits));
    m_bStreamOpen = true;
  }
  m_stream.next_in = nullptr;
  m_stream.avail_in = 0;
}

uint32_t CDeflateCompressor::Decompress(void* buffer, uint32_t count) {
  if (m_bDecompressionDone) return 0;
  return IsDeflate() ? DecompressDeflated(buffer, count) : DecompressStored(buffer, count);
}

uint32_t CDeflateCompressor::DecompressStored(void* buffer, uint32_t count) {
  uint32_t n = std::min(count, m_uComprLeft);
  if (n == 0) return 0;
  m_pStorage->Read(buffer, n);
  UpdateCrc(buffer, n);
  m_uComprLeft -= n;
  // Sizes that disagree make the count wrap on purpose: the entry then ends
  // with bytes "left" and fails as damaged instead of passing.
  m_uUncomprLeft -= n;
  return n;
}

void CDeflateCompressor::RefillInput() {
  uint32_t n = std::min(m_uComprLeft, m_buffer.GetSize());
  if (n > 0) m_pStorage->Read(m_buffer.GetBuffer(), n);
  m_uComprLeft -= n;
  m_stream.next_in = reinterpret_cast<Bytef*>(m_buffer.GetBuffer());
  m_stream.avail_in = n;
}

uint32_t CDeflateCompressor::DecompressDeflated(void* buffer, uint32_t count) {
  uint32_t window = std::min(count, m_uUncomprLeft);
  // With every byte delivered, inflate still runs to reach the stream's end.
  bool force = window == 0 && m_uComprLeft > 0;
  m_stream.next_out = static_cast<Bytef*>(buffer);
  m_stream.avail_out = window;
  uint32_t produced = 0;
  while (m_stream.avail_out > 0 || (force && m_uComprLeft > 0)) {
    if (m_stream.avail_in == 0) RefillInput();
    Bytef* before = m_stream.next_out;
    int result = inflate(&m_stream, Z_SYNC_FLUSH);
    uint32_t n = static_cast<uint32_t>(m_stream.next_out - before);
    UpdateCrc(before, n);
    m_uUncomprLeft -= n;
    produced += n;
    if (result == Z_STREAM_END) {
      m_bDecompressionDone = true;
      return produced;
    }
    // A raw stream has no dictionary to ask for; waiting for one would spin.
    if (result == Z_NEED_DICT) ThrowError(CZipException::needDict);
    CheckForError(result);
  }
  if (produced == 0 && count > 0) CheckStreamEnd();
  return produced;
}

void CDeflateCompressor::CheckStreamEnd() {
  if (!m_options.m_bCheckLastBlock) return;
  if (inflate(&m_stream, Z_SYNC_FLUSH) != Z_STREAM_END) ThrowError(CZipException::badZipFile);
  m_bDecompressionDone = true;
}

// The stream stays for the next entry (see InitDecompression).
void CDeflateCompressor::FinishDecompression(bool) {}

void CDeflateCompressor::AllocateBuffer() {
  // Kept from entry to entry: testing a whole archive allocates it once.
  if (m_buffer.GetSize() != m_options.m_uBufferSize) m_buffer.Allocate(m_options.m_uBufferSize);
}

// ---- writing -------------------------------------------------------------

void CDeflateCompressor::InitCompression(int level, CZipFileHeader* file) {
  EndStream();
  m_pFile = file;
  m_uCrc32 = 0;
  m_uTotalIn = m_uTotalOut = 0;
  m_bInflating = false;
  if (!IsDeflate()) return;
  AllocateBuffer();
  memset(&m_stream, 0, sizeof m_stream);
  int result =
      deflateInit2(&m_stream, level, Z_DEFLATED, kRawWindowBits, kMemLevel, Z_DEFAULT_STRATEGY);
  CheckForError(result);
  m_bStreamOpen = true;
  ResetWindow();
}

void CDeflateCompressor::ResetWindow() {
  m_stream.next_out = reinterpret_cast<Bytef*>(m_buffer.GetBuffer());
  m_stream.avail_out = m_buffer.GetSize();
}

void CDeflateCompressor::FlushWindow() {
  uint32_t pending = m_buffer.GetSize() - m_stream.avail_out;
  if (pending > 0) m_pStorage->Write(m_buffer.GetBuffer(), pending);
  m_uTotalOut += pending;
  if (m_uTotalOut > UINT32_MAX) ThrowError(CZipException::tooBigSize);
  ResetWindow();
}

void CDeflateCompressor::CountInput(uint32_t count) {
  m_uTotalIn += count;
  // Without Zip64 the sizes are 32-bit; wrapping would write a lying header.
  if (m_uTotalIn > UINT32_MAX) ThrowError(CZipException::tooBigSize);
}

void CDeflateCompressor::Compress(const void* buffer, uint32_t count) {
  if (count == 0) return;
  CountInput(count);
  UpdateCrc(buffer, count);
  if (!IsDeflate()) {
    m_pStorage->Write(buffer, count);
    m_uTotalOut += count;
    return;
  }
  m_stream.next_in = static_cast<Bytef*>(const_cast<void*>(buffer));
  m_stream.avail_in = count;
  while (m_stream.avail_in > 0) {
    if (m_stream.avail_out == 0) FlushWindow();
    CheckForError(deflate(&m_stream, Z_NO_FLUSH));
  }
}

void CDeflateCompressor::FinishCompression(bool afterException) {
  if (afterException) {
    EndStream();
    return;
  }
  if (IsDeflate()) {
    int result;
    do {
      if (m_stream.avail_out == 0) FlushWindow();
      result = deflate(&m_stream, Z_FINISH);
    } while (result == Z_OK);
    if (result != Z_STREAM_END) ThrowError(CZipException::ZlibErrToZip(result));
    FlushWindow();
    m_bStreamOpen = false;
    CheckForError(deflateEnd(&m_stream));
  }
  m_pFile->m_uCrc32 = m_uCrc32;
  m_pFile->m_uComprSize = static_cast<uint32_t>(m_uTotalOut);
  m_pFile->m_uUncomprSize = static_cast<uint32_t>(m_uTotalIn);
}

}  // namespace ZipArchiveLib
