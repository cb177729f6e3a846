// Opening archives: finding the end record, reading the central directory,
// and lookups; each damaged variant must fail with its one exact code and
// must never be written to afterwards.
#include <chrono>
#include <string>

#include <gtest/gtest.h>

#include "ZipArchive.h"
#include "damage_util.h"

namespace {

using namespace ziptest;

class OpenTest : public ::testing::Test {
 protected:
  // Two deflated entries, a stored one, and a name with a backslash.
  std::string MakeArchive() {
    std::string path = dir_.Sub("a.zip");
    PyZip(path,
          "with zipfile.ZipFile(out, 'w', zipfile.ZIP_DEFLATED) as z:\n"
          "    z.writestr('chat.xml', b'<chat/>' * 50)\n"
          "    z.writestr('gui\\\\pointer_normal.png', b'png' * 10)\n"
          "    z.writestr(zipfile.ZipInfo('skinconfig/ver'), b'10')\n");
    return path;
  }

  std::string Write(const std::string& bytes) {
    std::string path = dir_.Sub("w.zip");
    WriteFileBytes(path, bytes);
    return path;
  }

  // Opens read-write and expects `code`; then the file must be untouched by
  // Close and refuse changes.
  void ExpectOpenFails(const std::string& bytes, int code) {
    std::string path = Write(bytes);
    CZipArchive zip;
    EXPECT_EQ(CodeOf([&] { zip.Open(path.c_str(), CZipArchive::zipOpen); }), code);
    if (!zip.IsClosed()) {
      EXPECT_FALSE(zip.Open(path.c_str(), CZipArchive::zipOpen));
      EXPECT_FALSE(zip.RemoveFile(0));
      CZipMemFile mem;
      EXPECT_FALSE(zip.AddNewFile(mem, "x"));
      zip.Close();
    }
    EXPECT_TRUE(zip.IsClosed());
    EXPECT_EQ(ReadFileBytes(path), bytes);
  }

  std::string EndRecord(uint16_t entries, uint32_t size, uint32_t offset) {
    std::string r("PK\5\6", 4);
    r.resize(22, '\0');
    Put16(r, kEndEntriesHere, entries);
    Put16(r, kEndEntries, entries);
    Put32(r, kEndSize, size);
    Put32(r, kEndOffset, offset);
    return r;
  }

