// The fast evaluation's interface over the non-uniform FFT: a block's frequencies cut into exact progressions.
#include "spectrum/fast_evaluation.hpp"

#include <algorithm>
#include <cmath>
#include <new>

#include "spectrum/nufft.hpp"

namespace trapft {

struct fast_plan {
    nufft_setup setup;
};

struct fast_work {
    nufft_work work;
};

void fast_plan_release::operator()(fast_plan* plan) const { delete plan; }
void fast_work_release::operator()(fast_work* work) const { delete work; }

bool fast_evaluation_available() { return nufft_available(); }

namespace {

// Whether b − a is exactly d: the subtraction gave d and lost nothing (its
// two-sum error is zero).
bool exact_difference(double a, double b, double d) {
    const double sum = b - a;
    if (sum != d) return false;
    const double b_part = sum - b;
    return (b - (sum - b_part)) + (-a - b_part) == 0.0;
}

}  // namespace

fast_status prepare_fast(sample_view samples, double tolerance, std::int64_t lines, fast_plan_owner& plan) {
    if (!nufft_available()) return fast_status::unavailable;
    try {
        fast_plan_owner made(new fast_plan);
        if (!prepare_nufft(samples, tolerance, lines, made->setup)) return fast_status::not_applicable;
        plan = std::move(made);
        return fast_status::ok;
    } catch (const std::bad_alloc&) {
        return fast_status::out_of_memory;
    }
}

std::int32_t fast_block_lines(const fast_plan& plan) { return nufft_block_lines(plan.setup); }

fast_work_owner make_fast_work(const fast_plan& plan, int) {
    try {
        fast_work_owner work(new fast_work);
        if (!prepare_nufft_work(plan.setup, work->work)) return nullptr;
        return work;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void fast_block(const fast_plan& plan, const double* frequencies, std::int32_t count, fast_work& work,
                double* real, double* imaginary, int) {
    // Each longest run of finite frequencies whose neighbours differ exactly
    // by one increment is one progression for the engine.
    std::int32_t first = 0;
    while (first < count) {
        const double f = frequencies[first];
        if (!std::isfinite(f)) {
            ++first;
            continue;
        }
        std::int32_t end = first + 1;
        double increment = 0.0;
        if (end < count && std::isfinite(frequencies[end])) {
            increment = frequencies[end] - f;
            while (end < count && std::isfinite(frequencies[end]) &&
                   exact_difference(frequencies[end - 1], frequencies[end], increment))
                ++end;
        }
        const std::int32_t lines = end - first;
        if (lines > 1 && increment == 0.0) {
            // Every line at one frequency (equal ends, or a step lost to rounding).
            nufft_block(plan.setup, f, 0.0, 1, work.work, real + first, imaginary + first);
            std::fill(real + first + 1, real + end, real[first]);
            std::fill(imaginary + first + 1, imaginary + end, imaginary[first]);
        } else {
            nufft_block(plan.setup, f, increment, lines, work.work, real + first, imaginary + first);
        }
        first = end;
    }
}

}  // namespace trapft
