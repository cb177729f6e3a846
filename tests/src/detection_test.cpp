// Detection of the live alternatives and the slot-size re-mapping, on sample
// skins written by the sample-skin generator.
#include <gtest/gtest.h>

#include <map>

#include "SkinCfgProgram.h"
#include "test_support.h"

namespace {

class DetectionTest : public testing::Test {
 protected:
  // Opens a skin made with these generator options, and detects; returns the output.
  std::string Load(std::vector<std::string> options) {
    const std::string zip = dir.Sub("vrd.zip");
    options.insert(options.begin(), zip);
    std::string log;
    EXPECT_EQ(srctest::MakeSkin(options, &log), 0) << log;
    snprintf(p.zipfilename, sizeof p.zipfilename, "%s", zip.c_str());
    testing::internal::CaptureStdout();
    EXPECT_TRUE(p.OpenZip(true));
    EXPECT_TRUE(p.InitSetupItems());
    detected = p.GetCurrentValues();
    return testing::internal::GetCapturedStdout();
  }
  ~DetectionTest() override { p.CloseZip(); }

  ziptest::ScopedTempDir dir;
  SkinCfgProgram p;
  bool detected = false;
};

// Item 5's position 3 shares both pictures with 2; item 15's positions 1
// and 2 hold the same bytes, and the first of them counts. Item 4's 1 is
// re-mapped by slot size.
TEST_F(DetectionTest, FindsDefaultsAndChosenAlternativesAndRemapsSlotSizes) {
  Load({"--live", "1=1", "--live", "4=1", "--live", "5=3", "--live", "15=1", "--live", "16=0",
        "--live", "18=3", "--same",
        "skinconfig/data/craft.xml.becker.fontsize10=skinconfig/data/craft.xml.becker.fontsize11"});
  ASSERT_TRUE(detected);
  // Table order, ids 1 to 21 without 8.
  const int32_t positions[VRDSKINCFG_NUMITEMS] = {1, 0, 0, 1, 3, 0, 0, 1, 0, 0,
                                                  0, 0, 1, 1, 0, 0, 3, 1, 1, 1};
  for (int i = 0; i < VRDSKINCFG_NUMITEMS; ++i) {
    EXPECT_EQ(p.items[i].currentval, positions[i]) << p.items[i].name;
  }
  SetupItemInfo* layout = &p.ItemNamed("Inventory layout");
  ASSERT_TRUE(p.HackActiveDefault(layout, 42));
  EXPECT_EQ(std::pair(layout->currentval, layout->defaultval), std::pair(1, 0));
  ASSERT_TRUE(p.HackActiveDefault(layout, 48));
  EXPECT_EQ(std::pair(layout->currentval, layout->defaultval), std::pair(3, 2));
  testing::internal::CaptureStdout();
  EXPECT_FALSE(p.HackActiveDefault(&p.ItemNamed("Chat"), 48));
  EXPECT_NE(testing::internal::GetCapturedStdout().find(
                "HackActiveDefault(): can't find matching currentval for item: Chat\n"),
            std::string::npos);
}

TEST_F(DetectionTest, LiveEntryMatchingNothingStopsAtItsItem) {
  const std::string out = Load({"--mismatch", "chat.xml"});
  EXPECT_FALSE(detected);
  EXPECT_NE(out.find("GetCurrentValue(): Failed to get the current setting of Chat\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(p.ItemNamed("Inventory slots").currentval, -1);  // nothing after it
}

}  // namespace
