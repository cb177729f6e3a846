// Skin archive access against archives written by Info-ZIP zip: the entry
// operations and their messages, and the rule that a writable run changes the
// archive all at once or not at all.
#include <grp.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <functional>
#include <iterator>
#include <map>
#include <random>
#include <regex>
#include <string>

#include "../zipengine/test_util.h"
#include "SkinCfgProgram.h"

namespace {

namespace fs = std::filesystem;
using Entries = std::map<std::string, std::string>;

void WriteTree(const fs::path& root, const Entries& entries) {
  for (const auto& [name, bytes] : entries) ziptest::WriteFileBytes(root / name, bytes);
}

Entries SampleEntries() {
  std::mt19937 gen(42);
  std::string text(3000, '\0'), big(70000, '\0');
  for (std::string* s : {&text, &big}) {
    for (char& c : *s) c = static_cast<char>(gen());
  }
  Entries e = {{"text", text}, {"lastbyte", text}, {"shorter", text.substr(0, 2999)},
               {"empty", ""}, {"big", big}, {"small1", "one"}, {"small2", "two two"},
               {"small3", "three"}};
  e["lastbyte"].back() ^= 1;
  return e;
}

// Our own source lines and the random part of working file names vary.
std::string Mask(const std::string& text) {
  return std::regex_replace(std::regex_replace(text, std::regex(R"(\[file:\d+\])"), "[file:N]"),
                            std::regex(R"(\.skin\.zip\.\w{6}\n)"), ".skin.zip.RANDOM\n");
}

// Runs body in a forked child, for the limits that hold for a whole process
// (file size, user id); returns its exit code and its output in *output.
int RunInChild(const std::function<int()>& body, std::string* output) {
  fflush(stdout);
  char name[] = "/tmp/vrdfile-out-XXXXXX";
  int fd = mkstemp(name);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fd, 1);
    int code = body();
    fflush(stdout);
    _exit(code);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  close(fd);
  *output = Mask(ziptest::ReadFileBytes(name));
  unlink(name);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool LimitFileSize(rlim_t bytes) {
  signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails with EFBIG
  struct rlimit limit = {bytes, bytes};
  return setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

// Root writes through permission bits; a child that drops to "nobody" does not.
bool BecomeNobody() {
  return geteuid() != 0 || (setgroups(0, nullptr) == 0 && setgid(65534) == 0 && setuid(65534) == 0);
}

class FileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::permissions(tmp.path(), fs::perms(0755));  // reachable for "nobody"
    fs::create_directories(dir);
    ziptest::ScopedTempDir content;  // Info-ZIP zips a folder of the entries
    WriteTree(content.path(), entries);
    std::string out;
    ASSERT_EQ(ziptest::RunCommand({"sh", "-c", "cd \"$0\" && zip -qrDX \"$1\" .",
                                   content.path(), zip}, &out), 0) << out;
    original = ziptest::ReadFileBytes(zip);
    snprintf(prog.zipfilename, sizeof prog.zipfilename, "%s", zip.c_str());
  }
  static std::string Output(const std::function<void()>& step) {
    testing::internal::CaptureStdout();
    step();
    return Mask(testing::internal::GetCapturedStdout());
  }
  void ExpectUnchanged() {
    EXPECT_EQ(ziptest::ReadFileBytes(zip), original) << "archive changed";
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 1) << "working file left";
  }
  // Info-ZIP's test and Python's zipfile both accept the archive and read want.
  void ExpectHolds(const Entries& want) {
    ziptest::ScopedTempDir wanted, got;
    WriteTree(wanted.path(), want);
    std::string text;
    EXPECT_EQ(ziptest::RunCommand({"unzip", "-tqq", zip}, &text), 0) << text;
    EXPECT_EQ(ziptest::RunCommand({ziptest::Python(), "-c", "import sys, zipfile; "
        "z = zipfile.ZipFile(sys.argv[1]); assert z.testzip() is None; z.extractall(sys.argv[2])",
        zip, got.path()}, &text), 0) << text;
    EXPECT_EQ(ziptest::RunCommand({"diff", "-r", wanted.path(), got.path()}, &text), 0) << text;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 1) << "working file left";
  }

  ziptest::ScopedTempDir tmp;
  fs::path dir = tmp.path() / "skins";
  std::string zip = (dir / "skin.zip").string();
  Entries entries = SampleEntries();
  std::string original;
  SkinCfgProgram prog;
};

TEST_F(FileTest, CompareFilesDecidesByBytesAndClearsTheFlagOnFailure) {
  const struct { const char *name1, *name2; bool ok, equal; const char* output; } cases[] = {
      {"text", "text", true, true, ""},
      {"empty", "empty", true, true, ""},
      {"text", "lastbyte", true, false, ""},
      {"text", "shorter", true, false, ""},
      {"text", "nothere", false, false, "ERROR: [file:N] CompareFiles(): file2 not found: nothere\n"},
  };
  ASSERT_TRUE(prog.OpenZip(true));
  for (const auto& c : cases) {
    bool equal = !c.equal;
    EXPECT_EQ(Output([&] { EXPECT_EQ(prog.CompareFiles(c.name1, c.name2, &equal), c.ok); }),
              c.output);
    EXPECT_EQ(equal, c.equal) << c.name1 << " " << c.name2;
  }
}

