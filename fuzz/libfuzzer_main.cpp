// The libFuzzer entry of one target; FUZZ_ENTRY names the function (fuzz_entries.h).
#include "fuzz_entries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return FUZZ_ENTRY(data, size); }
