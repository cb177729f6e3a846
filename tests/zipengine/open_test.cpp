// Opening archives and lookups; each damaged variant fails with one code.
#include <chrono>

#include "test_util.h"

namespace {

using namespace ziptest;
using E = CZipException;
const int kBad = E::badZipFile;

class OpenTest : public ArchiveTest {
 protected:
  // Two deflated entries and a stored one whose name has backslashes.
  std::string MakeArchive() {
    Make({{"chat.xml", RandomBytes(350, 13, true), 8},
          {"skin\\gui\\pointer_normal.png", "png", 0},
          {"skinconfig/ver", "10", 8}});
    return ReadFileBytes(path_);
  }

  // The end record of an archive without a directory that claims `entries`.
  static std::string EndRecord(uint16_t entries) {
    std::string r = std::string("PK\5\6", 4) + std::string(18, '\0');
    Put(r, kEndEntriesHere, entries * 0x10001u);  // both counts
    return r;
  }
};

// A change keeps stub and (longest) comment.
TEST_F(OpenTest, FindsTheEndRecordOfEmptyStubbedAndCommentedArchives) {
  Py(path_,
     "with zipfile.ZipFile(path, 'w') as z:\n    z.writestr('a.txt', b'abc')\n"
     "    z.comment = b'PK' + b'c' * 65533\n");
  const std::string commented = ReadFileBytes(path_), stub = RandomBytes(100, 7);
  const struct {
    std::string bytes;
    uint16_t count;
    const char* comment;
  } cases[] = {
      {EndRecord(0), 0, "0\n"}, {commented, 1, "65535\n"}, {stub + MakeArchive(), 3, "0\n"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.count);
    WriteFileBytes(path_, c.bytes);
    EXPECT_TRUE(CZipArchive::IsZipArchive(path_.c_str()));
    UpdatedArchive update(path_);
    ASSERT_TRUE(update.Open());
    CZipArchive& zip = update.zip;
    EXPECT_EQ(zip.GetCount(), c.count);
    for (uint16_t i = 0; i < zip.GetCount(); i++) EXPECT_TRUE(ExtractEntry(zip, i, nullptr)) << i;
    ASSERT_TRUE(AddEntry(zip, "b.txt", "more text"));
    EXPECT_EQ(update.Close(), path_);
    EXPECT_EQ(Py(path_, "print(len(zipfile.ZipFile(path).comment))\n"), c.comment);
  }
  EXPECT_EQ(ReadFileBytes(path_).substr(0, 100), stub);
  CZipArchive zip;
  ASSERT_TRUE(zip.Open(path_.c_str()));
  EXPECT_EQ(zip.FindFile("skin/gui/pointer_normal.png"), 1);  // stored with backslashes
  EXPECT_EQ(zip.FindFile("Chat.xml"), kNotFound);
  EXPECT_EQ(zip.FindFile("chat"), kNotFound);
}

// After the failed open: no changes, and Close leaves the file alone.
TEST_F(OpenTest, DamagedEndRecordsAndDirectoriesThrowOneCode) {
  std::string good = MakeArchive();
  size_t end = good.rfind("PK\5\6");
  auto with = [&](size_t at, uint32_t v, int n = 4) {
    std::string b = good;
    Put(b, at, v, n);
    return b;
  };
  const std::string dupOffset = with(Find(good, "PK\1\2", 2) + kCentralOffset, 0);
  const struct {
    const char* what;
    std::string bytes;
    int code;
    bool named;
  } cases[] = {
      {"one entry, directory size 0", EndRecord(1), kBad, true},
      {"two records at one local offset", dupOffset, kBad, false},
      {"central signature", with(Find(good, "PK\1\2", 2) + 3, 9, 1), kBad, true},
      {"directory past the end record",
       with(end + kEndDirOffset, Get32(good, end + kEndDirOffset) + 1), kBad, true},
      {"entries without directory size", with(end + kEndDirSize, 0), kBad, true},
      {"huge count in a tiny file", with(end + kEndEntriesHere, 0xFFFEFFFE), kBad, true},
      {"end record cut short", good.substr(0, end + 10), kBad, true},
      {"Zip64 locator", std::string("PK\6\7", 4) + std::string(16, '\0') + EndRecord(0xFFFF),
       E::noZip64, true},
      {"saturated count, no locator", std::string(20, '\0') + EndRecord(0xFFFF), kBad, true},
      {"no end record", "just some text, not an archive", E::cdirNotFound, true},
      {"empty file", "", E::cdirNotFound, true},
  };
  auto start = std::chrono::steady_clock::now();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFileBytes(path_, c.bytes);
    UpdatedArchive update(path_);
    CZipArchive& zip = update.zip;
    CZipMemFile mem;
    try {
      update.Open();
      ADD_FAILURE() << "opened";
    } catch (const CZipException& e) {
      EXPECT_EQ(e.m_iCause, c.code);
      EXPECT_EQ(e.m_szFileName, c.named ? path_ : "");
    }
    EXPECT_FALSE(zip.RemoveFile(0));
    EXPECT_FALSE(zip.AddNewFile(mem, "x"));
    zip.Close();
    EXPECT_TRUE(zip.IsClosed());
    EXPECT_EQ(ReadFileBytes(path_), c.bytes);
  }
  // No loop over a count that the file cannot hold.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

// Only writable access without modeNoTruncate empties a file; the create
// flag adds nothing to a read.
TEST(ZipFileOpen, EmptiesOnlyAFileOpenedToWriteWithoutNoTruncate) {
  ScopedTempDir dir;
  const std::string path = dir.Sub("kept.bin");
  const struct {
    const char* what;
    uint32_t flags;
    size_t length;
  } cases[] = {
      {"read", CZipFile::modeRead, 4},
      {"read, create", CZipFile::modeRead | CZipFile::modeCreate, 4},
      {"access 3, create", 3 | CZipFile::modeCreate, 4},
      {"read-write, no truncate", CZipFile::modeReadWrite | CZipFile::modeNoTruncate, 4},
      {"read-write, create, no truncate",
       CZipFile::modeReadWrite | CZipFile::modeCreate | CZipFile::modeNoTruncate, 4},
      {"write", CZipFile::modeWrite, 0},
      {"read-write, create", CZipFile::modeReadWrite | CZipFile::modeCreate, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFileBytes(path, "data");
    CZipFile file;
    ASSERT_TRUE(file.Open(path.c_str(), c.flags, true));
    EXPECT_EQ(file.GetLength(), c.length);
  }
}

}  // namespace
