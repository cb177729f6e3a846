// Archives opened over the caller's files: the caller's handles stay open,
// the source is never written, and OpenForUpdate writes byte for byte what
// the plainest rebuild of the archive gives (update_oracle.h), on every
// archive we can get hold of.
#include <fcntl.h>
#include <unistd.h>

#include "test_util.h"
#include "update_oracle.h"

namespace {

using namespace ziptest;

const time_t kClock = 1600000000;  // new entries get this time
const uint32_t kStamp = ziporacle::UpdateOracle::StampOf(kClock);
const uint32_t kAttributes = ZipFormat::kUnixRegularFileMode << ZipFormat::kUnixModeShift;

// AddNewFile's steps (the program's arguments), at the fixed clock.
bool AddAtClock(CZipArchive& zip, const std::string& name, const std::string& bytes,
                int level = -1) {
  CZipFileHeader templ;
  templ.SetSystemCompatibility(3);
  templ.m_uExternalAttr = kAttributes;
  templ.SetFileName(name.c_str());
  templ.SetTime(kClock);
  if (bytes.size() < 5) level = 0;
  if (!zip.OpenNewFile(templ, level)) return false;
  for (size_t at = 0; at < bytes.size(); at += 65536) {
    zip.WriteNewFile(bytes.data() + at,
                     static_cast<uint32_t>(std::min<size_t>(65536, bytes.size() - at)));
  }
  return zip.CloseNewFile();
}

// Answers as the log shows them: the letter for done, its capital for
// refused, " E<code>" for an exception (which ends the steps).
std::string Answer(char done, int code) {
  if (code > 0) return " E" + std::to_string(code);
  return std::string(1, code == ziporacle::UpdateOracle::kDone ? done : char(toupper(done)));
}

// What the engine answered, as Answer shows it.
template <typename Step>
std::string EngineAnswer(char done, Step step) {
  bool ok = false;
  const int code = CodeOf([&] { ok = step(); });
  return Answer(done, code != -1 ? code : ok ? ziporacle::UpdateOracle::kDone : 0);
}

// Seeded removals (also of entries added just before), additions, the
// program's copies, extractions and tests, on the engine and the oracle;
// the logs say what each answered.
void RunSteps(CZipArchive& zip, ziporacle::UpdateOracle& oracle, uint32_t seed, int steps,
              std::string* got, std::string* expected) {
  std::mt19937 rng(seed);
  auto both = [&](char done, auto step, int predicted) {
    *got += EngineAnswer(done, step);
    *expected += Answer(done, predicted);
    return got->find('E') == std::string::npos && expected->find('E') == std::string::npos;
  };
  for (int step = 0; step < steps; ++step) {
    uint16_t count = zip.GetCount();
    const uint32_t op = rng() % 10, a = rng(), b = rng();
    const size_t sizes[] = {0, 4, 5, 3000, 70000 + a % 999, a % 2 ? 300000u : 17u};
    std::string bytes, name = "new/n" + std::to_string(a % 40);
    bool go = true;
    if (op < 3 && count > 0) {
      const auto index = static_cast<uint16_t>(op == 0 ? count - 1 : a % count);
      go = both(
          'r', [&] { return zip.RemoveFile(index); }, oracle.Remove(index));
    } else if (op < 6) {
      const int levels[] = {-1, 1, 9, 0};
      bytes = RandomBytes(sizes[b % 6], b, a % 2);
      const int level = bytes.size() < 5 ? 0 : levels[a / 7 % 4];
      go = both(
          'a', [&] { return AddAtClock(zip, name, bytes, level); },
          oracle.Add(name, bytes, level, kStamp, kAttributes));
    } else if (op < 8 && count > 0) {
      // A failed extraction leaves bytes that were never written. Reading
      // is the engine's alone: its exceptions stand in both logs.
      bool ok = false;
      const int code =
          CodeOf([&] { ok = ExtractEntry(zip, static_cast<uint16_t>(a % count), &bytes); });
      if (code != -1) {
        *got += Answer('x', code);
        *expected += Answer('x', code);
        return;
      }
      uLong crc = ok ? crc32(0, reinterpret_cast<const Bytef*>(bytes.data()),
                             static_cast<uInt>(bytes.size()))
                     : 0;
      *got += "x" + std::to_string(ok) + ":" + std::to_string(crc);
      *expected += "x" + std::to_string(ok) + ":" + std::to_string(crc);
      const auto to = static_cast<uint16_t>(b % count);
      name = zip.GetFileInfo(to)->GetFileName();
      if (!ok || op == 7 || IsDirName(name) || name.find('\0') != name.npos) continue;
      go = both(
               'r', [&] { return zip.RemoveFile(to); }, oracle.Remove(to)) &&
           both(
               'a', [&] { return AddAtClock(zip, name, bytes); },
               oracle.Add(name, bytes, -1, kStamp, kAttributes));
    } else if (count > 0) {
      const std::string answer =
          EngineAnswer('t', [&] { return zip.TestFile(static_cast<uint16_t>(a % count)); });
      *got += answer;
      *expected += answer;
      go = answer.find('E') == std::string::npos;
    }
    if (!go) return;
  }
}

std::string CloseOutcome(CZipArchive& zip) {
  try {
    zip.Close();
    return "";
  } catch (const CZipException& e) {
    zip.Close(CZipArchive::closeDiscard);
    return " close E" + std::to_string(e.m_iCause);
  }
}

std::string Contents(CZipAbstractFile& file) {
  std::string bytes(static_cast<size_t>(file.GetLength()), '\0');
  file.SeekToBegin();
  bytes.resize(file.Read(bytes.data(), static_cast<uint32_t>(bytes.size())));
  return bytes;
}

// The archive `bytes` changed through OpenForUpdate, over disk files (odd
// seeds: memory files, so that no system copy helps), against the oracle.
void ExpectSameAsOracle(const std::string& bytes, uint32_t seed, int steps) {
  SCOPED_TRACE("seed " + std::to_string(seed));
  ScopedTempDir tmp;
  const std::string source = tmp.Sub("source.zip"), out = tmp.Sub("out.zip");
  WriteFileBytes(source, bytes);
  std::string expected, got, written, sourceAfter;
  CZipFile diskIn, diskOut;
  CZipMemFile memIn(1024), memOut(1024);
  const bool inMemory = seed % 2 == 1;
  if (inMemory) {
    memIn.Write(bytes.data(), static_cast<uint32_t>(bytes.size()));
  } else {
    diskIn.Open(source.c_str(), CZipFile::modeRead, true);
    diskOut.Open(out.c_str(), CZipFile::modeReadWrite | CZipFile::modeCreate, true);
  }
  CZipAbstractFile& in = inMemory ? static_cast<CZipAbstractFile&>(memIn) : diskIn;
  CZipAbstractFile& target = inMemory ? static_cast<CZipAbstractFile&>(memOut) : diskOut;
  {
    CZipArchive zip;
    if (CodeOf([&] { zip.OpenForUpdate(in, target); }) != -1) return;  // read by open_test
    ziporacle::UpdateOracle oracle(bytes, zip);
    RunSteps(zip, oracle, seed, steps, &got, &expected);
    got += CloseOutcome(zip);
    EXPECT_FALSE(!inMemory && (diskIn.IsClosed() || diskOut.IsClosed()));
    written = Contents(target);
    sourceAfter = Contents(in);
    EXPECT_EQ(got, expected);
    if (expected.find('E') == std::string::npos) {
      EXPECT_TRUE(written == oracle.Result()) << "other bytes than the oracle's";
    }
  }
  EXPECT_TRUE(sourceAfter == bytes) << "the source was written";
}

TEST(UpdateOutputTest, SameBytesAsOracleOnEveryWritersArchives) {
  const fs::path dir = ZipFixtures("gen", {});
  uint32_t seed = 1;
  for (const auto& e : fs::directory_iterator(dir)) {
    if (e.path().extension() != ".zip") continue;
    SCOPED_TRACE(e.path().filename().string());
    for (int round = 0; round < 4; ++round) ExpectSameAsOracle(ReadFileBytes(e.path()), seed++, 16);
  }
}

// The system copies the unchanged ranges in calls of a few kilobytes here,
// so each call must go on where the one before stopped, as for an archive
// with more than 1 GiB before its first change.
TEST(UpdateOutputTest, SameBytesAsOracleOnSampleSkins) {
  struct RestoreCopyCalls {
    ~RestoreCopyCalls() { CZipFile::s_copyCalls = {CZipFile::kMaxCopyCall, 0}; }
  } restore;
  CZipFile::s_copyCalls = {4093, 0};
  ScopedTempDir tmp;
  const std::vector<std::string> variants[] = {
      {}, {"--stub", "100"}, {"--filler", "40", "--tool", "zip"}};
  uint32_t seed = 100;
  for (const std::vector<std::string>& options : variants) {
    std::vector<std::string> argv = {Python(), SourceDir() + "/tools/make_skin.py",
                                     tmp.Sub("skin.zip")};
    argv.insert(argv.end(), options.begin(), options.end());
    std::string log;
    ASSERT_EQ(RunCommand(argv, &log), 0) << log;
    for (int round = 0; round < 3; ++round)
      ExpectSameAsOracle(ReadFileBytes(tmp.Sub("skin.zip")), seed++, 30);
  }
#if defined(__linux__)
  EXPECT_GT(CZipFile::s_copyCalls.made, 100u) << "the system copied too little to tell";
#endif
}

// Damaged and odd archives: the same answers, exceptions and bytes.
TEST(UpdateOutputTest, SameAnswersAsOracleOnOddArchives) {
  const fs::path corpus = CorpusDir();
  std::error_code ec;
  uint32_t seed = 1000;
  for (const auto& e : fs::recursive_directory_iterator(corpus, ec)) {
    if (e.path().extension() != ".zip" || fs::file_size(e.path()) > (4u << 20)) continue;
    SCOPED_TRACE(e.path().string());
    for (int round = 0; round < 2; ++round) ExpectSameAsOracle(ReadFileBytes(e.path()), seed++, 8);
  }
  VRD_REQUIRE_CORPUS(seed != 1000);
}

// The caller's handles outlive the archive; exceptions name the caller's path.
TEST(UpdateOutputTest, CallerFilesStayOpenAndNamed) {
  ScopedTempDir tmp;
  const std::string zipPath = tmp.Sub("a.zip"), textPath = tmp.Sub("a.txt");
  Py(zipPath, "with zipfile.ZipFile(path, 'w') as z:\n    z.writestr('a.txt', b'abc' * 100)\n");
  WriteFileBytes(textPath, "not an archive at all, just some text");
  int fd = open(zipPath.c_str(), O_RDONLY), textFd = open(textPath.c_str(), O_RDONLY);
  ASSERT_TRUE(fd != -1 && textFd != -1);
  {
    CZipFile file, text;
    file.Attach(fd, "shown.zip");
    text.Attach(textFd, "shown.txt");
    EXPECT_TRUE(CZipArchive::IsZipArchive(file));
    EXPECT_FALSE(CZipArchive::IsZipArchive(text));
    CZipArchive zip;
    try {
      zip.Open(text);
      ADD_FAILURE() << "opened a text file";
    } catch (const CZipException& e) {
      EXPECT_EQ(e.m_iCause, 220);
      EXPECT_EQ(e.m_szFileName, "shown.txt");
    }
    zip.Close();
    ASSERT_TRUE(zip.Open(file));
    std::string bytes, expected;
    for (int n = 0; n < 100; ++n) expected += "abc";
    EXPECT_TRUE(ExtractEntry(zip, 0, &bytes));
    EXPECT_EQ(bytes, expected);
    EXPECT_FALSE(zip.RemoveFile(0));  // read-only
    EXPECT_EQ(zip.Close(), "shown.zip");
    EXPECT_FALSE(file.IsClosed());
  }
  EXPECT_NE(fcntl(fd, F_GETFD), -1) << "the engine closed the caller's descriptor";
  EXPECT_NE(fcntl(textFd, F_GETFD), -1);
  close(fd);
  close(textFd);
}

// Unchanged, the output is a copy; a memory file serves as output as well.
TEST(UpdateOutputTest, UnchangedArchiveIsCopiedOverLeftovers) {
  ScopedTempDir tmp;
  const std::string path = tmp.Sub("a.zip");
  Py(path, "with zipfile.ZipFile(path, 'w') as z:\n    z.writestr('a.txt', b'abc' * 100)\n");
  CZipFile in;
  in.Open(path.c_str(), CZipFile::modeRead, true);
  CZipMemFile out(1024);
  const std::string leftover(5000, '!');  // longer than the archive: must be cut off
  out.Write(leftover.data(), static_cast<uint32_t>(leftover.size()));
  CZipArchive zip;
  ASSERT_TRUE(zip.OpenForUpdate(in, out));
  EXPECT_FALSE(zip.OpenForUpdate(in, out));  // already open
  EXPECT_EQ(zip.Close(), path);
  EXPECT_TRUE(Contents(out) == ReadFileBytes(path));
}

}  // namespace
