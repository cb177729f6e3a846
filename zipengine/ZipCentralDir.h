// The in-memory central directory: the entry headers in local-header order,
// the name-sorted array behind FindFile (sorted when first searched), a hash
// index of the names that answers for it while no two names are equal, and
// the end record's information.
// Reads the directory when an archive opens and writes it when a changed
// archive closes.
#ifndef ZIPENGINE_ZIPCENTRALDIR_H
#define ZIPENGINE_ZIPCENTRALDIR_H

#include <cstdint>
#include <memory>
#include <vector>

#include "ZipAutoBuffer.h"
#include "ZipFileHeader.h"
#include "ZipPlatform.h"
#include "ZipStorage.h"

class CZipCentralDir {
 public:
  // What the end record says, and the state of the directory as a whole.
  struct CInfo {
    uint64_t m_uEndOffset = 0;  // absolute position of the end record
    uint16_t m_uThisDisk = 0;
    uint16_t m_uDiskWithCD = 0;
    uint16_t m_uDiskEntriesNo = 0;
    uint16_t m_uEntriesNumber = 0;
    uint32_t m_uSize = 0;
    uint32_t m_uOffset = 0;  // relative to the archive start
    CZipAutoBuffer m_comment;
    bool m_bInArchive = false;  // the file still ends with a valid directory
    bool m_bFindFastEnabled = false;
    bool m_bCaseSensitive = false;  // of the find array as built
    ZipPlatform::ZipNameCompare m_pCompare = nullptr;
  };

  struct CZipFindFast {
    CZipFileHeader* m_pHeader;
    uint16_t m_uIndex;
  };

  static const uint32_t kDefaultIgnoredChecks =
      CZipFileHeader::checkDataDescriptor | CZipFileHeader::checkVolumeEntries;
  static const uint16_t kMaxEntries = 0xFFFF;  // 65535 is "not found", never an index

  CZipCentralDir();
  ~CZipCentralDir();
  CZipCentralDir(const CZipCentralDir&) = delete;  // owns the headers
  CZipCentralDir& operator=(const CZipCentralDir&) = delete;

  // Binds to a storage and forgets everything (ignored checks back to the
  // default, empty arrays, fresh info).
  void Init(CZipStorage* storage);
  // Finds the end record and reads the directory; throws cdirNotFound,
  // noZip64 or badZipFile (see CZipArchive::Open).
  void Read();
  // Searches the last 65557 bytes of the file for the end record.
  static bool LocateEndRecord(CZipStorage& storage, uint64_t& offset);
  // Frees headers, find array and info.
  void Close();

  // Writes the directory and end record at the end of the file, unless the
  // file still holds an unchanged one; true when it wrote.
  bool Write();
  // Throws tooBigSize when a directory written at `offset` (relative to the
  // archive start) would start past 4 GiB or be larger.
  void CheckFits(uint64_t offset) const;
  // Before the first change: truncates the old directory away so that the
  // file ends after the last entry's data.
  void RemoveFromDisk();

  uint16_t GetCount() const { return static_cast<uint16_t>(m_headers.size()); }
  CZipFileHeader* GetHeader(uint16_t index) const {
    return index < m_headers.size() ? m_headers[index] : nullptr;
  }
  // Appends a copy of the template and files it in the find array.
  CZipFileHeader* AddHeader(const CZipFileHeader& templ);
  // Drops one header (its memory goes at Close); later indices move down
  // by one.
  void RemoveHeader(uint16_t index);
  void RemoveAllHeaders();

  uint16_t FindFile(const char* name, int caseMode, bool fileNameOnly, bool archiveCase);

  uint32_t m_uIgnoredChecks;
  CZipFileHeader* m_pOpenedFile;
  CInfo m_info;

 private:
  void ReadEndRecord();
  void CheckForZip64();
  void CheckEndRecord();
  void ReadHeaders();
  void SortHeaders();
  void WriteEndRecord();

  // Sets the order of the find array; it is sorted when next searched.
  void BuildFindFastArray(bool caseSensitive);
  void SortFindFastArray();
  void InsertFindFast(CZipFileHeader* header, uint16_t index);
  // What a binary search of the find array answers.
  uint16_t SearchSorted(const char* name);
  uint16_t BinarySearch(const char* name);
  bool UseNameIndex();
  void BuildNameIndex();
  // Files header `index` under its hash; false when an equal name is there.
  bool IndexName(uint16_t index);
  void UnindexName(uint16_t index);
  uint16_t FindIndexed(const char* name) const;
  uint16_t LinearSearch(const char* name, bool caseSensitive, bool fileNameOnly);

  // A new header from the blocks; it stays valid until Close.
  CZipFileHeader* NewHeader();

  std::vector<CZipFileHeader*> m_headers;  // in index order
  std::vector<std::unique_ptr<CZipFileHeader[]>> m_headerBlocks;
  size_t m_uBlock = 0;      // the block NewHeader takes from
  size_t m_uBlockUsed = 0;  // headers handed out of it
  std::vector<CZipFindFast> m_findArray;
  bool m_bFindArraySorted = false;
  enum { nameIndexNone, nameIndexReady, nameIndexUnusable } m_nameIndexState = nameIndexNone;
  std::vector<uint32_t> m_nameHashes;  // per header, in index order
  std::vector<uint16_t> m_nameSlots;   // open addressing: header index + 1, or 0
  CZipStorage* m_pStorage;
};

#endif
