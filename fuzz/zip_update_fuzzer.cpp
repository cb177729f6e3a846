// libFuzzer target: four steering bytes and an archive file; the archive is
// opened read-write, one entry removed and one added as the bytes say, then
// closed and opened again.
#include "fuzz_target.h"
#include "zip_fuzz_cases.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzztarget::Verdict("zip_update_fuzzer", zipfuzz::RunUpdateCase(data, size));
}
