// Reading entries: opening one for extraction, reading its data, and the
// two whole-entry operations built on that, ExtractFile and TestFile.
#include "ZipArchive.h"

#include <algorithm>

#include "ZipCompressor.h"

namespace {

// More does not read faster; a caller's huge size must not allocate it.
const uint32_t kMaxReadBuffer = 16u * 1024 * 1024;
const uint32_t kEncryptionHeaderSize = 12;

}  // namespace

bool CZipArchive::OpenFile(uint16_t index) {
  CZipFileHeader* header = GetFileInfo(index);
  if (header == nullptr || m_iFileOpened != openedNothing) return false;
  if (!CZipCompressor::IsCompressionSupported(header->m_uMethod)) return false;
  if (!header->CheckLocal(m_storage, m_centralDir.m_uIgnoredChecks)) {
    ThrowError(CZipException::badZipFile);
  }
  // No password can be set, so an encrypted entry cannot be read.
  if (header->IsEncrypted()) ThrowError(CZipException::badPassword);
  Compressor().InitDecompression(header);
  m_centralDir.m_pOpenedFile = header;
  m_iFileOpened = openedExtract;
  return true;
}

uint32_t CZipArchive::ReadFile(void* buffer, uint32_t count) {
  if (m_iFileOpened != openedExtract || buffer == nullptr || count == 0) return 0;
  return m_pCompressor->Decompress(buffer, count);
}

void CZipArchive::ReleaseReading() {
  if (m_pCompressor) m_pCompressor->FinishDecompression(true);
  m_centralDir.m_pOpenedFile = nullptr;
  m_iFileOpened = openedNothing;
}

int CZipArchive::CloseFile(const char*, bool afterException) {
  if (m_iFileOpened != openedExtract) return 0;
  if (afterException) {
    ReleaseReading();
    return 1;
  }
  const CZipFileHeader& header = *m_centralDir.m_pOpenedFile;
  int result = 1;
  bool crcMismatch = false;
  if (m_pCompressor->m_uUncomprLeft > 0) {
    result = -1;
  } else if (!(m_centralDir.m_uIgnoredChecks & CZipFileHeader::checkCRC)) {
    crcMismatch = m_pCompressor->m_uCrc32 != header.m_uCrc32;
  }
  ReleaseReading();
  if (crcMismatch) ThrowError(CZipException::badCrc);
  return result;
}

bool CZipArchive::ExtractFile(uint16_t index, CZipAbstractFile& target, bool rewind,
                              uint32_t bufferSize) {
  if (bufferSize == 0) return false;
  const CZipFileHeader* header = GetFileInfo(index);
  if (header == nullptr || header->IsDirectory()) return false;
  if (!OpenFile(index)) return false;
  bool ok;
  uint64_t start = 0;
  try {
    CZipAutoBuffer buffer(std::min(bufferSize, kMaxReadBuffer));
    if (rewind) start = target.GetPosition();
    uint32_t n;
    while ((n = ReadFile(buffer.GetBuffer(), buffer.GetSize())) > 0) target.Write(buffer.GetBuffer(), n);
    ok = CloseFile() == 1;
  } catch (...) {
    CloseFile(nullptr, true);
    throw;
  }
  if (rewind) target.Seek(static_cast<int64_t>(start), CZipAbstractFile::begin);
  return ok;
}

bool CZipArchive::IsDirectoryWithoutData(const CZipFileHeader& header) const {
  if (header.m_uComprSize == 0 && header.m_uUncomprSize == 0) return true;
  return header.IsEncrypted() && header.m_uComprSize == kEncryptionHeaderSize &&
         header.m_uUncomprSize == 0;
}

void CZipArchive::ReadWholeEntry(uint32_t bufferSize) {
  CZipAutoBuffer buffer(std::min(bufferSize, kMaxReadBuffer));
  while (ReadFile(buffer.GetBuffer(), buffer.GetSize()) > 0) {
  }
}

bool CZipArchive::TestFile(uint16_t index, uint32_t bufferSize) {
  if (IsClosed() || m_storage.IsSegmented() || bufferSize == 0) return false;
  const CZipFileHeader* header = GetFileInfo(index);
  if (header == nullptr) return false;
  if (header->IsDirectory()) {
    if (IsDirectoryWithoutData(*header)) return true;
    ThrowError(CZipException::dirWithSize);
  }
  if (!OpenFile(index)) return false;
  try {
    ReadWholeEntry(bufferSize);
    // The data ended before the size the header promised.
    if (CloseFile() == -1) CZipException::Throw(CZipException::badZipFile);
  } catch (...) {
    CloseFile(nullptr, true);
    throw;
  }
  return true;
}
