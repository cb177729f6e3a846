// Answer classification, line reading and located errors. The command line
// is checked end to end (tests/e2e/test_cmdline.py).
#include <gtest/gtest.h>

#include <cstdio>

#include "SkinCfgProgram.h"
#include "test_util.h"

namespace {

TEST(ConsoleTest, ClassifiesAnswers) {
  const struct {
    const char* line;
    int code;
  } cases[] = {{"y", INPUT_YES},  {"Y", INPUT_YES}, {"n", INPUT_NO}, {"N", INPUT_NO},
               {"", INPUT_EMPTY}, {"7", 7},         {"10", 10},      {"99", 99},
               {"yes", 0},        {"no", 0},        {" y", 0},       {"y ", 0},
               {" ", 0},          {"0", 0},         {"07", 0},       {"100", 0},
               {"+5", 0},         {"5 ", 0},        {"x", 0}};
  for (const auto& c : cases) EXPECT_EQ(SkinCfgProgram::ClassifyInput(c.line), c.code) << c.line;
}

// A NUL byte once cut a line short: "y\0junk" read as "y", and one in the
// dropped part of an overlong line hid its end, swallowing the next lines.
TEST(ConsoleTest, ReadsLinesWhateverTheyHold) {
  ziptest::ScopedTempDir dir;
  const std::string longline = std::string(270, 'a') + '\0' + std::string(29, 'a');
  ziptest::WriteFileBytes(dir.Sub("in"),
                          longline + "\n" + std::string("y\0junk\n\0\n", 9) + "5\nlast");
  ASSERT_NE(freopen(dir.Sub("in").c_str(), "r", stdin), nullptr);
  SkinCfgProgram p;
  EXPECT_EQ(std::string(p.ReadLine()), longline.substr(0, 255));
  EXPECT_EQ(p.GetInput(), 0);
  EXPECT_EQ(p.GetInput(), 0);  // a lone NUL is no empty line either
  EXPECT_EQ(p.GetInput(), 5);
  EXPECT_EQ(std::string(p.ReadLine()), "last");
  EXPECT_EQ(p.GetInput(), -1);
  EXPECT_TRUE(p.inputended);
}

TEST(ConsoleTest, LocatedErrorsAndCutTexts) {
  SkinCfgProgram p;
  testing::internal::CaptureStdout();
  p.PrintError("setup", 910, "CheckSetupItem(): no defaultval set for: %s\n", "Chat");
  p.PrintError("src/file", 9, "x %d\n", 5);
  p.PrintMessage("%s", std::string(2000, 'z').c_str());
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "ERROR: [setup:910] CheckSetupItem(): no defaultval set for: Chat\n"
            "ERROR: [file:9] x 5\n" +
                std::string(1023, 'z'));
}

}  // namespace
