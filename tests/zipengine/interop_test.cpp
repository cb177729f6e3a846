// Archives of other ZIP tools read back exactly as the tools were given them,
// and every other reader accepts the archives we update, bytes and all.
#include <set>

#include "test_util.h"

namespace {

using namespace ziptest;

// The files an archive should hold: name -> bytes. Folder entries are not
// listed: the command-line tools add one for every folder on the way.
using Model = std::map<std::string, std::string>;

// content/ (what every writer was given) and <writer>.zip.
const fs::path& FixtureDir() {
  static const fs::path dir = ZipFixtures("gen", {});
  return dir;
}

Model Given() {
  Model model;
  const fs::path content = FixtureDir() / "content";
  for (const auto& e : fs::recursive_directory_iterator(content)) {
    if (e.is_regular_file()) model[fs::relative(e, content).generic_string()] = ReadFileBytes(e);
  }
  return model;
}

// Checks every entry; returns the bytes of all entries in index order.
std::string ExpectEngineReads(const std::string& path, const Model& model) {
  CZipArchive zip;
  EXPECT_TRUE(zip.Open(path.c_str()));
  std::string all;
  size_t files = 0;
  for (uint16_t i = 0; i < zip.GetCount(); ++i) {
    std::string name = zip.GetFileInfo(i)->GetFileName(), bytes;
    SCOPED_TRACE(name);
    bool dir = IsDirName(name);
    EXPECT_EQ(zip.FindFile(name.c_str()), i);
    EXPECT_TRUE(zip.TestFile(i));
    EXPECT_EQ(ExtractEntry(zip, i, &bytes), !dir);  // a folder has nothing to extract
    EXPECT_TRUE(dir || (model.count(name) && bytes == model.at(name))) << "unexpected bytes";
    files += !dir;
    all += bytes;
  }
  EXPECT_EQ(files, model.size());
  zip.Close();
  return all;
}

// The engine and every installed reader (the others go to *missing).
void ExpectReadersAccept(const std::string& path, const Model& model,
                         std::set<std::string>* missing) {
  std::string all = ExpectEngineReads(path, model);
  ScopedTempDir expected;
  for (const auto& [name, bytes] : model) WriteFileBytes(expected.path() / name, bytes);
  const std::vector<std::string> readers[] = {
      {"unzip", "-tqq", path},
      {Python(), SourceDir() + "/tools/zipfixtures.py", "check", path, expected.path().string()},
      {"7z", "t", "-bd", path},
      {"bsdtar", "-xOf", path}};  // every file's bytes, in the archive's order
  for (const std::vector<std::string>& argv : readers) {
    std::string out;
    int rc = RunCommand(argv, &out);
    if (rc == 127) {  // not installed
      missing->insert(argv[0]);
      continue;
    }
    // unzip calls an archive without entries a warning (status 1).
    bool emptyWarning = rc == 1 && out.find("zipfile is empty") != out.npos;
    EXPECT_TRUE(rc == 0 || (argv[0] == "unzip" && emptyWarning)) << argv[0] << ":\n" << out;
    bool warned = out.find("WARNING") != out.npos || out.find("Warning") != out.npos;
    EXPECT_FALSE(argv[0] == "7z" && warned) << out;
    EXPECT_TRUE(argv[0] != "bsdtar" || out == all) << "bsdtar extracts other bytes";
  }
}

// The engine and a model take the same steps; every reader must see the model.
// Each session goes through OpenForUpdate into a new file that replaces the
// archive, as the program does.
struct UpdateSession {
  ScopedTempDir tmp;
  UpdatedArchive update{tmp.Sub("work.zip")};
  const std::string& path = update.path;
  CZipArchive& zip = update.zip;
  Model model = Given();
  std::set<std::string> missing;

  void Open() { EXPECT_TRUE(update.Open()); }
  std::string Close() { return update.Close(); }

  void RemoveAt(uint16_t index) {
    std::string name = zip.GetFileInfo(index)->GetFileName();
    EXPECT_TRUE(zip.RemoveFile(index, true)) << name;
    EXPECT_EQ(zip.FindFile(name.c_str()), kNotFound) << name;
    model.erase(name);
  }

