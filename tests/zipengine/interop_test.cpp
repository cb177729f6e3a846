// Interoperability: archives written by other ZIP tools must read back exactly
// as the tools were given them, and archives we update must be accepted by
// every other reader with exactly the bytes we meant them to hold.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "test_util.h"

namespace {

using namespace ziptest;

const FixtureSet& Fixtures() {
  static const FixtureSet set = LoadFixtures();
  return set;
}

const std::vector<std::string> kWriters = {"py_stored", "py_deflated", "infozip",
                                           "7z",        "bsdtar",      "bsdtar_stored"};

// What an archive should hold: entry name -> bytes; directory names end in "/".
using Model = std::map<std::string, std::string>;

bool HasEntry(const Model& model, const std::string& name) { return model.count(name) != 0; }

// Opens read-only and checks count, lookup, order, test and bytes of every entry.
void ExpectEngineReads(const std::string& path, const Model& model) {
  CZipArchive zip;
  ASSERT_TRUE(zip.Open(path.c_str(), CZipArchive::zipOpenReadOnly));
  EXPECT_EQ(zip.GetCount(), model.size());
  uint32_t lastOffset = 0;
  for (uint16_t i = 0; i < zip.GetCount(); ++i) {
    CZipFileHeader* header = zip.GetFileInfo(i);
    ASSERT_NE(header, nullptr);
    std::string name = header->GetFileName();
    SCOPED_TRACE("entry " + std::to_string(i) + " " + name);
    if (i > 0) {
      EXPECT_GT(header->m_uOffset, lastOffset) << "indices follow the file order";
    }
    lastOffset = header->m_uOffset;
    EXPECT_EQ(zip.FindFile(name.c_str()), i);
    auto want = model.find(name);
    if (want == model.end()) {
      ADD_FAILURE() << "unexpected entry";
      continue;
    }
    try {
      EXPECT_TRUE(zip.TestFile(i));
      std::string bytes;
      if (IsDirName(name)) {
        EXPECT_FALSE(ExtractEntry(zip, i, &bytes)) << "a directory has nothing to extract";
        continue;
      }
      EXPECT_TRUE(ExtractEntry(zip, i, &bytes));
      EXPECT_EQ(bytes.size(), want->second.size());
      EXPECT_TRUE(bytes == want->second) << "bytes differ";
    } catch (const CZipException& e) {
      ADD_FAILURE() << "engine error " << e.m_iCause << ": " << e.GetErrorDescription();
    }
  }
  zip.Close();
}

// The external readers; each names the tool it needs.
struct Reader {
  const char* tool;
  // Returns "" when the reader accepts the archive, else what it said.
  std::string (*check)(const std::string& path, const Model& model, const std::string& expectedDir);
};

std::string Complain(const char* what, int rc, const std::string& out) {
  return std::string(what) + " exit " + std::to_string(rc) + ":\n" + out;
}

std::string CheckUnzip(const std::string& path, const Model& model, const std::string&) {
  std::string out;
  int rc = RunCommand({"unzip", "-tqq", path}, &out);
  // unzip calls an archive without entries a warning (status 1).
  if (rc == 0 || (model.empty() && rc == 1 && out.find("zipfile is empty") != std::string::npos)) {
    return "";
  }
  return Complain("unzip -t", rc, out);
}

std::string CheckPython(const std::string& path, const Model&, const std::string& expectedDir) {
  std::string out;
  int rc = RunCommand({Python(), SourceDir() + "/tools/zipfixtures.py", "check", path, expectedDir},
                      &out);
  return rc == 0 ? "" : Complain("python zipfile", rc, out);
}

std::string Check7z(const std::string& path, const Model&, const std::string&) {
  std::string out;
  int rc = RunCommand({"7z", "t", "-bd", path}, &out);
  bool warned = out.find("WARNING") != std::string::npos || out.find("Warning") != std::string::npos;
  return rc == 0 && !warned ? "" : Complain("7z t", rc, out);
}

std::string CheckBsdtar(const std::string& path, const Model& model, const std::string&) {
  std::string out;
  int rc = RunCommand({"bsdtar", "-tf", path}, &out);
  if (rc != 0) return Complain("bsdtar -tf", rc, out);
  Model listed;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) listed[line];
  for (const auto& entry : model) {
    if (!HasEntry(listed, entry.first)) return "bsdtar does not list " + entry.first + ":\n" + out;
  }
  if (listed.size() != model.size()) return "bsdtar lists other entries:\n" + out;
  return "";
}

