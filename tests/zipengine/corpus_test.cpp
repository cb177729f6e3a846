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
// T / E for success, f for false, or the exception code. Every other
// archive must read as Python reads it: it opens, and an entry Python reads
// gives T/E (a folder T/f: it has nothing to extract), one it refuses does
// not (names Python lists twice or in another form are left out).
const std::map<std::string, std::string> kKnownOutcomes = {
    {"libzip/data_bogus.zip", "open 220"},
    {"libzip/data_zip64-3mf.zip", "open 221"},
    {"libzip/data_incons-cdoffset.zip", "open 201"},
    {"libzip/data_incons-data.zip", " 202/202"},
    {"libzip/data_testbzip2.zip", " f/f"},
    {"yauzl/failure_invalid_code_lengths_set.zip", " 504/504"},
    {"yauzl/wrong-entry-sizes_wrong-entry-sizes.zip", " 201/f 201/201 214/f"},
    // Where the engine and Python part: the engine checks the directory and
    // the local headers more strictly, reads no Zip64 or LZMA, and lets a
    // name stand that Python refuses.
    {"libzip/data_incons-archive-comment-longer.zip", "open 201"},
    {"libzip/data_incons-cdsize-large.zip", "open 201"},
    {"libzip/data_incons-cdsize-small.zip", "open 201"},
    {"libzip/data_incons-central-compsize-larger-toolarge.zip", " 201/201"},
    {"libzip/data_incons-central-compsize-larger.zip", " 201/201"},
    {"libzip/data_incons-central-magic-bad.zip", "open 201"},
    {"libzip/data_incons-central-magic-bad2.zip", "open 201"},
    {"libzip/data_incons-central-size-larger.zip", " 201/201"},
    {"libzip/data_incons-ef-local-dupe-zip64-v1.zip", "open 201"},
    {"libzip/data_incons-ef-local-dupe-zip64-v2.zip", "open 201"},
    {"libzip/data_incons-eocd-magic-bad.zip", "open 220"},
    {"libzip/data_incons-eocd64-gap.zip", "open 201"},
    {"libzip/data_incons-eocd64.zip", "open 201"},
    {"libzip/data_incons-file-count-high.zip", "open 201"},
    {"libzip/data_incons-file-count-overflow.zip", "open 201"},
    {"libzip/data_incons-gap-before-eocd.zip", "open 201"},
    {"libzip/data_incons-local-compression-method.zip", " 201/201"},
    {"libzip/data_incons-local-compsize-larger.zip", " 201/201"},
    {"libzip/data_incons-local-compsize-smaller.zip", " 201/201"},
    {"libzip/data_incons-local-crc.zip", " 201/201"},
    {"libzip/data_incons-local-filename-missing.zip", " T/E"},
    {"libzip/data_incons-local-filename.zip", " T/E"},
    {"libzip/data_incons-local-size-larger.zip", " 201/201"},
    {"libzip/data_incons-trailing-garbage.zip", " 201/201"},
    {"libzip/data_lzma-no-eos.zip", " f/f"},
    {"libzip/data_testfile-lzma.zip", " f/f"},
    {"libzip/data_testfile-truncated.zip", "open 220"},
    {"libzip/data_zip64-in-archive-comment.zip", "open 201"},
    {"libzip/data_zip64.zip", "open 201"},
    {"yauzl/"
     "failure_End_of_central_directory_record_signature_not_found_Either_not_a_zip_file_or_file_is_"
     "truncated.zip",
     "open 220"},
    {"yauzl/"
     "failure_End_of_central_directory_record_signature_not_found_Either_not_a_zip_file_or_file_is_"
     "truncated_1.zip",
     "open 220"},
    {"yauzl/failure_absolute_path_C_xt.zip", " T/E T/E"},
    {"yauzl/failure_absolute_path_atxt.zip", " T/E T/E"},
    {"yauzl/failure_compressed_uncompressed_size_mismatch_for_stored_file_2147483647_5.zip",
     " 201/201 T/E"},
    {"yauzl/failure_invalid_central_directory_file_header_signature_0x1014b50.zip", "open 201"},
    {"yauzl/failure_invalid_characters_in_fileName_a_txt.zip", " T/E T/E"},
    {"yauzl/failure_invalid_relative_path_xt.zip", " T/E T/E"},
    {"yauzl/failure_invalid_zip64_end_of_central_directory_record_signature.zip", "open 221"},
    {"yauzl/failure_not_enough_bytes_in_the_stream_expected_2048576_got_only_1000000.zip",
     " 201/201"},
    {"yauzl/failure_unexpected_EOF.zip", "open 221"},
    {"yauzl/failure_zip64_extended_information_extra_field_does_not_include_compressed_size.zip",
     "open 221"},
    {"yauzl/"
     "failure_zip64_extended_information_extra_field_does_not_include_relative_header_offset.zip",
     "open 221"},
    {"yauzl/failure_zip64_extended_information_extra_field_does_not_include_uncompressed_size.zip",
     "open 221"},
    {"yauzl/success_sloppy-filenames.zip", " T/E T/E"},
    {"yauzl/success_zip64.zip", "open 221"},
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
  auto known = kKnownOutcomes.find(GetParam());
  const bool pinned = known != kKnownOutcomes.end();
  std::string summary = opened.empty() ? "" : "open " + opened;
  for (uint16_t i = 0; opened.empty() && i < zip.GetCount(); ++i) {
    std::string name = zip.GetFileInfo(i)->GetFileName(), bytes;
    SCOPED_TRACE(name);
    EXPECT_NE(zip.FindFile(name.c_str()), kNotFound);
    std::string tested = Outcome([&] { return zip.TestFile(i); }, "T");
    std::string extracted = Outcome([&] { return ExtractEntry(zip, i, &bytes); }, "E");
    summary += " " + tested + "/" + extracted;
    auto py = ref.find(name);
    const std::string status = py != ref.end() ? py->second.status : "unlisted";
    EXPECT_FALSE(status == "crc" && (tested == "T" || extracted == "E")) << "Python: bad CRC";
    EXPECT_TRUE(status != "ok" || extracted != "E" || bytes == py->second.bytes)
        << "not Python's bytes";
    const std::string expected = IsDirName(name) ? "T/f" : "T/E";
    if (!pinned && status != "unlisted" && status != "twice") {
      EXPECT_EQ(tested + "/" + extracted == expected, status == "ok") << "Python: " << status;
    }
  }
  zip.Close();  // a failed open still leaves the archive to be closed
  if (pinned) {
    EXPECT_EQ(summary, known->second);
  } else {
    EXPECT_EQ(opened, "") << "Python reads it";
  }
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