TEST_F(FileTest, EveryOperationRefusesAClosedArchive) {
  const std::pair<std::string, std::function<bool()>> ops[] = {
      {"FileExists", [&] { return prog.FileExists("text"); }},
      {"CompareFiles", [&] { bool equal; return prog.CompareFiles("text", "text", &equal); }},
      {"CopyFile", [&] { return prog.CopyFile("text", "small1"); }},
      {"ReadVersionFile", [&] { const char* version; return prog.ReadVersionFile(&version); }},
  };
  for (const auto& op : ops) {
    EXPECT_EQ(Output([&] { EXPECT_FALSE(op.second()); }),
              "ERROR: [file:N] " + op.first + "(): The archive is closed: " + zip + "\n");
  }
}

// Through a symbolic link, which must stay one.
TEST_F(FileTest, SeriesOfCopiesIsCommittedByCloseZip) {
  const fs::path link = tmp.path() / "link.zip";
  fs::create_symlink(zip, link);
  snprintf(prog.zipfilename, sizeof prog.zipfilename, "%s", link.c_str());
  fs::permissions(zip, fs::perms(0640));
  ASSERT_TRUE(prog.OpenZip(false));
  EXPECT_EQ(Output([&] {
              EXPECT_TRUE(prog.CopyFile("big", "small1"));
              EXPECT_TRUE(prog.CopyFile("empty", "small2"));
              EXPECT_TRUE(prog.CopyFile("text", "new/entry.xml"));
              EXPECT_TRUE(prog.FileExists("new/entry.xml"));
              EXPECT_FALSE(prog.CopyFile("nothere", "small3"));  // changes nothing
            }),
            "WARNING: CopyFile(): Destination file does not exist: new/entry.xml\n"
            "ERROR: [file:N] CopyFile(): Source file not found: nothere\n");
  EXPECT_EQ(ziptest::ReadFileBytes(zip), original) << "changed before the commit";
  ASSERT_TRUE(prog.CloseZip());

  EXPECT_EQ(fs::read_symlink(link), fs::path(zip));
  EXPECT_EQ(fs::status(zip).permissions(), fs::perms(0640));
  Entries want = entries;
  want["small1"] = want["big"];
  want["small2"] = "";
  want["new/entry.xml"] = want["text"];
  ExpectHolds(want);
}

// A series of copies that is discarded, or where the disk fills up while the
// working copy is made, in the middle of the copies, or while CloseZip writes
// the central directory. A failed copy alone must prevent the commit.
TEST_F(FileTest, DiscardOrWriteFailureChangesNothing) {
  enum Stage { kNever, kCreate, kCopy, kClose };
  const std::string copyFailed =
      "ERROR: [file:N] CopyFile(): Processing file: " + zip + "\nFile too large.\n";
  const struct { Stage stage; bool discard; std::string output; } cases[] = {
      {kNever, true, ""},
      {kCreate, false, "ERROR: [file:N] OpenZip(): Could not create working copy: " +
                           dir.string() + "/.skin.zip.RANDOM\nFile too large\n"},
      {kCopy, true, copyFailed},
      {kCopy, false, copyFailed},
      {kClose, false,
       "ERROR: [file:N] CloseZip(): Processing archive: " + zip + "\nFile too large.\n"},
  };
  for (const auto& c : cases) {
    std::string out;
    EXPECT_EQ(RunInChild([&] {
      auto limit = [&](Stage at, uintmax_t bytes) { return c.stage != at || LimitFileSize(bytes); };
      if (!limit(kCreate, fs::file_size(zip) / 2)) return 10;
      if (!prog.OpenZip(false)) return c.stage == kCreate ? 0 : 11;
      if (!limit(kCopy, fs::file_size(zip) + 100000)) return 10;
      for (const char* dest : {"small1", "small2", "small3"}) {
        if (!prog.CopyFile("big", dest)) break;
      }
      if (!limit(kClose, fs::file_size(prog.workcopy.Path()))) return 10;
      if (c.discard) prog.DiscardChanges();
      const bool closed = prog.CloseZip();
      return closed != (c.stage == kClose) && prog.zip.IsClosed(true) ? 0 : 12;
    }, &out), 0) << out;
    EXPECT_EQ(out, c.output);
    ExpectUnchanged();
  }
}

TEST_F(FileTest, ReadOnlyArchiveIsOnlyOpenedForReading) {
  fs::permissions(zip, fs::perms(0444));
  std::string out;
  EXPECT_EQ(RunInChild([&] {
    return BecomeNobody() && prog.OpenZip(true) && prog.CloseZip() && !prog.OpenZip(false) ? 0 : 1;
  }, &out), 0) << out;
  EXPECT_EQ(out, "ERROR: File not writeable: " + zip + "\nCheck file permissions of " + zip + "\n");
  ExpectUnchanged();
}

}  // namespace