const Reader kReaders[] = {
    {"unzip", CheckUnzip}, {"python3", CheckPython}, {"7z", Check7z}, {"bsdtar", CheckBsdtar}};

// Runs every installed reader; returns the tools that were not there.
std::vector<std::string> ExpectReadersAccept(const std::string& path, const Model& model) {
  ScopedTempDir expected;
  for (const auto& entry : model) {
    fs::path p = expected.path() / entry.first;
    if (IsDirName(entry.first)) {
      fs::create_directories(p);
    } else {
      WriteFileBytes(p, entry.second);
    }
  }
  std::vector<std::string> missing;
  for (const Reader& reader : kReaders) {
    bool present = std::string(reader.tool) == "python3" || ToolAvailable(reader.tool);
    if (!present) {
      missing.push_back(reader.tool);
      continue;
    }
    std::string complaint = reader.check(path, model, expected.path().string());
    EXPECT_EQ(complaint, "") << path;
  }
  return missing;
}

std::string MissingText(const std::vector<std::string>& missing) {
  std::string text = "not checked with:";
  for (const std::string& m : missing) text += " " + m;
  return text;
}

// ---------------------------------------------------------------------------
// Reading what other writers made.

class WriterTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    auto it = Fixtures().archives.find(GetParam());
    if (it == Fixtures().archives.end()) {
      auto why = Fixtures().skipped.find(GetParam());
      GTEST_SKIP() << (why != Fixtures().skipped.end() ? why->second : "no archive");
    }
    archive_ = it->second;
  }

  // The tool's archive as a model, taking names from the archive and bytes
  // from what the tool was given.
  Model FixtureModel() {
    Model model;
    CZipArchive zip;
    EXPECT_TRUE(zip.Open(archive_.c_str(), CZipArchive::zipOpenReadOnly));
    for (uint16_t i = 0; i < zip.GetCount(); ++i) {
      std::string name = zip.GetFileInfo(i)->GetFileName();
      model[name] = IsDirName(name) ? "" : Fixtures().Content(name);
    }
    zip.Close();
    return model;
  }

  std::string archive_;
};

TEST_P(WriterTest, ReadsEveryEntryAsTheToolWasGivenIt) {
  const FixtureSet& fx = Fixtures();
  Model model;
  for (const std::string& name : fx.files) model[name] = fx.Content(name);
  CZipArchive zip;
  ASSERT_TRUE(zip.Open(archive_.c_str(), CZipArchive::zipOpenReadOnly));
  for (uint16_t i = 0; i < zip.GetCount(); ++i) {
    std::string name = zip.GetFileInfo(i)->GetFileName();
    // The command-line tools add an entry for every folder on the way.
    if (IsDirName(name)) model[name];
  }
  for (const std::string& name : fx.dirs) {
    EXPECT_NE(zip.FindFile(name.c_str()), kNotFound) << name;
  }
  zip.Close();
  ExpectEngineReads(archive_, model);
}

TEST_P(WriterTest, OpenForWritingAndCloseLeavesTheFileAlone) {
  ScopedTempDir tmp;
  std::string copy = tmp.Sub("copy.zip");
  fs::copy_file(archive_, copy);
  CZipArchive zip;
  ASSERT_TRUE(zip.Open(copy.c_str(), CZipArchive::zipOpen));
  EXPECT_EQ(zip.Close(), copy);
  EXPECT_TRUE(ReadFileBytes(copy) == ReadFileBytes(archive_));
}

