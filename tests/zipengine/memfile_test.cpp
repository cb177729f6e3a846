// The memory file: growth steps, position rule, Detach, and memError for sizes
// only a damaged header asks for.
#include <cstring>

#include "test_util.h"

namespace {

using ziptest::CodeOf;

// Each case: SetLength, Write, seek ('p': grows the buffer, not the file), or
// 't': SetLength to 3000 and back, which moves the position as the buffer holds it.
TEST(ZipMemFile, GrowsInStepsOfGrowBy) {
  const struct {
    char how;
    uint32_t size, buffer, length, position;
  } cases[] = {
      {'s', 300, 1024, 300, 0},   {'s', 3000, 3072, 3000, 0}, {'w', 5000, 5120, 5000, 5000},
      {'s', 1024, 1024, 1024, 0}, {'w', 1, 1024, 1, 1},       {'p', 2049, 3072, 0, 2049},
      {'t', 100, 3072, 100, 100},
  };
  for (const auto& c : cases) {
    CZipMemFile f(1024);
    if (c.how == 's') f.SetLength(c.size);
    if (c.how == 't') {
      f.SetLength(3000);
      f.SetLength(c.size);
    }
    if (c.how == 'w') f.Write(std::string(c.size, 'x').data(), c.size);
    if (c.how == 'p') f.Seek(c.size, CZipAbstractFile::begin);
    EXPECT_EQ((std::vector<uint64_t>{f.GetBufferSize(), f.GetLength(), f.GetPosition()}),
              (std::vector<uint64_t>{c.buffer, c.length, c.position}))
        << c.how << " " << c.size;
  }
}

TEST(ZipMemFile, RefusesImpossibleSizesAndDetachResets) {
  CZipMemFile f(1024), empty(1024);
  f.Write("data", 4);
  EXPECT_EQ(CodeOf([&] { f.Seek(-5, CZipAbstractFile::end); }), CZipException::memError);
  EXPECT_EQ(CodeOf([&] { f.Seek(INT64_MAX, CZipAbstractFile::current); }), CZipException::memError);
  EXPECT_EQ(CodeOf([&] { f.Seek(0x100000000LL, CZipAbstractFile::begin); }),
            CZipException::memError);
  EXPECT_EQ(CodeOf([&] { f.SetLength(0xFFFFFFFFu); }),
            CZipException::memError);  // a header can claim 4 GiB
  EXPECT_EQ(CodeOf([&] { f.SetLength(CZipMemFile::kMaxSize + 1ull); }), CZipException::memError);
  void* block = f.Detach();
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(memcmp(block, "data", 4), 0);
  free(block);
  EXPECT_EQ(f.GetLength(), 0u);
  EXPECT_TRUE(f.IsClosed());
  EXPECT_EQ(CodeOf([&] { f.Write("x", 1); }), CZipException::memError);  // grow-by was reset too
  empty.SetLength(0);
  EXPECT_EQ(empty.Detach(), nullptr);
}

}  // namespace
