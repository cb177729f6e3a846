// Interoperability: archives written by other ZIP tools must read back exactly
// as the tools were given them, and archives we update must be accepted by
// every other reader with exactly the bytes we meant them to hold.
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "test_util.h"

namespace {

using namespace ziptest;

// What an archive should hold: entry name -> bytes; directory names end in "/".
using Model = std::map<std::string, std::string>;

// What tools/zipfixtures.py gave every writer; <FixtureDir()>/<writer>.zip
// is what the writer made of it.
const fs::path& FixtureDir() {
  static const fs::path dir = ZipFixtures("gen", {});
  return dir;
}

const Model& Given() {
  static const Model given = [] {
    Model model;
    std::istringstream manifest(ReadFileBytes(FixtureDir() / "manifest.txt"));
    std::string kind, name;
    while (std::getline(manifest, kind, '\t') && std::getline(manifest, name)) {
      if (kind == "file") model[name] = ReadFileBytes(FixtureDir() / "content" / name);
      if (kind == "dir") model[name];
    }
    return model;
  }();
  return given;
}

// Opens read-only and checks count, lookup, test and bytes of every entry;
// returns the bytes of all entries in index order.
std::string ExpectEngineReads(const std::string& path, const Model& model) {
  CZipArchive zip;
  EXPECT_TRUE(zip.Open(path.c_str(), CZipArchive::zipOpenReadOnly));
  EXPECT_EQ(zip.GetCount(), model.size());
  std::string all;
  for (uint16_t i = 0; i < zip.GetCount(); ++i) {
    std::string name = zip.GetFileInfo(i)->GetFileName(), bytes;
    SCOPED_TRACE(name);
    EXPECT_EQ(zip.FindFile(name.c_str()), i);
    EXPECT_TRUE(zip.TestFile(i));
    EXPECT_EQ(ExtractEntry(zip, i, &bytes), !IsDirName(name));  // a folder has nothing to extract
    auto want = model.find(name);
    EXPECT_TRUE(want != model.end() && bytes == want->second) << "unexpected entry or bytes";
    all += bytes;
  }
  zip.Close();
  return all;
}

// Checks the archive with the engine and every installed reader; adds the
// readers that are not installed to *missing.
void ExpectReadersAccept(const std::string& path, const Model& model,
                         std::set<std::string>* missing) {
  std::string all = ExpectEngineReads(path, model);
  ScopedTempDir expected;
  for (const auto& [name, bytes] : model) {
    if (!IsDirName(name)) WriteFileBytes(expected.path() / name, bytes);
  }
  const std::vector<std::string> readers[] = {
      {"unzip", "-tqq", path},
      {Python(), SourceDir() + "/tools/zipfixtures.py", "check", path, expected.path().string()},
      {"7z", "t", "-bd", path},
      {"bsdtar", "-xOf", path}};  // every file's bytes, in the archive's order
  for (const std::vector<std::string>& argv : readers) {
    std::string out;
    int rc = RunCommand(argv, &out);
    if (rc == 127) {  // the shell did not find it
      missing->insert(argv[0]);
      continue;
    }
    // unzip calls an archive without entries a warning (status 1).
    bool emptyWarning = rc == 1 && model.empty() && out.find("zipfile is empty") != out.npos;
    EXPECT_TRUE(rc == 0 || (argv[0] == "unzip" && emptyWarning)) << argv[0] << ":\n" << out;
    bool warned = out.find("WARNING") != out.npos || out.find("Warning") != out.npos;
    EXPECT_FALSE(argv[0] == "7z" && warned) << out;
    EXPECT_TRUE(argv[0] != "bsdtar" || out == all) << "bsdtar extracts other bytes";
  }
}

class WriterTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    archive_ = (FixtureDir() / (std::string(GetParam()) + ".zip")).string();
    if (!fs::exists(archive_)) GTEST_SKIP() << "the tool for " << GetParam() << " is missing";
  }

  // What the tool was given plus the folder entries it made: the
  // command-line tools add an entry for every folder on the way.
  Model ArchiveModel() {
    Model model = Given();
    CZipArchive zip;
    EXPECT_TRUE(zip.Open(archive_.c_str(), CZipArchive::zipOpenReadOnly));
    for (uint16_t i = 0; i < zip.GetCount(); ++i) {
      std::string name = zip.GetFileInfo(i)->GetFileName();
      if (IsDirName(name)) model[name];
    }
    zip.Close();
    return model;
  }

  std::string archive_;
};

