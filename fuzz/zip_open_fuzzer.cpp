// libFuzzer target: the input is an archive file, opened read-only; every
// entry is looked up, tested and extracted.
#include "fuzz_target.h"
#include "zip_fuzz_cases.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzztarget::Verdict("zip_open_fuzzer", zipfuzz::RunOpenCase(data, size));
}
