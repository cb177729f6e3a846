// Robustness against odd and malformed archives from other readers' test
// suites: every file either opens or throws CZipException, and every entry
// tests and extracts or reports false / an exception; never a crash, hang,
// leak or out-of-bounds access (this runs under the sanitizers in CI).
// Where Python's zipfile reads an entry too, the bytes must agree.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>

#include "test_util.h"

namespace {

using namespace ziptest;

fs::path CorpusDir() { return fs::path(SourceDir()) / ".." / "shared" / "zipcorpus"; }

std::vector<std::string> CorpusFiles() {
  std::vector<std::string> files;
  std::error_code ec;
  if (!fs::is_directory(CorpusDir(), ec)) return files;
  for (const auto& e : fs::recursive_directory_iterator(CorpusDir(), ec)) {
    if (e.is_regular_file() && e.path().extension() == ".zip") {
      files.push_back(fs::relative(e.path(), CorpusDir()).generic_string());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

// Ends the process if a case runs away, so a hang shows up as a failure.
class Watchdog {
 public:
  explicit Watchdog(unsigned seconds) { alarm(seconds); }
  ~Watchdog() { alarm(0); }
};

// Python's outcome per entry, keyed by the stored name.
struct ReferenceEntry {
  std::string status;  // ok, crc or error
  std::string bytes;
  int copies = 0;      // names stored more than once are not compared
};

std::string Unhex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  }
  return out;
}

std::map<std::string, ReferenceEntry> PythonReference(const fs::path& archive,
                                                      const ScopedTempDir& tmp) {
  std::map<std::string, ReferenceEntry> ref;
  std::string out;
  if (RunCommand({Python(), SourceDir() + "/tools/zipfixtures.py", "reference", archive.string(),
                  tmp.Sub("ref")}, &out) != 0) {
    ADD_FAILURE() << "reference reader failed:\n" << out;
    return ref;
  }
  std::istringstream lines(ReadFileBytes(tmp.Sub("ref/entries.txt")));
  std::string status, hex, n;
  while (std::getline(lines, status, '\t') && std::getline(lines, hex, '\t') &&
         std::getline(lines, n)) {
    ReferenceEntry& e = ref[Unhex(hex)];
    e.status = status;
    if (status == "ok") e.bytes = ReadFileBytes(tmp.Sub("ref/" + n + ".bin"));
    ++e.copies;
  }
  return ref;
}

// Claimed sizes beyond this are not pre-allocated (some files claim 4 GiB).
const uint32_t kPresizeLimit = 64u << 20;

// Extracts through a memory file; throws what the engine throws.
bool ExtractCapped(CZipArchive& zip, uint16_t index, std::string* bytes) {
  CZipFileHeader* header = zip.GetFileInfo(index);
  if (header->m_uUncomprSize <= kPresizeLimit) return ExtractEntry(zip, index, bytes);
  CZipMemFile mem(1024);
  bool ok = zip.ExtractFile(index, mem, true, 65536);
  size_t length = static_cast<size_t>(mem.GetLength());
  void* block = mem.Detach();
  bytes->assign(block != nullptr ? static_cast<const char*>(block) : "", block ? length : 0);
  free(block);
  return ok;
}

class CorpusTest : public ::testing::TestWithParam<std::string> {};
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(CorpusTest);

TEST_P(CorpusTest, OpensOrRefusesCleanly) {
  Watchdog watchdog(120);
  fs::path path = CorpusDir() / GetParam();
  ScopedTempDir tmp;
  std::map<std::string, ReferenceEntry> ref = PythonReference(path, tmp);

  CZipArchive zip;
  try {
    ASSERT_TRUE(zip.Open(path.c_str(), CZipArchive::zipOpenReadOnly));
  } catch (const CZipException& e) {
    RecordProperty("open", e.m_iCause);
    EXPECT_FALSE(e.GetErrorDescription().empty());
    zip.Close();  // a failed open still leaves the archive to be closed
    return;
  }
  for (uint16_t i = 0; i < zip.GetCount(); ++i) {
    CZipFileHeader* header = zip.GetFileInfo(i);
    ASSERT_NE(header, nullptr);
    std::string name = header->GetFileName();
    SCOPED_TRACE("entry " + std::to_string(i) + " " + name);
    EXPECT_NE(zip.FindFile(name.c_str()), kNotFound);
    bool tested = false, extracted = false;
    std::string bytes;
    try {
      tested = zip.TestFile(i);
    } catch (const CZipException&) {
    }
    try {
      extracted = ExtractCapped(zip, i, &bytes);
    } catch (const CZipException&) {
    }
    auto it = ref.find(name);
    if (it == ref.end() || it->second.copies != 1) continue;
    const ReferenceEntry& e = it->second;
    if (e.status == "crc") {
      EXPECT_FALSE(tested) << "Python finds a CRC error here";
      EXPECT_FALSE(extracted) << "Python finds a CRC error here";
    }
    if (e.status == "ok" && extracted) {
      EXPECT_EQ(bytes.size(), e.bytes.size());
      EXPECT_TRUE(bytes == e.bytes) << "bytes differ from Python's";
    }
  }
  zip.Close();
}

// A test that always exists, so a machine without the corpus reports a skip.
TEST(CorpusPresence, CorpusFolderIsThere) {
  if (CorpusFiles().empty()) GTEST_SKIP() << "no corpus at " << CorpusDir();
}

std::string CaseName(const ::testing::TestParamInfo<std::string>& info) {
  std::string name = info.param;
  for (char& c : name) {
    if (!isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name.substr(0, name.size() - 4);  // without "_zip"
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusTest, ::testing::ValuesIn(CorpusFiles()), CaseName);

}  // namespace
