// Write failures part way through an update (a file size limit set in a
// forked child): the error is thrown with its errno, never swallowed, and
// Close still closes the archive, leaving only complete entries behind.
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

// Runs `body` in a child process under a file size limit and returns its
// exit status; the limit must not leak into the test process.
int InChildWithSizeLimit(std::function<int(void)> body) {
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails with EFBIG
    int rc = 90;
    try {
      rc = body();
    } catch (...) {
      rc = 91;
    }
    _exit(rc);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void LimitFileSize(uint64_t bytes) {
  struct rlimit limit = {bytes, bytes};
  setrlimit(RLIMIT_FSIZE, &limit);
}

class FaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    entries_ = {{"a.txt", TextBytes(4000), 8}, {"b.bin", RandomBytes(3000, 5), 0},
                {"c.txt", "third", 8}};
    path_ = dir_.Sub("f.zip");
    PyZipEntries(dir_, path_, entries_);
  }

  std::vector<Entry> entries_;
  std::string path_;
  ScopedTempDir dir_;
};

TEST_F(FaultTest, FailedAddIsThrownAndDroppedWhole) {
  std::string path = path_;
  int rc = InChildWithSizeLimit([&] {
    LimitFileSize(fs::file_size(path) + 20000);
    CZipArchive zip;
    zip.Open(path.c_str(), CZipArchive::zipOpen);
    if (!zip.RemoveFile(0)) return 1;
    int code = CodeOf([&] { AddEntry(zip, "big.bin", RandomBytes(300000, 6)); });
    if (code != 27) return 2;
    if (zip.GetCount() != 2 || zip.FindFile("big.bin") != CZipArchive::kNotFound) return 3;
    if (!AddEntry(zip, "small.txt", "fits")) return 4;
    zip.Close();  // the directory fits under the limit again
    return zip.IsClosed() ? 0 : 5;
  });
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(PyListing(path_), ListingLine("b.bin", entries_[1].data) +
                                  ListingLine("c.txt", "third") + ListingLine("small.txt", "fits"));
}

TEST_F(FaultTest, FailedCloseStillClosesTheArchive) {
  std::string path = path_;
  int rc = InChildWithSizeLimit([&] {
    CZipArchive zip;
    zip.Open(path.c_str(), CZipArchive::zipOpen);
    if (!zip.RemoveFile(2)) return 1;
    // No room left for the new central directory.
    LimitFileSize(fs::file_size(path));
    int code = CodeOf([&] { zip.Close(); });
    if (code != 27) return 2;
    if (!zip.IsClosed()) return 3;
    if (zip.Close() != "") return 4;
    // The object opens files again; this one lost its directory for good.
    LimitFileSize(RLIM_INFINITY);
    if (CodeOf([&] { zip.Open(path.c_str(), CZipArchive::zipOpenReadOnly); }) != 220) return 5;
    zip.Close();
    return 0;
  });
  EXPECT_EQ(rc, 0);
}

}  // namespace
