// The memory file: its growth steps, the SetLength position rule, and the
// refusal (505) of sizes that only a damaged header would ask for.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ZipMemFile.h"
#include "damage_util.h"

namespace {

using ziptest::CodeOf;

// Each case: SetLength, Write, seek ('p': grows the buffer, not the file), or
// 't': SetLength to 3000 and back, which moves the position as the buffer holds it.
TEST(ZipMemFile, GrowsInStepsOfGrowBy) {
  const struct { char how; uint32_t size, buffer, length, position; } cases[] = {
      {'s', 300, 1024, 300, 0},     {'s', 3000, 3072, 3000, 0}, {'w', 5000, 5120, 5000, 5000},
      {'s', 1024, 1024, 1024, 0},   {'w', 1, 1024, 1, 1},       {'p', 2049, 3072, 0, 2049},
      {'t', 100, 3072, 100, 100},
  };
  for (const auto& c : cases) {
    CZipMemFile f(1024);
    std::string data(c.size, 'x');
    if (c.how == 's') f.SetLength(c.size);
    if (c.how == 't') { f.SetLength(3000); f.SetLength(c.size); }
    if (c.how == 'w') f.Write(data.data(), c.size);
    if (c.how == 'p') f.Seek(c.size, CZipAbstractFile::begin);
    EXPECT_EQ((std::vector<uint64_t>{f.GetBufferSize(), f.GetLength(), f.GetPosition()}),
              (std::vector<uint64_t>{c.buffer, c.length, c.position})) << c.how << " " << c.size;
  }
}

TEST(ZipMemFile, RefusesImpossiblePositionsAndSizes) {
  CZipMemFile f(1024);
  f.Write("abc", 3);
  EXPECT_EQ(CodeOf([&] { f.Seek(-4, CZipAbstractFile::end); }), 505);
  EXPECT_EQ(CodeOf([&] { f.Seek(INT64_MAX, CZipAbstractFile::current); }), 505);
  EXPECT_EQ(CodeOf([&] { f.Seek(0x100000000LL, CZipAbstractFile::begin); }), 505);
  // A header can claim 4 GiB; the caller presets the file to the claim.
  EXPECT_EQ(CodeOf([&] { f.SetLength(0xFFFFFFFFu); }), 505);
  EXPECT_EQ(CodeOf([&] { f.SetLength(CZipMemFile::kMaxSize + 1ull); }), 505);
  EXPECT_EQ(f.GetLength(), 3u);
}

TEST(ZipMemFile, DetachHandsOverTheBlockAndResets) {
  CZipMemFile f(1024);
  f.Write("data", 4);
  void* block = f.Detach();
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(memcmp(block, "data", 4), 0);
  free(block);
  EXPECT_EQ(f.GetLength(), 0u);
  EXPECT_TRUE(f.IsClosed());
  EXPECT_EQ(CodeOf([&] { f.Write("x", 1); }), 505);  // grow-by was reset too
  CZipMemFile empty(1024);
  empty.SetLength(0);
  EXPECT_EQ(empty.Detach(), nullptr);
}

}  // namespace
