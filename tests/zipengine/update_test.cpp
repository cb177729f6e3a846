// Changing archives in place, checked by other readers (zipfile, unzip).
#include <algorithm>

#include "test_util.h"

namespace {

using namespace ziptest;

class UpdateTest : public ArchiveTest {
 protected:
  void SetUp() override {
    Make({{"chat.xml", RandomBytes(3000, 14, true), 8}, {"gui/pointer.png", RandomBytes(5000, 3), 0},
          {"skinconfig/ver", "10", 8}});
  }
};

// Refusals leave every byte. Regression (fuzzer): a stray volume number sorts
// the first entry last, or a size overlaps the next entry: moving data would
// destroy entries, so such layouts are 201.
TEST_F(UpdateTest, RefusedChangesKeepEveryByte) {
  std::string good = ReadFileBytes(path_), reordered = good, overlapping = good;
  size_t central = Find(good, "PK\1\2");
  Put(reordered, central + 34, 1, 2);
  Put(overlapping, central + kCentralCompr, Get32(good, central + kCentralCompr) + 40);
  CZipMemFile mem;
  mem.Write("data!", 5);
  for (const std::string& bytes : {good, reordered, overlapping}) {
    WriteFileBytes(path_, bytes);
    CZipArchive zip;
    ASSERT_TRUE(zip.Open(path_.c_str(), CZipArchive::zipOpen));
    EXPECT_FALSE(zip.RemoveFile(3) || zip.RemoveFile(kNotFound) || zip.AddNewFile(mem, "x", -1, 7, 0));
    EXPECT_EQ(CodeOf([&] { AddEntry(zip, std::string(70000, 'n'), "data data"); }), 211);
    if (bytes != good) {
      EXPECT_EQ(CodeOf([&] { zip.RemoveFile(1); }), 201);
      EXPECT_EQ(CodeOf([&] { AddEntry(zip, "new.txt", "new entry"); }), 201);
    } else {
      ASSERT_TRUE(zip.OpenFile(0));  // an entry open for reading blocks changes
      EXPECT_FALSE(zip.RemoveFile(1) || zip.AddNewFile(mem, "x"));
      zip.CloseFile(nullptr, true);
    }
    EXPECT_EQ(zip.Close(), path_);
    EXPECT_TRUE(ReadFileBytes(path_) == bytes);
  }
}

// The stub stays through every change; a replaced entry goes last and is
// found at once; sources under 5 bytes are stored.
TEST_F(UpdateTest, ChangesBehindAStub) {
  std::string stub = RandomBytes(100, 9), good = ReadFileBytes(path_);
  WriteFileBytes(path_, stub + good);
  CZipArchive zip;
  ASSERT_TRUE(zip.Open(path_.c_str(), CZipArchive::zipOpen));
  ASSERT_EQ(zip.FindFile("chat.xml"), 0);  // builds the sorted lookup array
  uint32_t removed = zip.GetFileInfo(1)->m_uOffset, dataEnd = Get32(good, good.rfind("PK\5\6") + kEndDirOffset);
  ASSERT_TRUE(zip.RemoveFile(0));
  EXPECT_EQ(fs::file_size(path_), 100 + dataEnd - removed);  // moved at once, no directory until Close
  EXPECT_EQ(zip.FindFile("gui/pointer.png"), 0);
  std::vector<Entry> all = {entries_[1], entries_[2]}, added = {
      {"chat.xml", "<chat>new</chat>", 8}, {"four.bin", "abcd", 0}, {"five.bin", "abcde", 8},
      {"gui\\sub\\b.txt", "back slashes", 8}, {"empty.txt", "", 0}};
  for (Entry e : added) {
    ASSERT_TRUE(AddEntry(zip, e.name, e.data));
    std::replace(e.name.begin(), e.name.end(), '\\', '/');
    EXPECT_EQ(zip.FindFile(e.name.c_str()), all.size());
    all.push_back(e);
  }
  zip.Close();
  ExpectOthersRead(path_, all, true);
  ASSERT_TRUE(zip.Open(path_.c_str(), CZipArchive::zipOpen));
  while (zip.GetCount() > 0) ASSERT_TRUE(zip.RemoveFile(0));
  zip.Close();
  EXPECT_EQ(fs::file_size(path_), 122u);
  EXPECT_EQ(ReadFileBytes(path_).substr(0, 100), stub);
}

// New entries take the host of the archive's first entry.
TEST_F(UpdateTest, NewEntryHeaderFieldsFollowLevelAndHost) {
  const struct { int level, flags, method; } levels[] = {
      {-1, 0, 8}, {1, 6, 8}, {2, 4, 8}, {5, 0, 8}, {8, 2, 8}, {9, 2, 8}, {0, 0, 0}, {12, 0, 8}};
  const std::string good = ReadFileBytes(path_), text = RandomBytes(700, 14, true);
  // The host stands in the high byte of the first entry's version made by.
  const struct { uint8_t host; uint32_t attributes; } hosts[] = {
      {kHostUnix, kUnixRegularFileMode << kUnixModeShift}, {kHostDos, kDosArchive}};
  for (const auto& [host, attributes] : hosts) {
    std::string bytes = good, expected;
    Put(bytes, Find(bytes, "PK\1\2") + 5, host, 1);
    WriteFileBytes(path_, bytes);
    CZipArchive zip;
    ASSERT_TRUE(zip.Open(path_.c_str(), CZipArchive::zipOpen));
    for (const auto& l : levels) {
      ASSERT_TRUE(AddEntry(zip, "level" + std::to_string(l.level), text, l.level));
      expected += std::to_string(l.flags) + " " + std::to_string(l.method) + " 20 " + std::to_string(host) +
                  " 20 " + std::to_string(attributes) + " 0 0 0 True\n";
    }
    zip.Close();
    // The local time stamp, to the DOS format's two seconds.
    EXPECT_EQ(Py(path_, "import time\nfor i in zipfile.ZipFile(path).infolist()[3:]:\n"
                        "  print(i.flag_bits, i.compress_type, i.create_version, i.create_system,\n"
                        "    i.extract_version, i.external_attr, i.volume, i.internal_attr, len(i.extra),\n"
                        "    abs(time.time() - time.mktime(i.date_time + (0, 0, -1))) < 5)\n"),
              expected) << "host " << int(host);
  }
}

}  // namespace
