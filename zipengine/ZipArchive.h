// CZipArchive: one open ZIP archive file; reading, testing and updating its
// entries in place. The engine never prints: failures are CZipException or a
// plain false / 65535 as documented per operation.
//
// PUBLIC CONTRACT used by the program (src/) and the tests; the engine may add
// private members and helper classes, but these signatures stay.
#ifndef ZIPENGINE_ZIPARCHIVE_H
#define ZIPENGINE_ZIPARCHIVE_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ZipAbstractFile.h"
#include "ZipException.h"
#include "ZipFileHeader.h"
#include "ZipMemFile.h"
#include "ZipSplicedFile.h"
#include "ZipStorage.h"
#include "ZipCentralDir.h"

class CZipCompressor;

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
  // The same question about a file the caller opened; its position moves.
  static bool IsZipArchive(CZipAbstractFile& file);
  bool Open(const char* path, int mode = zipOpen, uint64_t volumeSize = 0);
  // Opens the archive held in a file the caller opened and keeps owning
  // (Close leaves it open). Exceptions carry the file's GetFilePath().
  bool Open(CZipAbstractFile& source, int mode = zipOpenReadOnly);
  // Opens the archive in `source` for changes without ever writing to it:
  // Close(0) writes the whole resulting archive into `output` (an empty,
  // readable and writable file) and forces it to the device, also when
  // nothing changed. After an exception or Close(afterException) the output
  // holds nothing useful. Both files stay the caller's and must stay open
  // until Close; write errors carry the output's path, the others the
  // source's.
  bool OpenForUpdate(CZipAbstractFile& source, CZipAbstractFile& output);
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

  // (the engine's own from here)
 private:
  enum { openedNothing = 0, openedExtract = -1, openedCompress = 1 };

  void ReadDirectory();
  void ResetArchive();
  void TakeSystemCompatibility();
  bool CanModify() const;
  CZipCompressor& Compressor();
  [[noreturn]] void ThrowError(int code) const;

  void ReleaseReading();
  bool IsDirectoryWithoutData(const CZipFileHeader& header) const;
  void ReadWholeEntry(uint32_t bufferSize);

  struct RemovalItem;
  bool RemoveAllEntries();
  void BeginChange();
  void CheckEntryLayout(uint64_t dataEnd);
  uint64_t DataEnd();
  void RemoveCollected(std::vector<RemovalItem>& items, uint64_t dataEnd);
  void CutCollected(std::vector<RemovalItem>& items, uint64_t dataEnd);
  void MoveRange(uint64_t from, uint64_t to, uint64_t by, CZipAutoBuffer& buffer);

  void PrepareNewHeader(CZipFileHeader& header, int& level);
  void StartNewEntry(CZipFileHeader& header, int level);
  void PatchLocalHeader(const CZipFileHeader& header);
  void AbandonNewFile();

  void CloseEntries(bool afterException);
  void WriteOut(bool writeDirectory);
  void ReleaseAll();

  CZipStorage m_storage;
  CZipCentralDir m_centralDir;
  bool m_bCaseSensitive;
  int m_iFileOpened;
  uint8_t m_iArchiveSystCompatib;
  CZipAutoBuffer m_pszPassword;
  std::unique_ptr<CZipCompressor> m_pCompressor;
  uint16_t m_uCompressionMethod;
  uint32_t m_iBufferSize;
  bool m_bSeparateOutput;  // opened by OpenForUpdate: the storage's file is m_splice
  CZipSplicedFile m_splice;
};

#endif
