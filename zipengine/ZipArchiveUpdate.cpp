// Changing an archive opened by OpenForUpdate: removing entries, adding
// entries from any file, the steps of a new entry, and the size check of a
// planned change. Only Close writes the result.
#include <algorithm>
#include <ctime>
#include <map>

#include "ZipArchive.h"
#include "ZipBytes.h"
#include "ZipCompressor.h"
#include "ZipFormat.h"
#include "ZipPlatform.h"

namespace {

const uint16_t kVersion = 20;
const uint16_t kVersionDirectory = 10;
const int kSmartStoreSmall = 4;
const uint64_t kSmallSize = 5;
const uint32_t kMaxCopyBuffer = 16u * 1024 * 1024;

// The most bytes deflate (window and memory level as the compressor sets
// them) makes of `size` bytes, with room to spare.
uint64_t DeflateBound(uint64_t size) {
  return size + (size >> 12) + (size >> 14) + (size >> 25) + 13;
}

// General-purpose flag bits 1 and 2 tell readers which deflate level made
// the data.
uint16_t FlagsForLevel(int level) {
  switch (level) {
    case 1:
      return 6;
    case 2:
      return 4;
    case 8:
    case 9:
      return 2;
    default:
      return 0;
  }
}

}  // namespace

bool CZipArchive::CanModify() const {
  return !IsClosed() && !m_storage.IsReadOnly() && m_iFileOpened == openedNothing;
}

// ---- removing ------------------------------------------------------------

bool CZipArchive::RemoveFile(uint16_t index, bool removeData) {
  if (!CanModify() || GetCount() == 0 || index >= GetCount()) return false;
  if (GetCount() == 1) return RemoveAllEntries();
  BeginChange();
  if (!removeData) {
    m_uLayoutEnd = kLayoutUnknown;
    m_centralDir.RemoveHeader(index);
    return true;
  }
  uint64_t dataEnd = DataEnd();
  // Keeps every range below non-negative even if the file changed behind
  // our back.
  CheckEntryLayout(dataEnd);
  m_uLayoutEnd = dataEnd - CutEntry(index, dataEnd);
  return true;
}

bool CZipArchive::RemoveAllEntries() {
  m_uLayoutEnd = kLayoutUnknown;
  // Only a self-extractor stub, if any, stays in front of the archive.
  m_storage.SetLength(m_storage.m_uBytesBeforeZip);
  m_centralDir.RemoveAllHeaders();
  m_centralDir.m_info.m_bInArchive = false;
  return true;
}

void CZipArchive::BeginChange() {
  // Once changed, the layout is the engine's own; before, it is the file's.
  if (m_centralDir.m_info.m_bInArchive) CheckEntryLayout(m_centralDir.m_info.m_uOffset);
  m_centralDir.RemoveFromDisk();
}

void CZipArchive::CheckEntryLayout(uint64_t dataEnd) {
  // Entries are cut out on the belief that every entry
  // lies whole between its local header and the next one, in index order,
  // before the directory. A file that says otherwise (entries sharing data,
  // a stray volume number reordering them) would lose data: refuse it
  // before anything changes.
  // A layout found sound stays sound through the engine's own cuts and
  // appends (each leaves every entry ending before the next); only the
  // data end that goes with it is followed.
  if (dataEnd == m_uLayoutEnd) return;
  for (uint16_t i = 0; i < GetCount(); i++) {
    const CZipFileHeader& h = *m_centralDir.GetHeader(i);
    const CZipFileHeader* next = m_centralDir.GetHeader(static_cast<uint16_t>(i + 1));
    uint64_t limit = next != nullptr ? next->m_uOffset : dataEnd;
    uint64_t end = static_cast<uint64_t>(h.m_uOffset) + ZipFormat::kLocalSize +
                   h.GetRawFileName().GetSize() + h.m_uComprSize;
    if (end > limit) ThrowError(CZipException::badZipFile);
  }
  m_uLayoutEnd = dataEnd;
}

// With the old directory cut away, the file ends where the entries end.
uint64_t CZipArchive::DataEnd() {
  uint64_t length = m_storage.GetLength();
  return length > m_storage.m_uBytesBeforeZip ? length - m_storage.m_uBytesBeforeZip : 0;
}

// The bytes of the removed entry, up to the next one, are only dropped from
// the list of pieces that Close will write. Returns how many bytes went.
uint64_t CZipArchive::CutEntry(uint16_t index, uint64_t dataEnd) {
  const CZipFileHeader* next = m_centralDir.GetHeader(static_cast<uint16_t>(index + 1));
  const uint64_t from = m_centralDir.GetHeader(index)->m_uOffset;
  const uint64_t to = next != nullptr ? next->m_uOffset : dataEnd;
  m_centralDir.RemoveHeader(index);
  const uint64_t base = m_storage.m_uBytesBeforeZip;
  m_splice.Cut(base + from, base + to);
  for (uint16_t i = index; i < GetCount(); i++) {
    CZipFileHeader* header = m_centralDir.GetHeader(i);
    header->m_uOffset = static_cast<uint32_t>(header->m_uOffset - (to - from));
  }
  return to - from;
}

