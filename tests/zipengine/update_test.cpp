// Changing archives in place: removals at every position, additions and
// their header fields, and what other readers (zipfile, unzip) make of the
// result after Close.
#include <ctime>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ZipArchive.h"
#include "damage_util.h"

namespace {

using namespace ziptest;

class UpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    entries_ = {{"chat.xml", TextBytes(3000), 8},
                {"gui/pointer.png", RandomBytes(5000, 3), 0},
                {"skinconfig/ver", "10", 8}};
    path_ = dir_.Sub("u.zip");
    PyZipEntries(dir_, path_, entries_);
  }

  // zipfile's view of the archive (after its testzip) and unzip's verdict.
  // unzip only warns (status 1) about an empty archive or a stub in front.
  void ExpectOthersRead(const std::vector<Entry>& expected, bool stub = false) {
    std::string listing;
    for (const Entry& e : expected) listing += ListingLine(e.name, e.data);
    EXPECT_EQ(PyListing(path_), listing);
    std::string out;
    int rc = RunCommand({"unzip", "-tqq", path_}, &out);
    EXPECT_TRUE(rc == 0 || ((expected.empty() || stub) && rc == 1)) << out;
  }

  std::vector<Entry> entries_;
  std::string path_;
  ScopedTempDir dir_;
};

TEST_F(UpdateTest, RemovingAnEntryMovesTheOnesBehindIt) {
  for (uint16_t victim = 0; victim < 3; victim++) {
    SCOPED_TRACE("remove " + std::to_string(victim));
    PyZipEntries(dir_, path_, entries_);
    std::string before = ReadFileBytes(path_);
    CZipArchive zip;
    ASSERT_TRUE(zip.Open(path_.c_str(), CZipArchive::zipOpen));
    std::vector<uint32_t> offsets;
    for (uint16_t i = 0; i < 3; i++) offsets.push_back(zip.GetFileInfo(i)->m_uOffset);
    uint32_t dataEnd = Get32(before, Find(before, "PK\5\6") + kEndOffset);
    uint32_t length = (victim < 2 ? offsets[victim + 1] : dataEnd) - offsets[victim];
    ASSERT_TRUE(zip.RemoveFile(victim));
    // No directory until Close; the last entry's removal just truncates.
    EXPECT_EQ(fs::file_size(path_), dataEnd - length);
    std::vector<Entry> rest = entries_;
    rest.erase(rest.begin() + victim);
    ASSERT_EQ(zip.GetCount(), 2);
    for (uint16_t i = 0; i < 2; i++) {
      uint16_t old = i < victim ? i : i + 1;
      EXPECT_EQ(zip.GetFileInfo(i)->m_uOffset, offsets[old] - (old > victim ? length : 0));
      EXPECT_EQ(zip.FindFile(rest[i].name.c_str()), i);
      std::string data;
      EXPECT_TRUE(ExtractEntry(zip, i, &data));
      EXPECT_TRUE(data == rest[i].data);
    }
    EXPECT_EQ(zip.FindFile(entries_[victim].name.c_str()), CZipArchive::kNotFound);
    zip.Close();
    ExpectOthersRead(rest);
  }
}

TEST_F(UpdateTest, RemovingTheOnlyEntryLeavesTheEndRecord) {
  PyZipEntries(dir_, path_, {{"only.txt", "just one", 8}});
  CZipArchive zip;
  ASSERT_TRUE(zip.Open(path_.c_str(), CZipArchive::zipOpen));
  ASSERT_TRUE(zip.RemoveFile(0));
  EXPECT_EQ(fs::file_size(path_), 0u);
  EXPECT_FALSE(zip.RemoveFile(0));  // nothing left
  zip.Close();
  EXPECT_EQ(fs::file_size(path_), 22u);
  ExpectOthersRead({});
}

TEST_F(UpdateTest, ChangesAreRefusedWhenTheArchiveCannotChange) {
  CZipArchive zip;
  CZipMemFile mem;
  mem.Write("data!", 5);
  EXPECT_FALSE(zip.RemoveFile(0));
  EXPECT_FALSE(zip.AddNewFile(mem, "x"));
  ASSERT_TRUE(zip.Open(path_.c_str(), CZipArchive::zipOpenReadOnly));
  EXPECT_FALSE(zip.RemoveFile(0));
  EXPECT_FALSE(zip.AddNewFile(mem, "x"));
  zip.Close();
  ASSERT_TRUE(zip.Open(path_.c_str(), CZipArchive::zipOpen));
  EXPECT_FALSE(zip.RemoveFile(3));
  EXPECT_FALSE(zip.RemoveFile(CZipArchive::kNotFound));
  EXPECT_FALSE(zip.AddNewFile(mem, "x", -1, 7, 0));
  ASSERT_TRUE(zip.OpenFile(0));  // an entry open for reading blocks changes
  EXPECT_FALSE(zip.RemoveFile(1));
  EXPECT_FALSE(zip.AddNewFile(mem, "x"));
  zip.CloseFile(nullptr, true);
  zip.Close();
  ExpectOthersRead(entries_);
}

