// Changing archives in place: removals, additions and their header fields,
// refusals, and what other readers (zipfile, unzip) make of the result.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ZipArchive.h"
#include "damage_util.h"

namespace {

using namespace ziptest;

class UpdateTest : public ArchiveTest {
 protected:
  void SetUp() override {
    Make({{"chat.xml", RandomBytes(3000, 14, true), 8}, {"gui/pointer.png", RandomBytes(5000, 3), 0},
          {"skinconfig/ver", "10", 8}});
  }
};

// The n-th central record but its local offset: all an update may change.
std::string CentralRecord(std::string b, int n) {
  size_t at = Find(b, "PK\1\2", n);
  Put(b, at + kCentralOffset, 0);
  return b.substr(at, 46 + (Get32(b, at + 28) & 0xFFFF) + (Get32(b, at + 30) & 0xFFFF) +
                          (Get32(b, at + 32) & 0xFFFF));
}

TEST_F(UpdateTest, RemovingAnEntryMovesTheOnesBehindIt) {
  const std::vector<Entry> three = entries_;
  const struct { size_t count; uint16_t victim; } cases[] = {{3, 0}, {3, 1}, {3, 2}, {1, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE("remove " + std::to_string(c.victim) + " of " + std::to_string(c.count));
    Make(std::vector<Entry>(three.begin(), three.begin() + c.count));
    std::string before = ReadFileBytes(path_);
    CZipArchive zip;
    ASSERT_TRUE(zip.Open(path_.c_str(), CZipArchive::zipOpen));
    std::vector<uint32_t> offsets;  // of every entry, then of the end of the data
    for (uint16_t i = 0; i < c.count; i++) offsets.push_back(zip.GetFileInfo(i)->m_uOffset);
    offsets.push_back(Get32(before, Find(before, "PK\5\6") + kEndOffset));
    uint32_t length = offsets[c.victim + 1] - offsets[c.victim];
    ASSERT_TRUE(zip.RemoveFile(c.victim));
    // No directory until Close; the last entry's removal just truncates.
    EXPECT_EQ(fs::file_size(path_), offsets.back() - length);
    std::vector<Entry> rest = entries_;
    rest.erase(rest.begin() + c.victim);
    ASSERT_EQ(zip.GetCount(), rest.size());
    EXPECT_EQ(zip.FindFile(entries_[c.victim].name.c_str()), CZipArchive::kNotFound);
    zip.Close();
    std::string after = ReadFileBytes(path_);
    for (uint16_t i = 0; i < rest.size(); i++) {
      uint16_t old = i < c.victim ? i : i + 1;
      EXPECT_EQ(CentralRecord(after, i), CentralRecord(before, old));
      EXPECT_EQ(Get32(after, Find(after, "PK\1\2", i) + kCentralOffset),
                offsets[old] - (old > c.victim ? length : 0));
    }
    if (rest.empty()) { EXPECT_EQ(after.size(), 22u); }
    ExpectOthersRead(path_, rest, rest.empty());
  }
}

// Refusals, including a name too long for the header (211), leave nothing
// behind: Close writes back the very same bytes.
TEST_F(UpdateTest, RefusedChangesKeepEveryByte) {
  std::string before = ReadFileBytes(path_);
  CZipArchive zip;
  CZipMemFile mem;
  mem.Write("data!", 5);
  ASSERT_TRUE(zip.Open(path_.c_str(), CZipArchive::zipOpenReadOnly));
  EXPECT_FALSE(zip.RemoveFile(0) || zip.AddNewFile(mem, "x"));
  zip.Close();
  ASSERT_TRUE(zip.Open(path_.c_str(), CZipArchive::zipOpen));
  for (uint16_t i = 0; i < zip.GetCount(); i++) EXPECT_TRUE(zip.TestFile(i));
  EXPECT_FALSE(zip.RemoveFile(3) || zip.RemoveFile(CZipArchive::kNotFound) ||
               zip.AddNewFile(mem, "x", -1, 7, 0));
  EXPECT_EQ(CodeOf([&] { AddEntry(zip, std::string(70000, 'n'), "data data"); }), 211);
  EXPECT_EQ(zip.GetCount(), 3);
  ASSERT_TRUE(zip.OpenFile(0));  // an entry open for reading blocks changes
  EXPECT_FALSE(zip.RemoveFile(1) || zip.AddNewFile(mem, "x"));
  zip.CloseFile(nullptr, true);
  EXPECT_EQ(zip.Close(), path_);
  EXPECT_TRUE(ReadFileBytes(path_) == before);
}

// The stub stays through every change; a replaced entry goes last and is
// found at once; sources under 5 bytes are stored.
TEST_F(UpdateTest, ChangesBehindAStub) {
  std::string stub = RandomBytes(100, 9);
  WriteFileBytes(path_, stub + ReadFileBytes(path_));
  CZipArchive zip;
  ASSERT_TRUE(zip.Open(path_.c_str(), CZipArchive::zipOpen));
  ASSERT_EQ(zip.FindFile("chat.xml"), 0);  // builds the sorted lookup array
  ASSERT_TRUE(zip.RemoveFile(0));
  EXPECT_EQ(zip.FindFile("gui/pointer.png"), 0);
  const struct { const char* given; Entry stored; } added[] = {
      {"chat.xml", {"chat.xml", "<chat>new</chat>", 8}},
      {"four.bin", {"four.bin", "abcd", 0}},
      {"five.bin", {"five.bin", "abcde", 8}},
      {"gui\\sub\\b.txt", {"gui/sub/b.txt", "back slashes", 8}},
      {"empty.txt", {"empty.txt", "", 0}},
  };
  std::vector<Entry> all = {entries_[1], entries_[2]};
  for (const auto& a : added) {
    ASSERT_TRUE(AddEntry(zip, a.given, a.stored.data));
    EXPECT_EQ(zip.FindFile(a.stored.name.c_str()), all.size());
    all.push_back(a.stored);
  }
  zip.Close();
  EXPECT_EQ(ReadFileBytes(path_).substr(0, 100), stub);
  ExpectOthersRead(path_, all, true);
  ASSERT_TRUE(zip.Open(path_.c_str(), CZipArchive::zipOpen));
  for (uint16_t i = 0; i < zip.GetCount(); i++) EXPECT_TRUE(zip.TestFile(i));
  while (zip.GetCount() > 0) ASSERT_TRUE(zip.RemoveFile(0));
  zip.Close();
  EXPECT_EQ(fs::file_size(path_), 122u);
  EXPECT_EQ(ReadFileBytes(path_).substr(0, 100), stub);
}

// New entries take the host of the archive's first entry.
TEST_F(UpdateTest, NewEntryHeaderFieldsFollowLevelAndHost) {
  const struct { int level, flags, method; } levels[] = {
      {-1, 0, 8}, {1, 6, 8}, {2, 4, 8}, {5, 0, 8}, {8, 2, 8}, {9, 2, 8}, {0, 0, 0}, {12, 0, 8}};
  const std::string good = ReadFileBytes(path_);
  for (uint8_t host : {3, 0}) {  // in the high byte of the first entry's version made by
    std::string bytes = good;
    Put(bytes, Find(bytes, "PK\1\2") + 5, host, 1);
    WriteFileBytes(path_, bytes);
    CZipArchive zip;
    ASSERT_TRUE(zip.Open(path_.c_str(), CZipArchive::zipOpen));
    std::string text = RandomBytes(700, 14, true), expected;
    for (const auto& l : levels) {
      CZipMemFile mem;
      mem.Write(text.data(), static_cast<uint32_t>(text.size()));
      ASSERT_TRUE(zip.AddNewFile(mem, ("level" + std::to_string(l.level)).c_str(), l.level, 7, 65536));
      expected += std::to_string(l.flags) + " " + std::to_string(l.method) + " 20 " + std::to_string(host) +
                  " 20 " + std::to_string(host == 3 ? 0100644u << 16 : 0x20u) + " 0 0 0 True\n";
    }
    zip.Close();
    // The local time stamp, to the DOS format's two seconds.
    EXPECT_EQ(Py(path_,
                 "import time\n"
                 "for i in zipfile.ZipFile(path).infolist()[3:]:\n"
                 "    print(i.flag_bits, i.compress_type, i.create_version, i.create_system,\n"
                 "          i.extract_version, i.external_attr, i.volume, i.internal_attr, len(i.extra),\n"
                 "          abs(time.time() - time.mktime(i.date_time + (0, 0, -1))) < 5)\n"),
              expected) << "host " << int(host);
  }
}

// Regression (fuzzer): a stray volume number sorts the first entry last, and
// a size can overlap the next entry; moving data would then destroy entries.
TEST_F(UpdateTest, LayoutsThatAnUpdateWouldBreakAreRefusedUntouched) {
  std::string good = ReadFileBytes(path_), reordered = good, overlapping = good;
  size_t central = Find(good, "PK\1\2");
  Put(reordered, central + 34, 1, 2);
  Put(overlapping, central + kCentralCompr, Get32(good, central + kCentralCompr) + 40);
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

}  // namespace
