// Answer classification, line reading, located errors and the command line.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "../zipengine/test_util.h"
#include "SkinCfgProgram.h"

namespace {

using namespace ziptest;

TEST(ConsoleTest, ClassifiesAnswers) {
  const struct { const char* line; int code; } cases[] = {
      {"y", INPUT_YES}, {"Y", INPUT_YES}, {"n", INPUT_NO}, {"N", INPUT_NO},
      {"", INPUT_EMPTY}, {"7", 7}, {"10", 10}, {"99", 99},
      {"yes", 0}, {"no", 0}, {" y", 0}, {"y ", 0}, {" ", 0}, {"0", 0}, {"07", 0},
      {"100", 0}, {"+5", 0}, {"5 ", 0}, {"x", 0}};
  for (const auto& c : cases) EXPECT_EQ(SkinCfgProgram::ClassifyInput(c.line), c.code) << c.line;
}

TEST(ConsoleTest, ReadsOverlongLinesAndEndOfInput) {
  ScopedTempDir dir;
  std::string longline(300, 'a');
  WriteFileBytes(dir.Sub("in"), longline + "\nnext\nlast");
  ASSERT_NE(freopen(dir.Sub("in").c_str(), "r", stdin), nullptr);
  SkinCfgProgram p;
  EXPECT_EQ(std::string(p.ReadLine()), longline.substr(0, 255));
  EXPECT_EQ(std::string(p.ReadLine()), "next");  // the rest of the long line is gone
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
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "ERROR: [setup:910] CheckSetupItem(): no defaultval set for: Chat\n"
                 "ERROR: [file:9] x 5\n" + std::string(1023, 'z'));
}

// Runs ParseArgs on a command line; returns its result and what it printed.
bool Parse(SkinCfgProgram& p, std::vector<std::string> args, std::string* out,
           bool* help = nullptr) {
  args.insert(args.begin(), "vrdskincfg");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  bool helpprinted = false;
  testing::internal::CaptureStdout();
  bool ok = p.ParseArgs(static_cast<int>(argv.size()), argv.data(), &helpprinted);
  *out = testing::internal::GetCapturedStdout();
  if (help != nullptr) *help = helpprinted;
  return ok;
}

TEST(ConsoleTest, ArchiveNameRule) {
  const struct { const char* name; bool ok; } cases[] = {
      {"Skins.ZIP", true}, {"a.zip", true}, {"dir/b.Zip", true}, {".zip", false},
      {"x.zi", false}, {"archive.zip.bak", false}, {"dir/.zip", false}, {"a .zip", false},
      {"a\\.zip", false}};
  for (const auto& c : cases) {
    SkinCfgProgram p;
    std::string out;
    EXPECT_EQ(Parse(p, {std::string("--skin=") + c.name, "--nowait"}, &out), c.ok) << c.name;
    EXPECT_EQ(out, c.ok ? "" : "ERROR: Invalid zip-archive filename: '" + std::string(c.name) +
                                   "'.\n");
    EXPECT_FALSE(p.waitonexit);  // taken over before the name is judged
  }
}

TEST(ConsoleTest, CommandLine) {
  std::string out;
  {
    SkinCfgProgram p;
    EXPECT_TRUE(Parse(p, {"--ie", "set.txt", "--import"}, &out));
    EXPECT_STREQ(p.cfgfilename, "set.txt");
    EXPECT_TRUE(p.importmode);
    EXPECT_TRUE(p.waitonexit);
  }
  {
    SkinCfgProgram p;
    bool help = false;
    EXPECT_TRUE(Parse(p, {"--bogus", "--help"}, &out, &help));
    EXPECT_TRUE(help);
    EXPECT_EQ(out.rfind("Usage: vrdskincfg [--skin=<file>]", 0), 0u) << out;
  }
  for (std::vector<std::string> bad :
       {std::vector<std::string>{"--skin=a.zip", "--skin=b.zip", "--nowait"},
        {"file.zip", "--nowait"}, {"--bogus", "--nowait"}}) {
    SkinCfgProgram p;
    EXPECT_FALSE(Parse(p, bad, &out));
    EXPECT_NE(out.find("Try 'vrdskincfg --help' for more information.\n"), std::string::npos);
    EXPECT_TRUE(p.waitonexit);  // nothing of a faulty command line takes effect
    EXPECT_STREQ(p.zipfilename, "");
  }
  for (const char* option : {"--skin=", "--ie="}) {
    SkinCfgProgram p;
    std::string value = std::string(252, 'x') + ".zip";  // 256 characters
    EXPECT_FALSE(Parse(p, {option + value, "--nowait"}, &out));
    EXPECT_EQ(out, "ERROR: Filename too long (max. 255 characters): '" + value + "'.\n");
    EXPECT_FALSE(p.waitonexit);
  }
}

}  // namespace
