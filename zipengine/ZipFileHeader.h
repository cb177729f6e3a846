// One archive entry: the fields of its central directory record, its name,
// extra field and comment, and what was learnt from its local header.
#ifndef ZIPENGINE_ZIPFILEHEADER_H
#define ZIPENGINE_ZIPFILEHEADER_H

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

#include "ZipAutoBuffer.h"
#include "ZipFormat.h"

class CZipStorage;

class CZipFileHeader {
 public:
  // Consistency checks between the local header and the central record;
  // a set of them can be skipped (see CZipCentralDir).
  enum {
    checkCRC = 1,
    checkMethod = 2,
    checkSizes = 4,
    checkLocalCRC = 8,
    checkFlags = 16,
    checkDataDescriptor = 256,
    checkVolumeEntries = 512
  };
  static const uint8_t kNoEncryption = 255;

  CZipFileHeader();
  // Copies every field; the converted name is built again when asked for.
  CZipFileHeader(const CZipFileHeader& other);
  CZipFileHeader& operator=(const CZipFileHeader& other);

  uint16_t m_uVersionMadeBy;  // low byte: version, high byte: host system
  uint16_t m_uVersionNeeded;
  uint16_t m_uFlag;
  uint16_t m_uMethod;
  uint16_t m_uModTime;
  uint16_t m_uModDate;
  uint32_t m_uCrc32;
  uint32_t m_uComprSize;
  uint32_t m_uUncomprSize;
  uint16_t m_uVolumeStart;
  uint16_t m_uInternalAttr;
  uint32_t m_uExternalAttr;
  uint32_t m_uOffset;  // of the local header, relative to the archive start

  // The name in this platform's form, built from the stored bytes on first
  // use. The stored bytes are kept whatever `clearRaw` says: a rewritten
  // central directory repeats them exactly as the local header has them.
  std::string GetFileName(bool clearRaw = true);
  // The same name without a copy, for sorting and lookups.
  const std::string& GetConvertedName();
  // Sets the stored name (new entries and templates).
  void SetFileName(const char* name);
  void SetFileName(const char* bytes, uint32_t size);
  const CZipAutoBuffer& GetRawFileName() const { return m_fileNameRaw; }

  bool IsDirectory() const;
  // Whether the attributes alone say directory (templates of new entries,
  // whose sizes are still 0).
  bool HasDirectoryAttributes() const;
  int GetSystemCompatibility() const { return m_uVersionMadeBy >> 8; }
  void SetSystemCompatibility(int system);
  bool IsEncrypted() const { return (m_uFlag & ZipFormat::kFlagEncrypted) != 0; }
  // Whether a host system's attributes and names are understood at all.
  static bool IsSystemSupported(int system);

  // DOS date and time from local time; 1 January 1980 when it has none.
  void SetTime(time_t when);
  bool HasTime() const { return m_uModDate != 0 || m_uModTime != 0; }

  // Takes the fixed part (46 bytes) of a central record, signature checked
  // by the caller, and returns the lengths of the variable parts.
  void ReadCentralFixed(const unsigned char* record, uint16_t& nameSize, uint16_t& extraSize,
                        uint16_t& commentSize);
  // Writes the central record; returns its size. Throws tooLongData for a field
  // longer than 65535 bytes.
  uint32_t WriteCentral(CZipStorage& storage) const;
  // The size of the central record WriteCentral writes.
  uint64_t CentralSize() const {
    return ZipFormat::kCentralSize + m_fileNameRaw.GetSize() + m_aCentralExtra.GetSize() +
           m_comment.GetSize();
  }
  // Writes the local header of a new entry (sizes and CRC zero until the
  // data is written).
  void WriteLocal(CZipStorage& storage) const;
  // Reads the local header and compares it with this record, skipping the
  // checks in `ignoredChecks`; leaves the storage at the entry's data.
  // False on any mismatch; throws badZipFile for a short
  // read, noAES for an AES-encrypted entry.
  bool CheckLocal(CZipStorage& storage, uint32_t ignoredChecks);

  CZipAutoBuffer m_aCentralExtra;
  CZipAutoBuffer m_comment;
  uint8_t m_uEncryptionMethod;
  uint32_t m_uLocalComprSize;
  uint32_t m_uLocalUncomprSize;
  uint32_t m_uLocalHeaderSize;

 private:
  CZipAutoBuffer m_fileNameRaw;
  // Built on first use: most entries of a large archive are never looked
  // up by name, and an empty string would cost more than the pointer.
  std::unique_ptr<std::string> m_fileName;
};

#endif
