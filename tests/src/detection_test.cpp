// Detection of the live alternatives and the slot-size re-mapping, on sample
// skins written by the sample-skin generator.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../zipengine/test_util.h"
#include "SkinCfgProgram.h"

namespace {

using namespace ziptest;

class DetectionTest : public testing::Test {
 protected:
  // Writes a skin with the given generator options and opens it read-only
  // with the catalogue built; returns what the program printed.
  std::string Load(const std::vector<std::string>& options) {
    std::vector<std::string> cmd = {Python(), SourceDir() + "/tools/make_skin.py",
                                    dir_.Sub("vrd.zip")};
    cmd.insert(cmd.end(), options.begin(), options.end());
    std::string log;
    EXPECT_EQ(RunCommand(cmd, &log), 0) << log;
    snprintf(p_.zipfilename, sizeof p_.zipfilename, "%s", dir_.Sub("vrd.zip").c_str());
    testing::internal::CaptureStdout();
    EXPECT_TRUE(p_.OpenZip(true));
    EXPECT_TRUE(p_.InitSetupItems());
    detected_ = p_.GetCurrentValues();
    std::string out = testing::internal::GetCapturedStdout();
    return out;
  }
  ~DetectionTest() override { p_.CloseZip(); }

  SetupItemInfo* Item(const char* name) { return p_.FindItemByName(name); }

  ScopedTempDir dir_;
  SkinCfgProgram p_;
  bool detected_ = false;
};

TEST_F(DetectionTest, FindsDefaultsAndChosenAlternatives) {
  Load({"--live", "1=1", "--live", "18=3", "--live", "5=3", "--live", "16=0"});
  ASSERT_TRUE(detected_);
  for (const SetupItemInfo& item : p_.items) {
    int32_t expected = item.defaultval;
    if (item.id == 1) expected = 1;
    if (item.id == 18) expected = 3;
    if (item.id == 5) expected = 3;  // shares both pictures with position 2
    if (item.id == 16) expected = 0;
    EXPECT_EQ(item.currentval, expected) << item.name;
  }
}

TEST_F(DetectionTest, LiveEntryMatchingNothingStopsAtItsItem) {
  std::string out = Load({"--mismatch", "chat.xml"});
  EXPECT_FALSE(detected_);
  EXPECT_NE(out.find("GetCurrentValue(): Failed to get the current setting of Chat\n"),
            std::string::npos) << out;
  EXPECT_EQ(Item("Inventory slots")->currentval, -1);  // nothing after it is detected
}

TEST_F(DetectionTest, SlotSizeRemapping) {
  Load({"--live", "4=1"});  // the 42-slot 8-slot row
  SetupItemInfo* layout = Item("Inventory layout");
  ASSERT_TRUE(p_.HackActiveDefault(layout, 42));
  EXPECT_EQ(layout->currentval, 1);
  EXPECT_EQ(layout->defaultval, 0);
  ASSERT_TRUE(p_.HackActiveDefault(layout, 48));
  EXPECT_EQ(layout->currentval, 3);
  EXPECT_EQ(layout->defaultval, 2);

  testing::internal::CaptureStdout();
  EXPECT_FALSE(p_.HackActiveDefault(Item("Chat"), 48));
  EXPECT_NE(testing::internal::GetCapturedStdout().find(
                "HackActiveDefault(): can't find matching currentval for item: Chat\n"),
            std::string::npos);
}

}  // namespace
