// Lines over samples that hold numbers that are not finite, as the exact evaluation gives them, from the samples near those numbers.
#pragma once

#include <cstdint>
#include <vector>

#include "spectrum/spectrum.hpp"
#include "trapft/samples.hpp"

namespace trapft {

// A sample that is not finite (its time or value) makes every line's two sums
// not finite: NaN or an infinity, decided by the trapezoids that touch such
// samples alone, as long as the others' sums cannot overflow. Those
// trapezoids lie in runs of neighbouring samples.
struct non_finite_runs {
    struct run {
        std::int32_t first = 0;  // samples [first, end)
        std::int32_t end = 0;
    };
    std::vector<run> runs;    // in sample order, disjoint, none adjacent
    std::int64_t samples = 0; // in all runs
    double largest_time = 0.0; // the largest |t| of a finite sample
};

// The runs of `samples`: each sample that is not finite with its neighbours,
// overlapping ones merged. False (and no runs) when every number is finite,
// or when the finite trapezoids' sums might overflow, so that only the whole
// exact evaluation gives the lines. Throws std::bad_alloc.
bool find_non_finite_runs(sample_view samples, non_finite_runs& out);

// The line at `frequency` of samples whose runs are `runs`: bit for bit what
// evaluate_spectrum gives over all of them, at the cost of the runs' samples
// (or of all of them where that cannot be told: a frequency whose phases
// overflow, or two NaNs of different bits in two runs).
spectrum_point evaluate_non_finite(sample_view samples, const non_finite_runs& runs, double frequency,
                                   spectrum_work& work);

}  // namespace trapft
