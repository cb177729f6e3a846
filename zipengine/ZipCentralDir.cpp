#include "ZipCentralDir.h"

#include <algorithm>
#include <cstring>

#include "ZipBytes.h"
#include "ZipException.h"
#include "ZipFormat.h"

using namespace ZipBytes;
using namespace ZipFormat;

namespace {

const uint32_t kLocateWindow = kMaxField + kEndSize;  // the longest comment and the record
const uint32_t kReadChunk = 65536;
// Slots of the name index: a power of two, at most half full even with every
// entry an archive can take.
const size_t kNameSlots = size_t{1} << 17;
// Headers are made in blocks: one allocation per entry would cost a large
// archive more than reading its directory.
const size_t kHeadersPerBlock = 256;

// Sequential reads of the central records through one chunk buffer, so a
// directory of many entries costs a few large reads. Running out of file
// throws 201.
class CentralReader {
 public:
  explicit CentralReader(CZipStorage& storage) : m_storage(storage), m_buffer(kReadChunk) {}

  void Read(void* out, uint32_t count) {
    char* dst = static_cast<char*>(out);
    while (count > 0) {
      if (m_pos == m_len) Refill();
      uint32_t n = std::min(count, m_len - m_pos);
      memcpy(dst, m_buffer.GetBuffer() + m_pos, n);
      m_pos += n;
      dst += n;
      count -= n;
    }
  }

  void ReadField(CZipAutoBuffer& field, uint16_t size) {
    field.Allocate(size);
    if (size > 0) Read(field.GetBuffer(), size);
  }

 private:
  void Refill() {
    m_len = m_storage.ReadAtMost(m_buffer.GetBuffer(), kReadChunk);
    m_pos = 0;
    if (m_len == 0) m_storage.ThrowError(CZipException::badZipFile);
  }

  CZipStorage& m_storage;
  CZipAutoBuffer m_buffer;
  uint32_t m_pos = 0;
  uint32_t m_len = 0;
};

const char* BaseName(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  return path.c_str() + (slash == std::string::npos ? 0 : slash + 1);
}

}  // namespace

const uint32_t CZipCentralDir::kDefaultIgnoredChecks;
const uint16_t CZipCentralDir::kMaxEntries;

CZipCentralDir::CZipCentralDir()
    : m_uIgnoredChecks(kDefaultIgnoredChecks), m_pOpenedFile(nullptr), m_pStorage(nullptr) {}

CZipCentralDir::~CZipCentralDir() = default;

void CZipCentralDir::Init(CZipStorage* storage) {
  m_pStorage = storage;
  m_uIgnoredChecks = kDefaultIgnoredChecks;
  m_pOpenedFile = nullptr;
  Close();
}

void CZipCentralDir::Close() {
  m_headers.clear();
  // The blocks stay for the next directory read into this object (a large
  // archive is read again when it is opened to be changed); their headers
  // go back to new.
  for (size_t block = 0; block < m_headerBlocks.size() && block <= m_uBlock; block++) {
    size_t used = block < m_uBlock ? kHeadersPerBlock : m_uBlockUsed;
    for (size_t n = 0; n < used; n++) m_headerBlocks[block][n] = CZipFileHeader();
  }
  m_uBlock = 0;
  m_uBlockUsed = 0;
  m_findArray.clear();
  m_bFindArraySorted = false;
  m_nameIndexState = nameIndexNone;
  m_nameHashes.clear();
  m_nameSlots.clear();
  m_info = CInfo();
  m_pOpenedFile = nullptr;
}

CZipFileHeader* CZipCentralDir::NewHeader() {
  if (m_uBlockUsed == kHeadersPerBlock) {
    m_uBlock++;
    m_uBlockUsed = 0;
  }
  if (m_uBlock == m_headerBlocks.size()) {
    m_headerBlocks.push_back(std::make_unique<CZipFileHeader[]>(kHeadersPerBlock));
  }
  return &m_headerBlocks[m_uBlock][m_uBlockUsed++];
}

// ---- reading -------------------------------------------------------------

bool CZipCentralDir::LocateEndRecord(CZipStorage& storage, uint64_t& offset) {
  uint64_t length = storage.GetLength();
  uint32_t window = length < kLocateWindow ? static_cast<uint32_t>(length) : kLocateWindow;
  if (window < 4) return false;
  CZipAutoBuffer buffer(window);
  uint64_t start = length - window;
  storage.Seek(start);
  storage.Read(buffer.GetBuffer(), window);
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(buffer.GetBuffer());
  // The occurrence nearest to the end wins: a comment may contain the bytes.
  for (uint32_t i = window - 4 + 1; i-- > 0;) {
    if (Get32(bytes + i) == kEndSignature) {
      offset = start + i;
      return true;
    }
  }
  return false;
}

