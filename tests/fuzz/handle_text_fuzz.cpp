// libFuzzer target for the handle-text conversions: every input is read as
// UTF-16LE code units and as bytes widened to code units, and HandleFromText,
// DecimalText, Text and AlphaForValue are checked against the reference in
// handle_text_oracle.h. Any disagreement aborts, so libFuzzer keeps the input.
// Built and run by tests/fuzz/run-fuzz.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "handle_text_oracle.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string> faults = kavrelo::fuzz::CheckInput(data, size);
    if (!faults.empty()) {
        for (const std::string& fault : faults) std::fprintf(stderr, "FAULT: %s\n", fault.c_str());
        std::abort();
    }
    return 0;
}
