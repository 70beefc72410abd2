// The frequency grid: the running sum of the step, and its slices for parts.
#pragma once

#include <cstdint>

namespace trapft {

// `count` frequencies from `start`: line j + 1 is line j's frequency plus
// `step`, rounded, so rounding accumulates as the sum runs.
struct frequency_grid {
    double start = 0.0;
    double step = 0.0;
    std::int64_t count = 0;
};

// The grid from start to end in count lines: step (end − start) ÷ (count − 1),
// with count − 1 formed as an integer; step 0 when count ≤ 1; no line when
// count ≤ 0.
frequency_grid make_grid(double start, double end, std::int32_t count);

// Lines [first, end) of a grid.
struct line_range {
    std::int64_t first = 0;
    std::int64_t end = 0;
    std::int64_t size() const { return end - first; }
};

// Slice `part` (1-based) of `parts` of `count` lines: sizes differ by at most
// one, the earlier slices taking the extra lines; a slice may be empty.
// Needs 1 ≤ part ≤ parts.
line_range grid_slice(std::int64_t count, std::int32_t part, std::int32_t parts);

// Frequency of line `line` (0 ≤ line ≤ count), walking the sum from line 0.
double grid_frequency(const frequency_grid& grid, std::int64_t line);

// Writes the frequencies of lines [range.first, range.end) at `out`.
void grid_frequencies(const frequency_grid& grid, line_range range, double* out);

}  // namespace trapft
