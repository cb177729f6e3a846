// CZipArchive: one open ZIP archive file; reading, testing and updating its
// entries. The engine never prints: a plain "no" is a false, 0 or kNotFound
// return, every other failure a CZipException (ZipException.h) that names
// the cause by its code and carries the path of the file involved.
//
// Terms used below:
//   open      - Open or OpenForUpdate succeeded (or threw while reading the
//               directory, see Open) and Close has not run yet;
//   writable  - opened by OpenForUpdate, whose directory could be read;
//   idle      - no entry open for reading (OpenFile) or for writing
//               (OpenNewFile).
//   file errors - the system error number (errno on POSIX, mapped on
//               Windows) of a failing file call, with that file's path.
#ifndef ZIPENGINE_ZIPARCHIVE_H
#define ZIPENGINE_ZIPARCHIVE_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ZipAbstractFile.h"
#include "ZipCentralDir.h"
#include "ZipException.h"
#include "ZipFileHeader.h"
#include "ZipMemFile.h"
#include "ZipSplicedFile.h"
#include "ZipStorage.h"

class CZipCompressor;

class CZipArchive {
 public:
  // How Close ends: writing the result, or dropping every change.
  enum CloseMode { closeWrite, closeDiscard };
  enum { zipCaseDefault = 0, zipCaseSensitive = 1, zipCaseInsensitive = 2 };
  enum { zipsmSafeSmart = 7 };
  static const uint16_t kNotFound = 0xFFFF;

  CZipArchive();
  // Closes an open archive as Close(closeWrite) does, swallowing any
  // exception.
  virtual ~CZipArchive();
  CZipArchive(const CZipArchive&) = delete;  // owns an open file
  CZipArchive& operator=(const CZipArchive&) = delete;

  // Whether the file ends with an end-of-central-directory record (searched
  // in its last 65557 bytes). False for any other file; throws the file
  // errors of opening or reading `path`.
  static bool IsZipArchive(const char* path);
  // The same question about a file the caller opened; its position may
  // move (a disk file is read at offsets and keeps it).
  static bool IsZipArchive(CZipAbstractFile& file);

  // Opens the archive at `path` for reading and reads its central
  // directory. False, changing nothing: already open, or no path.
  // Throws: the file errors of opening it; cdirNotFound when no end record
  // is found; noZip64 for an archive that needs Zip64; badZipFile for an
  // inconsistent end record or directory, two entries at one offset (that
  // one without a path) or a short read.
  // After a throw from reading the directory the archive stays open with
  // the headers read so far, until Close; after a throw from opening the
  // file it stays closed.
  bool Open(const char* path);
  // Opens the archive held in a file the caller opened and keeps owning
  // (Close leaves it open). As Open(path), the exceptions carrying the
  // file's GetFilePath().
  bool Open(CZipAbstractFile& source);
  // Opens the archive in `source` for changes without ever writing to it,
  // the one way to change an archive: Close(closeWrite) writes the whole
  // resulting archive into `output` (an empty, readable and writable file)
  // and forces it to the device, also when nothing changed. Both files stay the caller's and must
  // stay open until Close. False, changing nothing: already open, or `source` is `output`. Throws
  // as Open(path); write errors carry the output's path, the others the source's. After an
  // exception or Close(closeDiscard) the output holds nothing useful.
  bool OpenForUpdate(CZipAbstractFile& source, CZipAbstractFile& output);
  // With `archive`: whether the archive is closed. Without: whether the
  // underlying file is closed. Never throws.
  bool IsClosed(bool archive = true) const;
  // The number of entries; 0 while closed. Never throws.
  uint16_t GetCount() const;
  // The entry at `index` (indices follow the local headers' order in the
  // file); nullptr while closed or for an index not below GetCount().
  // Never throws. The header stays valid until the entry is removed or the
  // archive closes.
  CZipFileHeader* GetFileInfo(uint16_t index);
  // The index of the entry whose name (in this platform's form) equals
  // `name`; kNotFound when there is none, while closed or for no name.
  // zipCaseDefault compares with the platform's case sensitivity; the
  // others force theirs. With `fileNameOnly`, only the part after the last
  // separator is compared. Never throws.
  uint16_t FindFile(const char* name, int caseMode = zipCaseDefault, bool fileNameOnly = false);

