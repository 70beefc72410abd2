// The trapezoidal transform over a frequency grid, and its result lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "input/sample_set.hpp"
#include "spectrum/sample_view.hpp"

namespace trapft {

// X(f) = real + i·imaginary at one frequency; magnitude is |X(f)|.
struct spectrum_point {
    double frequency;
    double real;
    double imaginary;
    double magnitude;
};

// Samples per block of the cosine and sine tables: the transform fills and
// sums one block at a time, so its memory does not grow with the samples.
inline constexpr std::int32_t table_block = 512;

// One block of each sample's value times the cosine and sine of its phase at
// the current frequency. Small (8 KiB): one per thread.
struct spectrum_work {
    double cosines[table_block];  // value × cosine of the phase
    double sines[table_block];    // value × sine of the phase
};

// The trapezoidal transform of `samples` at `frequency` (cycles per time unit),
// evaluated in exactly the documented order of double-precision operations.
spectrum_point evaluate_spectrum(sample_view samples, double frequency, spectrum_work& work);

// Longest result line: four values of at most 22 characters, blanks and line feed.
inline constexpr std::size_t max_line_length = 4 * 22 + 4;

struct result_line {
    std::size_t size;
    char text[max_line_length];
};

// "%.15g %.15g %.15g %.15g\n" of frequency, real, imaginary and magnitude.
result_line format_result_line(const spectrum_point& point);

// The same line written at `first`, which has room for max_line_length bytes;
// returns the end of what it wrote.
char* write_result_line(char* first, const spectrum_point& point);

// How a sweep is run; the defaults print every line, exactly, on one thread.
struct sweep_options {
    int jobs = 1;               // threads that evaluate lines (1 to 1024)
    std::int32_t part = 1;      // print only slice `part` (1-based) of `parts`
    std::int32_t parts = 1;     // equal slices, the earlier ones one line longer
    double tolerance = 0.0;     // above 0: the fast evaluation, within tolerance × A
    bool progress = false;      // a status line on standard error during long runs
};

enum class sweep_status { ok, write_failed, out_of_memory, threads_failed };

// Writes to `out` the lines of `count` frequencies from `start`, stepping by
// (end − start) ÷ (count − 1) as a running sum, in grid order; none when
// count ≤ 0. Whatever the options, the lines are those of the one-thread
// exact run (the fast evaluation: to within its tolerance), and what was
// written before a failed write is a prefix of them. Memory is reserved
// before the first line and does not grow with the count.
sweep_status run_sweep(const sample_set& samples, double start, double end, std::int32_t count,
                       const sweep_options& options, std::FILE* out);

}  // namespace trapft
