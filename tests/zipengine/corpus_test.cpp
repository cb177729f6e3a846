// Odd archives from other readers' suites: each opens or throws, each entry works or reports
// false / an exception (never a crash, hang or leak), with Python's bytes where it reads them.
#include <unistd.h>

#include "test_util.h"

namespace {

using namespace ziptest;

std::vector<std::string> CorpusFiles() {
  std::vector<std::string> files;
  std::error_code ec;  // no corpus: no files
  for (const auto& e : fs::recursive_directory_iterator(CorpusDir(), ec)) {
    if (e.path().extension() == ".zip")
      files.push_back(fs::relative(e, CorpusDir()).generic_string());
  }
  return files;
}

// Python's reading by stored name: ok (with bytes), crc, error or "twice".
struct Reference {
  std::string status, bytes;
};

std::map<std::string, Reference> PythonReference(const std::string& file) {
  static const fs::path tree = ZipFixtures("reference", {CorpusDir().string()});
  std::map<std::string, Reference> ref;
  std::istringstream lines(ReadFileBytes(tree / file / "entries.txt"));
  std::string status, hex, n;
  while (std::getline(lines, status, '\t') && std::getline(lines, hex, '\t') &&
         std::getline(lines, n)) {
    Reference& e = ref[FromHex(hex)];
    e.status = e.status.empty() ? status : "twice";
    if (status == "ok") e.bytes = ReadFileBytes(tree / file / (n + ".bin"));
  }
  return ref;
}

// "open <code>" for a refused archive, else per entry "<test>/<extract>":
// T / E for success, f for false, or the exception code.
const std::map<std::string, std::string> kKnownOutcomes = {
    {"libzip/data_bogus.zip", "open 220"},
    {"libzip/data_zip64-3mf.zip", "open 221"},
    {"libzip/data_incons-cdoffset.zip", "open 201"},
    {"libzip/data_incons-data.zip", " 202/202"},
    {"libzip/data_testbzip2.zip", " f/f"},
    {"yauzl/failure_invalid_code_lengths_set.zip", " 504/504"},
    {"yauzl/wrong-entry-sizes_wrong-entry-sizes.zip", " 201/f 201/201 214/f"},
};

template <typename Op>
std::string Outcome(Op op, const char* success) {
  try {
    return op() ? success : "f";
  } catch (const CZipException& e) {
    return std::to_string(e.m_iCause);
  }
}

class CorpusTest : public ::testing::TestWithParam<std::string> {};
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(CorpusTest);

TEST_P(CorpusTest, OpensOrRefusesCleanly) {
  alarm(120);  // ends the process if the case runs away, so a hang is a failure
  std::map<std::string, Reference> ref = PythonReference(GetParam());
  std::string path = (CorpusDir() / GetParam()).string();
  CZipArchive zip;
  std::string opened = Outcome([&] { return zip.Open(path.c_str()); }, "");
  EXPECT_NE(opened, "f") << "a refusal throws";
  std::string summary = opened.empty() ? "" : "open " + opened;
  for (uint16_t i = 0; opened.empty() && i < zip.GetCount(); ++i) {
    std::string name = zip.GetFileInfo(i)->GetFileName(), bytes;
    SCOPED_TRACE(name);
    EXPECT_NE(zip.FindFile(name.c_str()), kNotFound);
    std::string tested = Outcome([&] { return zip.TestFile(i); }, "T");
    std::string extracted = Outcome([&] { return ExtractEntry(zip, i, &bytes); }, "E");
    summary += " " + tested + "/" + extracted;
    const Reference& py = ref[name];  // no status when Python does not list it
    EXPECT_FALSE(py.status == "crc" && (tested == "T" || extracted == "E")) << "Python: bad CRC";
    EXPECT_TRUE(py.status != "ok" || extracted != "E" || bytes == py.bytes) << "not Python's bytes";
  }
  zip.Close();  // a failed open still leaves the archive to be closed
  auto known = kKnownOutcomes.find(GetParam());
  EXPECT_EQ(summary, known != kKnownOutcomes.end() ? known->second : summary);
  alarm(0);
}

// A machine without the corpus says so; in CI it fails.
TEST(CorpusPresence, CorpusFolderIsThere) { VRD_REQUIRE_CORPUS(!CorpusFiles().empty()); }

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusTest, ::testing::ValuesIn(CorpusFiles()),
                         [](const auto& info) {
                           std::string name =
                               info.param.substr(0, info.param.size() - 4);  // without ".zip"
                           for (char& c : name)
                             c = isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           return name;
                         });

}  // namespace
