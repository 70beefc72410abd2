// The frequency grid: the running sum of the step, and its slices for parts.
#include "spectrum/grid.hpp"

#include <algorithm>

namespace trapft {

frequency_grid make_grid(double start, double end, std::int32_t count) {
    frequency_grid grid;
    grid.start = start;
    grid.count = std::max<std::int32_t>(count, 0);
    // The step only matters between lines; forming count − 1 only when count > 1
    // also keeps it clear of overflow at the lowest count.
    grid.step = count > 1 ? (end - start) / static_cast<double>(count - 1) : 0.0;
    return grid;
}

line_range grid_slice(std::int64_t count, std::int32_t part, std::int32_t parts) {
    const std::int64_t base = count / parts;
    const std::int64_t extra = count % parts;
    const std::int64_t k = part - 1;
    line_range range;
    range.first = k * base + std::min(k, extra);
    range.end = range.first + base + (k < extra ? 1 : 0);
    return range;
}

double grid_frequency(const frequency_grid& grid, std::int64_t line) {
    double frequency = grid.start;
    for (std::int64_t j = 0; j < line; ++j) frequency = frequency + grid.step;
    return frequency;
}

void grid_frequencies(const frequency_grid& grid, line_range range, double* out) {
    double frequency = grid_frequency(grid, range.first);
    for (std::int64_t j = range.first; j < range.end; ++j) {
        *out++ = frequency;
        frequency = frequency + grid.step;
    }
}

}  // namespace trapft
