// The item table: the catalogue checked against the sample-skin generator's
// and against the manual page's table, and the limits of the registration
// operations.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>

#include "SkinCfgProgram.h"
#include "test_support.h"

namespace {

// The program's catalogue in the form of make_skin.py --catalogue; unused
// entries must be trailing and empty.
std::string Catalogue(const SkinCfgProgram& p) {
  auto entries = [](const char(*file)[VRDSKINCFG_MAXSTRINGLENGTH + 1]) {
    std::string s = std::string(file[0]) + " " + file[1] + " " + file[2];
    return s.erase(s.find_last_not_of(' ') + 1);
  };
  std::ostringstream out;
  for (const SetupItemInfo& item : p.items) {
    out << item.id << ' ' << item.name << " (" << item.defaultval << "): " << entries(item.file);
    for (const SetupValueInfo* v = item.value; v < item.value + item.numvalues; ++v) {
      out << "\n  " << v->id << ' ' << v->name << ": " << entries(v->file);
      if (v->variant != -1 || v->slotsize != -1) out << " | " << v->variant << ' ' << v->slotsize;
    }
    out << '\n';
  }
  return out.str();
}

using srctest::Output;

class SetupTest : public ::testing::Test {
 protected:
  SkinCfgProgram program;
  SetupItemInfo item{};
};

TEST_F(SetupTest, CatalogueMatchesTheSkinLayout) {
  const std::string want = srctest::Catalogue();
  ASSERT_EQ(std::count(want.begin(), want.end(), '\n'), VRDSKINCFG_NUMITEMS + 54);
  ASSERT_TRUE(program.InitSetupItems());
  EXPECT_EQ(Catalogue(program), want);
}

// The settings-file table of doc/vrdskincfg.1 must not drift from the program:
// a row "item||\fBname\fR" per item, then "|alternative|label" per
// alternative, the default's label followed by " *".
TEST_F(SetupTest, ManualPageListsTheCatalogue) {
  std::ifstream page(ziptest::SourceDir() + "/doc/vrdskincfg.1");
  ASSERT_TRUE(page.good());
  const std::regex row(R"((\d*)\|(\d*)\|(.+))");
  std::string line, listed;
  while (std::getline(page, line)) {
    if (std::regex_match(line, row)) listed += line + "\n";
  }
  ASSERT_TRUE(program.InitSetupItems());
  std::ostringstream want;
  for (const SetupItemInfo& item : program.items) {
    want << item.id << "||\\fB" << item.name << "\\fR\n";
    for (int p = 0; p < item.numvalues; ++p) {
      want << '|' << item.value[p].id << '|' << item.value[p].name
           << (p == item.defaultval ? " *" : "") << '\n';
    }
  }
  EXPECT_EQ(listed, want.str());
}

TEST_F(SetupTest, RegistrationLimits) {
  // A third entry behind an empty second one does not count.
  const struct {
    const char *file2, *file3;
    int numfiles;
  } counts[] = {{"", "c", 1}, {"b", "", 2}, {"b", "c", 3}};
  for (const auto& c : counts) {
    ASSERT_TRUE(program.SetupItem(&item, 7, "Item", "a", c.file2, c.file3));
    EXPECT_EQ(item.numfiles, c.numfiles) << c.file2 << "|" << c.file3;
  }
  const std::string kItem = "ERROR: [setup:N] SetupItem";
  const std::string kLength = "(): Increase VRDSKINCFG_MAXSTRINGLENGTH !\n";
  const std::string kValueLength = kItem + "Value" + kLength;

  // Each of the four texts may hold 80 characters, not 81; it is stored only when it fits.
  const struct {
    size_t length;
    bool fits;
    std::string output;
  } lengths[] = {{80, true, ""}, {81, false, kItem + kLength + kValueLength}};
  const SetupValueInfo& value = item.value[0];
  const char* const stored[] = {value.name, value.file[0], value.file[1], value.file[2]};
  for (const auto& c : lengths) {
    for (int field = 0; field < 4; ++field) {
      const std::string text(c.length, 'x');
      std::vector<const char*> a = {"name", "file1", "file2", "file3"};
      a[field] = text.c_str();
      EXPECT_EQ(
          Output([&] { return program.SetupItem(&item, 1, a[0], a[1], a[2], a[3]); }, c.fits) +
              Output([&] { return program.SetupItemValue(&item, 0, 1, a[0], a[1], a[2], a[3]); },
                     c.fits),
          c.output)
          << field;
      EXPECT_EQ(stored[field] == text, c.fits) << field;
    }
  }

  // Position 9 is the last; one call reports both limits, in this order.
  const std::string kPosition = kItem + "Value(): Increase VRDSKINCFG_MAXVALUESPERITEM !\n";
  const std::string tooLong(81, 'x');
  const struct {
    int index;
    const char* name;
    std::string output;
  } positions[] = {
      {9, "Ninth", ""}, {10, "Tenth", kPosition}, {10, tooLong.c_str(), kPosition + kValueLength}};
  for (const auto& c : positions) {
    EXPECT_EQ(Output([&] { return program.SetupItemValue(&item, c.index, 3, c.name, "f", "", ""); },
                     c.output.empty()),
              c.output)
        << c.index;
  }
  EXPECT_STREQ(item.value[9].name, "Ninth");
}

// Item 5 lacks a live entry, item 18 an alternative; entries go before the default.
TEST_F(SetupTest, CheckSetupItemsStopsAtTheFirstMissingEntry) {
  ziptest::ScopedTempDir tmp;
  const std::string zip = tmp.Sub("skin.zip");
  std::string made;
  ASSERT_EQ(srctest::MakeSkin({"--missing", "backdrop/smallinventoryv.jpg", "--missing",
                               "skinconfig/data/pointer_normal.png.base", zip},
                              &made),
            0)
      << made;
  std::snprintf(program.zipfilename, sizeof program.zipfilename, "%s", zip.c_str());
  ASSERT_TRUE(program.OpenZip(true));
  const std::pair<int, std::string> cases[] = {
      // item index without default, output
      {3, "ERROR: [setup:N] CheckSetupItem(): no defaultval set for: Inventory layout\n"},
      {4, "ERROR: [file:N] FileExists(): file not found: backdrop/smallinventoryv.jpg\n"}};
  for (const auto& [nodefault, output] : cases) {
    ASSERT_TRUE(program.InitSetupItems());
    program.items[nodefault].defaultval = -1;
    EXPECT_EQ(Output([&] { return program.CheckSetupItems(); }, false), output) << nodefault;
  }
  program.CloseZip();
}

}  // namespace
