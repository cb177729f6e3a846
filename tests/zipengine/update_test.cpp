// Changing archives as the program does, checked by other readers (zipfile, unzip).
#include <algorithm>

#include "test_util.h"

namespace {

using namespace ziptest;

// Sets TZ for the test's life (the engine's local time and Python's alike).
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    const char* old = getenv("TZ");
    had_ = old != nullptr;
    old_ = had_ ? old : "";
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (had_) setenv("TZ", old_.c_str(), 1);
    if (!had_) unsetenv("TZ");
    tzset();
  }
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

 private:
  bool had_;
  std::string old_;
};

class UpdateTest : public ArchiveTest {
 protected:
  void SetUp() override {
    Make({{"chat.xml", RandomBytes(3000, 14, true), 8},
          {"gui/pointer.png", RandomBytes(5000, 3), 0},
          {"skinconfig/ver", "10", 8}});
  }
};

// Refusals leave every byte.
TEST_F(UpdateTest, RefusalsKeepEveryByte) {
  const std::string good = ReadFileBytes(path_);
  CZipMemFile mem;
  mem.Write("data!", 5);
  UpdatedArchive update(path_);
  ASSERT_TRUE(update.Open());
  CZipArchive& zip = update.zip;
  EXPECT_FALSE(zip.RemoveFile(3));
  EXPECT_FALSE(zip.RemoveFile(kNotFound));
  EXPECT_FALSE(zip.AddNewFile(mem, "x", -1, 7, 0));
  EXPECT_EQ(CodeOf([&] { AddEntry(zip, std::string(70000, 'n'), "data data"); }),
            CZipException::tooLongData);
  ASSERT_TRUE(zip.OpenFile(0));  // an entry open for reading blocks changes
  EXPECT_FALSE(zip.RemoveFile(1));
  EXPECT_FALSE(zip.AddNewFile(mem, "x"));
  zip.CloseFile(true);
  EXPECT_EQ(update.Close(), path_);
  EXPECT_EQ(ReadFileBytes(path_), good);
}

// Regression (fuzzer): a stray volume number sorts the first entry last, or
// a size reaches into the next entry: moving data would destroy entries, so
// such layouts are refused before any byte changes, down to one byte of
// overlap.
TEST_F(UpdateTest, OverlappingLayoutsAreRefusedUntouched) {
  const std::string good = ReadFileBytes(path_);
  const size_t central = Find(good, "PK\1\2");
  const uint32_t size = Get32(good, central + kCentralCompr);
  auto with = [&](size_t at, uint32_t v, int n) {
    std::string b = good;
    Put(b, at, v, n);
    return b;
  };
  const struct {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"stray volume number", with(central + kCentralVolumeStart, 1, 2)},
      {"one byte into the next entry", with(central + kCentralCompr, size + 1, 4)},
      {"40 bytes into the next entry", with(central + kCentralCompr, size + 40, 4)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFileBytes(path_, c.bytes);
    UpdatedArchive update(path_);
    ASSERT_TRUE(update.Open());
    CZipArchive& zip = update.zip;
    EXPECT_EQ(CodeOf([&] { zip.RemoveFile(1); }), CZipException::badZipFile);
    EXPECT_EQ(CodeOf([&] { AddEntry(zip, "new.txt", "new entry"); }), CZipException::badZipFile);
    EXPECT_EQ(update.Close(), path_);
    EXPECT_EQ(ReadFileBytes(path_), c.bytes);
  }
}

