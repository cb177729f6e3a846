// Write failures part way through an update (a file size limit in a forked
// child): thrown with their errno, and Close still closes the archive.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "ZipArchive.h"
#include "damage_util.h"

namespace {

using namespace ziptest;

// Runs `body` in a child process, so that the size limits it sets never
// reach the test process; `body` returns 0 or the number of the failed step.
int InChild(const std::function<int(void)>& body) {
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails with EFBIG
    try { _exit(body()); } catch (...) { _exit(99); }
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void LimitFileSize(rlim_t bytes) {
  struct rlimit limit = {bytes, bytes};
  setrlimit(RLIMIT_FSIZE, &limit);
}

class FaultTest : public ArchiveTest {
 protected:
  void SetUp() override {
    Make({{"a.txt", RandomBytes(4000, 12, true), 8}, {"b.bin", RandomBytes(3000, 5), 0},
          {"c.txt", "third", 8}});
  }
};

TEST_F(FaultTest, FailedAddIsThrownAndDroppedWhole) {
  EXPECT_EQ(InChild([&] {
              LimitFileSize(fs::file_size(path_) + 20000);
              CZipArchive zip;
              zip.Open(path_.c_str(), CZipArchive::zipOpen);
              if (!zip.RemoveFile(0)) return 1;
              if (CodeOf([&] { AddEntry(zip, "big.bin", RandomBytes(300000, 6)); }) != 27) return 2;
              if (zip.GetCount() != 2 || zip.FindFile("big.bin") != CZipArchive::kNotFound) return 3;
              if (!AddEntry(zip, "small.txt", "fits")) return 4;
              zip.Close();  // the directory fits under the limit again
              return zip.IsClosed() ? 0 : 5;
            }),
            0);
  ExpectOthersRead(path_, {entries_[1], entries_[2], {"small.txt", "fits", 0}});
}

TEST_F(FaultTest, FailedCloseStillClosesTheArchive) {
  EXPECT_EQ(InChild([&] {
              CZipArchive zip;
              zip.Open(path_.c_str(), CZipArchive::zipOpen);
              if (!zip.RemoveFile(2)) return 1;
              LimitFileSize(fs::file_size(path_));  // no room for the new directory
              if (CodeOf([&] { zip.Close(); }) != 27) return 2;
              if (!zip.IsClosed() || zip.Close() != "") return 3;
              // The object opens files again; this one lost its directory for good.
              return CodeOf([&] { zip.Open(path_.c_str(), CZipArchive::zipOpenReadOnly); }) == 220 ? 0 : 4;
            }),
            0);
}

}  // namespace
