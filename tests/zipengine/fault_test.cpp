// Writes failing part way (a file size limit in a forked child): thrown with
// their errno, and Close still closes the archive.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include "test_util.h"

namespace {

using namespace ziptest;

class FaultTest : public ArchiveTest {
 protected:
  void SetUp() override {
    Make({{"a.txt", RandomBytes(4000, 12, true), 8},
          {"b.bin", RandomBytes(3000, 5), 0},
          {"c.txt", "third", 8}});
  }

  // Runs body (0 or the failed step) in a child whose files stop at limit.
  static int InChild(rlim_t limit, const std::function<int(void)>& body) {
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
      struct rlimit rl = {limit, limit};
      signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails with EFBIG
      try {
        _exit(setrlimit(RLIMIT_FSIZE, &rl) == 0 ? body() : 98);
      } catch (...) {
        _exit(99);
      }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  void OpenForChanges(CZipArchive& zip, CZipFile& in, CZipFile& out) {
    in.Open(path_.c_str(), CZipFile::modeRead, true);
    out.Open(out_.c_str(), CZipFile::modeReadWrite | CZipFile::modeCreate, true);
    zip.OpenForUpdate(in, out);
  }

  std::string out_ = dir_.Sub("out.zip");
};

// Through OpenForUpdate into out.zip, whose source must keep every byte.
TEST_F(FaultTest, FailedAddIsThrownAndDroppedWhole) {
  const std::string original = ReadFileBytes(path_);
  EXPECT_EQ(InChild(original.size() + 20000,
                    [&] {
                      CZipArchive zip;
                      CZipFile in, out;
                      OpenForChanges(zip, in, out);
                      if (!zip.RemoveFile(0)) return 1;
                      if (CodeOf([&] { AddEntry(zip, "big.bin", RandomBytes(300000, 6)); }) != 27)
                        return 2;
                      if (zip.GetCount() != 2 || zip.FindFile("big.bin") != kNotFound) return 3;
                      if (!AddEntry(zip, "small.txt", "fits")) return 4;
                      zip.Close();  // the directory fits under the limit again
                      return zip.IsClosed() ? 0 : 5;
                    }),
            0);
  ExpectOthersRead(out_, {entries_[1], entries_[2], {"small.txt", "fits", 0}});
  EXPECT_TRUE(ReadFileBytes(path_) == original);
}

// The kept entries just fit; there is no room for the directory.
TEST_F(FaultTest, FailedCloseStillClosesTheArchive) {
  const std::string original = ReadFileBytes(path_);
  EXPECT_EQ(InChild(Find(original, "PK\3\4", 2),
                    [&] {
                      CZipArchive zip;
                      CZipFile in, out;
                      OpenForChanges(zip, in, out);
                      if (!zip.RemoveFile(2)) return 1;
                      if (CodeOf([&] { zip.Close(); }) != 27) return 2;
                      if (!zip.IsClosed() || zip.Close() != "") return 3;
                      return CodeOf([&] { zip.Open(out_.c_str()); }) == 220 ? 0 : 4;
                    }),
            0);
  EXPECT_TRUE(ReadFileBytes(path_) == original);
}

}  // namespace