TEST_F(UpdateTest, OpeningForWritingWithoutChangesKeepsEveryByte) {
  std::string before = ReadFileBytes(path_);
  CZipArchive zip;
  ASSERT_TRUE(zip.Open(path_.c_str(), CZipArchive::zipOpen));
  for (uint16_t i = 0; i < zip.GetCount(); i++) EXPECT_TRUE(zip.TestFile(i));
  EXPECT_FALSE(zip.RemoveFile(7));
  EXPECT_EQ(zip.Close(), path_);
  EXPECT_TRUE(ReadFileBytes(path_) == before);
}

TEST_F(UpdateTest, SmallSourcesAreStoredAndNamesGetForwardSlashes) {
  CZipArchive zip;
  ASSERT_TRUE(zip.Open(path_.c_str(), CZipArchive::zipOpen));
  ASSERT_TRUE(AddEntry(zip, "four.bin", "abcd"));
  ASSERT_TRUE(AddEntry(zip, "five.bin", "abcde"));
  ASSERT_TRUE(AddEntry(zip, "gui\\sub\\b.txt", "back slashes"));
  ASSERT_TRUE(AddEntry(zip, "empty.txt", ""));
  EXPECT_EQ(zip.GetFileInfo(3)->m_uMethod, 0);
  EXPECT_EQ(zip.GetFileInfo(4)->m_uMethod, 8);
  EXPECT_EQ(zip.FindFile("gui/sub/b.txt"), 5);
  EXPECT_EQ(zip.GetFileInfo(6)->m_uMethod, 0);
  EXPECT_TRUE(zip.TestFile(6));
  zip.Close();
  std::vector<Entry> all = entries_;
  all.insert(all.end(), {{"four.bin", "abcd", 0}, {"five.bin", "abcde", 8},
                         {"gui/sub/b.txt", "back slashes", 8}, {"empty.txt", "", 0}});
  ExpectOthersRead(all);
  EXPECT_EQ(PyRead(path_, "print([i.compress_type for i in zipfile.ZipFile(path).infolist()][3:])\n"),
            "[0, 8, 8, 0]\n");
}

TEST_F(UpdateTest, ReplacedEntryGoesLastAndIsFoundAtOnce) {
  CZipArchive zip;
  ASSERT_TRUE(zip.Open(path_.c_str(), CZipArchive::zipOpen));
  ASSERT_EQ(zip.FindFile("chat.xml"), 0);  // builds the sorted lookup array
  std::string copy;
  ASSERT_TRUE(ExtractEntry(zip, zip.FindFile("skinconfig/ver"), &copy));
  ASSERT_TRUE(zip.RemoveFile(zip.FindFile("chat.xml")));
  EXPECT_EQ(zip.FindFile("gui/pointer.png"), 0);
  ASSERT_TRUE(AddEntry(zip, "chat.xml", copy));
  EXPECT_EQ(zip.FindFile("chat.xml"), 2);
  EXPECT_EQ(zip.FindFile("skinconfig/ver"), 1);
  std::string data;
  EXPECT_TRUE(ExtractEntry(zip, 2, &data));
  EXPECT_EQ(data, "10");
  zip.Close();
  ExpectOthersRead({entries_[1], entries_[2], {"chat.xml", "10", 8}});
}

TEST_F(UpdateTest, StubInFrontSurvivesUpdates) {
  std::string stub = RandomBytes(100, 9);
  WriteFileBytes(path_, stub + ReadFileBytes(path_));
  CZipArchive zip;
  ASSERT_TRUE(zip.Open(path_.c_str(), CZipArchive::zipOpen));
  ASSERT_TRUE(zip.RemoveFile(0));
  ASSERT_TRUE(AddEntry(zip, "chat.xml", "<chat>new</chat>"));
  zip.Close();
  EXPECT_EQ(ReadFileBytes(path_).substr(0, 100), stub);
  ExpectOthersRead({entries_[1], entries_[2], {"chat.xml", "<chat>new</chat>", 8}}, true);
  ASSERT_TRUE(zip.Open(path_.c_str(), CZipArchive::zipOpen));
  for (uint16_t i = 0; i < 3; i++) EXPECT_TRUE(zip.TestFile(i));
  while (zip.GetCount() > 0) ASSERT_TRUE(zip.RemoveFile(0));
  zip.Close();
  EXPECT_EQ(fs::file_size(path_), 122u);
  EXPECT_EQ(ReadFileBytes(path_).substr(0, 100), stub);
}