// ---- adding --------------------------------------------------------------

bool CZipArchive::AddNewFile(CZipAbstractFile& source, const char* nameInZip, int level,
                             int smartness, uint32_t bufferSize) {
  if (bufferSize == 0 || nameInZip == nullptr || !CanModify()) return false;
  // Sources carry no attributes or times of their own here: a memory file
  // has none, and disk sources are not added by this system.
  CZipFileHeader templ;
  templ.SetSystemCompatibility(m_uArchiveSystCompatib);
  templ.m_uExternalAttr = ZipPlatform::GetDefaultAttributes(m_uArchiveSystCompatib, false);
  templ.SetFileName(nameInZip);
  templ.SetTime(time(nullptr));
  source.SeekToBegin();
  uint64_t length = source.GetLength();
  if (length > UINT32_MAX) ThrowError(CZipException::tooBigSize);
  // Deflating a few bytes only makes them longer.
  if ((smartness & kSmartStoreSmall) && level != 0 && length < kSmallSize) level = 0;
  if (!OpenNewFile(templ, level)) return false;
  try {
    CZipAutoBuffer buffer(std::min(bufferSize, kMaxCopyBuffer));
    uint32_t got;
    do {
      got = source.Read(buffer.GetBuffer(), buffer.GetSize());
      if (got > 0) WriteNewFile(buffer.GetBuffer(), got);
    } while (got == buffer.GetSize());
    CloseNewFile(false);
  } catch (...) {
    AbandonNewFile();
    throw;
  }
  return true;
}

bool CZipArchive::OpenNewFile(CZipFileHeader& templ, int level) {
  if (!CanModify() || GetCount() >= CZipCentralDir::kMaxEntries) return false;
  CZipFileHeader header(templ);
  PrepareNewHeader(header, level);
  try {
    StartNewEntry(header, level);
  } catch (...) {
    AbandonNewFile();
    throw;
  }
  return true;
}

void CZipArchive::PrepareNewHeader(CZipFileHeader& h, int& level) {
  if (!h.HasTime()) h.SetTime(time(nullptr));
  const CZipAutoBuffer& raw = h.GetRawFileName();
  std::string name(raw.GetBuffer() ? raw.GetBuffer() : "", raw.GetSize());
  // Stored names use "/" on every platform.
  std::replace(name.begin(), name.end(), '\\', '/');
  bool directory = h.HasDirectoryAttributes();
  if (directory && (name.empty() || name.back() != '/')) name += '/';
  if (name.empty()) name = "file" + std::to_string(GetCount());
  h.SetFileName(name.data(), static_cast<uint32_t>(name.size()));
  if (level < -1 || level > 9) level = -1;
  if (directory) level = 0;
  bool deflate = level != 0;
  h.m_uMethod = deflate ? ZipFormat::kMethodDeflate : ZipFormat::kMethodStore;
  h.m_uVersionMadeBy = static_cast<uint16_t>((m_uArchiveSystCompatib << 8) | kVersion);
  h.m_uVersionNeeded = directory ? kVersionDirectory : kVersion;
  h.m_uFlag = FlagsForLevel(deflate ? level : 0);
  h.m_uCrc32 = h.m_uComprSize = h.m_uUncomprSize = 0;
  h.m_uVolumeStart = h.m_uInternalAttr = 0;
  h.m_uEncryptionMethod = CZipFileHeader::kNoEncryption;
  h.m_aCentralExtra.Release();
}

void CZipArchive::StartNewEntry(CZipFileHeader& header, int level) {
  if (header.GetRawFileName().GetSize() > 0xFFFF) ThrowError(CZipException::tooLongData);
  BeginChange();
  uint64_t position = m_storage.SeekToEnd();
  if (position < m_storage.m_uBytesBeforeZip) ThrowError(CZipException::internalError);
  uint64_t offset = position - m_storage.m_uBytesBeforeZip;
  if (offset > UINT32_MAX) ThrowError(CZipException::tooBigSize);
  header.m_uOffset = static_cast<uint32_t>(offset);
  // The new entry starts where the sound layout ends: once complete, it
  // ends the layout.
  m_bLayoutBeforeAdd = offset == m_uLayoutEnd;
  m_uLayoutEnd = kLayoutUnknown;
  CZipFileHeader* added = m_centralDir.AddHeader(header);
  m_centralDir.m_pOpenedFile = added;
  m_iFileOpened = openedCompress;
  added->WriteLocal(m_storage);
  Compressor().InitCompression(level, added);
}

bool CZipArchive::WriteNewFile(const void* buffer, uint32_t count) {
  if (m_iFileOpened != openedCompress) return false;
  if (count == 0) return true;
  if (buffer == nullptr) return false;
  m_pCompressor->Compress(buffer, count);
  return true;
}

