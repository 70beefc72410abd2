// The lines' offsets from a progression, exactly, line by line or a vector of lines at a time.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "spectrum/nufft/vectors.hpp"

namespace trapft::nufft {

// Each line's offset from the progression first + m·increment, written to
// `offsets`: (f_m − first) − m·increment from exact differences and
// products. The largest, or the first that is not finite (a difference
// overflowed), where the lines stop.
[[gnu::always_inline]] inline double line_offset(double f, std::int32_t m, double first, double increment) {
    const double from = f - first;
    const double back = from - f;
    const double from_error = (f - (from - back)) + (-first - back);
    const double along = static_cast<double>(m) * increment;
    const double along_error = std::fma(static_cast<double>(m), increment, -along);
    return (from - along) + (from_error - along_error);
}

// line_offset for a vector of lines at steps m, lane by lane.
template <typename vector>
[[gnu::always_inline]] inline vector line_offset(const vector& f, const vector& m, const vector& first,
                                                 const vector& increment) {
    const vector from = f - first;
    const vector back = from - f;
    const vector from_error = (f - (from - back)) + (-first - back);
    const vector along = m * increment;
    vector along_error;
    multiply_add(along_error, m, increment, -along);
    return (from - along) + (from_error - along_error);
}

[[gnu::always_inline]] inline double offsets_of(const double* frequencies, std::int32_t from, std::int32_t lines,
                                                double first, double increment, double* offsets, double largest) {
    for (std::int32_t m = from; m < lines; ++m) {
        const double f = frequencies[m];
        offsets[m] = std::isfinite(f) ? line_offset(f, m, first, increment) : 0.0;
        largest = std::max(largest, std::fabs(offsets[m]));
        if (!std::isfinite(offsets[m])) return offsets[m];
    }
    return largest;
}

// The same, where the processor has fused multiply-adds: lines a vector at a
// time, the same operations lane by lane, with a line that is not finite
// given offset 0 by selection rather than a branch. A block with an offset
// that is not finite (rare) is gone through again one line at a time.
template <typename vector>
[[gnu::always_inline]] inline double offsets_of_vectors(const double* frequencies, std::int32_t lines, double first,
                                                        double increment, double* offsets) {
    constexpr std::int32_t size_of = static_cast<std::int32_t>(sizeof(vector) / sizeof(double));
    constexpr double largest_double = std::numeric_limits<double>::max();
    const vector zero = {};
    const vector firsts = zero + first;
    const vector increments = zero + increment;
    vector index = zero;
    for (std::int32_t i = 0; i < size_of; ++i) index[i] = static_cast<double>(i);
    vector most = zero;
    vector check = zero;  // NaN in a lane that met an offset that is not finite
    std::int32_t m = 0;
    for (; m + size_of <= lines; m += size_of) {
        vector f;
        load(f, frequencies + m);
        const auto usable = less_equal(f, zero + largest_double) & less_equal(zero - largest_double, f);
        f = choose(usable, f, firsts);
        vector offset = line_offset(f, index, firsts, increments);
        offset = choose(usable, offset, zero);
        store(offsets + m, offset);
        const vector size = choose(less(offset, zero), -offset, offset);
        most = choose(less(most, size), size, most);
        check += offset * zero;
        index += static_cast<double>(size_of);
    }
    double largest = 0.0;
    bool all_finite = true;
    for (std::int32_t i = 0; i < size_of; ++i) {
        largest = std::max(largest, most[i]);
        all_finite &= check[i] == 0.0;
    }
    if (!all_finite) return offsets_of(frequencies, 0, lines, first, increment, offsets, 0.0);
    return offsets_of(frequencies, m, lines, first, increment, offsets, largest);
}

}  // namespace trapft::nufft
