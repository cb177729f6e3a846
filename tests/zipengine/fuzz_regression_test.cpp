// Inputs (hex, minimised) on which the fuzz targets once failed, replayed
// through the same target bodies so that every fix stays fixed.
#include <gtest/gtest.h>

#include "test_util.h"
#include "zip_fuzz_cases.h"

namespace {

// update: zip_update_fuzzer, else zip_open_fuzzer; whitespace in hex is ignored.
struct FuzzCase {
  const char* name;
  bool update;
  const char* hex;
};

const FuzzCase kCases[] = {
    {"EndRecordBehindAStubUpdated", true,
     "01020000 504b0506 00000000 00000000 00000000 00000000 0000"},
    // "first" claims volume 6, which sorts it after "second": removing it
    // would cut "second" off too. Refuse, or keep "second" intact.
    {"BogusVolumeReordersEntries", true,
     "2b4e4dcecf4b29482c2a0100504b01020000140000000800565e9c40a8008c940b000000090000000500000000000"
     "6000000"
     "00000000000000006669727302858007504b0304140000000800565e9c40a8008c940b00000009000000050000006"
     "6697273"
     "744bcb2c2a2e29482c2a0100504b0304140000000800565e9c402f199dfd0c0000000a000000060000007365636f6"
     "e642b4e"
     "4dcecf4b29482c2a0100504b01020000140000000800565e9c40a8008c940b0000000900000005000000000006000"
     "0000000"
     "0000000000006669727374504b01020000140000000800565e9c402f199dfd0c0000000a000000060000000000000"
     "0000000"
     "0000002e0000007365636f6e64504b05060000000002000200670000005e0000000000"},
    // One entry made on DOS removed, one added: it gets DOS attributes.
    {"AddedAfterLastRemovedKeepsTheHost", true,
     "01030000504b0304140000000000a1a28f422165738c030000000300000003000000666f6f666f6f504b01021400"
     "140000000000a1a28f422165738c0300000003000000030000000000000000000000000000000000666f6f504b05"
     "06000000000100010031000000240000000000"},
    // Central name "\0\t\0\0n" (local "plain"): a C string cannot name it,
    // and the update target once blamed the engine for that.
    {"NulInStoredName", true,
     "02858007504b03040a00000000006cab2e4ad0f91539060000000600000005000000706c61696e706c61696e0a504"
     "b03040a"
     "00000000006dab2e4a555e8cfb0a0000000a00000009000000656e63727970746564656e637279707465640a504b0"
     "1021e03"
     "0a00000000006cab2e4ad0f915390600000006000000050000000000000001000000b48100000000000900006e504"
     "b01023f"
     "030a00000000006dab2e4a555e8cfb0a0000000a000000090000000000000000000000b68129000000656e6372797"
     "0746564"
     "504b050600000000020002006a0000005a0000000000"},
    // The local header of "test2" claims an extra field that runs into the
    // central directory, which every change cuts away: not an archive an
    // update must keep intact.
    {"LocalExtraRunsIntoTheDirectory", true,
     "00040101504b030414000000000041a3fb58faa63f7d030000000300000005000000746573743174657358504b030"
     "4140000"
     "00000041a3fb580c7e7fd8040000000400000005006500743200747374657374504b01023f0314000000000041a3f"
     "b58faa6"
     "3f7d0300000003000000050000000000000000000000b681000000007465737431504b01023f0714000000000041a"
     "3fb580c"
     "7e7fd80400000004000000050000000000000000000000b681270000007465737432504b050600000000020002006"
     "6000000"
     "4e0000000000"},
};

TEST(FuzzRegressionTest, TargetsBehaveOnInputsThatOnceFailed) {
  for (const FuzzCase& c : kCases) {
    SCOPED_TRACE(c.name);
    std::string input = ziptest::FromHex(c.hex);
    const uint8_t* data = input.empty() ? nullptr : reinterpret_cast<const uint8_t*>(input.data());
    EXPECT_EQ(c.update ? zipfuzz::RunUpdateCase(data, input.size())
                       : zipfuzz::RunOpenCase(data, input.size()),
              "");
    std::error_code ec;
    ziptest::fs::remove(zipfuzz::ScratchPath(), ec);
  }
}

}  // namespace