// ---------------------------------------------------------------------------
// Updating: the engine and a model take the same steps; after Close every
// reader must see the model.

class UpdateSession {
 public:
  UpdateSession(const std::string& source, Model model) : model_(std::move(model)) {
    path_ = tmp_.Sub("work.zip");
    fs::copy_file(source, path_);
    Open();
  }

  CZipArchive& zip() { return zip_; }
  const Model& model() const { return model_; }
  const std::string& path() const { return path_; }

  void Open() { EXPECT_TRUE(zip_.Open(path_.c_str(), CZipArchive::zipOpen)); }

  std::string NameAt(uint16_t index) {
    CZipFileHeader* header = zip_.GetFileInfo(index);
    return header != nullptr ? header->GetFileName() : "";
  }

  void RemoveAt(uint16_t index) {
    std::string name = NameAt(index);
    uint16_t count = zip_.GetCount();
    EXPECT_TRUE(zip_.RemoveFile(index, true)) << name;
    EXPECT_EQ(zip_.GetCount(), count - 1);
    EXPECT_EQ(zip_.FindFile(name.c_str()), kNotFound) << name;
    model_.erase(name);
  }

  // Replaces like the program does: remove the old entry, then add. The
  // engine stores backslashes as "/", so lookups use that form.
  void Put(const std::string& nameGiven, const std::string& bytes) {
    std::string name = nameGiven;
    std::replace(name.begin(), name.end(), '\\', '/');
    uint16_t old = zip_.FindFile(name.c_str());
    if (old != kNotFound) RemoveAt(old);
    EXPECT_TRUE(AddEntry(zip_, nameGiven, bytes)) << name;
    EXPECT_EQ(zip_.FindFile(name.c_str()), zip_.GetCount() - 1) << "a new entry goes last";
    model_[name] = bytes;
  }

  // The program's copy of one entry over another.
  void Copy(const std::string& from, const std::string& to) {
    std::string bytes;
    EXPECT_TRUE(ExtractEntry(zip_, zip_.FindFile(from.c_str()), &bytes)) << from;
    EXPECT_TRUE(bytes == model_[from]) << from;
    Put(to, bytes);
  }

  // Writes the central directory and checks the result with every reader.
  void CloseAndVerify() {
    zip_.Close();
    EXPECT_TRUE(zip_.IsClosed());
    ExpectEngineReads(path_, model_);
    std::vector<std::string> missing = ExpectReadersAccept(path_, model_);
    missing_.insert(missing_.end(), missing.begin(), missing.end());
  }

  void ExpectMethod(const std::string& name, uint16_t method) {
    uint16_t index = zip_.FindFile(name.c_str());
    ASSERT_NE(index, kNotFound) << name;
    EXPECT_EQ(zip_.GetFileInfo(index)->m_uMethod, method) << name;
  }

  const std::vector<std::string>& missing() const { return missing_; }

 private:
  ScopedTempDir tmp_;
  std::string path_;
  CZipArchive zip_;
  Model model_;
  std::vector<std::string> missing_;
};

std::string TextBytes(std::mt19937& rng, size_t size) {
  static const char* const kWords[] = {"<item ", "id=\"", "slot", "\"/>\n", "chat ", "font "};
  std::string s;
  while (s.size() < size) s += kWords[rng() % 6] + std::to_string(rng() % 1000);
  s.resize(size);
  return s;
}

