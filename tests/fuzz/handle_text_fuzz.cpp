// libFuzzer target for the handle-text conversions against the reference in
// handle_text_oracle.h; a disagreement aborts. Built and run by run-fuzz.
#include <cstdio>
#include <cstdlib>

#include "handle_text_oracle.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string fault = kavrelo::fuzz::Check(data, size);
    if (!fault.empty()) {
        std::fprintf(stderr, "FAULT: %s\n", fault.c_str());
        std::abort();
    }
    return 0;
}
