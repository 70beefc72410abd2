// The trapezoidal transform over a frequency grid, and its result lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "input/sample_set.hpp"

namespace trapft {

// X(f) = real + i·imaginary at one frequency; magnitude is |X(f)|.
struct spectrum_point {
    double frequency;
    double real;
    double imaginary;
    double magnitude;
};

// Each sample's value times the cosine and sine of its phase at the current
// frequency, rebuilt for each frequency. Large (256 KiB): keep one per run,
// not on the stack.
struct spectrum_work {
    double cosines[max_samples];  // value × cosine of the phase
    double sines[max_samples];    // value × sine of the phase
};

// The trapezoidal transform of `samples` at `frequency` (cycles per time unit),
// evaluated in exactly the documented order of double-precision operations.
spectrum_point evaluate_spectrum(const sample_set& samples, double frequency, spectrum_work& work);

// Longest result line: four values of at most 22 characters, blanks and line feed.
inline constexpr std::size_t max_line_length = 4 * 22 + 4;

struct result_line {
    std::size_t size;
    char text[max_line_length];
};

// "%.15g %.15g %.15g %.15g\n" of frequency, real, imaginary and magnitude.
result_line format_result_line(const spectrum_point& point);

// Writes the line of each of `count` frequencies from `start`, stepping by
// (end − start) ÷ (count − 1) as a running sum, to `out`, each as soon as it is
// computed; none when count ≤ 0. Returns false at the first write that fails.
bool run_sweep(const sample_set& samples, double start, double end, std::int32_t count,
               std::FILE* out, spectrum_work& work);

}  // namespace trapft
