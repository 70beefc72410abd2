// The samples the core evaluates: a loaded set, and views of times and values borrowed from their owner.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace trapft {

// Samples in file order, each number correctly rounded to float (and widened
// exactly) or, on request, to double. The two tables have one entry per
// sample; they grow with the samples read, never with the capacity.
struct sample_set {
    std::vector<double> times;
    std::vector<double> values;
};


// Parallel tables of times and values; the core reads them and never keeps
// them past a call. A view whose tables differ in length is refused by the
// calls that take one. `weights`, when not empty, holds a weight w_k per
// sample in place of the trapezoid's: X(f) = Σ w_k x_k e^(−i2πf t_k).
struct sample_view {
    std::span<const double> times;
    std::span<const double> values;
    std::span<const double> weights;

    sample_view() = default;
    sample_view(std::span<const double> t, std::span<const double> x, std::span<const double> w = {})
        : times(t), values(x), weights(w) {}
    sample_view(const sample_set& samples) : times(samples.times), values(samples.values) {}  // NOLINT: a set is its view

    std::size_t size() const { return times.size(); }
    bool weighted() const { return !weights.empty(); }
};

// Several series of values on one time axis: row r is
// values[r·n, (r + 1)·n) with n = times.size(), every row with the same
// weights (empty: the trapezoid's). A view whose values are not rows × n long,
// or whose weights are neither empty nor n long, is refused by the calls that
// take one.
struct sample_rows {
    std::span<const double> times;
    std::span<const double> values;
    std::int32_t rows = 1;
    std::span<const double> weights;

    sample_rows() = default;
    sample_rows(std::span<const double> t, std::span<const double> x, std::int32_t r, std::span<const double> w = {})
        : times(t), values(x), rows(r), weights(w) {}
    sample_rows(sample_view one) : times(one.times), values(one.values), weights(one.weights) {}  // NOLINT: one series is one row

    bool consistent() const {
        return rows >= 0 && values.size() == static_cast<std::size_t>(rows) * times.size() &&
               (weights.empty() || weights.size() == times.size());
    }
    bool weighted() const { return !weights.empty(); }
    sample_view row(std::int32_t r) const {
        return {times, values.subspan(static_cast<std::size_t>(r) * times.size(), times.size()), weights};
    }
};

}  // namespace trapft
