// TestFiles on several threads answers what it answers on one, which is
// TestFile entry by entry: the same outcome, code, path and text for every
// entry, reported in entry order.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

#include "test_util.h"

namespace {

using namespace ziptest;

// Opens `path` read-only from a disk file, as the program does, and tests
// every entry on `threads` threads, splitting even the smallest archive.
std::string TestAll(const std::string& path, unsigned threads) {
  CZipFile file;
  file.Open(path.c_str(), CZipFile::modeRead, true);
  CZipArchive zip;
  if (int code = CodeOf([&] { zip.Open(file); }); code != -1) {
    return "open " + std::to_string(code);
  }
  std::string got;
  uint16_t expected = 0;
  zip.TestFiles(
      [&](uint16_t index, CZipArchive::TestOutcome outcome, const CZipException* e) {
        if (index != expected++) got += "out of order ";
        got += std::to_string(outcome);
        if (e != nullptr)
          got += " " + std::to_string(e->m_iCause) + " " + e->m_szFileName + " " +
                 e->GetErrorDescription();
        got += "\n";
        return true;
      },
      65536, threads, 0);
  return got;
}

void ExpectSameOnThreads(const std::string& path) {
  SCOPED_TRACE(path);
  const std::string one = TestAll(path, 1);
  for (unsigned threads : {2u, 3u}) EXPECT_EQ(TestAll(path, threads), one) << threads << " threads";
}

// Spoils one byte of entry `index`: in the middle of its data, or byte
// `headerByte` of its local header.
void Spoil(const std::string& path, uint16_t index, int headerByte) {
  std::string bytes = ReadFileBytes(path);
  CZipArchive zip;
  zip.Open(path.c_str());
  const CZipFileHeader& h = *zip.GetFileInfo(index);
  size_t at = h.m_uOffset + (headerByte >= 0
                                 ? static_cast<size_t>(headerByte)
                                 : kLocalSize + h.GetRawFileName().GetSize() + h.m_uComprSize / 2);
  zip.Close();
  bytes[at] = static_cast<char>(bytes[at] ^ 0x5A);
  WriteFileBytes(path, bytes);
}

TEST(TestFilesTest, SameAnswersOnEveryWritersAndOddArchives) {
  int files = 0;
  for (const fs::path& dir : {ZipFixtures("gen", {}), CorpusDir()}) {
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(dir, ec)) {
      if (e.path().extension() != ".zip") continue;
      ExpectSameOnThreads(e.path().string());
      files++;
    }
  }
  VRD_REQUIRE_CORPUS(files > 100);
}

// Sample skins (plain, behind a stub from Info-ZIP, of many tiny entries),
// whole and with one entry spoilt in the middle or at the end: its data, the
// signature or the method of its local header.
TEST(TestFilesTest, SameAnswersOnSkinsWithOneDamagedEntry) {
  ScopedTempDir tmp;
  const std::string skin = tmp.Sub("skin.zip");
  const std::vector<std::string> makers[] = {
      {SourceDir() + "/tools/make_skin.py", skin, "--filler", "300", "--filler-size", "3000"},
      {SourceDir() + "/tools/make_skin.py", skin, "--stub", "100", "--filler", "40", "--tool",
       "zip"},
      {SourceDir() + "/bench/make_many_entries.py", skin, "--entries", "64000"}};
  for (const std::vector<std::string>& maker : makers) {
    std::vector<std::string> argv = {Python()};
    argv.insert(argv.end(), maker.begin(), maker.end());
    std::string log;
    ASSERT_EQ(RunCommand(argv, &log), 0) << log;
    const std::string pristine = ReadFileBytes(skin);
    ExpectSameOnThreads(skin);
    CZipArchive zip;
    zip.Open(skin.c_str());
    const uint16_t count = zip.GetCount();
    zip.Close();
    const std::pair<uint16_t, int> damages[] = {
        {count / 2, -1}, {count / 2, 0}, {count - 1, -1}, {count - 1, kLocalMethod}};
    for (const auto& damage : damages) {
      WriteFileBytes(skin, pristine);
      Spoil(skin, damage.first, damage.second);
      ExpectSameOnThreads(skin);
    }
  }
}

// A disk file that counts the system calls made through it.
class CountingFile : public CZipFile {
 public:
  uint64_t Seek(int64_t offset, int origin) override {
    calls++;
    return CZipFile::Seek(offset, origin);
  }
  uint32_t Read(void* buffer, uint32_t count) override {
    calls++;
    return CZipFile::Read(buffer, count);
  }
  uint32_t ReadAt(void* buffer, uint32_t count, uint64_t offset) override {
    calls++;
    return CZipFile::ReadAt(buffer, count, offset);
  }
  std::atomic<int> calls{0};
};

