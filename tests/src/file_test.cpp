// Skin archive access against archives written by Python's zipfile: the entry
// operations and their messages, and the rule that a writable run changes the
// archive all at once or not at all (failed writes, discarded runs, read-only
// files and folders, symbolic links).
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "../zipengine/test_util.h"
#include "SkinCfgProgram.h"

namespace {

using ziptest::ReadFileBytes;
using ziptest::RunCommand;
using ziptest::ScopedTempDir;
using ziptest::WriteFileBytes;
namespace fs = std::filesystem;
using Entries = std::map<std::string, std::string>;

// "make OUT name=file ...": writes an archive of those files (deflated).
// "check ZIP name=file ...": the archive holds exactly those entries and bytes.
const char kZipTool[] = R"(
import sys, zipfile
mode, path, pairs = sys.argv[1], sys.argv[2], [a.split('=', 1) for a in sys.argv[3:]]
want = {n: open(f, 'rb').read() for n, f in pairs}
if mode == 'make':
    with zipfile.ZipFile(path, 'w', zipfile.ZIP_DEFLATED) as z:
        for n, data in want.items():
            z.writestr(zipfile.ZipInfo(n, (2012, 6, 10, 14, 30, 0)), data, zipfile.ZIP_DEFLATED)
else:
    with zipfile.ZipFile(path) as z:
        got = {n: z.read(n) for n in z.namelist()}
        assert z.testzip() is None
    bad = sorted(n for n in set(got) | set(want) if got.get(n) != want.get(n))
    sys.exit('differs: ' + ' '.join(bad) if bad else 0)
)";

std::string RandomBytes(size_t size, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(size, '\0');
  for (char& c : s) c = static_cast<char>(gen() & 0xff);
  return s;
}

std::string Text(size_t size) {
  std::string s = RandomBytes(size, 7);
  for (char& c : s) c = static_cast<char>('a' + (static_cast<unsigned char>(c) % 26));
  return s;
}

Entries SampleEntries() {
  std::string x = Text(3000);
  Entries e = {{"same1", x}, {"same2", x}, {"lastbyte", x}, {"shorter", x.substr(0, 2999)},
               {"empty1", ""}, {"empty2", ""}, {"big", RandomBytes(70000, 42)},
               {"small1", "one"}, {"small2", "two two"}, {"small3", "three"},
               {"dir/live.png", RandomBytes(200, 3)}, {"skinconfig/ver", "10\r\n"}};
  e["lastbyte"].back() ^= 1;
  return e;
}

// Runs the zip tool over the entries (their bytes go through files, not argv).
int ZipTool(const char* mode, const std::string& zip, const Entries& entries, std::string* out) {
  fs::path content = fs::path(zip).parent_path().parent_path() / ("content-" + std::string(mode));
  std::vector<std::string> argv = {ziptest::Python(), "-c", kZipTool, mode, zip};
  int i = 0;
  for (const auto& [name, bytes] : entries) {
    fs::path file = content / std::to_string(i++);
    WriteFileBytes(file, bytes);
    argv.push_back(name + "=" + file.string());
  }
  int rc = RunCommand(argv, out);
  fs::remove_all(content);
  return rc;
}

std::string MaskLines(const std::string& text) {
  return std::regex_replace(text, std::regex(R"(\[file:\d+\])"), "[file:N]");
}

std::vector<std::string> Listing(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Runs `body` in a forked child with its stdout in *output, for the settings
// that hold for a whole process (file size limit, user id).
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
  *output = MaskLines(ReadFileBytes(name));
  unlink(name);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void LimitFileSize(rlim_t bytes) {
  signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails with EFBIG
  struct rlimit limit = {bytes, bytes};
  setrlimit(RLIMIT_FSIZE, &limit);
}

// Root writes through permission bits; a child that drops to "nobody" does not.
bool BecomeNobody() {
  if (geteuid() != 0) return true;
  return setgroups(0, nullptr) == 0 && setgid(65534) == 0 && setuid(65534) == 0;
}

class FileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::permissions(tmp_.path(), fs::perms(0755));  // reachable for "nobody"
    fs::create_directories(dir_);
    std::string out;
    ASSERT_EQ(ZipTool("make", zip_, entries_, &out), 0) << out;
    original_ = ReadFileBytes(zip_);
    UseArchive(zip_);
  }

  void UseArchive(const std::string& path) {
    prog_ = std::make_unique<SkinCfgProgram>();
    snprintf(prog_->zipfilename, sizeof(prog_->zipfilename), "%s", path.c_str());
  }

  // Output of one step, with our own line numbers masked.
  std::string Run(const std::function<void()>& step) {
    testing::internal::CaptureStdout();
    step();
    return MaskLines(testing::internal::GetCapturedStdout());
  }

  void ExpectUnchanged() {
    EXPECT_EQ(ReadFileBytes(zip_), original_) << "archive changed";
    EXPECT_EQ(Listing(dir_), std::vector<std::string>{"skin.zip"}) << "working file left";
  }

  void ExpectHolds(const std::string& zip, const Entries& entries) {
    std::string out;
    EXPECT_EQ(RunCommand({"unzip", "-tqq", zip}, &out), 0) << out;
    EXPECT_EQ(ZipTool("check", zip, entries, &out), 0) << out;
  }

  ScopedTempDir tmp_;
  fs::path dir_ = tmp_.path() / "skins";
  std::string zip_ = (dir_ / "skin.zip").string();
  Entries entries_ = SampleEntries();
  std::string original_;
  std::unique_ptr<SkinCfgProgram> prog_;
};