void CZipCentralDir::Read() {
  if (!LocateEndRecord(*m_pStorage, m_info.m_uEndOffset)) {
    m_pStorage->ThrowError(CZipException::cdirNotFound);
  }
  ReadEndRecord();
  CheckForZip64();
  CheckEndRecord();
  if (m_info.m_uSize > 0) ReadHeaders();
  SortHeaders();
  if (m_info.m_bFindFastEnabled) BuildFindFastArray(m_info.m_bCaseSensitive);
}

void CZipCentralDir::ReadEndRecord() {
  unsigned char r[kEndSize];
  m_pStorage->Seek(m_info.m_uEndOffset + kEndThisVolume);
  m_pStorage->Read(r + kEndThisVolume, kEndSize - kEndThisVolume);
  m_info.m_uThisDisk = Get16(r + kEndThisVolume);
  m_info.m_uDiskWithCD = Get16(r + kEndDirVolume);
  m_info.m_uDiskEntriesNo = Get16(r + kEndEntriesHere);
  m_info.m_uEntriesNumber = Get16(r + kEndEntriesTotal);
  m_info.m_uSize = Get32(r + kEndDirSize);
  m_info.m_uOffset = Get32(r + kEndDirOffset);
  uint16_t commentSize = Get16(r + kEndCommentSize);
  m_info.m_comment.Allocate(commentSize);
  if (commentSize > 0) m_pStorage->Read(m_info.m_comment.GetBuffer(), commentSize);
}

void CZipCentralDir::CheckForZip64() {
  const CInfo& i = m_info;
  bool saturated = i.m_uThisDisk == 0xFFFF || i.m_uDiskWithCD == 0xFFFF ||
                   i.m_uDiskEntriesNo == 0xFFFF || i.m_uEntriesNumber == 0xFFFF ||
                   i.m_uSize == 0xFFFFFFFF || i.m_uOffset == 0xFFFFFFFF;
  if (!saturated || i.m_uEndOffset < kZip64LocatorSize) return;
  unsigned char sig[4];
  m_pStorage->Seek(i.m_uEndOffset - kZip64LocatorSize);
  m_pStorage->Read(sig, sizeof sig);
  if (Get32(sig) == kZip64LocatorSignature) m_pStorage->ThrowError(CZipException::noZip64);
}

void CZipCentralDir::CheckEndRecord() {
  CInfo& i = m_info;
  if (!(m_uIgnoredChecks & CZipFileHeader::checkVolumeEntries) && i.m_uThisDisk == 0 &&
      (i.m_uDiskEntriesNo != i.m_uEntriesNumber || i.m_uDiskWithCD != 0)) {
    m_pStorage->ThrowError(CZipException::badZipFile);
  }
  uint64_t cdEnd = static_cast<uint64_t>(i.m_uOffset) + i.m_uSize;
  if (cdEnd > i.m_uEndOffset) m_pStorage->ThrowError(CZipException::badZipFile);
  if (m_pStorage->m_uBytesBeforeZip == 0 && i.m_uThisDisk == 0) {
    m_pStorage->m_uBytesBeforeZip = i.m_uEndOffset - cdEnd;
  }
  if ((i.m_uEntriesNumber == 0) != (i.m_uSize == 0)) {
    m_pStorage->ThrowError(CZipException::badZipFile);
  }
  i.m_bInArchive = true;
}

void CZipCentralDir::ReadHeaders() {
  m_pStorage->Seek(m_pStorage->m_uBytesBeforeZip + m_info.m_uOffset);
  m_headers.clear();
  // Every record takes at least 46 bytes, which bounds what a lying count
  // can make us reserve.
  m_headers.reserve(std::min<uint32_t>(m_info.m_uEntriesNumber, m_info.m_uSize / kCentralSize + 1));
  CentralReader reader(*m_pStorage);
  for (uint32_t n = 0; n < m_info.m_uEntriesNumber; n++) {
    m_headers.push_back(NewHeader());
    CZipFileHeader& header = *m_headers.back();
    unsigned char fixed[kCentralSize];
    reader.Read(fixed, kCentralSize);
    if (Get32(fixed) != kCentralSignature) m_pStorage->ThrowError(CZipException::badZipFile);
    uint16_t nameSize, extraSize, commentSize;
    header.ReadCentralFixed(fixed, nameSize, extraSize, commentSize);
    CZipAutoBuffer name;
    reader.ReadField(name, nameSize);
    header.SetFileName(name.GetBuffer(), nameSize);
    reader.ReadField(header.m_aCentralExtra, extraSize);
    reader.ReadField(header.m_comment, commentSize);
  }
}

