// The archive's life cycle: opening, lookups and closing. Reading entries is
// in ZipArchiveRead.cpp, changing the archive in ZipArchiveUpdate.cpp.
#include "ZipArchive.h"

#include "ZipCompressor.h"
#include "ZipFormat.h"
#include "ZipPlatform.h"

const uint16_t CZipArchive::kNotFound;
const uint64_t CZipArchive::kLayoutUnknown;

CZipArchive::CZipArchive()
    : m_bCaseSensitive(ZipPlatform::GetSystemCaseSensitivity()),
      m_iFileOpened(openedNothing),
      m_uArchiveSystCompatib(ZipPlatform::GetSystemID()),
      m_uLayoutEnd(kLayoutUnknown),
      m_bLayoutBeforeAdd(false) {
  m_centralDir.Init(&m_storage);
}

CZipArchive::~CZipArchive() {
  // An owner that forgot Close still gets a readable archive; a destructor
  // must not throw, and Close leaves the file closed whatever happens.
  try {
    Close(closeWrite);
  } catch (...) {
  }
}

void CZipArchive::ThrowError(int code) const { m_storage.ThrowError(code); }

CZipCompressor& CZipArchive::Compressor() {
  if (!m_pCompressor)
    m_pCompressor = CZipCompressor::CreateCompressor(ZipFormat::kMethodDeflate, &m_storage);
  return *m_pCompressor;
}

namespace {

bool HasEndRecord(CZipStorage& storage) {
  bool found = false;
  try {
    uint64_t offset;
    found = CZipCentralDir::LocateEndRecord(storage, offset);
  } catch (...) {
    storage.Close(true);
    throw;
  }
  storage.Close(true);
  return found;
}

}  // namespace

bool CZipArchive::IsZipArchive(const char* path) {
  CZipStorage storage;
  storage.Open(path);
  return HasEndRecord(storage);
}

bool CZipArchive::IsZipArchive(CZipAbstractFile& file) {
  CZipStorage storage;
  storage.Open(file, true);
  return HasEndRecord(storage);
}

bool CZipArchive::Open(const char* path) {
  if (!IsClosed() || path == nullptr) return false;
  m_storage.Open(path);
  ReadDirectory();
  return true;
}

bool CZipArchive::Open(CZipAbstractFile& source) {
  if (!IsClosed()) return false;
  m_storage.Open(source, true);
  ReadDirectory();
  return true;
}

bool CZipArchive::OpenForUpdate(CZipAbstractFile& source, CZipAbstractFile& output) {
  if (!IsClosed() || &source == &output) return false;
  m_splice.Begin(source, output);
  m_storage.Open(m_splice, false);
  ReadDirectory();
  return true;
}

void CZipArchive::ReadDirectory() {
  ResetArchive();
  try {
    m_centralDir.Read();
  } catch (...) {
    // Stays open with what was read, but nothing may ever be written to it.
    m_storage.SetReadOnly();
    throw;
  }
  TakeSystemCompatibility();
}

void CZipArchive::ResetArchive() {
  m_uLayoutEnd = kLayoutUnknown;
  m_bLayoutBeforeAdd = false;
  m_iFileOpened = openedNothing;
  m_centralDir.Init(&m_storage);
  m_uArchiveSystCompatib = ZipPlatform::GetSystemID();
}

void CZipArchive::TakeSystemCompatibility() {
  const CZipFileHeader* first = m_centralDir.GetHeader(0);
  if (first != nullptr && CZipFileHeader::IsSystemSupported(first->GetSystemCompatibility())) {
    m_uArchiveSystCompatib = static_cast<uint8_t>(first->GetSystemCompatibility());
  }
}

bool CZipArchive::IsClosed(bool archive) const {
  if (archive) return m_storage.IsClosed();
  return m_storage.File().IsClosed();
}

uint16_t CZipArchive::GetCount() const { return IsClosed() ? 0 : m_centralDir.GetCount(); }

CZipFileHeader* CZipArchive::GetFileInfo(uint16_t index) {
  return IsClosed() ? nullptr : m_centralDir.GetHeader(index);
}

uint16_t CZipArchive::FindFile(const char* name, int caseMode, bool fileNameOnly) {
  if (IsClosed() || name == nullptr) return kNotFound;
  if (caseMode < zipCaseDefault || caseMode > zipCaseInsensitive) caseMode = zipCaseDefault;
  return m_centralDir.FindFile(name, caseMode, fileNameOnly, m_bCaseSensitive);
}

std::string CZipArchive::Close(CloseMode mode) {
  if (IsClosed()) return std::string();
  const bool afterException = mode == closeDiscard;
  try {
    CloseEntries(afterException);
    if (!afterException && !m_storage.IsReadOnly()) WriteOut();
  } catch (...) {
    ReleaseAll();
    m_storage.Close(true);
    m_splice.End();
    throw;
  }
  ReleaseAll();
  std::string path = m_storage.Close(afterException);
  m_splice.End();
  return path;
}

void CZipArchive::WriteOut() {
  // The output gets every byte now, the directory behind them; a result
  // that cannot be stored is refused before the bulk of it is copied.
  m_storage.Flush();
  if (!m_centralDir.m_info.m_bInArchive) m_centralDir.CheckFits(DataEnd());
  m_splice.WriteOut();
  m_centralDir.Write();
  m_storage.FlushFile();
}

void CZipArchive::CloseEntries(bool afterException) {
  if (m_iFileOpened == openedExtract) CloseFile(true);
  if (m_iFileOpened == openedCompress) CloseNewFile(afterException);
}

void CZipArchive::ReleaseAll() {
  if (m_iFileOpened == openedCompress) AbandonNewFile();
  if (m_iFileOpened == openedExtract) ReleaseReading();
  m_centralDir.Close();
  m_testBuffer.Release();
  m_pCompressor.reset();
}
