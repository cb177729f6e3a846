// The memory file: its growth steps, SetLength and Seek rules, and the
// refusal (505) of sizes that only a damaged header would ask for.
#include <cstdlib>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "ZipMemFile.h"
#include "damage_util.h"

namespace {

using ziptest::CodeOf;

TEST(ZipMemFile, GrowsInStepsOfGrowBy) {
  struct Case {
    const char* how;
    uint32_t size;
    uint32_t buffer;
  } cases[] = {
      {"set", 300, 1024}, {"set", 3000, 3072}, {"write", 5000, 5120},
      {"set", 1024, 1024}, {"write", 1, 1024}, {"seek", 2049, 3072},
  };
  for (const Case& c : cases) {
    CZipMemFile f(1024);
    std::string data(c.size, 'x');
    if (std::string(c.how) == "set") f.SetLength(c.size);
    if (std::string(c.how) == "write") f.Write(data.data(), c.size);
    if (std::string(c.how) == "seek") f.Seek(c.size, CZipAbstractFile::begin);
    EXPECT_EQ(f.GetBufferSize(), c.buffer) << c.how << " " << c.size;
    EXPECT_EQ(f.GetLength(), std::string(c.how) == "seek" ? 0u : c.size);
  }
}

TEST(ZipMemFile, SetLengthMovesPositionOnlyWithinTheBuffer) {
  CZipMemFile f(1024);
  f.SetLength(3000);  // grows: position stays
  EXPECT_EQ(f.GetPosition(), 0u);
  f.SetLength(100);  // fits: position moves to the length
  EXPECT_EQ(f.GetPosition(), 100u);
  EXPECT_EQ(f.GetLength(), 100u);
}

TEST(ZipMemFile, RefusesImpossiblePositionsAndSizes) {
  CZipMemFile f(1024);
  f.Write("abc", 3);
  EXPECT_EQ(CodeOf([&] { f.Seek(-1, CZipAbstractFile::begin); }), 505);
  EXPECT_EQ(CodeOf([&] { f.Seek(-4, CZipAbstractFile::end); }), 505);
  EXPECT_EQ(CodeOf([&] { f.Seek(-4, CZipAbstractFile::current); }), 505);
  EXPECT_EQ(CodeOf([&] { f.Seek(INT64_MAX, CZipAbstractFile::current); }), 505);
  EXPECT_EQ(CodeOf([&] { f.Seek(0x100000000LL, CZipAbstractFile::begin); }), 505);
  // A header can claim 4 GiB; the caller presets the file to the claim.
  EXPECT_EQ(CodeOf([&] { f.SetLength(0xFFFFFFFFu); }), 505);
  EXPECT_EQ(CodeOf([&] { f.SetLength(CZipMemFile::kMaxSize + 1ull); }), 505);
  EXPECT_EQ(f.GetLength(), 3u);  // unchanged by the refusals
  CZipMemFile noGrowth(0);
  EXPECT_EQ(CodeOf([&] { noGrowth.Write("x", 1); }), 505);
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
