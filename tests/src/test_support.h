// Helpers of the program's unit tests, over the ones both suites share
// (test_util.h: temporary folders, file bytes, commands): output with the
// source lines masked, and skins and the catalogue from tools/make_skin.py,
// the test side's one description of the skin.
#ifndef TESTS_SRC_TEST_SUPPORT_H
#define TESTS_SRC_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "test_util.h"

namespace srctest {

// What call prints, with the line of every located error masked as
// "[unit:N]"; call must return ok.
inline std::string Output(const std::function<bool()>& call, bool ok) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(call(), ok);
  return std::regex_replace(testing::internal::GetCapturedStdout(), std::regex(R"(\[(\w+):\d+\])"),
                            "[$1:N]");
}

// Runs tools/make_skin.py with these options; its output goes to *log.
inline int MakeSkin(std::vector<std::string> options, std::string* log) {
  options.insert(options.begin(),
                 {ziptest::Python(), ziptest::SourceDir() + "/tools/make_skin.py"});
  return ziptest::RunCommand(options, log);
}

// The catalogue as make_skin.py --catalogue lists it.
inline std::string Catalogue() {
  std::string text;
  EXPECT_EQ(MakeSkin({"--catalogue"}, &text), 0) << text;
  return text;
}

}  // namespace srctest

#endif