TEST_F(FileTest, CompareFilesDecidesByBytesAndClearsTheFlagOnFailure) {
  struct Case {
    const char* name1;
    const char* name2;
    bool ok;
    bool equal;
    const char* output;
  } cases[] = {
      {"same1", "same1", true, true, ""},
      {"same1", "same2", true, true, ""},
      {"empty1", "empty2", true, true, ""},
      {"same1", "lastbyte", true, false, ""},
      {"same1", "shorter", true, false, ""},
      {"same1", "missing", false, false, "ERROR: [file:N] CompareFiles(): file2 not found: missing\n"},
      {"missing", "same1", false, false, "ERROR: [file:N] CompareFiles(): file1 not found: missing\n"},
  };
  ASSERT_TRUE(prog_->OpenZip(true));
  for (const Case& c : cases) {
    bool equal = !c.equal;
    bool ok = false;
    EXPECT_EQ(Run([&] { ok = prog_->CompareFiles(c.name1, c.name2, &equal); }), c.output);
    EXPECT_EQ(ok, c.ok) << c.name1 << " " << c.name2;
    EXPECT_EQ(equal, c.equal) << c.name1 << " " << c.name2;
  }
}

TEST_F(FileTest, EveryOperationRefusesAClosedArchive) {
  bool equal;
  const char* version;
  std::vector<std::pair<std::string, std::function<bool()>>> ops = {
      {"FileExists", [&] { return prog_->FileExists("same1"); }},
      {"CompareFiles", [&] { return prog_->CompareFiles("same1", "same2", &equal); }},
      {"CopyFile", [&] { return prog_->CopyFile("same1", "same2"); }},
      {"ReadVersionFile", [&] { return prog_->ReadVersionFile(&version); }},
  };
  for (const auto& op : ops) {
    bool ok = true;
    EXPECT_EQ(Run([&] { ok = op.second(); }),
              "ERROR: [file:N] " + op.first + "(): The archive is closed: " + zip_ + "\n");
    EXPECT_FALSE(ok);
  }
  EXPECT_EQ(Run([&] { EXPECT_TRUE(prog_->CloseZip()); }), "");
}

TEST_F(FileTest, ReadVersionFileKeepsTheFirstFifteenBytes) {
  const char* version = nullptr;
  ASSERT_TRUE(prog_->OpenZip(true));
  ASSERT_TRUE(prog_->ReadVersionFile(&version));
  EXPECT_STREQ(version, "10\r\n");
  snprintf(prog_->verfilename, sizeof(prog_->verfilename), "same1");
  ASSERT_TRUE(prog_->ReadVersionFile(&version));
  EXPECT_EQ(std::string(version), entries_["same1"].substr(0, 15));
  snprintf(prog_->verfilename, sizeof(prog_->verfilename), "none");
  EXPECT_EQ(Run([&] { EXPECT_FALSE(prog_->ReadVersionFile(&version)); }),
            "ERROR: [file:N] ReadVersionFile(): file not found\n");
}

TEST_F(FileTest, SeriesOfCopiesIsCommittedByCloseZip) {
  fs::permissions(zip_, fs::perms(0640));
  ASSERT_TRUE(prog_->OpenZip(false));
  EXPECT_EQ(Run([&] {
              EXPECT_TRUE(prog_->CopyFile("big", "small1"));
              EXPECT_TRUE(prog_->CopyFile("small2", "dir/live.png"));
              EXPECT_TRUE(prog_->CopyFile("empty1", "same2"));
              EXPECT_TRUE(prog_->CopyFile("same1", "new/entry.xml"));
            }),
            "WARNING: CopyFile(): Destination file does not exist: new/entry.xml\n");
  bool equal = false;
  EXPECT_TRUE(prog_->FileExists("new/entry.xml"));
  EXPECT_TRUE(prog_->CompareFiles("same1", "new/entry.xml", &equal) && equal);
  EXPECT_EQ(ReadFileBytes(zip_), original_) << "changed before the commit";
  ASSERT_TRUE(prog_->CloseZip());

  Entries want = entries_;
  want["small1"] = want["big"];
  want["dir/live.png"] = want["small2"];
  want["same2"] = "";
  want["new/entry.xml"] = want["same1"];
  ExpectHolds(zip_, want);
  EXPECT_EQ(Listing(dir_), std::vector<std::string>{"skin.zip"});
  EXPECT_EQ(fs::status(zip_).permissions(), fs::perms(0640));
  EXPECT_TRUE(prog_->OpenZip(true));
}

