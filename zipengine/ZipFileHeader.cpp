#include "ZipFileHeader.h"

#include <cstring>

#include "ZipBytes.h"
#include "ZipException.h"
#include "ZipFormat.h"
#include "ZipPlatform.h"
#include "ZipStorage.h"

using namespace ZipBytes;
using namespace ZipFormat;

namespace {

const uint16_t kDefaultDosDate = 33;  // 1 January 1980

bool EndsWithSeparator(const CZipAutoBuffer& name) {
  if (name.GetSize() == 0) return false;
  char last = name.GetBuffer()[name.GetSize() - 1];
  return last == '/' || last == '\\';
}

void WriteField(CZipStorage& storage, const CZipAutoBuffer& field) {
  if (field.GetSize() > 0) storage.Write(field.GetBuffer(), field.GetSize());
}

}  // namespace

CZipFileHeader::CZipFileHeader()
    : m_uVersionMadeBy(0),
      m_uVersionNeeded(0),
      m_uFlag(0),
      m_uMethod(0),
      m_uModTime(0),
      m_uModDate(0),
      m_uCrc32(0),
      m_uComprSize(0),
      m_uUncomprSize(0),
      m_uVolumeStart(0),
      m_uInternalAttr(0),
      m_uExternalAttr(0),
      m_uOffset(0),
      m_uEncryptionMethod(kNoEncryption),
      m_uLocalComprSize(0),
      m_uLocalUncomprSize(0),
      m_uLocalHeaderSize(0) {}

CZipFileHeader::CZipFileHeader(const CZipFileHeader& other) { *this = other; }

CZipFileHeader& CZipFileHeader::operator=(const CZipFileHeader& other) {
  if (this == &other) return *this;
  m_uVersionMadeBy = other.m_uVersionMadeBy;
  m_uVersionNeeded = other.m_uVersionNeeded;
  m_uFlag = other.m_uFlag;
  m_uMethod = other.m_uMethod;
  m_uModTime = other.m_uModTime;
  m_uModDate = other.m_uModDate;
  m_uCrc32 = other.m_uCrc32;
  m_uComprSize = other.m_uComprSize;
  m_uUncomprSize = other.m_uUncomprSize;
  m_uVolumeStart = other.m_uVolumeStart;
  m_uInternalAttr = other.m_uInternalAttr;
  m_uExternalAttr = other.m_uExternalAttr;
  m_uOffset = other.m_uOffset;
  m_aCentralExtra = other.m_aCentralExtra;
  m_comment = other.m_comment;
  m_uEncryptionMethod = other.m_uEncryptionMethod;
  m_uLocalComprSize = other.m_uLocalComprSize;
  m_uLocalUncomprSize = other.m_uLocalUncomprSize;
  m_uLocalHeaderSize = other.m_uLocalHeaderSize;
  m_fileNameRaw = other.m_fileNameRaw;
  m_fileName.reset();
  return *this;
}

std::string CZipFileHeader::GetFileName(bool) { return GetConvertedName(); }

const std::string& CZipFileHeader::GetConvertedName() {
  if (!m_fileName) {
    auto name = std::make_unique<std::string>(
        m_fileNameRaw.GetBuffer() ? m_fileNameRaw.GetBuffer() : "", m_fileNameRaw.GetSize());
    ZipPlatform::NameToPlatform(*name);
    m_fileName = std::move(name);
  }
  return *m_fileName;
}

void CZipFileHeader::SetFileName(const char* name) {
  size_t length = strlen(name);
  if (length > UINT32_MAX) CZipException::Throw(CZipException::tooLongData);
  SetFileName(name, static_cast<uint32_t>(length));
}

void CZipFileHeader::SetFileName(const char* bytes, uint32_t size) {
  m_fileNameRaw.Assign(bytes, size);
  m_fileName.reset();
}

bool CZipFileHeader::IsSystemSupported(int system) {
  switch (system) {
    case 0:
    case 3:
    case 6:
    case 7:
    case 11:
    case 15:
    case 20:
      return true;
    default:
      return false;
  }
}

bool CZipFileHeader::IsDirectory() const {
  int system = GetSystemCompatibility();
  bool nameSaysDir = EndsWithSeparator(m_fileNameRaw);
  if (!IsSystemSupported(system)) return nameSaysDir;
  if (m_uComprSize == 0 && nameSaysDir) return true;
  return HasDirectoryAttributes();
}

bool CZipFileHeader::HasDirectoryAttributes() const {
  if (GetSystemCompatibility() == kHostUnix) {
    return ((m_uExternalAttr >> kUnixModeShift) & kUnixTypeMask) == kUnixDirectoryType;
  }
  return (m_uExternalAttr & kDosDirectory) != 0;
}

void CZipFileHeader::SetSystemCompatibility(int system) {
  m_uVersionMadeBy = static_cast<uint16_t>((m_uVersionMadeBy & 0xFF) | ((system & 0xFF) << 8));
}

void CZipFileHeader::SetTime(time_t when) {
  const struct tm* t = localtime(&when);
  if (t == nullptr) {
    m_uModDate = kDefaultDosDate;
    m_uModTime = 0;
    return;
  }
  int year = t->tm_year + 1900;
  int yearPart = year > 1980 ? year - 1980 : 0;
  m_uModDate = static_cast<uint16_t>(yearPart * 512 + (t->tm_mon + 1) * 32 + t->tm_mday);
  m_uModTime = static_cast<uint16_t>(t->tm_hour * 2048 + t->tm_min * 32 + t->tm_sec / 2);
}

