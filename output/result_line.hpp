// The result line: four numbers as "%.15g" prints them, blank or comma separated.
#pragma once

#include <cstddef>

#include "trapft/sink.hpp"

namespace trapft {

// Longest result line: four values of at most 22 characters, separators and line feed.
inline constexpr std::size_t max_line_length = 4 * 22 + 4;

struct result_line {
    std::size_t size;
    char text[max_line_length];
};

// "%.15g %.15g %.15g %.15g\n" of frequency, real, imaginary and magnitude.
result_line format_result_line(const spectrum_point& point);

// The same line written at `first`, which has room for max_line_length bytes,
// with `separator` between the numbers; returns the end of what it wrote.
char* write_result_line(char* first, const spectrum_point& point, char separator = ' ');

}  // namespace trapft