// Entry comments stay through a change, and the rewritten directory's size
// counts them (other readers refuse the archive otherwise).
TEST_F(UpdateTest, EntryCommentsSurviveAChange) {
  Py(path_,
     "with zipfile.ZipFile(path, 'w') as z:\n"
     "    for n in ('a.txt', 'b.txt', 'c.txt'):\n"
     "        i = zipfile.ZipInfo(n, date_time=(2020, 1, 1, 12, 0, 0))\n"
     "        i.comment = b'the comment of ' + n.encode()\n"
     "        z.writestr(i, n.encode() * 40)\n");
  UpdatedArchive update(path_);
  ASSERT_TRUE(update.Open());
  CZipArchive& zip = update.zip;
  ASSERT_TRUE(zip.RemoveFile(0));
  ASSERT_TRUE(AddEntry(zip, "d.txt", "new entry"));
  update.Close();
  auto times40 = [](const std::string& s) {
    std::string r;
    for (int i = 0; i < 40; ++i) r += s;
    return r;
  };
  ExpectOthersRead(
      path_,
      {{"b.txt", times40("b.txt"), 0}, {"c.txt", times40("c.txt"), 0}, {"d.txt", "new entry", 8}});
  EXPECT_EQ(
      Py(path_, "for i in zipfile.ZipFile(path).infolist():\n    print(i.comment.decode())\n"),
      "the comment of b.txt\nthe comment of c.txt\n\n");
}

// The stub stays through every change; a replaced entry goes last and is
// found at once; sources under 5 bytes are stored.
TEST_F(UpdateTest, ChangesBehindAStub) {
  std::string stub = RandomBytes(100, 9), good = ReadFileBytes(path_);
  WriteFileBytes(path_, stub + good);
  UpdatedArchive update(path_);
  ASSERT_TRUE(update.Open());
  CZipArchive& zip = update.zip;
  ASSERT_EQ(zip.FindFile("chat.xml"), 0);  // builds the sorted lookup array
  ASSERT_TRUE(zip.RemoveFile(0));
  EXPECT_EQ(zip.FindFile("gui/pointer.png"), 0);
  std::vector<Entry> all = {entries_[1], entries_[2]},
                     added = {{"chat.xml", "<chat>new</chat>", 8},
                              {"four.bin", "abcd", 0},
                              {"five.bin", "abcde", 8},
                              {"gui\\sub\\b.txt", "back slashes", 8},
                              {"empty.txt", "", 0}};
  for (Entry e : added) {
    ASSERT_TRUE(AddEntry(zip, e.name, e.data));
    std::replace(e.name.begin(), e.name.end(), '\\', '/');
    EXPECT_EQ(zip.FindFile(e.name.c_str()), all.size());
    all.push_back(e);
  }
  update.Close();
  ExpectOthersRead(path_, all, true);
  UpdatedArchive again(path_);
  ASSERT_TRUE(again.Open());
  while (again.zip.GetCount() > 0) ASSERT_TRUE(again.zip.RemoveFile(0));
  again.Close();
  EXPECT_EQ(fs::file_size(path_), 122u);
  EXPECT_EQ(ReadFileBytes(path_).substr(0, 100), stub);
}

// New entries take the host of the archive's first entry; their local
// headers repeat the central fields, and the engine reads them back. The
// time stamp is local time: checked in a zone far from UTC, where the two
// differ.
TEST_F(UpdateTest, NewEntryHeaderFieldsFollowLevelAndHost) {
  const struct {
    int level, flags, method;
  } levels[] = {{-1, 0, 8}, {1, 6, 8}, {2, 4, 8}, {5, 0, 8},
                {8, 2, 8},  {9, 2, 8}, {0, 0, 0}, {12, 0, 8}};
  const std::string good = ReadFileBytes(path_), text = RandomBytes(700, 14, true);
  ScopedTimeZone zone("VRD-9");  // nine hours east of UTC, for this process and Python
  // The host stands in the high byte of the first entry's version made by.
  const struct {
    uint8_t host;
    uint32_t attributes;
  } hosts[] = {{kHostUnix, kUnixRegularFileMode << kUnixModeShift}, {kHostDos, kDosArchive}};
  for (const auto& [host, attributes] : hosts) {
    SCOPED_TRACE(int(host));
    std::string bytes = good, expected;
    Put(bytes, Find(bytes, "PK\1\2") + kCentralVersionMadeBy + 1, host, 1);
    WriteFileBytes(path_, bytes);
    UpdatedArchive update(path_);
    ASSERT_TRUE(update.Open());
    CZipArchive& zip = update.zip;
    for (const auto& l : levels) {
      ASSERT_TRUE(AddEntry(zip, "level" + std::to_string(l.level), text, l.level));
      expected += std::to_string(l.flags) + " " + std::to_string(l.method) + " 20 " +
                  std::to_string(host) + " 20 " + std::to_string(attributes) + " 0 0 0 True\n";
    }
    update.Close();
    EXPECT_EQ(
        Py(path_,
           "import time\nfor i in zipfile.ZipFile(path).infolist()[3:]:\n"
           "  print(i.flag_bits, i.compress_type, i.create_version, i.create_system,\n"
           "    i.extract_version, i.external_attr, i.volume, i.internal_attr, len(i.extra),\n"
           "    abs(time.time() - time.mktime(i.date_time + (0, 0, -1))) < 120)\n"),
        expected);
    // Version needed up to the name length stand in the same order in both.
    const std::string written = ReadFileBytes(path_);
    const size_t fields = kLocalExtraSize - kLocalVersionNeeded;
    for (int n = 3; n < 3 + int(std::size(levels)); ++n) {
      size_t central = Find(written, "PK\1\2", n), local = Get32(written, central + kCentralOffset);
      EXPECT_EQ(written.substr(local + kLocalVersionNeeded, fields),
                written.substr(central + kCentralVersionNeeded, fields))
          << "entry " << n;
    }
    CZipArchive reader;
    ASSERT_TRUE(reader.Open(path_.c_str()));
    for (uint16_t n = 0; n < reader.GetCount(); ++n)
      EXPECT_TRUE(reader.TestFile(n)) << "entry " << n;
    reader.Close();
  }
}

