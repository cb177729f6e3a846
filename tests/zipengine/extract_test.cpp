// Reading entries back, and each kind of damage to one entry mapped to one code.
#include <utility>

#include "test_util.h"

namespace {

using namespace ziptest;
using E = CZipException;
const int kBad = E::badZipFile, kCrc = E::badCrc;

class ExtractTest : public ArchiveTest {
 protected:
  void SetUp() override {
    Make({{"empty.txt", "", 0},
          {"four.bin", "abcd", 0},
          {"stored70000.bin", RandomBytes(70000, 1), 0},
          {"text.xml", RandomBytes(20000, 11, true), 8},
          {"noise.bin", RandomBytes(100000, 2), 8},
          {"gui/", "", 0}});
    bytes_ = ReadFileBytes(path_);
  }

  std::string bytes_;
};

TEST_F(ExtractTest, ReadsBackWholeAndInBufferSizedPieces) {
  CZipArchive zip;
  ASSERT_TRUE(zip.Open(path_.c_str()));
  std::string buffer(65536, '\0');
  EXPECT_TRUE(zip.TestFile(5));
  EXPECT_FALSE(ExtractEntry(zip, 5, nullptr));  // a folder has nothing to extract
  ASSERT_TRUE(zip.OpenFile(2));
  EXPECT_FALSE(zip.OpenFile(3));  // one entry at a time
  for (uint32_t piece : {65536u, 4464u, 0u}) EXPECT_EQ(zip.ReadFile(&buffer[0], 65536), piece);
  EXPECT_EQ(zip.CloseFile(), 1);
  CZipMemFile mem;
  EXPECT_TRUE(zip.ExtractFile(1, mem, true, 3));
  EXPECT_EQ(mem.GetLength(), 4u);  // a tiny buffer reads it all
  EXPECT_FALSE(zip.ExtractFile(1, mem, true, 0));
  EXPECT_FALSE(zip.TestFile(99));
}

// Reads of a buffer's size and more go around the read buffer and must
// move on as far as they read: a stored entry of 2.5 MiB read in pieces of
// 1 MiB, from a disk file read at offsets.
TEST(ExtractLargeTest, PiecesPastTheReadBufferMoveOn) {
  ScopedTempDir tmp;
  const std::string path = tmp.Sub("big.zip"), data = RandomBytes(2600000, 4);
  WriteFileBytes(tmp.Sub("big.bin"), data);
  Py(path, "zipfile.ZipFile(path, 'w').write(args[0], 'big.bin')\n", {tmp.Sub("big.bin")});
  CZipFile file;
  file.Open(path.c_str(), CZipFile::modeRead, true);
  CZipArchive zip;
  ASSERT_TRUE(zip.Open(file));
  CZipMemFile mem;
  ASSERT_TRUE(zip.ExtractFile(0, mem, true, 1u << 20));
  std::string bytes(static_cast<size_t>(mem.GetLength()), '\0');
  mem.Read(bytes.data(), static_cast<uint32_t>(bytes.size()));
  EXPECT_TRUE(bytes == data);
  EXPECT_TRUE(zip.TestFile(0, 1u << 20));
}

// Adds delta to a field of the local and/or central record (-1: neither);
// code -1: false without an exception.
TEST_F(ExtractTest, OneDamagedFieldGivesOneCode) {
  const struct {
    const char* what;
    int entry, local, central;
    uint32_t delta;
    int testCode, extractCode;
  } cases[] = {
      {"CRC of a deflated entry", 3, kLocalCrc, kCentralCrc, 1, kCrc, kCrc},
      {"CRC of a stored entry", 2, kLocalCrc, kCentralCrc, 1, kCrc, kCrc},
      {"deflated size claims more data", 3, kLocalUncompr, kCentralUncompr, 10, kBad, -1},
      {"stored size claims more data", 1, kLocalUncompr, kCentralUncompr, 1, kBad, -1},
      {"stored size claims less data", 1, kLocalUncompr, kCentralUncompr, ~0u, kBad, -1},
      {"deflated data past the claimed size", 3, kLocalUncompr, kCentralUncompr, ~9u, kBad, kBad},
      {"compressed size past the end of the file", 4, kLocalCompr, kCentralCompr, 0x7000000, kBad,
       kBad},
      {"unsupported method", 3, kLocalMethod, kCentralMethod, 4, -1, -1},
      {"local signature", 3, 0, -1, 1, kBad, kBad},
      {"local method", 3, kLocalMethod, -1, ~7u, kBad, kBad},
      {"local CRC only", 1, kLocalCrc, -1, 1, kBad, kBad},
      {"local sizes only", 1, kLocalUncompr, -1, 1, kBad, kBad},
      {"local flags", 1, kLocalFlag, -1, 2, kBad, kBad},
      {"local extra runs off the file", 4, kLocalExtraSize, -1, 0xFFFF, kBad, kBad},
      {"encrypted entry", 1, kLocalFlag, kCentralFlag, 1, E::badPassword, E::badPassword},
      {"directory with data", 5, -1, kCentralCompr, 3, E::dirWithSize, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string damaged = bytes_;
    for (auto [sig, field] :
         {std::pair<const char*, int>{"PK\3\4", c.local}, {"PK\1\2", c.central}}) {
      size_t at = field < 0 ? 0 : Find(bytes_, sig, c.entry) + field;
      if (field >= 0) Put(damaged, at, Get32(bytes_, at) + c.delta);
    }
    WriteFileBytes(path_, damaged);
    CZipArchive zip;
    CZipMemFile mem;
    ASSERT_TRUE(zip.Open(path_.c_str()));
    uint16_t entry = static_cast<uint16_t>(c.entry), control = c.entry == 3 ? 4 : 3;
    EXPECT_EQ(CodeOf([&] { EXPECT_FALSE(zip.TestFile(entry)); }), c.testCode);
    EXPECT_TRUE(zip.TestFile(control));  // the failure left nothing open
    EXPECT_EQ(CodeOf([&] { EXPECT_FALSE(zip.ExtractFile(entry, mem, true, 65536)); }),
              c.extractCode);
    // A bad CRC is found only after every byte was written.
    EXPECT_TRUE(c.extractCode != kCrc || mem.GetLength() == entries_[entry].data.size());
    EXPECT_TRUE(ExtractEntry(zip, control, nullptr));
  }
}

TEST_F(ExtractTest, CorruptDeflateDataNeverPasses) {
  size_t local = Find(bytes_, "PK\3\4", 3), start = local + kLocalSize + entries_[3].name.size();
  uint32_t compressed = Get32(bytes_, local + kLocalCompr);
  int dataOrCrc = 0;
  for (uint32_t at = 0; at < compressed; at += compressed / 23 + 1) {
    std::string damaged = bytes_;
    damaged[start + at] ^= 0x55;
    WriteFileBytes(path_, damaged);
    CZipArchive zip;
    ASSERT_TRUE(zip.Open(path_.c_str()));
    // A stream that ends early is short data (badZipFile), not a pass.
    int code = CodeOf([&] { EXPECT_FALSE(zip.TestFile(3)); });
    EXPECT_TRUE(code == E::dataError || code == kCrc || code == kBad || code == E::bufError)
        << code << " at byte " << at;
    dataOrCrc += code == E::dataError || code == kCrc;
    CodeOf([&] { EXPECT_FALSE(ExtractEntry(zip, 3, nullptr)); });
  }
  EXPECT_GT(dataOrCrc, 10);
}

}  // namespace