// Opening and testing many small entries costs a few large reads, not a
// seek and a read per entry and record, whether one entry at a time or all.
TEST(TestFilesTest, ManySmallEntriesCostFewReads) {
  ScopedTempDir tmp;
  const std::string skin = tmp.Sub("skin.zip");
  std::string log;
  ASSERT_EQ(
      RunCommand({Python(), SourceDir() + "/bench/make_many_entries.py", skin, "--entries", "5000"},
                 &log),
      0)
      << log;
  for (int way = 0; way < 2; ++way) {
    CountingFile file;
    file.Open(skin.c_str(), CZipFile::modeRead, true);
    CZipArchive zip;
    zip.Open(file);
    int passed = 0;
    for (uint16_t i = 0; way == 0 && i < zip.GetCount(); ++i) passed += zip.TestFile(i);
    if (way == 1) {
      zip.TestFiles(
          [&](uint16_t, CZipArchive::TestOutcome o, const CZipException*) {
            return passed += o == CZipArchive::testPassed, true;
          },
          65536, 2, 0);
    }
    EXPECT_EQ(passed, zip.GetCount());
    EXPECT_LT(file.calls, zip.GetCount() / 10) << (way == 0 ? "TestFile" : "TestFiles");
  }
}

// A disk file whose positioned reads fail on every thread but the one that
// opened it (`failOthers`), and that records which threads read. A thread's
// first read waits until `expected` threads have read (10 s at most), so
// that a loaded machine's late thread still gets work.
class ThreadFile : public CZipFile {
 public:
  ThreadFile(bool failOthers, size_t expected) : failOthers_(failOthers), expected_(expected) {}
  uint32_t ReadAt(void* buffer, uint32_t count, uint64_t offset) override {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      if (threads.insert(std::this_thread::get_id()).second) {
        arrived_.notify_all();
        arrived_.wait_for(lock, std::chrono::seconds(10),
                          [this] { return threads.size() >= expected_; });
      }
    }
    if (failOthers_ && std::this_thread::get_id() != owner_) throw std::bad_alloc();
    return CZipFile::ReadAt(buffer, count, offset);
  }
  std::set<std::thread::id> threads;

 private:
  const bool failOthers_;
  const size_t expected_;
  const std::thread::id owner_ = std::this_thread::get_id();
  std::mutex mutex_;
  std::condition_variable arrived_;
};

// The program's call (threads 0, the default share per thread) on archives
// of 0.5 and 8 MiB of data, entries spoilt all over: as many threads as the
// processors allow, up to 4, once each has its share; a stop asked for by
// the report holds on every path; entries a failing worker left are tested
// by the caller, with the same outcomes.
TEST(TestFilesTest, ThreadsStopsAndFallBackAsTheProgramGetsThem) {
  ScopedTempDir tmp;
  const std::string skin = tmp.Sub("skin.zip");
  const unsigned processors = std::min(ZipPlatform::GetProcessorCount(), 4u);
  for (const char* filler : {"20", "300"}) {
    SCOPED_TRACE(filler);
    std::string log;
    ASSERT_EQ(RunCommand({Python(), SourceDir() + "/tools/make_skin.py", skin, "--filler", filler,
                          "--filler-size", "30000", "--stored"},
                         &log),
              0)
        << log;
    const bool many = std::string(filler) == "300";
    for (uint16_t entry : {7, 100, 200, 290}) {
      if (many || entry < 100) Spoil(skin, entry, -1);
    }
    const std::string one = TestAll(skin, 1);
    for (int way = 0; way < 3; ++way) {  // all reported, stopped at entry 9, workers failing
      ThreadFile file(way == 2, many ? processors : 1u);
      file.Open(skin.c_str(), CZipFile::modeRead, true);
      CZipArchive zip;
      zip.Open(file);
      std::string got;
      zip.TestFiles([&](uint16_t index, CZipArchive::TestOutcome outcome, const CZipException* e) {
        got += std::to_string(outcome);
        if (e != nullptr)
          got += " " + std::to_string(e->m_iCause) + " " + e->m_szFileName + " " +
                 e->GetErrorDescription();
        got += "\n";
        return way != 1 || index < 9;
      });
      size_t firstTen = 0;
      for (int n = 0; n < 10; ++n) firstTen = one.find('\n', firstTen) + 1;
      EXPECT_EQ(got, way == 1 ? one.substr(0, firstTen) : one) << "way " << way;
      EXPECT_TRUE(way != 0 || file.threads.size() == (many ? processors : 1u))
          << file.threads.size();
    }
  }
}

}  // namespace
