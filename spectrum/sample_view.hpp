// The samples the core evaluates: times and values in file order, borrowed from their owner.
#pragma once

#include <span>

#include "input/sample_set.hpp"

namespace trapft {

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

}  // namespace trapft
