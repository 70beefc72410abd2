// The "%.15g" text of a double, exact and without the C library's printf.
#pragma once

#include <cstddef>

namespace trapft {

// The most bytes write_g15 writes, as in "-1.23456789012345e-308".
inline constexpr std::size_t g15_max_length = 22;

// Writes at `first` exactly the bytes that snprintf's "%.15g" writes for
// `value` (no terminating NUL) and returns their end. `first` has room for
// g15_max_length bytes, which write_g15 may use as scratch past that end. No
// locale, allocation or shared state: safe on any thread.
char* write_g15(char* first, double value);

}  // namespace trapft