void CZipCentralDir::SortHeaders() {
  auto key = [](const CZipFileHeader* h) {
    return (static_cast<uint64_t>(h->m_uVolumeStart) << 32) | h->m_uOffset;
  };
  auto before = [&](const CZipFileHeader* a, const CZipFileHeader* b) { return key(a) < key(b); };
  // Writers put the records in file order: with distinct keys already
  // ascending the sort has nothing to do.
  auto notAscending = [&](const CZipFileHeader* a, const CZipFileHeader* b) {
    return !before(a, b);
  };
  if (std::adjacent_find(m_headers.begin(), m_headers.end(), notAscending) != m_headers.end()) {
    std::sort(m_headers.begin(), m_headers.end(), before);
  }
  for (size_t n = 1; n < m_headers.size(); n++) {
    if (key(m_headers[n - 1]) == key(m_headers[n])) {
      CZipException::Throw(CZipException::badZipFile);
    }
  }
}

// ---- writing -------------------------------------------------------------

void CZipCentralDir::RemoveFromDisk() {
  if (m_info.m_bInArchive) {
    m_pStorage->SetLength(m_pStorage->m_uBytesBeforeZip + m_info.m_uOffset);
    m_info.m_bInArchive = false;
  } else {
    m_pStorage->Flush();
  }
}

bool CZipCentralDir::Write() {
  if (m_info.m_bInArchive) return false;
  uint64_t position = m_pStorage->SeekToEnd();
  if (position < m_pStorage->m_uBytesBeforeZip)
    m_pStorage->ThrowError(CZipException::internalError);
  uint64_t offset = position - m_pStorage->m_uBytesBeforeZip;
  if (offset > UINT32_MAX) m_pStorage->ThrowError(CZipException::tooBigSize);
  m_info.m_uDiskEntriesNo = m_info.m_uEntriesNumber = GetCount();
  m_info.m_uOffset = static_cast<uint32_t>(offset);
  uint64_t size = 0;
  for (const auto& header : m_headers) size += header->WriteCentral(*m_pStorage);
  if (size > UINT32_MAX) m_pStorage->ThrowError(CZipException::tooBigSize);
  m_info.m_uSize = static_cast<uint32_t>(size);
  WriteEndRecord();
  m_pStorage->Flush();
  m_info.m_bInArchive = true;
  return true;
}

void CZipCentralDir::CheckFits(uint64_t offset) const {
  uint64_t size = 0;
  for (const auto& header : m_headers) size += header->CentralSize();
  if (offset > UINT32_MAX || size > UINT32_MAX) m_pStorage->ThrowError(CZipException::tooBigSize);
}

void CZipCentralDir::WriteEndRecord() {
  unsigned char r[kEndSize];
  Put32(r, kEndSignature);
  Put16(r + kEndThisVolume, 0);
  Put16(r + kEndDirVolume, 0);
  Put16(r + kEndEntriesHere, m_info.m_uDiskEntriesNo);
  Put16(r + kEndEntriesTotal, m_info.m_uEntriesNumber);
  Put32(r + kEndDirSize, m_info.m_uSize);
  Put32(r + kEndDirOffset, m_info.m_uOffset);
  Put16(r + kEndCommentSize, static_cast<uint16_t>(m_info.m_comment.GetSize()));
  m_pStorage->Write(r, kEndSize);
  if (m_info.m_comment.GetSize() > 0) {
    m_pStorage->Write(m_info.m_comment.GetBuffer(), m_info.m_comment.GetSize());
  }
}

// ---- entries -------------------------------------------------------------

CZipFileHeader* CZipCentralDir::AddHeader(const CZipFileHeader& templ) {
  uint16_t index = GetCount();
  CZipFileHeader* header = NewHeader();
  *header = templ;
  m_headers.push_back(header);
  if (m_bFindArraySorted) InsertFindFast(header, index);
  if (m_nameIndexState == nameIndexReady && !IndexName(index)) m_nameIndexState = nameIndexUnusable;
  return header;
}