TEST_P(WriterTest, ReadsEveryEntryAsTheToolWasGivenIt) {
  ExpectEngineReads(archive_, ArchiveModel());
}

// The engine and a model take the same steps; after Close every reader
// must see the model.
struct UpdateSession {
  ScopedTempDir tmp;
  std::string path = tmp.Sub("work.zip");
  CZipArchive zip;
  Model model;
  std::set<std::string> missing;

  void Open() { EXPECT_TRUE(zip.Open(path.c_str(), CZipArchive::zipOpen)); }

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

  // The program's copy of one entry over another.
  void Copy(const std::string& from, const std::string& to) {
    std::string bytes;
    EXPECT_TRUE(ExtractEntry(zip, zip.FindFile(from.c_str()), &bytes)) << from;
    EXPECT_TRUE(bytes == model[from]) << from;
    Put(to, bytes);
  }

  // Closes, checks the result with every reader and opens it again.
  void Verify() {
    zip.Close();
    ExpectReadersAccept(path, model, &missing);
    Open();
  }
};

// Compressible text or incompressible bytes.
std::string Bytes(std::mt19937& rng, size_t size, bool text) {
  static const char kText[] = "<item id=\"slot\"/>\n";
  std::string s(size, '\0');
  for (char& c : s) c = text ? kText[rng() % (sizeof kText - 1)] : static_cast<char>(rng());
  return s;
}

// The sizes that matter: empty, 4 (stored) and 5 (deflated), about the 64 KiB
// buffer, small, and over a megabyte.
std::string SomeBytes(std::mt19937& rng) {
  const size_t sizes[] = {0, 4, 5, 65536 + rng() % 3, 1100000 + rng() % 100000, rng() % 5000};
  size_t size = sizes[rng() % 6];
  return Bytes(rng, size, rng() % 2 == 0);
}

// One seeded round of removals, additions and copies, then Verify.
void RandomRound(UpdateSession& s, std::mt19937& rng, int steps) {
  for (int step = 0; step < steps && !::testing::Test::HasFatalFailure(); ++step) {
    uint16_t count = s.zip.GetCount();
    unsigned op = rng() % 10, where = rng() % 4;
    SCOPED_TRACE("step " + std::to_string(step) + " op " + std::to_string(op));
    std::vector<std::string> names;
    for (const auto& entry : s.model) {
      if (!IsDirName(entry.first)) names.push_back(entry.first);
    }
    // Removals favour the first and the last entry: the edge cases of the move.
    if (op < 4 && count > 0) s.RemoveAt(where == 0 ? 0 : where == 1 ? count - 1 : rng() % count);
    if (op >= 4 && op < 7) s.Put("new/n" + std::to_string(rng() % 1000) + ".dat", SomeBytes(rng));
    if (op >= 7 && names.size() >= 2) {
      s.Copy(names[rng() % names.size()], names[rng() % names.size()]);
    }
  }
  s.Verify();
}

TEST_P(WriterTest, SeededUpdatesStayReadableEverywhere) {
  std::mt19937 rng(4242 + std::hash<std::string>()(GetParam()) % 1000);
  UpdateSession s;
  s.model = ArchiveModel();
  fs::copy_file(archive_, s.path);
  s.Open();
  EXPECT_EQ(s.zip.Close(), s.path);  // opened for writing, closed unchanged
  EXPECT_TRUE(ReadFileBytes(s.path) == ReadFileBytes(archive_));
  s.Open();
  s.RemoveAt(0);
  s.RemoveAt(s.zip.GetCount() - 1);
  s.Verify();
  RandomRound(s, rng, 14);
  RandomRound(s, rng, 10);  // updates what our own writer made

  // Down to the only entry, then none (the end record alone), then refilled.
  while (s.zip.GetCount() > 1) s.RemoveAt(s.zip.GetCount() / 2);
  s.Verify();
  s.RemoveAt(0);
  s.Verify();
  for (size_t n : {0, 4, 5, 1200000}) s.Put("n" + std::to_string(n), Bytes(rng, n, n > 5));
  s.Verify();
  if (!s.missing.empty()) GTEST_SKIP() << "readers missing, e.g. " << *s.missing.begin();
}

const char* const kWriters[] = {"py_stored", "py_deflated", "infozip",
                                "7z",        "bsdtar",      "bsdtar_stored"};
INSTANTIATE_TEST_SUITE_P(Writers, WriterTest, ::testing::ValuesIn(kWriters),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
