// libFuzzer target: the input is standard input, read as answer lines and
// answered through the Setup dialogue and the question loops.
#include "fuzz_target.h"
#include "settings_fuzz_cases.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) { return fuzztarget::SilenceStdout(); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzztarget::Verdict("console_input_fuzzer", settingsfuzz::RunAnswersCase(data, size));
}