void CZipCentralDir::RemoveHeader(uint16_t index) {
  if (index >= m_headers.size()) CZipException::Throw(CZipException::outOfBounds);
  for (size_t n = 0; n < m_findArray.size();) {
    if (m_findArray[n].m_uIndex == index) {
      m_findArray.erase(m_findArray.begin() + static_cast<ptrdiff_t>(n));
      continue;
    }
    if (m_findArray[n].m_uIndex > index) m_findArray[n].m_uIndex--;
    n++;
  }
  if (m_pOpenedFile == m_headers[index]) m_pOpenedFile = nullptr;
  m_headers.erase(m_headers.begin() + index);
  if (m_nameIndexState == nameIndexReady) UnindexName(index);
}

void CZipCentralDir::RemoveAllHeaders() {
  m_headers.clear();
  m_findArray.clear();
  m_pOpenedFile = nullptr;
  if (m_nameIndexState == nameIndexReady) {
    m_nameHashes.clear();
    std::fill(m_nameSlots.begin(), m_nameSlots.end(), 0);
  }
}

// ---- lookup --------------------------------------------------------------

void CZipCentralDir::BuildFindFastArray(bool caseSensitive) {
  m_info.m_bCaseSensitive = caseSensitive;
  m_info.m_pCompare = ZipPlatform::GetNameCompare(caseSensitive);
  m_findArray.clear();
  m_bFindArraySorted = false;
}

void CZipCentralDir::SortFindFastArray() {
  m_findArray.clear();
  m_findArray.reserve(m_headers.size());
  for (size_t n = 0; n < m_headers.size(); n++) {
    m_findArray.push_back({m_headers[n], static_cast<uint16_t>(n)});
  }
  ZipPlatform::ZipNameCompare compare = m_info.m_pCompare;
  std::stable_sort(m_findArray.begin(), m_findArray.end(),
                   [compare](const CZipFindFast& a, const CZipFindFast& b) {
                     return compare(a.m_pHeader->GetConvertedName().c_str(),
                                    b.m_pHeader->GetConvertedName().c_str()) < 0;
                   });
  m_bFindArraySorted = true;
}

void CZipCentralDir::InsertFindFast(CZipFileHeader* header, uint16_t index) {
  ZipPlatform::ZipNameCompare compare = m_info.m_pCompare;
  const char* name = header->GetConvertedName().c_str();
  auto place = std::upper_bound(m_findArray.begin(), m_findArray.end(), name,
                                [compare](const char* n, const CZipFindFast& e) {
                                  return compare(n, e.m_pHeader->GetConvertedName().c_str()) < 0;
                                });
  m_findArray.insert(place, CZipFindFast{header, index});
}

uint16_t CZipCentralDir::BinarySearch(const char* name) {
  ptrdiff_t low = 0;
  ptrdiff_t high = static_cast<ptrdiff_t>(m_findArray.size()) - 1;
  while (low <= high) {
    ptrdiff_t mid = (low + high) / 2;
    const CZipFindFast& e = m_findArray[static_cast<size_t>(mid)];
    int result = m_info.m_pCompare(name, e.m_pHeader->GetConvertedName().c_str());
    if (result == 0) return e.m_uIndex;
    if (result > 0) {
      low = mid + 1;
    } else {
      high = mid - 1;
    }
  }
  return kMaxEntries;
}

namespace {

// FNV-1a over the name in this platform's form, up to its first NUL, as the
// name comparison sees it.
uint32_t NameHash(const char* bytes, size_t size) {
  uint32_t hash = 2166136261u;
  for (size_t n = 0; n < size && bytes[n] != '\0'; n++) {
    hash =
        (hash ^ static_cast<unsigned char>(ZipPlatform::NameCharToPlatform(bytes[n]))) * 16777619u;
  }
  return hash;
}

}  // namespace

// With names that compare as bytes and are all distinct, the one equal name
// is what the binary search finds too; the index answers without sorting.
uint16_t CZipCentralDir::SearchSorted(const char* name) {
  if (UseNameIndex()) return FindIndexed(name);
  if (!m_bFindArraySorted) SortFindFastArray();
  return BinarySearch(name);
}

bool CZipCentralDir::UseNameIndex() {
  if (!ZipPlatform::ComparesAsBytes(m_info.m_pCompare)) return false;
  if (m_nameIndexState == nameIndexNone) BuildNameIndex();
  return m_nameIndexState == nameIndexReady;
}