std::string RandomBytes(std::mt19937& rng, size_t size) {
  std::string s(size, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

// The sizes that matter: empty, 4 (stored) and 5 (deflated), small, and over
// a megabyte of text or of incompressible data.
std::string SomeBytes(std::mt19937& rng) {
  switch (rng() % 10) {
    case 0: return "";
    case 1: return RandomBytes(rng, 4);
    case 2: return RandomBytes(rng, 5);
    case 3: return TextBytes(rng, 1100000 + rng() % 100000);
    case 4: return RandomBytes(rng, 1050000 + rng() % 1000);
    case 5: return TextBytes(rng, 65536 + rng() % 3);
    default: return rng() % 2 ? TextBytes(rng, rng() % 5000) : RandomBytes(rng, rng() % 5000);
  }
}

std::vector<std::string> FileNames(const Model& model) {
  std::vector<std::string> names;
  for (const auto& entry : model) {
    if (!IsDirName(entry.first)) names.push_back(entry.first);
  }
  return names;
}

// One seeded round of removals, additions and copies, then Close and verify.
void RandomRound(UpdateSession& s, std::mt19937& rng, int steps) {
  for (int step = 0; step < steps; ++step) {
    uint16_t count = s.zip().GetCount();
    unsigned op = rng() % 10;
    SCOPED_TRACE("step " + std::to_string(step) + " op " + std::to_string(op));
    if (op < 4 && count > 0) {
      // Favour the first and the last entry: they are the edge cases of the move.
      unsigned where = rng() % 4;
      s.RemoveAt(where == 0 ? 0 : where == 1 ? count - 1 : rng() % count);
    } else if (op < 7) {
      s.Put("new/n" + std::to_string(rng() % 1000) + ".dat", SomeBytes(rng));
    } else {
      std::vector<std::string> names = FileNames(s.model());
      if (names.size() < 2) continue;
      s.Copy(names[rng() % names.size()], names[rng() % names.size()]);
    }
    if (::testing::Test::HasFatalFailure()) return;
  }
  s.CloseAndVerify();
}

class UpdateTest : public WriterTest {};

TEST_P(UpdateTest, SeededRandomUpdatesStayReadableEverywhere) {
  std::mt19937 rng(4242 + std::hash<std::string>()(GetParam()) % 1000);
  UpdateSession s(archive_, FixtureModel());
  RandomRound(s, rng, 14);
  // A second round updates what our own writer produced.
  s.Open();
  RandomRound(s, rng, 10);
  if (!s.missing().empty()) GTEST_SKIP() << MissingText(s.missing());
}

TEST_P(UpdateTest, EdgesFirstLastOnlyAndEmpty) {
  UpdateSession s(archive_, FixtureModel());
  s.RemoveAt(0);
  s.RemoveAt(s.zip().GetCount() - 1);
  s.CloseAndVerify();

  // Down to the only entry, then none: an archive of the end record alone.
  s.Open();
  while (s.zip().GetCount() > 1) s.RemoveAt(s.zip().GetCount() / 2);
  s.CloseAndVerify();
  s.Open();
  s.RemoveAt(0);
  s.CloseAndVerify();
  EXPECT_EQ(fs::file_size(s.path()), 22u);

  // Refill the empty archive with the sizes that pick the method.
  std::mt19937 rng(99);
  s.Open();
  s.Put("empty.txt", "");
  s.Put("four.bin", RandomBytes(rng, 4));
  s.Put("five.bin", RandomBytes(rng, 5));
  s.Put("gui\\big.xml", TextBytes(rng, 1200000));
  s.CloseAndVerify();
  s.Open();
  s.ExpectMethod("empty.txt", 0);
  s.ExpectMethod("four.bin", 0);
  s.ExpectMethod("five.bin", 8);
  s.ExpectMethod("gui/big.xml", 8);
  s.zip().Close();
  if (!s.missing().empty()) GTEST_SKIP() << MissingText(s.missing());
}

TEST_P(UpdateTest, ReplacingEveryEntryKeepsItsBytes) {
  UpdateSession s(archive_, FixtureModel());
  for (const std::string& name : FileNames(s.model())) s.Copy(name, name);
  s.CloseAndVerify();
  if (!s.missing().empty()) GTEST_SKIP() << MissingText(s.missing());
}

std::string ParamName(const ::testing::TestParamInfo<std::string>& info) { return info.param; }

INSTANTIATE_TEST_SUITE_P(Writers, WriterTest, ::testing::ValuesIn(kWriters), ParamName);
INSTANTIATE_TEST_SUITE_P(Writers, UpdateTest, ::testing::ValuesIn(kWriters), ParamName);

}  // namespace
