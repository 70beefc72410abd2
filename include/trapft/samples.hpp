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
// calls that take one.
struct sample_view {
    std::span<const double> times;
    std::span<const double> values;

    sample_view() = default;
    sample_view(std::span<const double> t, std::span<const double> x) : times(t), values(x) {}
    sample_view(const sample_set& samples) : times(samples.times), values(samples.values) {}  // NOLINT: a set is its view

    std::size_t size() const { return times.size(); }
};

// Several series of values on one time axis: row r is
// values[r·n, (r + 1)·n) with n = times.size(). A view whose values are not
// rows × n long is refused by the calls that take one.
struct sample_rows {
    std::span<const double> times;
    std::span<const double> values;
    std::int32_t rows = 1;

    sample_rows() = default;
    sample_rows(std::span<const double> t, std::span<const double> x, std::int32_t r) : times(t), values(x), rows(r) {}
    sample_rows(sample_view one) : times(one.times), values(one.values) {}  // NOLINT: one series is one row

    bool consistent() const {
        return rows >= 0 && values.size() == static_cast<std::size_t>(rows) * times.size();
    }
    sample_view row(std::int32_t r) const {
        return {times, values.subspan(static_cast<std::size_t>(r) * times.size(), times.size())};
    }
};

}  // namespace trapft