  // Opens entry `index` for ReadFile, after comparing its local header
  // with the central record. Requires open and idle.
  // False, changing nothing: not open, not idle, a bad index, or a method
  // other than stored and deflated.
  // Throws badZipFile for a local header that does not match, badPassword
  // for an encrypted entry, memError and file errors. After a throw the
  // archive is still idle.
  bool OpenFile(uint16_t index);
  // Up to `count` bytes of the open entry's data; 0 at its end, when no
  // entry is open for reading, for no buffer or a count of 0.
  // Throws badZipFile for a deflate stream that does not end where its data
  // ends, streamEnd to versionError from inflate, and file errors; the
  // entry stays open (CloseFile(true) releases it).
  uint32_t ReadFile(void* buffer, uint32_t count);
  // Closes the entry open for reading: 1 when all of its data was read,
  // -1 when some was left, 0 when no entry was open for reading. With
  // `afterException` it only releases the entry (1).
  // Throws badCrc when the data read does not match the stored CRC; the
  // archive is idle again before it throws.
  int CloseFile(bool afterException = false);
  // Writes the data of entry `index` into `target` at its position (and,
  // with `rewind`, puts the position back where it was). Requires open and
  // idle.
  // False: a buffer size of 0, a bad index, a directory entry, whatever
  // OpenFile refuses, or data that ended before its stated size (then
  // `target` holds what was read).
  // Throws what OpenFile, ReadFile and CloseFile throw, and the errors of
  // `target`'s Write; after a throw the archive is idle again and `target`
  // holds what was written so far.
  bool ExtractFile(uint16_t index, CZipAbstractFile& target, bool rewind = true,
                   uint32_t bufferSize = 65536);
  // Extracts entry `index` whole into `target` from its start, as every
  // user of the engine reads an entry: the memory file is first set to the
  // size the header claims (when that is at most kMaxPresize: a damaged
  // header claims up to 4 GiB), and is at position 0 afterwards. False and
  // throws as ExtractFile.
  bool ExtractToMemory(uint16_t index, CZipMemFile& target);
  static const uint32_t kMaxPresize = 16u * 1024 * 1024;
  // Reads entry `index` whole and checks it, writing nothing. Requires open
  // and idle. True for a good entry and for a directory without data.
  // False: not open, a buffer size of 0, a bad index, or whatever OpenFile
  // refuses.
  // Throws dirWithSize for a directory entry with data, badZipFile for data
  // that ends before its stated size, and what OpenFile, ReadFile and
  // CloseFile throw; after a throw the archive is idle again.
  bool TestFile(uint16_t index, uint32_t bufferSize = 65536);
  // What TestFile gave for one entry.
  enum TestOutcome { testPassed, testFailed, testThrew, testThrewOther };
  // Receives entry `index`'s outcome, with the CZipException for testThrew
  // (nullptr otherwise); false stops the walk.
  typedef std::function<bool(uint16_t index, TestOutcome outcome, const CZipException* error)>
      TestReport;
  // Tests every entry as TestFile(index, bufferSize) does and reports each
  // outcome in index order, with errno as that test left it. Up to `threads`
  // threads share the work (0: one per processor, at most 4) when the
  // archive is open, idle and read-only from a file that reads at offsets
  // from several threads, and holds at least `minBytesPerThread` compressed
  // bytes per thread; otherwise the entries are tested one after the other
  // as they are reported (nothing, while closed). Either way the outcomes
  // are the same, and no thread outlives the call. Throws std::bad_alloc
  // when it cannot keep its records, and what `report` throws.
  void TestFiles(const TestReport& report, uint32_t bufferSize = 65536, unsigned threads = 0,
                 uint64_t minBytesPerThread = kMinBytesPerTestThread);
  static const uint64_t kMinBytesPerTestThread = uint64_t{1024} * 1024;

  // Removes entry `index`: its bytes, up to the next entry, are left out of
  // what Close writes. Requires writable and idle. `removeData` false only
  // forgets the header.
  // False, changing nothing: not writable, not idle, no entries, or an
  // index not below GetCount().
  // Throws badZipFile, before anything changes, when the entries overlap
  // or run past the directory (cutting them would lose data).
  bool RemoveFile(uint16_t index, bool removeData = true);
  // Appends a new entry named `nameInZip` with the whole content of
  // `source` (read from its start), compressed at `level` (-1: zlib's
  // default, 0: stored; anything outside -1..9 counts as -1; content
  // shorter than 5 bytes is stored when `smartness` asks for it). The
  // entry gets the current local time and the default attributes of the
  // archive's host system. Requires writable and idle.
  // False, changing nothing: a buffer size of 0, no name, not writable, not
  // idle, or 65535 entries.
  // Throws tooBigSize for a source over 4 GiB or an offset past 4 GiB,
  // tooLongData for a name longer than 65535 bytes, badZipFile for
  // overlapping entries (as RemoveFile, before anything changes),
  // streamEnd to versionError from deflate, memError, and file errors of
  // `source` and the archive. After a throw the new entry is dropped whole
  // and the archive is idle; Close still writes a directory of the entries
  // that are complete.
  bool AddNewFile(CZipAbstractFile& source, const char* nameInZip, int level = -1,
                  int smartness = zipsmSafeSmart, uint32_t bufferSize = 65536);
  // The first step of AddNewFile: starts a new entry from the name, time
  // and attributes of `templ` (a name ending in a separator, or directory
  // attributes, make a stored directory entry) and writes its local
  // header; entries are always appended. Requires writable and idle;
  // afterwards the new entry is open for WriteNewFile.
  // False, changing nothing: not writable, not idle, or 65535 entries.
  // Throws as AddNewFile; after a throw no entry is open.
  bool OpenNewFile(CZipFileHeader& templ, int level = -1);
  // Adds `count` bytes to the entry open for writing. False when no entry is
  // open for writing, or for no buffer with a non-zero count.
  // Throws tooBigSize when the entry passes 4 GiB, streamEnd to
  // versionError from deflate, and file errors; the entry stays open
  // (CloseNewFile(true) drops it).
  bool WriteNewFile(const void* buffer, uint32_t count);
  // Finishes the entry open for writing: the rest of the compressed data,
  // then its CRC and sizes into the local header. With `afterException` the
  // entry is dropped whole instead. False when no entry is open for
  // writing.
  // Throws as WriteNewFile; the entry stays open (CloseNewFile(true) drops
  // it).
  bool CloseNewFile(bool afterException = false);