  // Replaces like the program does: remove the old entry, then add.
  void Put(const std::string& name, const std::string& bytes) {
    uint16_t old = zip.FindFile(name.c_str());
    if (old != kNotFound) RemoveAt(old);
    EXPECT_TRUE(AddEntry(zip, name, bytes)) << name;
    model[name] = bytes;
  }

  // The program's copy of one entry over another, read before Close.
  void Copy(const std::string& from, const std::string& to) {
    std::string bytes;
    EXPECT_TRUE(ExtractEntry(zip, zip.FindFile(from.c_str()), &bytes)) << from;
    EXPECT_EQ(bytes, model[from]) << from;
    Put(to, bytes);
  }

  void Verify() {
    Close();
    ExpectReadersAccept(path, model, &missing);
    Open();
  }
};

// Seeded removals (mostly first or last entry), additions (0, 4 stored, 5
// deflated, 64 KiB, > 1 MB bytes) and copies, then Verify.
void RandomRound(UpdateSession& s, std::mt19937& rng, int steps) {
  for (int step = 0; step < steps && !::testing::Test::HasFatalFailure(); ++step) {
    uint16_t count = s.zip.GetCount();
    unsigned op = rng() % 10, where = rng() % 4;
    SCOPED_TRACE("step " + std::to_string(step) + " op " + std::to_string(op));
    const size_t sizes[] = {0, 4, 5, 65536 + rng() % 3, 1100000 + rng() % 100000, rng() % 5000},
                 size = sizes[rng() % 6], a = rng(), b = rng();  // fixed order of draws
    std::string name = "new/n" + std::to_string(a % 1000) + ".dat";
    auto nth = [&](size_t n) { return std::next(s.model.begin(), n % s.model.size())->first; };
    if (op < 4 && count > 0) s.RemoveAt(where == 0 ? 0 : where == 1 ? count - 1 : a % count);
    if (op >= 4 && op < 7) s.Put(name, RandomBytes(size, static_cast<uint32_t>(b), a / 1000 % 2));
    if (op >= 7 && s.model.size() >= 2) s.Copy(nth(a), nth(b));
  }
  s.Verify();
}

class WriterTest : public ::testing::TestWithParam<const char*> {};

TEST_P(WriterTest, ReadsEveryEntryThenUpdatesStayReadableEverywhere) {
  const std::string archive = (FixtureDir() / (std::string(GetParam()) + ".zip")).string();
  if (!fs::exists(archive)) GTEST_SKIP() << "the tool for " << GetParam() << " is missing";
  ExpectEngineReads(archive, Given());
  std::mt19937 rng(4242 + std::hash<std::string>()(GetParam()) % 1000);
  UpdateSession s;
  fs::copy_file(archive, s.path);
  s.Open();
  EXPECT_EQ(s.Close(), s.path);  // opened for writing, closed unchanged
  EXPECT_TRUE(ReadFileBytes(s.path) == ReadFileBytes(archive));
  s.Open();
  s.RemoveAt(0);
  s.RemoveAt(s.zip.GetCount() - 1);
  s.Verify();
  RandomRound(s, rng, 14);
  RandomRound(s, rng, 10);  // updates what our own writer made
  // Middle entries down to the only one, then none (the end record alone).
  while (s.zip.GetCount() > 1) s.RemoveAt(s.zip.GetCount() / 2);
  s.Verify();
  s.RemoveAt(0);
  s.Close();
  EXPECT_EQ(fs::file_size(s.path), 22u);
  s.Verify();
  for (size_t n : {0, 4, 5, 1200000}) s.Put("n" + std::to_string(n), RandomBytes(n, rng(), n > 5));
  s.Verify();
  if (!s.missing.empty()) GTEST_SKIP() << "readers missing, e.g. " << *s.missing.begin();
}

const char* const kWriters[] = {"py_stored", "py_deflated", "infozip",
                                "7z",        "bsdtar",      "bsdtar_stored"};
INSTANTIATE_TEST_SUITE_P(Writers, WriterTest, ::testing::ValuesIn(kWriters),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
