// Answer classification, line reading, located errors and the command line.
#include <gtest/gtest.h>

#include <cstdio>

#include "test_util.h"
#include "SkinCfgProgram.h"

namespace {

TEST(ConsoleTest, ClassifiesAnswers) {
  const struct { const char* line; int code; } cases[] = {
      {"y", INPUT_YES}, {"Y", INPUT_YES}, {"n", INPUT_NO}, {"N", INPUT_NO},
      {"", INPUT_EMPTY}, {"7", 7}, {"10", 10}, {"99", 99},
      {"yes", 0}, {"no", 0}, {" y", 0}, {"y ", 0}, {" ", 0}, {"0", 0}, {"07", 0},
      {"100", 0}, {"+5", 0}, {"5 ", 0}, {"x", 0}};
  for (const auto& c : cases) EXPECT_EQ(SkinCfgProgram::ClassifyInput(c.line), c.code) << c.line;
}

// A NUL byte once cut a line short: "y\0junk" read as "y", and one in the
// dropped part of an overlong line hid its end, swallowing the next lines.
TEST(ConsoleTest, ReadsLinesWhateverTheyHold) {
  ziptest::ScopedTempDir dir;
  const std::string longline = std::string(270, 'a') + '\0' + std::string(29, 'a');
  ziptest::WriteFileBytes(dir.Sub("in"), longline + "\n" + std::string("y\0junk\n\0\n", 9) +
                                             "5\nlast");
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
            "ERROR: [file:9] x 5\n" + std::string(1023, 'z'));
}

// Output: "" for none, else a text it contains. Help beats errors; a faulty line
// takes no effect, but the --nowait added to each does before a value is judged.
TEST(ConsoleTest, CommandLine) {
  const std::string v256 = std::string(252, 'x') + ".zip", usage = "Usage: vrdskincfg";
  const std::string too_long = "ERROR: Filename too long (max. 255 characters): '" + v256 + "'.\n";
  const std::string try_help = "Try 'vrdskincfg --help' for more information.\n";
  struct Case { std::vector<std::string> args; bool ok, wait; std::string output; };
  std::vector<Case> cases = {
      {{"--bogus", "--help"}, true, true, usage},
      {{"--skin=a.zip", "--skin=b.zip"}, false, true, try_help},
      {{"file.zip"}, false, true, try_help},
      {{"--bogus"}, false, true, try_help},
      {{"--skin=" + v256}, false, false, too_long},
      {{"--ie=" + v256}, false, false, too_long}};
  for (std::string name : {"Skins.ZIP", "a.zip", "dir/b.Zip"}) {
    cases.push_back({{"--skin=" + name}, true, false, ""});
  }
  for (std::string name : {".zip", "x.zi", "archive.zip.bak", "dir/.zip", "a .zip", "a\\.zip"}) {
    cases.push_back({{"--skin=" + name}, false, false,
                     "ERROR: Invalid zip-archive filename: '" + name + "'.\n"});
  }
  for (Case& c : cases) {
    SkinCfgProgram p;
    c.args.insert(c.args.begin(), "vrdskincfg");
    c.args.push_back("--nowait");
    std::vector<char*> argv;
    for (std::string& a : c.args) argv.push_back(a.data());
    bool help = false;
    testing::internal::CaptureStdout();
    EXPECT_EQ(p.ParseArgs(static_cast<int>(argv.size()), argv.data(), &help), c.ok);
    const std::string out = testing::internal::GetCapturedStdout();
    SCOPED_TRACE(c.args[1]);
    EXPECT_EQ(help, c.output == usage);
    EXPECT_TRUE(c.output.empty() ? out.empty() : out.find(c.output) != std::string::npos) << out;
    EXPECT_EQ(p.waitonexit, c.wait);
    EXPECT_TRUE(!c.wait || p.zipfilename[0] == '\0') << p.zipfilename;
  }
}

}  // namespace