  // One copy of a planned change: the entry named `destination` (if there
  // is one) gives way to a new entry of that name with the content of the
  // entry named `source`, as a remove and AddNewFile at the default level
  // make it. Names as FindFile takes them.
  struct PlannedCopy {
    std::string source, destination;
  };
  // Whether the open archive, changed by the copies in order, can be
  // stored without Zip64, before anything is written: every new entry
  // counts as large as deflate can make its content. Writes nothing; a
  // copy whose source is missing is left out.
  // Throws tooManyFiles for more than 65535 entries, tooBigSize for a new
  // entry larger than 4 GiB or starting past it, or a directory that would
  // start past 4 GiB or be larger.
  void CheckPlannedCopies(const std::vector<PlannedCopy>& copies);

  // Closes the archive. closeWrite finishes an entry open for writing (one
  // open for reading is only released) and, after OpenForUpdate, writes
  // the whole result into the output and forces it to the device (a
  // result that would need Zip64 is refused before the source's bytes are
  // copied); closeDiscard drops any open entry and writes nothing. Returns
  // the archive's path, or "" when already closed.
  // Throws what CloseNewFile throws for an entry still open for writing,
  // tooLongData for a field longer than 65535 bytes, tooBigSize for a
  // directory that would start past 4 GiB or be larger, and file errors.
  // The archive is closed afterwards, also after a throw.
  std::string Close(CloseMode mode = closeWrite);

  // Everything below is the engine's own.
 private:
  enum { openedNothing = 0, openedExtract = -1, openedCompress = 1 };

  void ReadDirectory();
  void ResetArchive();
  void TakeSystemCompatibility();
  bool CanModify() const;
  CZipCompressor& Compressor();
  [[noreturn]] void ThrowError(int code) const;

  void ReleaseReading();
  unsigned TestThreads(unsigned threads, uint64_t minBytesPerThread);
  bool ReportTest(const TestReport& report, uint16_t index, uint32_t bufferSize);
  struct ParallelTest;
  void PlanTestChunks(ParallelTest& test, unsigned threads);
  void RunTestWorkers(ParallelTest& test, uint32_t bufferSize, unsigned threads);
  void MergeTestReports(const ParallelTest& test, const TestReport& report, uint32_t bufferSize);

  bool RemoveAllEntries();
  void BeginChange();
  void CheckEntryLayout(uint64_t dataEnd);
  uint64_t DataEnd();
  uint64_t CutEntry(uint16_t index, uint64_t dataEnd);

  void PrepareNewHeader(CZipFileHeader& header, int& level);
  void StartNewEntry(CZipFileHeader& header, int level);
  void PatchLocalHeader(const CZipFileHeader& header);
  void AbandonNewFile();

  void CloseEntries(bool afterException);
  void WriteOut();
  void ReleaseAll();

  CZipStorage m_storage;
  CZipCentralDir m_centralDir;
  bool m_bCaseSensitive;
  int m_iFileOpened;
  uint8_t m_uArchiveSystCompatib;
  CZipAutoBuffer m_testBuffer;  // TestFile's output, kept between entries
  std::unique_ptr<CZipCompressor> m_pCompressor;
  // The data end for which the entry layout was last found sound (see
  // CheckEntryLayout), or kLayoutUnknown.
  static const uint64_t kLayoutUnknown = UINT64_MAX;
  uint64_t m_uLayoutEnd;
  bool m_bLayoutBeforeAdd;   // the entry being added starts at m_uLayoutEnd
  CZipSplicedFile m_splice;  // the storage's file while writable
};

#endif
