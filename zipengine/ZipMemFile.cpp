#include "ZipMemFile.h"

#include <cstdlib>
#include <cstring>

#include "ZipException.h"

const uint32_t CZipMemFile::kMaxSize;

CZipMemFile::CZipMemFile(uint32_t growBy)
    : m_nGrowBy(growBy),
      m_nPos(0),
      m_nBufSize(0),
      m_nDataSize(0),
      m_lpBuf(nullptr),
      m_bAutoDelete(true) {}

CZipMemFile::~CZipMemFile() {
  if (m_bAutoDelete) free(m_lpBuf);
}

bool CZipMemFile::Open(const char*, uint32_t, bool) { return false; }

void CZipMemFile::Close() {
  if (m_bAutoDelete) free(m_lpBuf);
  m_nGrowBy = m_nPos = m_nBufSize = m_nDataSize = 0;
  m_lpBuf = nullptr;
}

void CZipMemFile::Grow(uint64_t needed) {
  if (needed <= m_nBufSize) return;
  if (m_nGrowBy == 0 || needed > kMaxSize) CZipException::Throw(CZipException::memError);
  uint64_t steps = (needed - m_nBufSize + m_nGrowBy - 1) / m_nGrowBy;
  uint64_t size = m_nBufSize + steps * m_nGrowBy;
  // A huge grow-by would overshoot the cap; the request itself is below it.
  if (size > kMaxSize) size = needed;
  void* grown = realloc(m_lpBuf, static_cast<size_t>(size));
  if (grown == nullptr) CZipException::Throw(CZipException::memError);
  m_lpBuf = static_cast<unsigned char*>(grown);
  m_nBufSize = static_cast<uint32_t>(size);
}

void CZipMemFile::SetLength(uint64_t length) {
  if (length > UINT32_MAX) CZipException::Throw(CZipException::memError);
  if (m_nBufSize >= length) {
    m_nPos = static_cast<uint32_t>(length);
  } else {
    Grow(length);
  }
  m_nDataSize = static_cast<uint32_t>(length);
}

uint64_t CZipMemFile::Seek(int64_t offset, int origin) {
  int64_t base = origin == current ? m_nPos : origin == end ? m_nDataSize : 0;
  if (origin == begin && offset < 0) CZipException::Throw(CZipException::memError);
  // Offsets are 64-bit and the bases 32-bit, so only a huge offset overflows.
  if (offset > INT64_MAX - base) CZipException::Throw(CZipException::memError);
  int64_t target = base + offset;
  if (target < 0 || target > static_cast<int64_t>(UINT32_MAX)) {
    CZipException::Throw(CZipException::memError);
  }
  if (target > m_nDataSize) Grow(static_cast<uint64_t>(target));
  m_nPos = static_cast<uint32_t>(target);
  return m_nPos;
}

uint32_t CZipMemFile::Read(void* buffer, uint32_t count) {
  if (m_nPos >= m_nDataSize) return 0;
  uint32_t n = m_nDataSize - m_nPos;
  if (count < n) n = count;
  if (n == 0) return 0;
  memcpy(buffer, m_lpBuf + m_nPos, n);
  m_nPos += n;
  return n;
}

void CZipMemFile::Write(const void* buffer, uint32_t count) {
  if (count == 0) return;
  uint64_t end = static_cast<uint64_t>(m_nPos) + count;
  if (end > UINT32_MAX) CZipException::Throw(CZipException::memError);
  if (end > m_nBufSize) Grow(end);
  memcpy(m_lpBuf + m_nPos, buffer, count);
  m_nPos = static_cast<uint32_t>(end);
  if (m_nPos > m_nDataSize) m_nDataSize = m_nPos;
}

void* CZipMemFile::Detach() {
  void* block = m_lpBuf;
  m_nGrowBy = m_nPos = m_nBufSize = m_nDataSize = 0;
  m_lpBuf = nullptr;
  return block;
}
