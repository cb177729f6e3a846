// Archives opened over the caller's files: the caller's handles stay open,
// the source is never written, and OpenForUpdate writes byte for byte what
// the same steps write when the archive is changed in place (the moving
// algorithm is the reference), on every archive we can get hold of.
#include <fcntl.h>
#include <unistd.h>

#include "test_util.h"

namespace {

using namespace ziptest;

const time_t kClock = 1600000000;  // both runs stamp their new entries alike

// AddNewFile's steps (the program's arguments), at the fixed clock.
bool AddAtClock(CZipArchive& zip, const std::string& name, const std::string& bytes,
                int level = -1) {
  CZipFileHeader templ;
  templ.SetSystemCompatibility(3);
  templ.m_uExternalAttr = ZipFormat::kUnixRegularFileMode << ZipFormat::kUnixModeShift;
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

// Seeded removals (also of entries added just before), additions, the
// program's copies, extractions and tests; the log says what each answered.
std::string RunSteps(CZipArchive& zip, uint32_t seed, int steps) {
  std::mt19937 rng(seed);
  std::string log;
  try {
    for (int step = 0; step < steps; ++step) {
      uint16_t count = zip.GetCount();
      const uint32_t op = rng() % 10, a = rng(), b = rng();
      const size_t sizes[] = {0, 4, 5, 3000, 70000 + a % 999, a % 2 ? 300000u : 17u};
      std::string bytes, name = "new/n" + std::to_string(a % 40);
      if (op < 3 && count > 0) {
        log += zip.RemoveFile(static_cast<uint16_t>(op == 0 ? count - 1 : a % count)) ? "r" : "R";
      } else if (op < 6) {
        const int levels[] = {-1, 1, 9, 0};
        log += AddAtClock(zip, name, RandomBytes(sizes[b % 6], b, a % 2), levels[a / 7 % 4]) ? "a"
                                                                                             : "A";
      } else if (op < 8 && count > 0) {
        // A failed extraction leaves bytes that were never written.
        bool ok = ExtractEntry(zip, static_cast<uint16_t>(a % count), &bytes);
        uLong crc = ok ? crc32(0, reinterpret_cast<const Bytef*>(bytes.data()),
                               static_cast<uInt>(bytes.size()))
                       : 0;
        log += "x" + std::to_string(ok) + ":" + std::to_string(crc);
        CZipFileHeader* to = zip.GetFileInfo(static_cast<uint16_t>(b % count));
        if (!ok || op == 7 || IsDirName(name = to->GetFileName()) || name.find('\0') != name.npos)
          continue;
        log += zip.RemoveFile(static_cast<uint16_t>(b % count)) && AddAtClock(zip, name, bytes)
                   ? "c"
                   : "C";
      } else if (count > 0) {
        log += zip.TestFile(static_cast<uint16_t>(a % count)) ? "t" : "T";
      }
    }
  } catch (const CZipException& e) {
    log += " E" + std::to_string(e.m_iCause);
  }
  return log;
}

std::string CloseOutcome(CZipArchive& zip) {
  try {
    zip.Close();
    return "";
  } catch (const CZipException& e) {
    zip.Close(1);
    return " close E" + std::to_string(e.m_iCause);
  }
}

std::string Contents(CZipAbstractFile& file) {
  std::string bytes(static_cast<size_t>(file.GetLength()), '\0');
  file.SeekToBegin();
  bytes.resize(file.Read(bytes.data(), static_cast<uint32_t>(bytes.size())));
  return bytes;
}

// The archive `bytes` changed in place and through OpenForUpdate, over disk
// files (odd seeds: memory files, so that no system copy helps).
void ExpectSameAsInPlace(const std::string& bytes, uint32_t seed, int steps) {
  SCOPED_TRACE("seed " + std::to_string(seed));
  ScopedTempDir tmp;
  const std::string inPlace = tmp.Sub("in-place.zip"), source = tmp.Sub("source.zip"),
                    out = tmp.Sub("out.zip");
  WriteFileBytes(inPlace, bytes);
  WriteFileBytes(source, bytes);
  std::string expected, got, written, sourceAfter;
  {
    CZipArchive zip;
    int code = CodeOf([&] { zip.Open(inPlace.c_str(), CZipArchive::zipOpen); });
    expected = code != -1 ? "open E" + std::to_string(code) : RunSteps(zip, seed, steps);
    expected += CloseOutcome(zip);
  }
  {
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
    CZipArchive zip;
    int code = CodeOf([&] { zip.OpenForUpdate(in, target); });
    got = code != -1 ? "open E" + std::to_string(code) : RunSteps(zip, seed, steps);
    got += CloseOutcome(zip);
    EXPECT_FALSE(!inMemory && (diskIn.IsClosed() || diskOut.IsClosed()));
    written = Contents(target);
    sourceAfter = Contents(in);
  }
  EXPECT_EQ(got, expected);
  EXPECT_TRUE(sourceAfter == bytes) << "the source was written";
  if (expected.find('E') == std::string::npos) {
    EXPECT_TRUE(written == ReadFileBytes(inPlace)) << "other bytes than in place";
  }
}

TEST(UpdateOutputTest, SameBytesAsInPlaceOnEveryWritersArchives) {
  const fs::path dir = ZipFixtures("gen", {});
  uint32_t seed = 1;
  for (const auto& e : fs::directory_iterator(dir)) {
    if (e.path().extension() != ".zip") continue;
    SCOPED_TRACE(e.path().filename().string());
    for (int round = 0; round < 4; ++round)
      ExpectSameAsInPlace(ReadFileBytes(e.path()), seed++, 16);
  }
}

// The system copies the unchanged ranges in calls of a few kilobytes here,
// so each call must go on where the one before stopped, as for an archive
// with more than 1 GiB before its first change.
TEST(UpdateOutputTest, SameBytesAsInPlaceOnSampleSkins) {
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
      ExpectSameAsInPlace(ReadFileBytes(tmp.Sub("skin.zip")), seed++, 30);
  }
#if defined(__linux__)
  EXPECT_GT(CZipFile::s_copyCalls.made, 100u) << "the system copied too little to tell";
#endif
}

// Damaged and odd archives: the same answers, exceptions and bytes.
TEST(UpdateOutputTest, SameAnswersAsInPlaceOnOddArchives) {
  const fs::path corpus = CorpusDir();
  std::error_code ec;
  uint32_t seed = 1000;
  for (const auto& e : fs::recursive_directory_iterator(corpus, ec)) {
    if (e.path().extension() != ".zip" || fs::file_size(e.path()) > (4u << 20)) continue;
    SCOPED_TRACE(e.path().string());
    for (int round = 0; round < 2; ++round) ExpectSameAsInPlace(ReadFileBytes(e.path()), seed++, 8);
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
