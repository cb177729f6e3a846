// The archive as OpenForUpdate changes it: a list of pieces, each a range of
// the source file or of new data spooled into the output file, read and
// written like one file. Removing bytes only edits the list; new bytes are
// spooled from the start of the output (no gap to fill before them). WriteOut
// then moves the spool behind the place of the source's bytes and copies
// those, so every byte of the result is written once (new ones twice), and
// from there on the file is the output itself. The source is only read.
#ifndef ZIPENGINE_ZIPSPLICEDFILE_H
#define ZIPENGINE_ZIPSPLICEDFILE_H

#include <cstdint>
#include <string>
#include <vector>

#include "ZipAbstractFile.h"
#include "ZipAutoBuffer.h"

class CZipSplicedFile : public CZipAbstractFile {
 public:
  CZipSplicedFile() = default;
  CZipSplicedFile(const CZipSplicedFile&) = delete;  // refers to the caller's files
  CZipSplicedFile& operator=(const CZipSplicedFile&) = delete;

  // Starts as the whole source; both files stay the caller's. Exceptions of
  // this class carry the source's path.
  void Begin(CZipAbstractFile& source, CZipAbstractFile& output);
  // Forgets both files.
  void End();

  // Drops the bytes [from, to); the bytes behind them move down.
  void Cut(uint64_t from, uint64_t to);
  // Writes the content into the output from offset 0 and cuts the output to
  // its length; afterwards reads and writes go straight to the output.
  void WriteOut();

  bool Open(const char*, uint32_t, bool) override { return false; }
  void Close() override { End(); }
  // Forces the output to the device.
  void Flush() override { m_pOutput->Flush(); }
  uint64_t GetPosition() const override { return m_position; }
  uint64_t Seek(int64_t offset, int origin) override;
  uint64_t GetLength() const override { return m_length; }
  // Only shortens.
  void SetLength(uint64_t length) override;
  std::string GetFilePath() const override { return m_name; }
  bool HasFilePath() const override { return true; }
  uint32_t Read(void* buffer, uint32_t count) override;
  // Over spooled bytes, or appending; never over the source's.
  void Write(const void* buffer, uint32_t count) override;
  bool IsClosed() const override { return m_pSource == nullptr; }

 private:
  // `at` is the offset in the source, or in the output when spooled.
  struct Piece {
    uint64_t at;
    uint64_t length;
    bool spooled;
  };

  // The piece holding `position` (below the length) and the offset into it.
  size_t Locate(uint64_t position, uint64_t& into) const;
  CZipAbstractFile& Backing(const Piece& piece) const {
    return piece.spooled ? *m_pOutput : *m_pSource;
  }
  void Append(const char* data, uint32_t count);
  // Copies `count` bytes from `from` at `fromPos` to the output at `toPos`;
  // `from` may be the output itself, the ranges overlapping.
  void CopyToOutput(CZipAbstractFile& from, uint64_t fromPos, uint64_t toPos, uint64_t count,
                    CZipAutoBuffer& buffer);
  [[noreturn]] void ThrowError(int code) const;

  CZipAbstractFile* m_pSource = nullptr;
  CZipAbstractFile* m_pOutput = nullptr;
  std::string m_name;
  std::vector<Piece> m_pieces;
  uint64_t m_length = 0;
  uint64_t m_position = 0;
  // Spooled data lives in the output below m_spoolEnd, in the order of the
  // pieces; WriteOut moves it to its place behind the source's bytes.
  uint64_t m_spoolEnd = 0;
};

#endif
