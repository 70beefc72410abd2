// Shared by the fast evaluation's tests: data shapes, sweeps, references in binary128 and the engine driven block by block.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "exact_phase.hpp"
#include "nufft_hooks.hpp"
#include "spectrum/phase_reduction.hpp"
#include "trapft/samples.hpp"

namespace nufft_cases {

using trapft::sample_set;

using quad = trapft::exact_phase;

inline sample_set make_set(const std::vector<double>& t, const std::vector<double>& x) {
    sample_set s;
    s.times = t;
    s.values = x;
    return s;
}

// Trapezoid weights times values, in long double (each rounded once from the
// exact value); A = Σ |c_k|.
inline std::vector<long double> weights_of(const sample_set& s, long double& total) {
    const std::size_t n = s.times.size();
    std::vector<long double> c(n, 0.0L);
    total = 0.0L;
    if (n < 2) return c;
    for (std::size_t k = 0; k < n; ++k) {
        const long double after = s.times[std::min(k + 1, n - 1)];
        const long double before = s.times[k == 0 ? 0 : k - 1];
        c[k] = (after - before) / 2 * s.values[k];
        total += std::fabs(c[k]);
    }
    return c;
}

// Σ c_k e^(−2πi f_m t_k) with f_m·t_k = first·t_k + m·(increment·t_k) formed in
// binary128 (the products of doubles exactly) and reduced modulo 1 before the
// angle is taken in long double.
inline void reference_sums(const sample_set& s, double first, double increment, std::int32_t count,
                    std::vector<long double>& re, std::vector<long double>& im, long double& total) {
    const std::vector<long double> c = weights_of(s, total);
    const long double two_pi = 6.283185307179586476925286766559L;
    re.assign(static_cast<std::size_t>(count), 0.0L);
    im.assign(static_cast<std::size_t>(count), 0.0L);
    for (std::size_t k = 0; k < c.size(); ++k) {
        if (c[k] == 0.0L) continue;
        const quad ft = static_cast<quad>(first) * static_cast<quad>(s.times[k]);
        const quad dt = static_cast<quad>(increment) * static_cast<quad>(s.times[k]);
        for (std::int32_t m = 0; m < count; ++m) {
            quad phase = ft + static_cast<quad>(m) * dt;
            phase -= static_cast<quad>(static_cast<long long>(phase));
            const long double angle = two_pi * static_cast<long double>(phase);
            re[static_cast<std::size_t>(m)] += c[k] * std::cos(angle);
            im[static_cast<std::size_t>(m)] -= c[k] * std::sin(angle);
        }
    }
}

// Prepares the fast evaluation, or fails the test; with the kernel of
// `upsampling` where it meets the tolerance, when that is not negative.
inline trapft::nufft_plan_owner prepared(const sample_set& s, double tolerance, std::int64_t lines, int upsampling = -1) {
    trapft::nufft_plan_owner plan;
    const trapft::nufft_status status =
        upsampling < 0 ? trapft::prepare_nufft(s, tolerance, lines, plan)
                       : trapft::nufft_prepare(trapft::sample_rows(s), tolerance, lines, upsampling, plan);
    EXPECT_EQ(status, trapft::nufft_status::ok);
    return plan;
}

// The sweep in blocks of at most nufft_block_lines, as a caller runs it, or
// (one_call) in a single call, however long, with the vector code `set`.
inline void fast_sums(const trapft::nufft_plan& setup, trapft::nufft_work& work, double first, double increment,
               std::int32_t count, std::vector<double>& re, std::vector<double>& im, bool one_call = false,
               int set = -1) {
    re.assign(static_cast<std::size_t>(count), 0.0);
    im.assign(static_cast<std::size_t>(count), 0.0);
    const std::int32_t block = one_call ? count : trapft::nufft_block_lines(setup);
    for (std::int32_t b = 0; b < count; b += block)
        trapft::nufft_progression(setup, set < 0 ? trapft::nufft_widest_set(setup) : set, first + b * increment, increment,
                                  std::min(block, count - b), work, re.data() + b, im.data() + b);
}

// Data shapes.
enum class shape { sorted, unsorted_repeated, mixed_scale, far_times, subnormal_steps, tiny, huge_times };

inline sample_set make_shape(shape kind, std::int32_t n, unsigned seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<double> t(static_cast<std::size_t>(n)), x(t.size());
    double time = -3.0;
    for (std::size_t k = 0; k < t.size(); ++k) {
        time += 0.02 + 0.1 * unit(rng);
        t[k] = time;
        x[k] = 2 * unit(rng) - 1;
    }
    switch (kind) {
        case shape::sorted:
        case shape::tiny:
            break;
        case shape::unsorted_repeated:
            std::shuffle(t.begin(), t.end(), rng);
            for (std::size_t k = 3; k < t.size(); k += 7) t[k] = t[k - 3];  // equal times, not adjacent
            for (std::size_t k = 5; k < t.size(); k += 11) t[k] = t[k - 1];  // a zero step
            break;
        case shape::mixed_scale:
            for (double& v : x) v *= std::pow(10.0, 16 * unit(rng) - 8);
            break;
        case shape::far_times:  // |t| near 1e4: with frequencies near 100, |f·t| ≈ 1e6
            for (double& v : t) v = 1e4 + 3.7 * v;
            break;
        case shape::huge_times:  // t near 1e26, 2^35 apart: steps of f near 3e5 make f·t near 2^104
            for (std::size_t k = 0; k < t.size(); ++k) t[k] = 1e26 + static_cast<double>(k) * 0x1p35;
            break;
        case shape::subnormal_steps:  // steps of a few 2^-1074, values near 1e300: c_k near 1e-23
            for (std::size_t k = 0; k < t.size(); ++k) {
                t[k] = static_cast<double>(k % 5 + k / 3) * 0x1p-1074;
                x[k] *= 1e300;
            }
            break;
    }
    return make_set(t, x);
}

struct sweep_case {
    const char* name;
    shape kind;
    std::int32_t samples;
    double first;
    double increment;
    std::int32_t count;
    bool exact_check;  // also compare with the exact evaluation (exact frequencies, modest |f·t|)
    std::int64_t lines = 0;  // the sweep prepared for, when not `count`: then all in one call
};

// Increments are dyadic, so that first + m·increment is exact in double.
inline const sweep_case sweep_cases[] = {
    {"sorted_ascending", shape::sorted, 700, 0.0, 1.0 / 64, 3000, true},
    {"sorted_descending_across_zero", shape::sorted, 500, 7.25, -1.0 / 128, 2500, true},
    {"sorted_wide_increment", shape::sorted, 400, -50.0, 1.5, 600, true},
    {"unsorted_repeated", shape::unsorted_repeated, 500, -2.0, 1.0 / 256, 1500, true},
    {"mixed_scale_values", shape::mixed_scale, 400, 1.0, 1.0 / 32, 1200, true},
    {"far_times_large_phase", shape::far_times, 300, 100.0, 1.0 / 1024, 1500, false},
    {"far_times_descending", shape::far_times, 300, 60.0, -1.0 / 64, 800, false},
    {"tiny_increment_large_first", shape::sorted, 300, 1e5, 0x1p-30, 400, false},
    {"subnormal_steps", shape::subnormal_steps, 200, 0x1p1000, 0x1p1010, 300, false},
    {"two_samples", shape::tiny, 2, -3.0, 0.25, 700, true},
    {"three_samples", shape::tiny, 3, 0.5, 1.0 / 8, 2049, true},
    {"one_sample", shape::tiny, 1, 1.0, 1.0, 5, true},
    {"count_one", shape::sorted, 300, 12.375, 1e300, 1, true},
    {"count_two", shape::unsorted_repeated, 300, -12.375, 0.5, 2, true},
    {"count_five", shape::sorted, 300, 3.0, -0.125, 5, true},
    {"one_call_beyond_the_block", shape::sorted, 300, -5.0, 1.0 / 64, 2500, true, 600},
};

inline constexpr double tolerances[] = {1e-14, 1e-12, 1e-9, 1e-6, 1e-3, 0.1};



// Σ c_k e^(−2πi f_m t_k) at any frequencies, each phase f_m·t_k reduced
// modulo 1 exactly in binary128, the sums in long double.
inline void reference_at(const sample_set& s, const std::vector<double>& frequencies, std::vector<long double>& re,
                  std::vector<long double>& im, long double& total) {
    const std::vector<long double> c = weights_of(s, total);
    const long double two_pi = 6.283185307179586476925286766559L;
    re.assign(frequencies.size(), 0.0L);
    im.assign(frequencies.size(), 0.0L);
    for (std::size_t k = 0; k < c.size(); ++k) {
        if (c[k] == 0.0L) continue;
        for (std::size_t m = 0; m < frequencies.size(); ++m) {
            const long double angle = two_pi * static_cast<long double>(
                trapft::exact_fraction_of_product(frequencies[m], s.times[k]));
            re[m] += c[k] * std::cos(angle);
            im[m] -= c[k] * std::sin(angle);
        }
    }
}

// The running-sum frequencies of a sweep, as the sweep forms them.
inline std::vector<double> running_sum(double start, double end, std::int32_t count) {
    std::vector<double> f(static_cast<std::size_t>(count));
    const double step = (end - start) / (count - 1);
    double v = start;
    for (double& x : f) {
        x = v;
        v = v + step;
    }
    return f;
}

// nufft_evaluate over `frequencies` in blocks at fixed lines, as the sweep calls it.
inline void blocks_of(const trapft::nufft_plan& plan, const std::vector<double>& frequencies, int threads,
               std::vector<double>& re, std::vector<double>& im, int set = -1) {
    const trapft::nufft_work_owner work = trapft::make_nufft_work(plan, threads);
    ASSERT_NE(work, nullptr);
    const auto count = static_cast<std::int32_t>(frequencies.size());
    re.assign(frequencies.size(), 0.0);
    im.assign(frequencies.size(), 0.0);
    const std::int32_t block = trapft::nufft_block_lines(plan);
    for (std::int32_t b = 0; b < count; b += block)
        trapft::nufft_block(plan, set < 0 ? trapft::nufft_widest_set(plan) : set, frequencies.data() + b,
                            std::min(block, count - b), *work, re.data() + b, im.data() + b, threads);
}

// The running sum is one exact progression only within a binade: every
// block is one pass over the samples, its lines' offsets from one progression
// corrected by Taylor terms. Each line within tolerance × A of the exactly
// reduced sums.

// Doubles as their bit patterns, so that −0 and NaN compare as themselves.
inline std::vector<std::uint64_t> bits_of(const std::vector<double>& values) {
    std::vector<std::uint64_t> bits;
    for (const double v : values) bits.push_back(std::bit_cast<std::uint64_t>(v));
    return bits;
}

// Term 1 from differences of term 0's lines against Σ c_k τ_k e^(−2πi g_m t_k)
// summed in binary128 phases: within the stencil's miss, 6u^4·A, and term 0's
// error through it, 11·ε·A / u (u = 2π|d|R), on every line, the block's ends
// (one-sided stencils) included; ascending, descending and far from t = 0.

}  // namespace nufft_cases
