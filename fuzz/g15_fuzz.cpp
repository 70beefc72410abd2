// Reads arbitrary bytes as doubles, 8 at a time, and checks write_g15 against
// snprintf("%.15g") on each, byte for byte, within the room it promises.
// Aborts on any difference.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "output/g15.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    for (std::size_t at = 0; at + 8 <= size; at += 8) {
        double value;
        std::memcpy(&value, data + at, 8);
        char expected[32];
        const int length = std::snprintf(expected, sizeof expected, "%.15g", value);
        char* const actual = static_cast<char*>(std::malloc(trapft::g15_max_length));  // ASan sees any overrun
        const char* const end = trapft::write_g15(actual, value);
        if (end - actual != length || std::memcmp(actual, expected, static_cast<std::size_t>(length)) != 0) {
            std::fprintf(stderr, "%.17g: snprintf \"%s\", write_g15 \"%.*s\"\n", value, expected,
                         static_cast<int>(end - actual), actual);
            std::abort();
        }
        std::free(actual);
    }
    return 0;
}
