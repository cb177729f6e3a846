// Inputs on which the fuzz targets (fuzz/) once failed, replayed through the
// same target bodies so that every fix stays fixed. Each case is the hex of
// the input, minimised; its comment says what went wrong.
#include <gtest/gtest.h>

#include "../../fuzz/zip_fuzz_cases.h"
#include "test_util.h"

namespace {

using namespace ziptest;

struct FuzzCase {
  const char* name;
  bool update;      // zip_update_fuzzer (else zip_open_fuzzer)
  const char* hex;  // whitespace is ignored
};

const FuzzCase kCases[] = {
    // Degenerate inputs every reader meets first.
    {"EmptyInput", false, ""},
    {"EndRecordOnly", false, "504b0506 00000000 00000000 00000000 00000000 0000"},
    {"EndRecordOnlyUpdated", true, "01020000 504b0506 00000000 00000000 00000000 00000000 0000"},
};

std::vector<uint8_t> FromHex(const char* hex) {
  std::vector<uint8_t> bytes;
  std::string digits;
  for (const char* p = hex; *p != '\0'; ++p) {
    if (isxdigit(static_cast<unsigned char>(*p))) digits += *p;
  }
  for (size_t i = 0; i + 1 < digits.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

class FuzzRegressionTest : public ::testing::TestWithParam<FuzzCase> {
 protected:
  void TearDown() override {
    std::error_code ec;
    fs::remove(zipfuzz::ScratchPath(), ec);
  }
};

TEST_P(FuzzRegressionTest, TargetBehaves) {
  std::vector<uint8_t> input = FromHex(GetParam().hex);
  const uint8_t* data = input.empty() ? nullptr : input.data();
  std::string problem = GetParam().update ? zipfuzz::RunUpdateCase(data, input.size())
                                          : zipfuzz::RunOpenCase(data, input.size());
  EXPECT_EQ(problem, "");
}

INSTANTIATE_TEST_SUITE_P(Found, FuzzRegressionTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<FuzzCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