void CZipFileHeader::ReadCentralFixed(const unsigned char* r, uint16_t& nameSize,
                                      uint16_t& extraSize, uint16_t& commentSize) {
  m_uVersionMadeBy = Get16(r + kCentralVersionMadeBy);
  m_uVersionNeeded = Get16(r + kCentralVersionNeeded);
  m_uFlag = Get16(r + kCentralFlag);
  m_uMethod = Get16(r + kCentralMethod);
  m_uModTime = Get16(r + kCentralTime);
  m_uModDate = Get16(r + kCentralDate);
  m_uCrc32 = Get32(r + kCentralCrc);
  m_uComprSize = Get32(r + kCentralCompr);
  m_uUncomprSize = Get32(r + kCentralUncompr);
  nameSize = Get16(r + kCentralNameSize);
  extraSize = Get16(r + kCentralExtraSize);
  commentSize = Get16(r + kCentralCommentSize);
  m_uVolumeStart = Get16(r + kCentralVolumeStart);
  m_uInternalAttr = Get16(r + kCentralInternalAttr);
  m_uExternalAttr = Get32(r + kCentralExternalAttr);
  m_uOffset = Get32(r + kCentralOffset);
  m_uEncryptionMethod = IsEncrypted() ? 0 : kNoEncryption;
}

uint32_t CZipFileHeader::WriteCentral(CZipStorage& storage) const {
  if (m_fileNameRaw.GetSize() > kMaxField || m_aCentralExtra.GetSize() > kMaxField ||
      m_comment.GetSize() > kMaxField) {
    storage.ThrowError(CZipException::tooLongData);
  }
  unsigned char r[kCentralSize];
  Put32(r, kCentralSignature);
  Put16(r + kCentralVersionMadeBy, m_uVersionMadeBy);
  Put16(r + kCentralVersionNeeded, m_uVersionNeeded);
  Put16(r + kCentralFlag, m_uFlag);
  Put16(r + kCentralMethod, m_uMethod);
  Put16(r + kCentralTime, m_uModTime);
  Put16(r + kCentralDate, m_uModDate);
  Put32(r + kCentralCrc, m_uCrc32);
  Put32(r + kCentralCompr, m_uComprSize);
  Put32(r + kCentralUncompr, m_uUncomprSize);
  Put16(r + kCentralNameSize, static_cast<uint16_t>(m_fileNameRaw.GetSize()));
  Put16(r + kCentralExtraSize, static_cast<uint16_t>(m_aCentralExtra.GetSize()));
  Put16(r + kCentralCommentSize, static_cast<uint16_t>(m_comment.GetSize()));
  Put16(r + kCentralVolumeStart, m_uVolumeStart);
  Put16(r + kCentralInternalAttr, m_uInternalAttr);
  Put32(r + kCentralExternalAttr, m_uExternalAttr);
  Put32(r + kCentralOffset, m_uOffset);
  storage.Write(r, kCentralSize);
  WriteField(storage, m_fileNameRaw);
  WriteField(storage, m_aCentralExtra);
  WriteField(storage, m_comment);
  return kCentralSize + m_fileNameRaw.GetSize() + m_aCentralExtra.GetSize() + m_comment.GetSize();
}

void CZipFileHeader::WriteLocal(CZipStorage& storage) const {
  if (m_fileNameRaw.GetSize() > kMaxField) storage.ThrowError(CZipException::tooLongData);
  unsigned char r[kLocalSize];
  Put32(r, kLocalSignature);
  Put16(r + kLocalVersionNeeded, m_uVersionNeeded);
  Put16(r + kLocalFlag, m_uFlag);
  Put16(r + kLocalMethod, m_uMethod);
  Put16(r + kLocalTime, m_uModTime);
  Put16(r + kLocalDate, m_uModDate);
  // CRC and sizes, patched when the data is written.
  memset(r + kLocalCrc, 0, kLocalNameSize - kLocalCrc);
  Put16(r + kLocalNameSize, static_cast<uint16_t>(m_fileNameRaw.GetSize()));
  Put16(r + kLocalExtraSize, 0);
  storage.Write(r, kLocalSize);
  WriteField(storage, m_fileNameRaw);
}

bool CZipFileHeader::CheckLocal(CZipStorage& storage, uint32_t ignored) {
  unsigned char r[kLocalSize];
  storage.Seek(storage.m_uBytesBeforeZip + m_uOffset);
  storage.Read(r, kLocalSize);
  if (Get32(r) != kLocalSignature) return false;
  uint16_t flag = Get16(r + kLocalFlag);
  if (!(ignored & checkFlags) && (flag & 0xF) != (m_uFlag & 0xF)) return false;
  uint16_t nameSize = Get16(r + kLocalNameSize);
  uint16_t extraSize = Get16(r + kLocalExtraSize);
  m_uLocalHeaderSize = kLocalSize + nameSize + extraSize;
  // The local extra field is never used, but it must be there.
  storage.Seek(storage.m_uBytesBeforeZip + m_uOffset + kLocalSize + nameSize);
  storage.Skip(extraSize);
  m_uLocalComprSize = Get32(r + kLocalCompr);
  m_uLocalUncomprSize = Get32(r + kLocalUncompr);
  uint16_t method = Get16(r + kLocalMethod);
  if (method == kMethodAes && IsEncrypted()) storage.ThrowError(CZipException::noAES);
  if (!(ignored & checkMethod) && method != m_uMethod) return false;
  if (flag & kFlagDataDescriptor) return true;
  if (!(ignored & checkLocalCRC) && Get32(r + kLocalCrc) != m_uCrc32) return false;
  if (!(ignored & checkSizes) && ((m_uLocalComprSize != 0 && m_uLocalComprSize != m_uComprSize) ||
                                  m_uLocalUncomprSize != m_uUncomprSize)) {
    return false;
  }
  return true;
}
