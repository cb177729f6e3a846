// Skin archive access on archives written by Info-ZIP zip: entry operations,
// their messages, and writable runs that change all or nothing.
#include <grp.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <functional>
#include <map>
#include <random>

#include "SkinCfgProgram.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using srctest::Output;
using Entries = std::map<std::string, std::string>;

Entries SampleEntries() {
  std::mt19937 gen(42);
  std::string big(70000, '\0');
  for (char& c : big) c = static_cast<char>(gen());
  const std::string text = big.substr(0, 3000), shorter = big.substr(0, 2999);
  return {{"text", text},     {"last", shorter + static_cast<char>(~text[2999])},
          {"short", shorter}, {"empty", ""},
          {"big", big},       {"small1", "one"},
          {"small2", "two"},  {"small3", "three"}};
}

class FileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::permissions(tmp.path(), fs::perms(0755));  // reachable for "nobody"
    for (const auto& [name, bytes] : entries) ziptest::WriteFileBytes(content.path() / name, bytes);
    fs::create_directories(dir);
    std::string out;
    ASSERT_EQ(ziptest::RunCommand(
                  {"sh", "-c", "cd \"$0\" && zip -qrDX \"$1\" .", content.path(), zip}, &out),
              0)
        << out;
    original = ziptest::ReadFileBytes(zip);
    snprintf(prog.zipfilename, sizeof prog.zipfilename, "%s", zip.c_str());
  }
  // Output of body (which must return true) run in a child, for per-process limits.
  static std::string InChild(const std::function<bool()>& body) {
    return Output(
        [&] {
          if (fork() == 0) {
            signal(SIGXFSZ, SIG_IGN);  // a write past a size limit then fails with EFBIG
            const bool ok = body();
            _exit(fflush(stdout) == 0 && ok ? 0 : 1);
          }
          int status = 0;
          wait(&status);
          return status == 0;
        },
        true);
  }

  ziptest::ScopedTempDir tmp, content;  // content: the entries as files, for Info-ZIP
  fs::path dir = tmp.path() / "skins";
  std::string zip = (dir / "skin.zip").string();
  Entries entries = SampleEntries();
  std::string original;
  SkinCfgProgram prog;
};

TEST_F(FileTest, CompareFilesDecidesByBytesAndClosedArchivesAreRefused) {
  bool equal;
  const char* version;
  const std::pair<std::string, std::function<bool()>> ops[] = {
      {"FileExists", [&] { return prog.FileExists("text"); }},
      {"CompareFiles", [&] { return prog.CompareFiles("text", "text", &equal); }},
      {"CopyFile", [&] { return prog.CopyFile("text", "small1"); }},
      {"ReadVersionFile", [&] { return prog.ReadVersionFile(&version); }}};
  for (const auto& [name, op] : ops) {
    EXPECT_EQ(Output(op, false),
              "ERROR: [file:N] " + name + "(): The archive is closed: " + zip + "\n");
  }

  // A failure clears the flag.
  const struct {
    const char *name1, *name2;
    bool ok, equal;
    const char* output;
  } cases[] = {
      {"text", "text", true, true, ""},
      {"empty", "empty", true, true, ""},
      {"text", "last", true, false, ""},
      {"text", "short", true, false, ""},
      {"text", "none", false, false, "ERROR: [file:N] CompareFiles(): file2 not found: none\n"},
  };
  ASSERT_TRUE(prog.OpenZip(true));
  for (const auto& c : cases) {
    equal = !c.equal;
    EXPECT_EQ(Output([&] { return prog.CompareFiles(c.name1, c.name2, &equal); }, c.ok), c.output);
    EXPECT_EQ(equal, c.equal) << c.name1 << " " << c.name2;
  }
}

