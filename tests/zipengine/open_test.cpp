// Opening archives and lookups; each damaged variant must fail with its one
// exact code and must never be written to afterwards.
#include <chrono>
#include <string>

#include <gtest/gtest.h>

#include "ZipArchive.h"
#include "damage_util.h"

namespace {

using namespace ziptest;

class OpenTest : public ArchiveTest {
 protected:
  // Two deflated entries and a stored one whose name has a backslash.
  std::string MakeArchive() {
    Make({{"chat.xml", RandomBytes(350, 13, true), 8}, {"gui\\pointer_normal.png", "png", 0},
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

TEST_F(OpenTest, EmptyArchiveHasNoEntries) {
  WriteFileBytes(path_, EndRecord(0));
  CZipArchive zip;
  EXPECT_TRUE(CZipArchive::IsZipArchive(path_.c_str()));
  ASSERT_TRUE(zip.Open(path_.c_str(), CZipArchive::zipOpenReadOnly));
  EXPECT_EQ(zip.GetCount(), 0);
  EXPECT_EQ(zip.Close(), path_);
  EXPECT_EQ(zip.Close(), "");
}

// After the failed open the object must refuse changes, and Close must leave
// the file as it was.
TEST_F(OpenTest, DamagedEndRecordsAndDirectoriesThrowOneCode) {
  std::string good = MakeArchive();
  size_t end = Find(good, "PK\5\6");
  std::string dupOffset = good, badSignature = good, pastEnd = good, noSize = good, huge = good;
  Put(dupOffset, Find(good, "PK\1\2", 2) + kCentralOffset, 0);
  badSignature[Find(good, "PK\1\2", 2) + 3] = 9;
  Put(pastEnd, end + kEndOffset, Get32(good, end + kEndOffset) + 1);
  Put(noSize, end + kEndSize, 0);
  Put(huge, end + kEndEntriesHere, 0xFFFEFFFE);
  const struct { const char* what; std::string bytes; int code; } cases[] = {
      {"one entry, directory size 0", EndRecord(1), 201},
      {"two records at one local offset", dupOffset, 201},
      {"central signature", badSignature, 201},
      {"directory past the end record", pastEnd, 201},
      {"entries without directory size", noSize, 201},
      {"huge count in a tiny file", huge, 201},
      {"end record cut short", good.substr(0, end + 10), 201},
      {"Zip64 locator", std::string("PK\6\7", 4) + std::string(16, '\0') + EndRecord(0xFFFF), 221},
      {"saturated count, no locator", std::string(20, '\0') + EndRecord(0xFFFF), 201},
      {"no end record", "just some text, not an archive", 220},
      {"empty file", "", 220},
  };
  auto start = std::chrono::steady_clock::now();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFileBytes(path_, c.bytes);
    CZipArchive zip;
    try {
      zip.Open(path_.c_str(), CZipArchive::zipOpen);
      ADD_FAILURE() << "opened";
    } catch (const CZipException& e) {
      EXPECT_EQ(e.m_iCause, c.code);
      EXPECT_EQ(e.m_szFileName, c.bytes == dupOffset ? "" : path_);
    }
    CZipMemFile mem;
    EXPECT_FALSE(zip.RemoveFile(0) || zip.AddNewFile(mem, "x"));
    zip.Close();
    EXPECT_TRUE(zip.IsClosed());
    EXPECT_TRUE(ReadFileBytes(path_) == c.bytes);
  }
  // No loop over a count that the file cannot hold.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST_F(OpenTest, StubInFrontIsSkippedAndLookupsUseStoredNames) {
  WriteFileBytes(path_, RandomBytes(100, 7) + MakeArchive());
  CZipArchive zip;
  ASSERT_TRUE(zip.Open(path_.c_str(), CZipArchive::zipOpenReadOnly));
  ASSERT_EQ(zip.GetCount(), 3);
  const struct { const char* name; int caseMode; bool nameOnly; uint16_t index; } lookups[] = {
      {"gui/pointer_normal.png", CZipArchive::zipCaseDefault, false, 1},
      {"Chat.xml", CZipArchive::zipCaseDefault, false, CZipArchive::kNotFound},
      {"Chat.xml", CZipArchive::zipCaseInsensitive, false, 0},
      {"ver", CZipArchive::zipCaseDefault, true, 2},
      {"chat", CZipArchive::zipCaseDefault, false, CZipArchive::kNotFound},
  };
  for (const auto& l : lookups) EXPECT_EQ(zip.FindFile(l.name, l.caseMode, l.nameOnly), l.index) << l.name;
  for (uint16_t i = 0; i < zip.GetCount(); i++) EXPECT_TRUE(ExtractEntry(zip, i, nullptr)) << i;
}

TEST_F(OpenTest, LongestCommentStillFindsTheEndRecord) {
  Py(path_,
     "with zipfile.ZipFile(path, 'w') as z:\n"
     "    z.writestr('a.txt', b'abc')\n"
     "    z.comment = b'PK' + b'c' * 65533\n");
  CZipArchive zip;
  ASSERT_TRUE(zip.Open(path_.c_str(), CZipArchive::zipOpen));
  EXPECT_EQ(zip.GetCount(), 1);
  EXPECT_TRUE(zip.TestFile(0));
  ASSERT_TRUE(AddEntry(zip, "b.txt", "more text"));  // a change keeps the comment
  zip.Close();
  EXPECT_EQ(Py(path_, "print(len(zipfile.ZipFile(path).comment))\n"), "65535\n");
}

}  // namespace
