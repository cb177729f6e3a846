// libFuzzer target: the input is a settings file, imported, checked and,
// when accepted, exported and read back.
#include "fuzz_target.h"
#include "settings_fuzz_cases.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) { return fuzztarget::SilenceStdout(); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzztarget::Verdict("settings_file_fuzzer", settingsfuzz::RunSettingsCase(data, size));
}