bool CZipArchive::CloseNewFile(bool afterException) {
  if (m_iFileOpened != openedCompress) return false;
  if (afterException) {
    AbandonNewFile();
    return true;
  }
  m_pCompressor->FinishCompression(false);
  PatchLocalHeader(*m_centralDir.m_pOpenedFile);
  m_storage.Flush();
  m_centralDir.m_pOpenedFile = nullptr;
  m_iFileOpened = openedNothing;
  if (m_bLayoutBeforeAdd) m_uLayoutEnd = DataEnd();
  m_bLayoutBeforeAdd = false;
  return true;
}

void CZipArchive::PatchLocalHeader(const CZipFileHeader& header) {
  using namespace ZipFormat;
  unsigned char fields[kLocalNameSize - kLocalCrc];
  ZipBytes::Put32(fields, header.m_uCrc32);
  ZipBytes::Put32(fields + (kLocalCompr - kLocalCrc), header.m_uComprSize);
  ZipBytes::Put32(fields + (kLocalUncompr - kLocalCrc), header.m_uUncomprSize);
  uint64_t back = m_storage.GetPosition();
  m_storage.Seek(m_storage.m_uBytesBeforeZip + header.m_uOffset + kLocalCrc);
  m_storage.File().Write(fields, sizeof fields);
  m_storage.Seek(back);
}

void CZipArchive::AbandonNewFile() {
  if (m_iFileOpened != openedCompress) return;
  // A half-written entry is dropped whole, so that Close can still write a
  // directory that describes only complete entries.
  CZipFileHeader* header = m_centralDir.m_pOpenedFile;
  if (m_pCompressor) m_pCompressor->FinishCompression(true);
  m_storage.DiscardBuffer();
  m_centralDir.m_pOpenedFile = nullptr;
  m_iFileOpened = openedNothing;
  uint16_t last = static_cast<uint16_t>(m_centralDir.GetCount() - 1);
  if (header == nullptr || m_centralDir.GetHeader(last) != header) return;
  uint64_t start = m_storage.m_uBytesBeforeZip + header->m_uOffset;
  m_centralDir.RemoveHeader(last);
  try {
    m_storage.SetLength(start);
  } catch (...) {
    // The error being handled is the one to report.
  }
}

// ---- planning ------------------------------------------------------------

void CZipArchive::CheckPlannedCopies(const std::vector<PlannedCopy>& copies) {
  if (IsClosed()) return;
  const uint64_t oldEnd =
      m_centralDir.m_info.m_bInArchive ? m_centralDir.m_info.m_uOffset : DataEnd();
  uint64_t dataEnd = oldEnd, directory = 0;
  uint32_t count = GetCount();
  for (uint16_t i = 0; i < GetCount(); i++) {
    directory += m_centralDir.GetHeader(i)->CentralSize();
  }
  // What the plan added so far, by name: bytes in the data, in the
  // directory, and of content.
  struct Added {
    uint64_t span, central, size;
  };
  std::map<std::string, Added> added;
  std::vector<bool> removed(GetCount(), false);
  for (const PlannedCopy& copy : copies) {
    uint64_t size;
    auto from = added.find(copy.source);
    const uint16_t source = FindFile(copy.source.c_str());
    if (from != added.end()) {
      size = from->second.size;
    } else if (source != kNotFound && !removed[source]) {
      size = m_centralDir.GetHeader(source)->m_uUncomprSize;
    } else {
      continue;  // the copy fails before it changes anything
    }
    auto to = added.find(copy.destination);
    const uint16_t destination = FindFile(copy.destination.c_str());
    if (to != added.end()) {
      dataEnd -= to->second.span;
      directory -= to->second.central;
      count--;
    } else if (destination != kNotFound && !removed[destination]) {
      const CZipFileHeader& h = *m_centralDir.GetHeader(destination);
      const CZipFileHeader* next = m_centralDir.GetHeader(static_cast<uint16_t>(destination + 1));
      dataEnd -= (next != nullptr ? next->m_uOffset : oldEnd) - h.m_uOffset;
      directory -= h.CentralSize();
      removed[destination] = true;
      count--;
    }
    const uint64_t name = copy.destination.size();
    const uint64_t data = size < kSmallSize ? size : DeflateBound(size);
    if (dataEnd > UINT32_MAX || data > UINT32_MAX) ThrowError(CZipException::tooBigSize);
    if (++count > CZipCentralDir::kMaxEntries) ThrowError(CZipException::tooManyFiles);
    const Added entry = {ZipFormat::kLocalSize + name + data, ZipFormat::kCentralSize + name, size};
    added[copy.destination] = entry;
    dataEnd += entry.span;
    directory += entry.central;
  }
  if (dataEnd > UINT32_MAX || directory > UINT32_MAX) ThrowError(CZipException::tooBigSize);
}