void CZipCentralDir::BuildNameIndex() {
  m_nameHashes.clear();
  m_nameHashes.reserve(m_headers.size());
  for (const auto& header : m_headers) {
    const CZipAutoBuffer& raw = header->GetRawFileName();
    m_nameHashes.push_back(NameHash(raw.GetBuffer(), raw.GetSize()));
  }
  m_nameSlots.assign(kNameSlots, 0);
  m_nameIndexState = nameIndexReady;
  for (uint16_t n = 0; n < GetCount(); n++) {
    if (!IndexName(n)) {
      m_nameIndexState = nameIndexUnusable;
      m_nameHashes.clear();
      m_nameSlots.clear();
      return;
    }
  }
}

bool CZipCentralDir::IndexName(uint16_t index) {
  if (m_nameHashes.size() <= index) {
    const CZipAutoBuffer& raw = m_headers[index]->GetRawFileName();
    m_nameHashes.push_back(NameHash(raw.GetBuffer(), raw.GetSize()));
  }
  const uint32_t hash = m_nameHashes[index];
  const size_t mask = kNameSlots - 1;
  for (size_t slot = hash & mask;; slot = (slot + 1) & mask) {
    uint32_t other = m_nameSlots[slot];
    if (other == 0) {
      m_nameSlots[slot] = static_cast<uint16_t>(index + 1u);
      return true;
    }
    if (m_nameHashes[other - 1] == hash &&
        strcmp(m_headers[other - 1]->GetConvertedName().c_str(),
               m_headers[index]->GetConvertedName().c_str()) == 0) {
      return false;
    }
  }
}

// Empties the slot of header `index`, moving later entries of its probe
// run back so that every lookup still reaches them, and renumbers the
// headers behind it.
void CZipCentralDir::UnindexName(uint16_t index) {
  const size_t mask = kNameSlots - 1;
  size_t hole = m_nameHashes[index] & mask;
  while (m_nameSlots[hole] != index + 1u) hole = (hole + 1) & mask;
  m_nameSlots[hole] = 0;
  for (size_t slot = (hole + 1) & mask; m_nameSlots[slot] != 0; slot = (slot + 1) & mask) {
    size_t home = m_nameHashes[m_nameSlots[slot] - 1] & mask;
    // Whether `home` lies cyclically in (hole, slot]: then the entry stays.
    bool stays = hole < slot ? (home > hole && home <= slot) : (home > hole || home <= slot);
    if (stays) continue;
    m_nameSlots[hole] = m_nameSlots[slot];
    m_nameSlots[slot] = 0;
    hole = slot;
  }
  // Branch-free, so that the compiler can do many slots at once.
  const uint16_t removed = static_cast<uint16_t>(index + 1u);
  for (uint16_t& slot : m_nameSlots) slot = static_cast<uint16_t>(slot - (slot > removed));
  m_nameHashes.erase(m_nameHashes.begin() + index);
}

uint16_t CZipCentralDir::FindIndexed(const char* name) const {
  const uint32_t hash = NameHash(name, strlen(name));
  const size_t mask = kNameSlots - 1;
  for (size_t slot = hash & mask;; slot = (slot + 1) & mask) {
    uint32_t entry = m_nameSlots[slot];
    if (entry == 0) return kMaxEntries;
    if (m_nameHashes[entry - 1] == hash &&
        strcmp(m_headers[entry - 1]->GetConvertedName().c_str(), name) == 0) {
      return static_cast<uint16_t>(entry - 1);
    }
  }
}

uint16_t CZipCentralDir::LinearSearch(const char* name, bool caseSensitive, bool fileNameOnly) {
  ZipPlatform::ZipNameCompare compare = ZipPlatform::GetNameCompare(caseSensitive);
  for (size_t n = 0; n < m_headers.size(); n++) {
    const std::string& entry = m_headers[n]->GetConvertedName();
    const char* candidate = fileNameOnly ? BaseName(entry) : entry.c_str();
    if (compare(name, candidate) == 0) return static_cast<uint16_t>(n);
  }
  return kMaxEntries;
}

uint16_t CZipCentralDir::FindFile(const char* name, int caseMode, bool fileNameOnly,
                                  bool archiveCase) {
  bool sensitive = caseMode == 0 ? archiveCase : caseMode == 1;
  if (fileNameOnly) return LinearSearch(name, sensitive, true);
  if (!m_info.m_bFindFastEnabled) {
    m_info.m_bFindFastEnabled = true;
    BuildFindFastArray(archiveCase);
  }
  if (m_info.m_bCaseSensitive == sensitive) return SearchSorted(name);
  if (caseMode == 0) {
    BuildFindFastArray(sensitive);
    return SearchSorted(name);
  }
  return LinearSearch(name, sensitive, false);
}