// Moves every entry behind the first one further into the file, behind a
// hole (no disk space), so that the directory starts `room` bytes before
// 4 GiB.
void PushTo4GiB(const std::string& path, uint32_t room) {
  std::string b = ReadFileBytes(path);
  const size_t end = b.rfind("PK\5\6"), second = Find(b, "PK\3\4", 1);
  const uint32_t offset = Get32(b, end + kEndDirOffset);
  const uint64_t gap = (uint64_t{1} << 32) - room - offset;
  for (size_t at = b.find("PK\1\2", offset); at != std::string::npos;
       at = b.find("PK\1\2", at + 1)) {
    const uint32_t local = Get32(b, at + kCentralOffset);
    if (local >= second) Put(b, at + kCentralOffset, static_cast<uint32_t>(local + gap));
  }
  Put(b, end + kEndDirOffset, static_cast<uint32_t>(offset + gap));
  WriteFileBytes(path, b.substr(0, second));
  std::ofstream out(path, std::ios::binary | std::ios::in | std::ios::out);
  out.seekp(static_cast<std::streamoff>(second + gap));
  out.write(b.data() + second, static_cast<std::streamsize>(b.size() - second));
  ASSERT_TRUE(out.good());
}

// A change whose result would need Zip64 is refused before a byte is
// written: planned (counting each new entry as large as deflate can make
// it), and again when Close knows the result, before it copies the source.
TEST_F(UpdateTest, ChangesThatWouldNeedZip64AreRefusedBeforeWriting) {
  using Copies = std::vector<CZipArchive::PlannedCopy>;
  Copies many;
  for (int n = 0; n < 65533; ++n) many.push_back({"skinconfig/ver", "n/" + std::to_string(n)});
  const struct {
    const char* what;
    Copies copies;
    int code;
  } cases[] = {
      {"an entry replaced by a smaller one", {{"skinconfig/ver", "chat.xml"}}, -1},
      {"a replaced entry copied on", {{"skinconfig/ver", "chat.xml"}, {"chat.xml", "x"}}, -1},
      {"a missing source", {{"none", "x"}, {"none", "y"}}, -1},
      {"past 4 GiB by the bound of deflate", {{"gui/pointer.png", "x"}}, CZipException::tooBigSize},
      {"65535 entries", Copies(many.begin(), many.end() - 1), -1},
      {"65536 entries", many, CZipException::tooManyFiles},
  };
  for (uint32_t room : {0u, 3000u}) {  // 0: not pushed, the counts only
    if (room > 0) PushTo4GiB(path_, room);
    CZipArchive reader;
    ASSERT_TRUE(reader.Open(path_.c_str()));
    for (const auto& c : cases) {
      if ((room > 0) == (c.code == CZipException::tooManyFiles || c.copies.size() > 2)) continue;
      SCOPED_TRACE(c.what);
      EXPECT_EQ(CodeOf([&] { reader.CheckPlannedCopies(c.copies); }), c.code);
    }
    reader.Close();
  }
  // Close stops before the copy: the output holds no more than the new entry.
  CZipFile source;
  source.Open(path_.c_str(), CZipFile::modeRead, true);
  CZipMemFile output;
  CZipArchive zip;
  ASSERT_TRUE(zip.OpenForUpdate(source, output));
  ASSERT_TRUE(AddEntry(zip, "x", RandomBytes(7000, 3)));
  EXPECT_EQ(CodeOf([&] { zip.Close(); }), CZipException::tooBigSize);
  EXPECT_LT(output.GetLength(), 8000u);
}

