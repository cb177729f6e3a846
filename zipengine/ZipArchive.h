// CZipArchive: one open ZIP archive file; reading, testing and updating its
// entries in place. The engine never prints: failures are CZipException or a
// plain false / 65535 as documented per operation.
//
// PUBLIC CONTRACT used by the program (src/) and the tests; the engine may add
// private members and helper classes, but these signatures stay.
#ifndef ZIPENGINE_ZIPARCHIVE_H
#define ZIPENGINE_ZIPARCHIVE_H

#include <cstdint>
#include <string>

#include "ZipAbstractFile.h"
#include "ZipException.h"
#include "ZipFileHeader.h"
#include "ZipMemFile.h"
#include "ZipStorage.h"
#include "ZipCentralDir.h"

class CZipArchive {
 public:
  enum OpenMode { zipOpen = 1, zipOpenReadOnly = 3 };
  enum { zipCaseDefault = 0, zipCaseSensitive = 1, zipCaseInsensitive = 2 };
  enum { zipsmSafeSmart = 7 };
  static const uint16_t kNotFound = 0xFFFF;

  CZipArchive();
  virtual ~CZipArchive();
  CZipArchive(const CZipArchive&) = delete;  // owns an open file
  CZipArchive& operator=(const CZipArchive&) = delete;

  static bool IsZipArchive(const char* path);
  bool Open(const char* path, int mode = zipOpen, uint64_t volumeSize = 0);
  bool IsClosed(bool archive = true) const;
  uint16_t GetCount() const;
  CZipFileHeader* GetFileInfo(uint16_t index);
  uint16_t FindFile(const char* name, int caseMode = zipCaseDefault, bool fileNameOnly = false);

  bool OpenFile(uint16_t index);
  uint32_t ReadFile(void* buffer, uint32_t count);
  int CloseFile(const char* path = nullptr, bool afterException = false);
  bool ExtractFile(uint16_t index, CZipAbstractFile& target, bool rewind = true,
                   uint32_t bufferSize = 65536);
  bool TestFile(uint16_t index, uint32_t bufferSize = 65536);

  bool RemoveFile(uint16_t index, bool removeData = true);
  bool AddNewFile(CZipAbstractFile& source, const char* nameInZip, int level = -1,
                  int smartness = zipsmSafeSmart, uint32_t bufferSize = 65536);
  bool OpenNewFile(CZipFileHeader& templ, int level = -1, const char* filePath = nullptr,
                   uint16_t replaceIndex = kNotFound);
  bool WriteNewFile(const void* buffer, uint32_t count);
  bool CloseNewFile(bool afterException = false);

  // Writes the central directory when the archive changed; returns the path,
  // or "" when already closed.
  std::string Close(int afterException = 0, bool updateTimeStamp = false);

  // (private section is the engine's own)
};

#endif
