#include "ZipStorage.h"

#include <algorithm>
#include <cstring>

#include "ZipException.h"

namespace {

// Large enough that a directory walk or a run of small entries costs few
// system calls; reads of half of it or more go straight to the caller.
const uint32_t kReadBufferSize = 256 * 1024;
const uint64_t kNoReadAheadEnd = UINT64_MAX;

}  // namespace

CZipStorage::CZipStorage()
    : m_uBytesBeforeZip(0),
      m_pFile(&m_internalFile),
      m_uBytesInWriteBuffer(0),
      m_uWriteBufferSize(kDefaultWriteBufferSize),
      m_iState(0),
      m_bPositioned(false),
      m_uReadPos(0),
      m_uReadAheadEnd(kNoReadAheadEnd),
      m_uReadBufferStart(0),
      m_uReadBufferLength(0) {}

void CZipStorage::Open(const char* path) {
  m_internalFile.Open(path, CZipFile::modeRead | CZipFile::shareDenyWrite, true);
  Begin(m_internalFile, path, true);
}

void CZipStorage::Open(CZipAbstractFile& file, bool readOnly) {
  Begin(file, file.GetFilePath(), readOnly);
}

void CZipStorage::Begin(CZipAbstractFile& file, const std::string& path, bool readOnly) {
  m_uBytesBeforeZip = 0;
  m_uBytesInWriteBuffer = 0;
  m_pFile = &file;
  m_writeBuffer.Release();  // allocated by the first write
  m_szArchiveName = path;
  m_iState = stateOpened | (readOnly ? stateReadOnly : 0);
  m_bPositioned = readOnly && file.ReadsConcurrently();
  m_uReadPos = 0;
  m_uReadAheadEnd = kNoReadAheadEnd;
  m_uReadBufferLength = 0;
}

void CZipStorage::ReleaseFile() {
  CZipAbstractFile* file = m_pFile;
  // Never left pointing at a caller's file, which may go away after Close.
  m_pFile = &m_internalFile;
  if (file == &m_internalFile) file->Close();
}

std::string CZipStorage::Close(bool afterException) {
  std::string path = m_szArchiveName;
  bool flush = !IsClosed() && !afterException && !IsReadOnly();
  // Whatever fails below, the storage counts as closed afterwards.
  m_iState = 0;
  m_szArchiveName.clear();
  m_uBytesBeforeZip = 0;
  m_bPositioned = false;
  m_uReadBufferLength = 0;
  m_readBuffer.Release();
  try {
    if (flush) Flush();
  } catch (...) {
    CloseQuietly();
    throw;
  }
  if (afterException) {
    CloseQuietly();
  } else {
    m_uBytesInWriteBuffer = 0;
    m_writeBuffer.Release();
    ReleaseFile();
  }
  return path;
}

void CZipStorage::CloseQuietly() {
  m_uBytesInWriteBuffer = 0;
  m_writeBuffer.Release();
  try {
    ReleaseFile();
  } catch (...) {
    // Only called while another error is on its way to the caller.
  }
}

void CZipStorage::ThrowError(int code) const {
  CZipException::Throw(code, m_szArchiveName.c_str());
}

void CZipStorage::Read(void* buffer, uint32_t count) {
  if (ReadAtMost(buffer, count) != count) ThrowError(CZipException::badZipFile);
}

uint32_t CZipStorage::ReadAtMost(void* buffer, uint32_t count) {
  if (ReadsAtOffsets()) return ReadPositioned(static_cast<char*>(buffer), count);
  Flush();
  return m_pFile->Read(buffer, count);
}

uint32_t CZipStorage::ReadPositioned(char* out, uint32_t count) {
  uint32_t done = 0;
  while (done < count) {
    uint64_t end = m_uReadBufferStart + m_uReadBufferLength;
    if (m_uReadPos >= m_uReadBufferStart && m_uReadPos < end) {
      uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(count - done, end - m_uReadPos));
      memcpy(out + done, m_readBuffer.GetBuffer() + (m_uReadPos - m_uReadBufferStart), n);
      m_uReadPos += n;
      done += n;
      continue;
    }
    uint32_t want = count - done;
    if (want >= kReadBufferSize / 2) {
      uint32_t n = m_pFile->ReadAt(out + done, want, m_uReadPos);
      m_uReadPos += n;
      return done + n;
    }
    if (!FillReadBuffer(want)) break;
  }
  return done;
}

bool CZipStorage::FillReadBuffer(uint32_t needed) {
  if (!m_readBuffer.IsAllocated()) m_readBuffer.Allocate(kReadBufferSize);
  uint64_t length = kReadBufferSize;
  if (m_uReadAheadEnd > m_uReadPos) {
    length = std::min<uint64_t>(length, std::max<uint64_t>(m_uReadAheadEnd - m_uReadPos, needed));
  }
  m_uReadBufferLength = 0;
  m_uReadBufferStart = m_uReadPos;
  m_uReadBufferLength =
      m_pFile->ReadAt(m_readBuffer.GetBuffer(), static_cast<uint32_t>(length), m_uReadPos);
  return m_uReadBufferLength > 0;
}

void CZipStorage::Skip(uint32_t count) {
  char scratch[4096];
  while (count > 0) {
    uint32_t n = std::min<uint32_t>(count, sizeof scratch);
    Read(scratch, n);
    count -= n;
  }
}

void CZipStorage::Write(const void* buffer, uint32_t count) {
  if (count > 0 && !m_writeBuffer.IsAllocated()) m_writeBuffer.Allocate(m_uWriteBufferSize);
  const char* in = static_cast<const char*>(buffer);
  while (count > 0) {
    uint32_t room = m_writeBuffer.GetSize() - m_uBytesInWriteBuffer;
    if (room == 0) {
      Flush();
      continue;
    }
    uint32_t n = count < room ? count : room;
    memcpy(m_writeBuffer.GetBuffer() + m_uBytesInWriteBuffer, in, n);
    m_uBytesInWriteBuffer += n;
    in += n;
    count -= n;
  }
}

void CZipStorage::Flush() {
  if (m_uBytesInWriteBuffer == 0) return;
  uint32_t n = m_uBytesInWriteBuffer;
  // Dropped before writing: a failed write must not be repeated by Close.
  m_uBytesInWriteBuffer = 0;
  m_pFile->Write(m_writeBuffer.GetBuffer(), n);
}

void CZipStorage::Seek(uint64_t position) {
  Flush();
  if (position > static_cast<uint64_t>(INT64_MAX)) ThrowError(CZipException::badZipFile);
  if (ReadsAtOffsets()) {
    m_uReadPos = position;
    return;
  }
  m_pFile->Seek(static_cast<int64_t>(position), CZipAbstractFile::begin);
}

uint64_t CZipStorage::SeekToEnd() {
  Flush();
  if (ReadsAtOffsets()) return m_uReadPos = m_pFile->GetLength();
  return m_pFile->SeekToEnd();
}

uint64_t CZipStorage::GetPosition() {
  Flush();
  if (ReadsAtOffsets()) return m_uReadPos;
  return m_pFile->GetPosition();
}

uint64_t CZipStorage::GetLength() {
  Flush();
  return m_pFile->GetLength();
}

void CZipStorage::SetLength(uint64_t length) {
  Flush();
  m_pFile->SetLength(length);
}

void CZipStorage::FlushFile() {
  Flush();
  m_pFile->Flush();
}