TEST_F(FileTest, MissingSourceAndDiscardedRunLeaveTheArchiveAlone) {
  ASSERT_TRUE(prog_->OpenZip(false));
  EXPECT_TRUE(prog_->CopyFile("big", "small1"));
  EXPECT_EQ(Run([&] { EXPECT_FALSE(prog_->CopyFile("nothere", "small2")); }),
            "ERROR: [file:N] CopyFile(): Source file not found: nothere\n");
  prog_->DiscardChanges();
  EXPECT_TRUE(prog_->CloseZip());
  ExpectUnchanged();
}

TEST_F(FileTest, WriteFailureHalfwayThroughChangesNothing) {
  for (bool discard : {true, false}) {  // a failed copy alone must prevent the commit
    std::string out;
    int rc = RunInChild([&] {
      if (!prog_->OpenZip(false)) return 10;
      LimitFileSize(fs::file_size(zip_) + 100000);
      for (const char* dest : {"small1", "small2", "small3"}) {
        if (!prog_->CopyFile("big", dest)) break;
      }
      if (discard) prog_->DiscardChanges();
      return prog_->CloseZip() ? 0 : 11;
    }, &out);
    EXPECT_EQ(rc, 0) << out;
    EXPECT_EQ(out, "ERROR: [file:N] CopyFile(): Processing file: " + zip_ + "\nFile too large.\n");
    ExpectUnchanged();
  }
}

TEST_F(FileTest, FailingCentralDirectoryWriteChangesNothing) {
  std::string out;
  int rc = RunInChild([&] {
    if (!prog_->OpenZip(false) || !prog_->CopyFile("small1", "small2")) return 10;
    LimitFileSize(fs::file_size(prog_->workcopy.Path()));
    return prog_->CloseZip() || !prog_->zip.IsClosed(true) ? 11 : 0;
  }, &out);
  EXPECT_EQ(rc, 0) << out;
  EXPECT_EQ(out, "ERROR: [file:N] CloseZip(): Processing archive: " + zip_ + "\nFile too large.\n");
  ExpectUnchanged();
}

TEST_F(FileTest, ArchiveOrFolderThatCannotBeWritten) {
  struct Case {
    const char* what;
    std::function<void()> prepare;  // in the parent
    std::function<bool()> limit;    // in the child
    std::string output;
  } cases[] = {
      {"read-only file", [&] { fs::permissions(zip_, fs::perms(0444)); }, BecomeNobody,
       "ERROR: File not writeable: " + zip_ + "\nCheck file permissions of " + zip_ + "\n"},
      {"read-only folder",
       [&] {
         if (geteuid() == 0 && chown(zip_.c_str(), 65534, 65534) != 0) FAIL() << "chown";
         fs::permissions(dir_, fs::perms(0555));
       },
       BecomeNobody,
       "ERROR: [file:N] OpenZip(): Could not create working copy: " + dir_.string() +
           "/.skin.zip.RANDOM\nPermission denied\n"},
      {"disk full", [] {}, [&] { LimitFileSize(fs::file_size(zip_) / 2); return true; },
       "ERROR: [file:N] OpenZip(): Could not create working copy: " + dir_.string() +
           "/.skin.zip.RANDOM\nFile too large\n"},
  };
  for (Case& c : cases) {
    SetUp();
    c.prepare();
    std::string out;
    int rc = RunInChild([&] {
      if (!c.limit()) return 10;
      bool readable = prog_->OpenZip(true) && prog_->CloseZip();
      return readable && !prog_->OpenZip(false) ? 0 : 11;
    }, &out);
    EXPECT_EQ(rc, 0) << c.what << "\n" << out;
    EXPECT_EQ(std::regex_replace(out, std::regex(R"(\.skin\.zip\.\w{6}\n)"), ".skin.zip.RANDOM\n"),
              c.output)
        << c.what;
    fs::permissions(dir_, fs::perms(0755));
    ExpectUnchanged();
    fs::remove(zip_);
  }
}

TEST_F(FileTest, SymbolicLinkStaysALinkToTheChangedArchive) {
  fs::path link = tmp_.path() / "link.zip";
  fs::create_symlink(zip_, link);
  UseArchive(link.string());
  ASSERT_TRUE(prog_->OpenZip(false));
  ASSERT_TRUE(prog_->CopyFile("small3", "small1"));
  ASSERT_TRUE(prog_->CloseZip());
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(fs::read_symlink(link), fs::path(zip_));
  Entries want = entries_;
  want["small1"] = want["small3"];
  ExpectHolds(zip_, want);
  EXPECT_EQ(Listing(dir_), std::vector<std::string>{"skin.zip"});
}

}  // namespace