// Names whose hashes share a slot of the name index (FNV-1a, as the
// index hashes them, on 2^17 slots): a run that a removal must close up.
std::vector<std::string> CollidingNames(size_t count) {
  std::map<uint32_t, std::vector<std::string>> bySlot;
  for (uint32_t n = 0;; ++n) {
    const std::string name = "c/" + std::to_string(n);
    uint32_t hash = 2166136261u;
    for (char c : name) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    std::vector<std::string>& names = bySlot[hash & ((1u << 17) - 1)];
    names.push_back(name);
    if (names.size() == count) return names;
  }
}

// Removing any one of names that collide in the index (the first, the
// middle, the last of their run) leaves every other name findable; so do
// entries of a reverse-ordered directory, whose update others read.
TEST_F(UpdateTest, RemovalsKeepEveryOtherNameFindable) {
  const std::vector<std::string> names = CollidingNames(4);
  std::vector<Entry> entries = {{"other.txt", "other", 0}};
  for (const std::string& name : names) entries.push_back({name, name + " data", 8});
  for (size_t removed = 1; removed <= names.size(); ++removed) {
    SCOPED_TRACE(entries[removed].name);
    Make(entries);
    UpdatedArchive update(path_);
    ASSERT_TRUE(update.Open());
    CZipArchive& zip = update.zip;
    ASSERT_EQ(zip.FindFile(entries[removed].name.c_str()), removed);  // builds the index
    ASSERT_TRUE(zip.RemoveFile(static_cast<uint16_t>(removed)));
    for (size_t n = 0; n < entries.size(); ++n) {
      const uint16_t expected = n == removed ? kNotFound : static_cast<uint16_t>(n - (n > removed));
      EXPECT_EQ(zip.FindFile(entries[n].name.c_str()), expected) << entries[n].name;
    }
    update.Close();
  }
}

// A directory that lists its entries in reverse order (as some writers'
// archives do) is updated as one in file order: others read the result.
TEST_F(UpdateTest, ReverseOrderedDirectoryIsUpdated) {
  Py(path_,
     "data = open(path, 'rb').read()\n"
     "end = data.rfind(b'PK\\5\\6')\n"
     "count = int.from_bytes(data[end + 10:end + 12], 'little')\n"
     "at = int.from_bytes(data[end + 16:end + 20], 'little')\n"
     "records = []\n"
     "for _ in range(count):\n"
     "    n, x, c = (int.from_bytes(data[at + k:at + k + 2], 'little') for k in (28, 30, 32))\n"
     "    records.append(data[at:at + 46 + n + x + c])\n"
     "    at += 46 + n + x + c\n"
     "start = int.from_bytes(data[end + 16:end + 20], 'little')\n"
     "open(path, 'wb').write(data[:start] + b''.join(reversed(records)) + data[at:])\n");
  UpdatedArchive update(path_);
  ASSERT_TRUE(update.Open());
  ASSERT_EQ(update.zip.FindFile("gui/pointer.png"), 1);
  ASSERT_TRUE(update.zip.RemoveFile(1));
  ASSERT_TRUE(AddEntry(update.zip, "gui/pointer.png", "new pointer"));
  update.Close();
  ExpectOthersRead(path_, {entries_[0], entries_[2], {"gui/pointer.png", "new pointer", 8}});
}

}  // namespace
