// One libFuzzer target; VELLUM_FUZZ_ENTRY names the entry of fuzz_entries.h it runs.
#include "fuzz/fuzz_entries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return vellum::fuzz::VELLUM_FUZZ_ENTRY(data, size);
}