  ScopedTempDir dir_;
};

TEST_F(OpenTest, EmptyArchiveHasNoEntries) {
  std::string path = Write(EndRecord(0, 0, 0));
  EXPECT_TRUE(CZipArchive::IsZipArchive(path.c_str()));
  CZipArchive zip;
  ASSERT_TRUE(zip.Open(path.c_str(), CZipArchive::zipOpenReadOnly));
  EXPECT_EQ(zip.GetCount(), 0);
  EXPECT_EQ(zip.FindFile("chat.xml"), CZipArchive::kNotFound);
  EXPECT_EQ(zip.GetFileInfo(0), nullptr);
  EXPECT_EQ(zip.Close(), path);
  EXPECT_EQ(zip.Close(), "");
}

TEST_F(OpenTest, DamagedEndRecordsAndDirectoriesThrowOneCode) {
  std::string good = ReadFileBytes(MakeArchive());
  size_t end = Find(good, "PK\5\6");
  struct Case {
    const char* what;
    std::string bytes;
    int code;
  };
  std::string dupOffset = good;
  Put32(dupOffset, Find(good, "PK\1\2", 1) + kCentralOffset, Get32(good, Find(good, "PK\1\2") + kCentralOffset));
  std::string badSignature = good;
  badSignature[Find(good, "PK\1\2", 2) + 3] = 9;
  std::string pastEnd = good;
  Put32(pastEnd, end + kEndOffset, Get32(good, end + kEndOffset) + 1);
  std::string countWithoutSize = good;
  Put32(countWithoutSize, end + kEndSize, 0);
  std::string shortRecord = good.substr(0, end + 10);
  std::string zip64 = std::string("PK\6\7", 4) + std::string(16, '\0') + EndRecord(0xFFFF, 0, 0);
  std::string saturatedNoLocator = std::string(20, '\0') + EndRecord(0xFFFF, 0, 0);
  const Case cases[] = {
      {"one entry, directory size 0", EndRecord(1, 0, 0), 201},
      {"two records at one local offset", dupOffset, 201},
      {"central signature", badSignature, 201},
      {"directory past the end record", pastEnd, 201},
      {"entries without directory size", countWithoutSize, 201},
      {"end record cut short", shortRecord, 201},
      {"Zip64 locator", zip64, 221},
      {"saturated count, no locator", saturatedNoLocator, 201},
      {"no end record", "just some text, not an archive", 220},
      {"empty file", "", 220},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ExpectOpenFails(c.bytes, c.code);
  }
}

TEST_F(OpenTest, SameOffsetErrorHasNoFileName) {
  std::string bytes = ReadFileBytes(MakeArchive());
  Put32(bytes, Find(bytes, "PK\1\2", 2) + kCentralOffset, 0);
  std::string path = Write(bytes);
  CZipArchive zip;
  try {
    zip.Open(path.c_str(), CZipArchive::zipOpenReadOnly);
    FAIL() << "opened";
  } catch (const CZipException& e) {
    EXPECT_EQ(e.m_iCause, 201);
    EXPECT_EQ(e.m_szFileName, "");
  }
}

TEST_F(OpenTest, HugeClaimedCountInTinyFileFailsFast) {
  std::string bytes = ReadFileBytes(MakeArchive());
  size_t end = Find(bytes, "PK\5\6");
  Put16(bytes, end + kEndEntriesHere, 65534);
  Put16(bytes, end + kEndEntries, 65534);
  auto start = std::chrono::steady_clock::now();
  ExpectOpenFails(bytes, 201);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST_F(OpenTest, MissingFileAndNonArchive) {
  std::string missing = dir_.Sub("missing.zip");
  CZipArchive zip;
  try {
    zip.Open(missing.c_str(), CZipArchive::zipOpenReadOnly);
    FAIL() << "opened";
  } catch (const CZipException& e) {
    EXPECT_EQ(e.m_iCause, 2);
    EXPECT_EQ(e.m_szFileName, missing);
    errno = e.m_iSystemError;
    EXPECT_EQ(e.GetErrorDescription(), "No such file or directory.");
  }
  EXPECT_TRUE(zip.IsClosed());
  EXPECT_EQ(CodeOf([&] { CZipArchive::IsZipArchive(missing.c_str()); }), 2);
  EXPECT_FALSE(CZipArchive::IsZipArchive(Write("plain text").c_str()));
}

TEST_F(OpenTest, StubInFrontIsSkipped) {
  std::string plain = ReadFileBytes(MakeArchive());
  std::string path = Write(RandomBytes(100, 7) + plain);
  CZipArchive zip;
  ASSERT_TRUE(zip.Open(path.c_str(), CZipArchive::zipOpenReadOnly));
  ASSERT_EQ(zip.GetCount(), 3);
  std::string bytes, expected;
  for (int i = 0; i < 50; i++) expected += "<chat/>";
  EXPECT_TRUE(ExtractEntry(zip, zip.FindFile("chat.xml"), &bytes));
  EXPECT_EQ(bytes, expected);
  for (uint16_t i = 0; i < zip.GetCount(); i++) EXPECT_TRUE(zip.TestFile(i)) << i;
  zip.Close();
}

TEST_F(OpenTest, LongestCommentStillFindsTheEndRecord) {
  std::string path = dir_.Sub("c.zip");
  PyZip(path,
        "with zipfile.ZipFile(out, 'w') as z:\n"
        "    z.writestr('a.txt', b'abc')\n"
        "    z.comment = b'PK' + b'c' * 65533\n");
  CZipArchive zip;
  ASSERT_TRUE(zip.Open(path.c_str(), CZipArchive::zipOpen));
  EXPECT_EQ(zip.GetCount(), 1);
  EXPECT_TRUE(zip.TestFile(0));
  // A change keeps the comment.
  ASSERT_TRUE(AddEntry(zip, "b.txt", "more text"));
  zip.Close();
  EXPECT_EQ(PyRead(path, "print(len(zipfile.ZipFile(path).comment))\n"), "65535\n");
}

TEST_F(OpenTest, LookupsUseStoredOrderAndPlatformNames) {
  CZipArchive zip;
  std::string path = MakeArchive();
  ASSERT_TRUE(zip.Open(path.c_str(), CZipArchive::zipOpenReadOnly));
  EXPECT_EQ(zip.FindFile("chat.xml"), 0);
  EXPECT_EQ(zip.FindFile("gui/pointer_normal.png"), 1);
  EXPECT_EQ(zip.GetFileInfo(1)->GetFileName(), "gui/pointer_normal.png");
  EXPECT_EQ(zip.FindFile("skinconfig/ver"), 2);
  EXPECT_EQ(zip.FindFile("Chat.xml"), CZipArchive::kNotFound);
  EXPECT_EQ(zip.FindFile("Chat.xml", CZipArchive::zipCaseInsensitive), 0);
  EXPECT_EQ(zip.FindFile("ver", CZipArchive::zipCaseDefault, true), 2);
  EXPECT_EQ(zip.FindFile("chat"), CZipArchive::kNotFound);
  EXPECT_EQ(zip.GetFileInfo(CZipArchive::kNotFound), nullptr);
  zip.Close();
  EXPECT_EQ(zip.FindFile("chat.xml"), CZipArchive::kNotFound);
  EXPECT_EQ(zip.GetCount(), 0);
}

TEST_F(OpenTest, HeaderFieldsComeFromTheCentralRecord) {
  std::string path = dir_.Sub("h.zip");
  PyZip(path,
        "i = zipfile.ZipInfo('x.txt', date_time=(2021, 3, 4, 5, 6, 8))\n"
        "i.external_attr = 0o100600 << 16\n"
        "i.create_system = 3\n"
        "i.compress_type = zipfile.ZIP_DEFLATED\n"
        "with zipfile.ZipFile(out, 'w', zipfile.ZIP_DEFLATED) as z:\n"
        "    z.writestr(i, b'hello hello hello')\n");
  CZipArchive zip;
  ASSERT_TRUE(zip.Open(path.c_str(), CZipArchive::zipOpenReadOnly));
  CZipFileHeader* h = zip.GetFileInfo(0);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->m_uMethod, 8);
  EXPECT_EQ(h->m_uUncomprSize, 17u);
  EXPECT_EQ(h->GetSystemCompatibility(), 3);
  EXPECT_EQ(h->m_uExternalAttr, 0100600u << 16);
  EXPECT_EQ(h->m_uModDate, (2021 - 1980) * 512 + 3 * 32 + 4);
  EXPECT_EQ(h->m_uModTime, 5 * 2048 + 6 * 32 + 4);
  EXPECT_FALSE(h->IsDirectory());
  zip.Close();
}

}  // namespace