TEST_F(UpdateTest, NewEntryHeaderFieldsFollowLevelAndHost) {
  const struct {
    int level;
    int flags;
    int method;
  } levels[] = {{-1, 0, 8}, {1, 6, 8}, {2, 4, 8}, {5, 0, 8}, {8, 2, 8}, {9, 2, 8}, {0, 0, 0},
                {12, 0, 8}};
  CZipArchive zip;
  ASSERT_TRUE(zip.Open(path_.c_str(), CZipArchive::zipOpen));
  time_t now = time(nullptr);
  for (const auto& l : levels) {
    CZipMemFile mem;
    std::string text = TextBytes(700);
    mem.Write(text.data(), static_cast<uint32_t>(text.size()));
    std::string name = "level" + std::to_string(l.level);
    ASSERT_TRUE(zip.AddNewFile(mem, name.c_str(), l.level, 7, 65536));
  }
  zip.Close();
  // Minutes, not seconds: the clock may tick between adding and checking.
  std::string out = PyRead(path_,
                           "for i in zipfile.ZipFile(path).infolist()[3:]:\n"
                           "    print(i.flag_bits, i.compress_type, i.create_version, i.create_system,\n"
                           "          i.extract_version, i.external_attr, i.volume, i.internal_attr,\n"
                           "          len(i.extra), '%d-%d-%d %d:%d' % i.date_time[:5])\n");
  struct tm t = *localtime(&now);
  char date[64];
  snprintf(date, sizeof date, "%d-%d-%d %d:%d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
           t.tm_hour, t.tm_min);
  std::string expected;
  for (const auto& l : levels) {
    expected += std::to_string(l.flags) + " " + std::to_string(l.method) + " 20 3 20 " +
                std::to_string(0100644u << 16) + " 0 0 0 " + date + "\n";
  }
  EXPECT_EQ(out, expected);
}

TEST_F(UpdateTest, NewEntriesTakeTheHostOfTheFirstEntry) {
  PyZip(path_,
        "i = zipfile.ZipInfo('dos.txt', date_time=(2020, 1, 1, 0, 0, 0))\n"
        "i.create_system = 0\n"
        "with zipfile.ZipFile(out, 'w') as z:\n"
        "    z.writestr(i, b'made on DOS')\n");
  CZipArchive zip;
  ASSERT_TRUE(zip.Open(path_.c_str(), CZipArchive::zipOpen));
  ASSERT_TRUE(AddEntry(zip, "new.txt", "added later"));
  EXPECT_EQ(zip.GetFileInfo(1)->GetSystemCompatibility(), 0);
  EXPECT_EQ(zip.GetFileInfo(1)->m_uExternalAttr, 0x20u);
  EXPECT_FALSE(zip.GetFileInfo(1)->IsDirectory());
  zip.Close();
  ExpectOthersRead({{"dos.txt", "made on DOS", 0}, {"new.txt", "added later", 8}});
}

TEST_F(UpdateTest, LayoutsThatAnUpdateWouldBreakAreRefusedUntouched) {
  std::string good = ReadFileBytes(path_);
  // A volume number sorts the first entry last; a size overlaps the next one.
  std::string reordered = good;
  Put16(reordered, Find(good, "PK\1\2") + 34, 1);
  std::string overlapping = good;
  Put32(overlapping, Find(good, "PK\1\2") + kCentralCompr, Get32(good, Find(good, "PK\1\2") + kCentralCompr) + 40);
  for (const std::string& bytes : {reordered, overlapping}) {
    WriteFileBytes(path_, bytes);
    CZipArchive zip;
    ASSERT_TRUE(zip.Open(path_.c_str(), CZipArchive::zipOpen));
    EXPECT_EQ(CodeOf([&] { zip.RemoveFile(1); }), 201);
    EXPECT_EQ(CodeOf([&] { AddEntry(zip, "new.txt", "new entry"); }), 201);
    zip.Close();
    EXPECT_TRUE(ReadFileBytes(path_) == bytes);
  }
}

TEST_F(UpdateTest, TooLongNameIsRefusedAndTheArchiveStaysWhole) {
  CZipArchive zip;
  ASSERT_TRUE(zip.Open(path_.c_str(), CZipArchive::zipOpen));
  std::string name(70000, 'n');
  EXPECT_EQ(CodeOf([&] { AddEntry(zip, name, "data data"); }), 211);
  EXPECT_EQ(zip.GetCount(), 3);
  ASSERT_TRUE(AddEntry(zip, "after.txt", "still works"));
  zip.Close();
  std::vector<Entry> all = entries_;
  all.push_back({"after.txt", "still works", 8});
  ExpectOthersRead(all);
}

}  // namespace