// Through a symbolic link, which must stay one; unzip and zipfile read the result.
TEST_F(FileTest, SeriesOfCopiesIsCommittedByCloseZip) {
  const fs::path link = tmp.path() / "link.zip";
  fs::create_symlink(zip, link);
  snprintf(prog.zipfilename, sizeof prog.zipfilename, "%s", link.c_str());
  fs::permissions(zip, fs::perms(0640));
  ASSERT_TRUE(prog.OpenZip(false));
  EXPECT_EQ(Output(
                [&] {
                  EXPECT_TRUE(prog.CopyFile("big", "small1"));
                  EXPECT_TRUE(prog.CopyFile("empty", "small2"));
                  EXPECT_TRUE(prog.CopyFile("text", "new/entry.xml"));
                  EXPECT_TRUE(prog.FileExists("new/entry.xml"));
                  EXPECT_FALSE(prog.CopyFile("nothere", "small3"));  // changes nothing
                  return true;
                },
                true),
            "WARNING: CopyFile(): Destination file does not exist: new/entry.xml\n"
            "ERROR: [file:N] CopyFile(): Source file not found: nothere\n");
  EXPECT_EQ(ziptest::ReadFileBytes(zip), original) << "changed before the commit";
  ASSERT_TRUE(prog.CloseZip());
  EXPECT_EQ(fs::read_symlink(link), fs::path(zip));
  EXPECT_EQ(fs::status(zip).permissions(), fs::perms(0640));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 1) << "working file left";

  ziptest::WriteFileBytes(content.path() / "small1", entries["big"]);
  ziptest::WriteFileBytes(content.path() / "small2", "");
  ziptest::WriteFileBytes(content.path() / "new/entry.xml", entries["text"]);
  ziptest::ScopedTempDir got;
  std::string text;
  EXPECT_EQ(ziptest::RunCommand({"unzip", "-tqq", zip}, &text), 0) << text;
  EXPECT_EQ(ziptest::RunCommand({ziptest::Python(), "-c",
                                 "import sys, zipfile; "
                                 "z = zipfile.ZipFile(sys.argv[1]); assert z.testzip() is None; "
                                 "z.extractall(sys.argv[2])",
                                 zip, got.path()},
                                &text),
            0)
      << text;
  EXPECT_EQ(ziptest::RunCommand({"diff", "-r", content.path(), got.path()}, &text), 0) << text;
}

// Copies discarded; the disk full amid them (discarded or not) or while CloseZip
// writes the directory. One failed copy blocks the commit.
TEST_F(FileTest, FailuresChangeNothing) {
  const std::string tooLarge = zip + "\nFile too large.\n";
  // Close writes the whole archive anew, so half the size is never reached.
  const rlim_t none = RLIM_INFINITY, copying = original.size() + 100000,
               closing = original.size() / 2;
  const struct {
    rlim_t copylimit, closelimit;
    bool discard, closes;
    std::string output;
  } cases[] = {
      {none, none, true, true, ""},
      {copying, none, true, true, "ERROR: [file:N] CopyFile(): Processing file: " + tooLarge},
      {copying, none, false, true, "ERROR: [file:N] CopyFile(): Processing file: " + tooLarge},
      {none, closing, false, false, "ERROR: [file:N] CloseZip(): Processing archive: " + tooLarge},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(InChild([&] {
                auto limit = [](rlim_t bytes) {
                  struct rlimit size = {bytes, RLIM_INFINITY};
                  return setrlimit(RLIMIT_FSIZE, &size) == 0;
                };
                if (!prog.OpenZip(false) || !limit(c.copylimit)) return false;
                for (const char* dest : {"small1", "small2", "small3"}) {
                  if (!prog.CopyFile("big", dest)) break;
                }
                if (!limit(c.closelimit)) return false;
                if (c.discard) prog.DiscardChanges();
                const bool closed = prog.CloseZip();
                EXPECT_TRUE(prog.zip.IsClosed(true));
                return closed == c.closes;
              }),
              c.output);
    EXPECT_EQ(ziptest::ReadFileBytes(zip), original) << "archive changed";
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 1) << "working file left";
  }
}

// Refusals to open: a permission the user lacks is said by the lines
// alone; any other cause adds the system's reason. Root writes through
// permission bits; "nobody" does not.
TEST_F(FileTest, RefusalsToOpenGiveTheReasonUnlessAPermissionIsMissing) {
  const std::string notfound = "ERROR: File not found: " + zip +
                               "\nThis program must be started from the folder where the " + zip +
                               " file is in.\nAlso check file permissions of " + zip + "\n";
  const struct {
    bool nobody;  // as "nobody", on a file of mode 0444; else with no file left to open
    std::string output;
  } cases[] = {
      {true, "ERROR: File not writeable: " + zip + "\nCheck file permissions of " + zip + "\n"},
      {false, notfound + "Reason: Too many open files\n"},
  };
  for (const auto& c : cases) {
#ifdef __SANITIZE_ADDRESS__
    // The sanitizers' own checks open pipes, which the lowered limit refuses.
    if (!c.nobody) continue;
#endif
    fs::permissions(zip, fs::perms(c.nobody ? 0444 : 0644));
    EXPECT_EQ(InChild([&] {
                if (c.nobody && geteuid() == 0 &&
                    (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) {
                  return false;
                }
                if (!c.nobody) {
                  // The next file opened would pass the limit.
                  const int lowest = dup(0);
                  close(lowest);
                  struct rlimit files;
                  getrlimit(RLIMIT_NOFILE, &files);
                  files.rlim_cur = static_cast<rlim_t>(lowest);
                  return setrlimit(RLIMIT_NOFILE, &files) == 0 && !prog.OpenZip(true);
                }
                EXPECT_TRUE(prog.OpenZip(true));
                EXPECT_TRUE(prog.CloseZip());
                return !prog.OpenZip(false);
              }),
              c.output);
    EXPECT_EQ(ziptest::ReadFileBytes(zip), original) << "archive changed";
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 1) << "working file left";
  }
}

}  // namespace
