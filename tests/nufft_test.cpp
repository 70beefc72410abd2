// The fast evaluation against term-by-term sums with exactly reduced phases and
// against the exact evaluation, over data shapes, progressions and tolerances.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "nufft_hooks.hpp"
#include "spectrum/nufft/kernel.hpp"
#include "spectrum/phase_reduction.hpp"
#include "exact_phase.hpp"
#include "spectrum/spectrum.hpp"
#include "tools/kernel_measure.hpp"

namespace {

using trapft::sample_set;

using quad = trapft::exact_phase;

sample_set make_set(const std::vector<double>& t, const std::vector<double>& x) {
    sample_set s;
    s.times = t;
    s.values = x;
    return s;
}

// Trapezoid weights times values, in long double (each rounded once from the
// exact value); A = Σ |c_k|.
std::vector<long double> weights_of(const sample_set& s, long double& total) {
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
void reference_sums(const sample_set& s, double first, double increment, std::int32_t count,
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
trapft::nufft_plan_owner prepared(const sample_set& s, double tolerance, std::int64_t lines, int upsampling = -1) {
    trapft::nufft_plan_owner plan;
    const trapft::nufft_status status =
        upsampling < 0 ? trapft::prepare_nufft(s, tolerance, lines, plan)
                       : trapft::nufft_prepare(trapft::sample_rows(s), tolerance, lines, upsampling, plan);
    EXPECT_EQ(status, trapft::nufft_status::ok);
    return plan;
}

// The sweep in blocks of at most nufft_block_lines, as a caller runs it, or
// (one_call) in a single call, however long, with the vector code `set`.
void fast_sums(const trapft::nufft_plan& setup, trapft::nufft_work& work, double first, double increment,
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

sample_set make_shape(shape kind, std::int32_t n, unsigned seed) {
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
const sweep_case sweep_cases[] = {
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

const double tolerances[] = {1e-14, 1e-12, 1e-9, 1e-6, 1e-3, 0.1};

// Each case, each tolerance and each instruction set this CPU has: every line
// within tolerance × A of the exactly reduced sums (plus the reference's own
// long double rounding), and, where the frequencies are exact and |f·t| small,
// within tolerance × A plus the exact evaluation's own rounding of its result.
TEST(nufft, matches_the_reference_sums) {
    std::map<double, double> worst, worst_random;  // tolerance → largest |error| / A: all cases, random data
    int upsampled[trapft::kernel_upsamplings] = {};  // plans made with each kernel
    for (const sweep_case& c : sweep_cases) {
        SCOPED_TRACE(c.name);
        const sample_set s = make_shape(c.kind, c.samples, 17);
        std::vector<long double> ref_re, ref_im;
        long double total = 0;
        const std::int32_t count = c.count;
        const double increment = count == 1 ? 0.0 : c.increment;
        reference_sums(s, c.first, increment, count, ref_re, ref_im, total);

        // The exact evaluation's rounding: per sample and of its phase ω·t.
        double max_phase = 0.0, terms = 0.0;
        for (std::size_t k = 0; k < s.times.size(); ++k) {
            const double f_max = std::max(std::fabs(c.first), std::fabs(c.first + (count - 1) * increment));
            max_phase = std::max(max_phase, 6.3 * f_max * std::fabs(s.times[k]));
            const double after = k + 1 < s.times.size() ? std::fabs(s.times[k + 1] - s.times[k]) : 0.0;
            const double before = k > 0 ? std::fabs(s.times[k] - s.times[k - 1]) : 0.0;
            terms += std::fabs(s.values[k]) * (after + before) / 2;
        }
        const double exact_rounding = 4 * (c.samples + max_phase) * 0x1p-53 * terms;
        std::vector<trapft::spectrum_point> exact;
        if (c.exact_check) {
            trapft::spectrum_work exact_work;
            for (std::int32_t m = 0; m < count; ++m)
                exact.push_back(trapft::evaluate_spectrum(s, c.first + m * increment, exact_work));
        }

        for (const double eps : tolerances)
            for (int upsampling = 0; upsampling < trapft::kernel_upsamplings; ++upsampling) {
                const trapft::nufft_plan_owner plan = prepared(s, eps, c.lines != 0 ? c.lines : count, upsampling);
                ASSERT_NE(plan, nullptr);
                const trapft::nufft_plan& setup = *plan;
                if (setup.upsampling != upsampling) continue;  // its kernel does not reach eps
                ++upsampled[upsampling];
                EXPECT_NEAR(setup.total[0], static_cast<double>(total), 1e-14 * static_cast<double>(total));
                const std::int32_t best = trapft::nufft_widest_set(setup);
                for (std::int32_t set = 0; set <= best; ++set) {
                    const trapft::nufft_work_owner work = trapft::make_nufft_work(setup, 1);
                    ASSERT_NE(work, nullptr);
                    std::vector<double> re, im;
                    fast_sums(setup, *work, c.first, c.increment, count, re, im, c.lines != 0, set);
                    const double bound = eps * static_cast<double>(total) + 1e-17 * static_cast<double>(total)
                                         + 1e-300;  // zero weights: the sums are zero
                    for (std::int32_t m = 0; m < count; ++m) {
                        const std::size_t i = static_cast<std::size_t>(m);
                        const double error = static_cast<double>(
                            std::hypot(re[i] - ref_re[i], im[i] - ref_im[i]));
                        if (total > 0) worst[eps] = std::max(worst[eps], error / static_cast<double>(total));
                        if (c.samples >= 300)
                            worst_random[eps] = std::max(worst_random[eps], error / static_cast<double>(total));
                        ASSERT_LE(error, bound) << "eps " << eps << " upsampling " << upsampling << " set " << set
                                                << " line " << m;
                        if (c.exact_check) {
                            EXPECT_LE(std::hypot(re[i] - exact[i].real, im[i] - exact[i].imaginary),
                                      eps * static_cast<double>(total) + exact_rounding + 1e-300)
                                << "eps " << eps << " set " << set << " line " << m;
                        }
                    }
                }
            }
    }
    for (int upsampling = 0; upsampling < trapft::kernel_upsamplings; ++upsampling)
        EXPECT_GE(upsampled[upsampling], 3 * std::size(sweep_cases)) << "upsampling " << upsampling;
    // The accuracy table of the documentation.
    for (const auto& [eps, ratio] : worst)
        std::printf("tolerance %-7g worst |error| / A: %.2e on random data, %.2e in all\n", eps, worst_random[eps], ratio);
}

// A lone sample of weight one at every offset from the grid, at modes across
// the whole block: the kernel's worst case, which no averaging helps.
TEST(nufft, holds_the_bound_for_a_single_weight) {
    for (const double eps : tolerances)
        for (int upsampling = 0; upsampling < trapft::kernel_upsamplings; ++upsampling) {
            for (int offset = 0; offset < 16; ++offset) {
                // Two samples 2 apart with values (1, 0): c = (1, 0), A = 1.
                const double t0 = 0.37 + offset / 16.0 / 1024;
                const sample_set s = make_set({t0, t0 + 2.0}, {1.0, 0.0});
                const trapft::nufft_plan_owner plan = prepared(s, eps, 1024, upsampling);
                ASSERT_NE(plan, nullptr);
                const trapft::nufft_work_owner work = trapft::make_nufft_work(*plan, 1);
                ASSERT_NE(work, nullptr);
                std::vector<double> re, im;
                fast_sums(*plan, *work, -300.0, 1.0 / 1024 * 601, 1024, re, im);
                for (std::int32_t m = 0; m < 1024; ++m) {
                    const long double phase = static_cast<long double>(-300.0 + m * (601.0 / 1024)) * t0;
                    const long double angle = 6.283185307179586476925286766559L * (phase - std::floor(phase));
                    const std::size_t i = static_cast<std::size_t>(m);
                    const double error =
                        static_cast<double>(std::hypot(re[i] - std::cos(angle), im[i] + std::sin(angle)));
                    ASSERT_LE(error, eps) << "eps " << eps << " upsampling " << plan->upsampling << " offset " << offset
                                          << " line " << m;
                }
            }
        }
}

TEST(nufft, refuses_numbers_that_are_not_finite) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct refusal {
        std::vector<double> t, x;
        bool prepared;
    };
    const refusal cases[] = {
        {{0, 1, inf}, {1, 1, 1}, false},
        {{0, nan, 2}, {1, 1, 1}, false},
        {{0, 1, 2}, {1, -inf, 1}, false},
        {{0, 1, 2}, {1, 1, nan}, false},
        {{5}, {nan}, false},                       // a lone sample is checked too
        {{0, 1e300, 2e300}, {1e10, 1e10, 1e10}, false},  // A overflows
        {{-1.5e308, 1.5e308}, {0.5, 0.25}, true},  // the step overflows, its half does not
        {{0, 1e-300, 3e-300}, {1e-20, 1, 1}, true},
        {{}, {}, true},
        // Long enough for the weights to go a vector at a time: steps that
        // overflow, products that overflow (their halves do not), and an A that does.
        {{0, -1.5e308, 0, 1.5e308, 0, -1.5e308, 0, 1.5e308, 0, -1.5e308, 0, 1.5e308}, std::vector<double>(12, 1e-3),
         true},
        {{0, 1.5e307, 3e307, 4.5e307, 6e307, 7.5e307, 9e307, 1.05e308, 1.2e308, 1.35e308},
         {1e-9, 1e-9, 1e-9, 7, 1e-9, 1e-9, 1e-9, 1e-9, 1e-9, 1e-9}, true},
        {{0, 1e300, 2e300, 3e300, 4e300, 5e300, 6e300, 7e300, 8e300, 9e300}, std::vector<double>(10, 1e10), false},
    };
    for (const refusal& c : cases) {
        trapft::nufft_plan_owner plan;
        EXPECT_EQ(trapft::prepare_nufft(make_set(c.t, c.x), 1e-9, 100, plan),
                  c.prepared ? trapft::nufft_status::ok : trapft::nufft_status::not_applicable) << c.t.size();
        EXPECT_EQ(plan != nullptr, c.prepared);
    }
    // A frequency that is not finite gives NaN lines, as the exact evaluation does.
    const trapft::nufft_plan_owner plan = prepared(make_set({0, 1, 2}, {1, 2, 3}), 1e-9, 100);
    ASSERT_NE(plan, nullptr);
    const trapft::nufft_work_owner work = trapft::make_nufft_work(*plan, 1);
    ASSERT_NE(work, nullptr);
    for (const double first : {nan, inf}) {
        double re[3], im[3];
        trapft::nufft_progression(*plan, trapft::nufft_widest_set(*plan), first, 1.0, 3, *work, re, im);
        for (int m = 0; m < 3; ++m) EXPECT_TRUE(std::isnan(re[m]) && std::isnan(im[m]));
    }
}

// Block sizes: the default for 16384 samples whatever the sweep (memory stays
// bounded), one block for a sweep shorter than the samples are many. Where
// the transforms cost most (few samples, many lines) and the tolerance
// allows, upsampling 4/3: blocks of 3/4 of the grid's points.
TEST(nufft, chooses_blocks_by_the_sweep) {
    struct sizing {
        std::int32_t samples;
        std::int64_t lines;
        std::int32_t block;
        double tolerance = 1e-12;
        int upsampling = 0;
    };
    const sizing cases[] = {{16384, 1, 8},
                            {16384, 1000, 1024},
                            {16384, 1000000, 65536},
                            {16384, std::int64_t{1} << 40, 65536},
                            {1000000, 100000, 131072},
                            {16384, 1000000, 98304, 1e-6, 2},
                            {16384, 1000000, 98304, 1e-9, 2},
                            {16384, 65536, 65536, 1e-6},
                            {1000000, 100000, 131072, 1e-6}};
    for (const sizing& c : cases) {
        const sample_set s = make_shape(shape::sorted, c.samples, 3);
        const trapft::nufft_plan_owner plan = prepared(s, c.tolerance, c.lines);
        ASSERT_NE(plan, nullptr);
        EXPECT_EQ(trapft::nufft_block_lines(*plan), c.block) << c.samples << " × " << c.lines << " at " << c.tolerance;
        EXPECT_EQ(plan->upsampling, c.upsampling) << c.samples << " × " << c.lines << " at " << c.tolerance;
    }
}

// One setup shared by threads, one working storage each: the same results as
// alone.
TEST(nufft, shares_a_setup_between_threads) {
    const sample_set s = make_shape(shape::unsorted_repeated, 2000, 5);
    const trapft::nufft_plan_owner plan = prepared(s, 1e-12, 8192);
    ASSERT_NE(plan, nullptr);
    std::vector<double> alone_re[2], alone_im[2], shared_re[2], shared_im[2];
    for (int i = 0; i < 2; ++i) {
        const trapft::nufft_work_owner work = trapft::make_nufft_work(*plan, 1);
        ASSERT_NE(work, nullptr);
        fast_sums(*plan, *work, i * 40.0, 1.0 / 128, 8192, alone_re[i], alone_im[i]);
    }
    std::vector<std::thread> threads;
    for (int i = 0; i < 2; ++i)
        threads.emplace_back([&, i] {
            const trapft::nufft_work_owner work = trapft::make_nufft_work(*plan, 1);
            if (work != nullptr) fast_sums(*plan, *work, i * 40.0, 1.0 / 128, 8192, shared_re[i], shared_im[i]);
        });
    for (std::thread& t : threads) t.join();
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(shared_re[i], alone_re[i]);
        EXPECT_EQ(shared_im[i], alone_im[i]);
    }
}

}  // namespace

namespace {

// Σ c_k e^(−2πi f_m t_k) at any frequencies, each phase f_m·t_k reduced
// modulo 1 exactly in binary128, the sums in long double.
void reference_at(const sample_set& s, const std::vector<double>& frequencies, std::vector<long double>& re,
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
std::vector<double> running_sum(double start, double end, std::int32_t count) {
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
void blocks_of(const trapft::nufft_plan& plan, const std::vector<double>& frequencies, int threads,
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
TEST(nufft, corrects_the_offsets_of_the_running_sum) {
    struct offset_case {
        const char* name;
        shape kind;
        std::int32_t samples;
        double start, end;
        std::int32_t count;
    };
    const offset_case cases[] = {
        {"many_binades", shape::sorted, 600, 1e-3, 1000.0, 5000},
        {"descending", shape::unsorted_repeated, 500, 300.0, 0.7, 3000},
        {"across_zero", shape::sorted, 400, -37.3, 41.9, 4097},
        {"huge_phases", shape::far_times, 300, 3e4, 3.3e4, 2000},
        {"no_offset", shape::sorted, 500, -8.0, 8.0, 4097},  // steps of 2^-8: exact
        {"tiny_steps_on_a_large_frequency", shape::sorted, 300, 1e5, 1e5 + 1e-6, 700},
        {"products_near_2^104", shape::huge_times, 200, 3e5, 3e5 * 600, 600},
        // Lines a thousandth of the times' reciprocal span apart across 2^23,
        // offsets near 1e-7: at 1e-6, term 1 from differences of term 0's lines.
        {"close_lines_across_a_binade", shape::sorted, 400, 8388607.0, 8388609.3, 2001},
        {"close_lines_descending", shape::sorted, 400, 8388609.5, 8388607.1, 1500},
    };
    for (const offset_case& c : cases) {
        SCOPED_TRACE(c.name);
        const sample_set s = make_shape(c.kind, c.samples, 23);
        const std::vector<double> f = running_sum(c.start, c.end, c.count);
        std::vector<long double> ref_re, ref_im;
        long double total = 0;
        reference_at(s, f, ref_re, ref_im, total);
        for (const double eps : {1e-14, 1e-12, 1e-9, 1e-6})
            for (int upsampling = 0; upsampling < trapft::kernel_upsamplings; ++upsampling) {
                const trapft::nufft_plan_owner plan = prepared(s, eps, c.count, upsampling);
                ASSERT_NE(plan, nullptr);
                if (plan->upsampling != upsampling) continue;  // its kernel does not reach eps
                std::vector<double> re, im;
                blocks_of(*plan, f, 1, re, im);
                double worst = 0.0;
                for (std::size_t m = 0; m < f.size(); ++m)
                    worst = std::max(worst,
                                     static_cast<double>(std::hypot(re[m] - ref_re[m], im[m] - ref_im[m]) / total));
                EXPECT_LE(worst, eps) << "eps " << eps << " upsampling " << upsampling;
            }
    }
}

// Frequencies so far apart that their differences overflow (no sweep makes
// them, a caller may): such a block is taken run by run, each line within
// the bound.
TEST(nufft, takes_lines_whose_differences_overflow) {
    const sample_set s = make_shape(shape::sorted, 200, 29);
    std::vector<double> f(21);
    for (std::size_t m = 0; m < f.size(); ++m) f[m] = (static_cast<double>(m) - 10.0) * 1.5e307;  // ±1.5e308
    f.back() = -1.4e308;  // the ends close: only the lines between overflow
    std::vector<long double> ref_re, ref_im;
    long double total = 0;
    reference_at(s, f, ref_re, ref_im, total);
    for (const double eps : {1e-12, 1e-6}) {
        const trapft::nufft_plan_owner plan = prepared(s, eps, static_cast<std::int64_t>(f.size()));
        ASSERT_NE(plan, nullptr);
        std::vector<double> re, im;
        blocks_of(*plan, f, 1, re, im);
        for (std::size_t m = 0; m < f.size(); ++m)
            EXPECT_LE(std::hypot(static_cast<double>(re[m] - ref_re[m]), static_cast<double>(im[m] - ref_im[m])),
                      eps * static_cast<double>(total))
                << "line " << m << ", eps " << eps;
    }
}

// Doubles as their bit patterns, so that −0 and NaN compare as themselves.
std::vector<std::uint64_t> bits_of(const std::vector<double>& values) {
    std::vector<std::uint64_t> bits;
    for (const double v : values) bits.push_back(std::bit_cast<std::uint64_t>(v));
    return bits;
}

// Term 1 from differences of term 0's lines against Σ c_k τ_k e^(−2πi g_m t_k)
// summed in binary128 phases: within the stencil's miss, 6u^4·A, and term 0's
// error through it, 11·ε·A / u (u = 2π|d|R), on every line, the block's ends
// (one-sided stencils) included; ascending, descending and far from t = 0.
TEST(nufft, term_by_differences_stands_for_term_1) {
    struct term_case {
        const char* name;
        shape kind;
        double first, increment;
        std::int32_t count;
    };
    const term_case cases[] = {
        {"close", shape::sorted, 100.0, 1e-4, 64},
        {"wider", shape::sorted, 100.0, 4e-3, 64},
        {"descending", shape::sorted, 50.0, -2e-3, 40},
        {"far_times", shape::far_times, 7.0, 1e-4, 33},
        {"fewest_lines", shape::sorted, -3.0, 1e-3, 5},
    };
    const double eps = 1e-12;
    for (const term_case& c : cases) {
        SCOPED_TRACE(c.name);
        const sample_set s = make_shape(c.kind, 400, 43);
        const trapft::nufft_plan_owner plan = prepared(s, eps, c.count);
        ASSERT_NE(plan, nullptr);
        const trapft::nufft_work_owner work = trapft::make_nufft_work(*plan, 1);
        ASSERT_NE(work, nullptr);
        long double total = 0;
        const std::vector<long double> w = weights_of(s, total);
        const long double two_pi = 6.283185307179586476925286766559L;
        const double u = 2 * M_PI * std::fabs(c.increment) * plan->radius;
        const double bound = (6 * std::pow(u, 4) + 11 * eps / u) * static_cast<double>(total);
        for (int set = 0; set <= trapft::nufft_widest_set(*plan); ++set) {
            std::vector<double> re(static_cast<std::size_t>(c.count)), im(re.size());
            trapft::nufft_term_by_differences(*plan, set, c.first, c.increment, c.count, *work, re.data(), im.data());
            for (std::int32_t m = 0; m < c.count; ++m) {
                long double ref_re = 0, ref_im = 0;
                for (std::size_t k = 0; k < w.size(); ++k) {
                    quad phase = static_cast<quad>(c.first) * s.times[k] +
                                 static_cast<quad>(m) * (static_cast<quad>(c.increment) * s.times[k]);
                    phase -= static_cast<quad>(static_cast<long long>(phase));
                    const long double angle = two_pi * static_cast<long double>(phase);
                    const long double tau = (static_cast<long double>(s.times[k]) - plan->centre) / plan->radius;
                    ref_re += w[k] * tau * std::cos(angle);
                    ref_im -= w[k] * tau * std::sin(angle);
                }
                EXPECT_LE(std::hypot(static_cast<double>(re[m] - ref_re), static_cast<double>(im[m] - ref_im)), bound)
                    << "line " << m << ", set " << set;
            }
        }
    }
}

// Lines a progression's step apart plus random offsets of up to `jitter`
// (any caller's lines, not only a sweep's): close lines take term 1 from
// differences of term 0's lines (one-sided at the block's ends), far ones
// from its own grid. Each line within the bound with every instruction set.
TEST(nufft, takes_lines_near_a_progression) {
    struct jitter_case {
        const char* name;
        double step, jitter, eps;
    };
    const jitter_case cases[] = {
        {"close_lines_differences", 1e-3, 1e-7, 1e-6},     // x near 1e-5, u near 0.09
        {"close_lines_at_1e-9_grids", 1e-3, 1e-7, 1e-9},   // the stencil's miss is past the share
        {"far_lines_grids", 0.05, 1e-8, 1e-6},              // u near 4.4
        {"tiny_offsets_differences", 1e-3, 1e-12, 1e-12},
    };
    const sample_set s = make_shape(shape::sorted, 400, 37);
    std::mt19937_64 rng(41);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    for (const jitter_case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<double> f(1500);
        for (std::size_t m = 0; m < f.size(); ++m) f[m] = 100.0 + static_cast<double>(m) * c.step + c.jitter * unit(rng);
        std::vector<long double> ref_re, ref_im;
        long double total = 0;
        reference_at(s, f, ref_re, ref_im, total);
        const trapft::nufft_plan_owner plan = prepared(s, c.eps, static_cast<std::int64_t>(f.size()));
        ASSERT_NE(plan, nullptr);
        const trapft::nufft_work_owner work = trapft::make_nufft_work(*plan, 1);
        ASSERT_NE(work, nullptr);
        for (int set = 0; set <= trapft::nufft_widest_set(*plan); ++set) {
            std::vector<double> re(f.size()), im(f.size());
            trapft::nufft_block(*plan, set, f.data(), static_cast<std::int32_t>(f.size()), *work, re.data(), im.data(),
                                1);
            double worst = 0.0;
            for (std::size_t m = 0; m < f.size(); ++m)
                worst = std::max(worst, static_cast<double>(std::hypot(re[m] - ref_re[m], im[m] - ref_im[m]) / total));
            EXPECT_LE(worst, c.eps) << "set " << set;
        }
    }
}

// The lines' deconvolution goes a vector of lines at a time where the
// processor has vectors, line by line elsewhere and on rare lines: every
// instruction set must give the bits of the line-by-line code, lines left
// alone included. Grids of random values with −0 and values that overflow
// when corrected; offsets none, tiny, zero and large (phases past 2^-10
// cycles); a frequency that is not finite; a grid so small that a vector of
// lines straddles mode 0.
TEST(nufft, deconvolution_gives_the_same_bits_with_every_instruction_set) {
    const sample_set s = make_shape(shape::sorted, 3000, 31);
    const trapft::nufft_plan_owner plan = prepared(s, 1e-12, 1001);
    ASSERT_NE(plan, nullptr);
    struct deconvolution_case {
        const char* name;
        std::int32_t count;
        int terms;
        double offset;       // offsets of up to this size (0: none)
        bool large_phases;   // every ninth offset far past 2^-10 cycles
        bool not_finite;     // frequency 17 is NaN
    };
    const deconvolution_case cases[] = {
        {"no offsets", 1001, 1, 0.0, false, false},
        {"tiny offsets, one term", 1001, 1, 1e-13, false, false},
        {"tiny offsets, two terms", 999, 2, 1e-11, false, false},
        {"three terms, large phases, a line not finite", 1001, 3, 1e-10, true, true},
        {"mode 0 within a vector", 8, 2, 1e-11, false, false},
    };
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    for (const deconvolution_case& c : cases) {
        SCOPED_TRACE(c.name);
        const trapft::nufft_work_owner work = trapft::make_nufft_work(*plan, 1);
        ASSERT_NE(work, nullptr);
        const std::int32_t points = trapft::nufft_grid_points(*plan, c.count);
        for (int p = 0; p < c.terms; ++p) {
            double* const grid = work->grid(0, 0, p);
            for (std::int32_t i = 0; i < 2 * points; ++i) grid[i] = i % 13 == 0 ? -0.0 : i % 29 == 0 ? 1e308 : unit(rng);
        }
        std::vector<double> offsets(static_cast<std::size_t>(c.count)), frequencies(offsets.size(), 1.0);
        for (std::size_t m = 0; m < offsets.size(); ++m)
            offsets[m] = m % 5 == 0 ? 0.0 : c.large_phases && m % 9 == 0 ? 0.01 : c.offset * unit(rng);
        if (c.not_finite) frequencies[17] = std::nan("");
        std::vector<double> re[3], im[3];
        for (int set = 0; set <= trapft::nufft_widest_set(*plan); ++set) {
            re[set].assign(offsets.size(), 7.0);  // what a skipped line keeps
            im[set].assign(offsets.size(), 7.0);
            trapft::nufft_deconvolve(*plan, set, points, c.count, c.terms, c.offset == 0.0 ? nullptr : offsets.data(),
                                     frequencies.data(), *work, re[set].data(), im[set].data());
            if (set == 0) continue;
            EXPECT_EQ(bits_of(re[set]), bits_of(re[0])) << "set " << set;
            EXPECT_EQ(bits_of(im[set]), bits_of(im[0])) << "set " << set;
        }
    }
}

// The lines' offsets likewise, four lines at a time where the processor has
// vectors: the same offsets and largest (or first that is not finite) as line
// by line, over running sums across binades, lines not finite and
// differences that overflow.
TEST(nufft, line_offsets_give_the_same_bits_with_every_instruction_set) {
    const sample_set s = make_shape(shape::sorted, 100, 3);
    const trapft::nufft_plan_owner plan = prepared(s, 1e-12, 100);
    ASSERT_NE(plan, nullptr);
    std::vector<double> overflowing(21);
    for (std::size_t m = 0; m < overflowing.size(); ++m) overflowing[m] = (static_cast<double>(m) - 10.0) * 1.5e307;
    overflowing.back() = -1.4e308;
    std::vector<double> with_gaps = running_sum(-3.7, 41.9, 1003);
    with_gaps[6] = std::numeric_limits<double>::infinity();
    with_gaps[501] = std::nan("");
    const std::vector<double> cases[] = {running_sum(1e-3, 1000.0, 2001), running_sum(300.0, -0.7, 3001), with_gaps,
                                         overflowing};
    for (const std::vector<double>& f : cases) {
        SCOPED_TRACE(std::to_string(f.size()) + " lines");
        const auto lines = static_cast<std::int32_t>(f.size());
        // A progression through the ends, as the block takes it first.
        const double first = f.front(), increment = (f.back() - f.front()) / (lines - 1);
        std::vector<double> offsets[3];
        double largest[3] = {};
        for (int set = 0; set <= trapft::nufft_widest_set(*plan); ++set) {
            offsets[set].assign(f.size(), 7.0);
            largest[set] = trapft::nufft_line_offsets(set, f.data(), lines, first, increment, offsets[set].data());
            if (set == 0) continue;
            EXPECT_EQ(std::bit_cast<std::uint64_t>(largest[set]), std::bit_cast<std::uint64_t>(largest[0]));
            // Past the first offset that is not finite, the lines are not specified.
            std::size_t specified = f.size();
            for (std::size_t m = 0; m < f.size(); ++m)
                if (!std::isfinite(offsets[0][m])) {
                    specified = m + 1;
                    break;
                }
            offsets[set].resize(specified);
            EXPECT_EQ(bits_of(offsets[set]), bits_of(std::vector<double>(offsets[0].begin(), offsets[0].begin() +
                                                                          static_cast<std::ptrdiff_t>(specified))))
                << "set " << set;
        }
    }
}

// Whole blocks with every instruction set this CPU has: the same bits, on
// every way a block can go (compensated grids, Taylor terms, differences,
// direct sums, exact runs, several rows, samples wrapping round the grid).
TEST(nufft, blocks_give_the_same_bits_with_every_instruction_set) {
    struct isa_case {
        const char* name;
        sample_set samples;
        std::vector<double> frequencies;
        double tolerance;
        std::int32_t rows = 1;
    };
    sample_set coherent;
    for (std::int32_t k = 0; k < 5000; ++k) {
        coherent.times.push_back(k);
        coherent.values.push_back(0.1);
    }
    sample_set scattered = make_shape(shape::unsorted_repeated, 20000, 17);
    const isa_case cases[] = {
        {"one pass", make_shape(shape::sorted, 3000, 1), running_sum(0.0, 40.0, 4001), 1e-9},
        {"compensated grids", coherent, running_sum(0.0, 2.0, 3001), 1e-14},
        {"terms across binades", make_shape(shape::sorted, 3000, 2), running_sum(0.3, 900.0, 9001), 1e-12},
        {"differences", make_shape(shape::sorted, 2000, 3), running_sum(5.0, 5.001, 2001), 1e-12},
        {"direct sums", make_shape(shape::tiny, 3, 4), running_sum(-3.0, 3.0, 500), 1e-6},
        {"exact runs", make_shape(shape::far_times, 300, 5), running_sum(100.0, 100.5, 1501), 1e-9},
        {"wrapping, large phases", make_shape(shape::far_times, 2000, 6), running_sum(60.0, 59.0, 801), 1e-3},
        {"two sub-grids", scattered, running_sum(0.0, 90.0, 3000), 1e-12},
        {"three rows", make_shape(shape::sorted, 1000, 7), running_sum(-2.0, 30.0, 2001), 1e-9, 3},
    };
    for (const isa_case& c : cases) {
        SCOPED_TRACE(c.name);
        sample_set s = c.samples;
        std::vector<double> values;
        for (std::int32_t r = 0; r < c.rows; ++r)
            for (const double v : c.samples.values) values.push_back(v * (r + 1));
        const auto lines = static_cast<std::int32_t>(c.frequencies.size());
        trapft::nufft_plan_owner plan;
        ASSERT_EQ(trapft::nufft_prepare(trapft::sample_rows(s.times, values, c.rows), c.tolerance, lines, -1, plan),
                  trapft::nufft_status::ok);
        std::vector<double> re[3], im[3];
        for (int set = 0; set <= trapft::nufft_widest_set(*plan); ++set) {
            const trapft::nufft_work_owner work = trapft::make_nufft_work(*plan, 2);
            ASSERT_NE(work, nullptr);
            const auto size = static_cast<std::size_t>(lines) * static_cast<std::size_t>(c.rows);
            re[set].assign(size, 0.0);
            im[set].assign(size, 0.0);
            const std::int32_t block = trapft::nufft_block_lines(*plan);
            for (std::int32_t b = 0; b < lines; b += block)
                trapft::nufft_block(*plan, set, c.frequencies.data() + b, std::min(block, lines - b),
                                    *work, re[set].data() + b, im[set].data() + b, 2,
                                    static_cast<std::size_t>(lines));
            if (set == 0) continue;
            EXPECT_EQ(bits_of(re[set]), bits_of(re[0])) << "set " << set;
            EXPECT_EQ(bits_of(im[set]), bits_of(im[0])) << "set " << set;
        }
    }
}

// Several threads in one block: the samples fall into a fixed number of
// sub-grids whatever the threads, so the results are the same to the bit.
TEST(nufft, threads_in_a_block_give_the_same_bits) {
    const sample_set s = make_shape(shape::unsorted_repeated, 20000, 9);
    const std::vector<double> f = running_sum(0.0, 90.0, 3000);
    const trapft::nufft_plan_owner plan = prepared(s, 1e-12, 3000);
    ASSERT_NE(plan, nullptr);
    ASSERT_GT(plan->subgrids, 1);
    std::vector<double> re[3], im[3];
    for (int threads = 1; threads <= 3; ++threads) blocks_of(*plan, f, threads, re[threads - 1], im[threads - 1]);
    for (int i = 1; i < 3; ++i) {
        EXPECT_EQ(re[i], re[0]);
        EXPECT_EQ(im[i], im[0]);
    }
}

// A work's grids hold the last block's transforms: a block after it, on a
// smaller grid whose samples reach only part of it (sorted times, small
// steps), gives the bits of fresh storage, with one thread or two.
TEST(nufft, a_reused_work_gives_the_bits_of_a_fresh_one) {
    sample_set s = make_shape(shape::sorted, 20000, 5);
    for (double& t : s.times) t += 200.0;  // the samples keep off the grid's start and wrap nowhere
    const std::vector<double> before = running_sum(0.0, 90.0, 3000);
    const std::vector<double> after = running_sum(5.0, 5.55, 1000);
    const trapft::nufft_plan_owner plan = prepared(s, 1e-6, 3000);
    ASSERT_NE(plan, nullptr);
    ASSERT_GT(plan->subgrids, 1);
    for (int threads = 1; threads <= 2; ++threads) {
        SCOPED_TRACE(std::to_string(threads) + " threads");
        const auto count = static_cast<std::int32_t>(after.size());
        std::vector<double> re[2], im[2];
        for (int reused = 0; reused < 2; ++reused) {
            const trapft::nufft_work_owner work = trapft::make_nufft_work(*plan, threads);
            ASSERT_NE(work, nullptr);
            std::vector<double> scratch(before.size());
            if (reused == 1)
                trapft::nufft_evaluate(*plan, before.data(), static_cast<std::int32_t>(before.size()), *work,
                                   scratch.data(), scratch.data(), threads);
            re[reused].assign(after.size(), 0.0);
            im[reused].assign(after.size(), 0.0);
            trapft::nufft_evaluate(*plan, after.data(), count, *work, re[reused].data(), im[reused].data(), threads);
        }
        EXPECT_EQ(re[1], re[0]);
        EXPECT_EQ(im[1], im[0]);
    }
}

// Coherent sums, where every term adds in phase: N samples at the integer
// times 0 … N − 1 with value v = 0.1 (weights 1/2, 1, …, 1, 1/2; A = (N − 1)·v),
// at frequencies m/4, where e^(−2πi f k) = (−i)^(mk): each sum is v times an
// integer, exact in binary128. Plain accumulation would lose about N·2^-53·A.
TEST(nufft, holds_the_bound_on_coherent_sums) {
    struct coherent_case {
        std::int32_t samples;
        std::int32_t count;  // lines 0, 1/4, 2/4, …
        double tolerance;
        int upsampling = -1;  // the kernel's, or the costs' choice
    };
    const coherent_case cases[] = {
        {16384, 1, 1e-14}, {16384, 64, 1e-14}, {16384, 4096, 1e-14}, {16384, 4096, 1e-12},
        {1000000, 1, 1e-14}, {1000000, 64, 1e-14}, {1000000, 64, 1e-12}, {1000000, 2048, 1e-9},
        {16384, 4096, 1e-9, 2}, {1000000, 2048, 1e-9, 1}, {1000000, 2048, 1e-6, 2},
    };
    for (const coherent_case& c : cases) {
        SCOPED_TRACE(std::to_string(c.samples) + " samples, " + std::to_string(c.count) + " lines");
        sample_set s;
        for (std::int32_t k = 0; k < c.samples; ++k) {
            s.times.push_back(k);
            s.values.push_back(0.1);
        }
        // By residue of k modulo 4, twice the weights' sums (integers).
        long long twice[4] = {0, 0, 0, 0};
        for (std::int32_t k = 0; k < c.samples; ++k) twice[k % 4] += (k == 0 || k == c.samples - 1) ? 1 : 2;
        const double total = (c.samples - 1.0) * 0.1;
        const trapft::nufft_plan_owner plan = prepared(s, c.tolerance, c.count, c.upsampling);
        ASSERT_NE(plan, nullptr);
        if (c.upsampling >= 0) {
            EXPECT_EQ(plan->upsampling, c.upsampling);
        }
        std::vector<double> f(static_cast<std::size_t>(c.count));
        for (std::int32_t m = 0; m < c.count; ++m) f[static_cast<std::size_t>(m)] = m / 4.0;
        std::vector<double> re, im;
        blocks_of(*plan, f, 1, re, im);
        double worst = 0.0;
        for (std::int32_t m = 0; m < c.count; ++m) {
            // (−i)^r for r = 0 … 3: 1, −i, −1, i.
            long long exact_re = 0, exact_im = 0;
            for (int r = 0; r < 4; ++r) {
                const int power = (m % 4) * r % 4;
                exact_re += power == 0 ? twice[r] : power == 2 ? -twice[r] : 0;
                exact_im += power == 1 ? -twice[r] : power == 3 ? twice[r] : 0;
            }
            const std::size_t i = static_cast<std::size_t>(m);
            const quad value = 0.1;
            const auto error_re = static_cast<double>(re[i] - static_cast<quad>(exact_re) / 2 * value);
            const auto error_im = static_cast<double>(im[i] - static_cast<quad>(exact_im) / 2 * value);
            worst = std::max(worst, std::hypot(error_re, error_im) / total);
        }
        EXPECT_LE(worst, c.tolerance);
        std::printf("coherent, %d samples, %d lines, tolerance %g: worst |error| / A %.2e\n", c.samples, c.count,
                    c.tolerance, worst);
    }
}

// The least tolerance at which a plan takes a kernel of `width` points (or
// fewer) with `upsampling`; 0 when none in range does.
double kernel_threshold(int width, int upsampling) {
    bool meets = false;
    if (trapft::nufft_kernel_width(0.1, upsampling, meets) > width || !meets) return 0.0;
    double low = 1e-14, high = 0.1;  // width(low) > width >= width(high)
    if (trapft::nufft_kernel_width(low, upsampling, meets) <= width) return meets ? low : 0.0;
    for (int step = 0; step < 200 && std::nextafter(low, high) < high; ++step) {
        const double middle = std::sqrt(low) * std::sqrt(high);
        const double probe = middle > low && middle < high ? middle : low + (high - low) / 2;
        (trapft::nufft_kernel_width(probe, upsampling, meets) <= width ? high : low) = probe;
    }
    trapft::nufft_kernel_width(high, upsampling, meets);
    return meets ? high : 0.0;
}

// Every kernel at the least tolerance that takes it: one sample's worst error
// (searched past a mesh, in long double) stays within 0.9 of that tolerance,
// so that sums of samples that all meet the worst case keep the bound with
// room for the rest of the error.
TEST(nufft, kernel_tables_cover_the_worst_sample_at_every_threshold) {
    const trapft::kernel_search search{33, 8, 10};
    for (int u = 0; u < trapft::kernel_upsamplings; ++u) {
        for (int width = 3; width <= trapft::kernel_max_width; ++width) {
            const double threshold = kernel_threshold(width, u);
            if (threshold == 0.0) continue;
            const long double worst = trapft::kernel_worst_error(width, u, trapft::kernel_degree(width), search);
            EXPECT_LE(worst, 0.9L * threshold) << "upsampling " << u << ", width " << width;
        }
    }
}

// Coherent samples whose lines fall near the edge of a block's modes, where
// the kernel of upsampling 4/3 and width 15 errs most, at the least tolerance
// that takes that kernel: every integer frequency sums all samples in phase.
TEST(nufft, holds_the_bound_at_a_kernels_threshold_on_coherent_sums) {
    const double tolerance = kernel_threshold(15, 2);
    ASSERT_GT(tolerance, 0.0);
    sample_set s;
    for (std::int32_t k = 0; k < 16384; ++k) {
        s.times.push_back(k);
        s.values.push_back(0.1);
    }
    const std::int32_t count = 98304;
    const trapft::nufft_plan_owner plan = prepared(s, tolerance, count, 2);
    ASSERT_NE(plan, nullptr);
    ASSERT_EQ(plan->upsampling, 2);
    ASSERT_EQ(plan->width, 15);
    auto work = trapft::make_nufft_work(*plan, 1);
    ASSERT_NE(work, nullptr);
    std::vector<double> re, im;
    fast_sums(*plan, *work, -0.447265625, 1.0 / 1024, count, re, im);
    const quad exact = static_cast<quad>(16383) * static_cast<quad>(0.1);
    const double total = 16383 * 0.1;
    double worst = 0.0;
    for (std::int32_t f = 0; f <= 95; ++f) {  // line of f: (f + 0.447265625) × 1024
        const auto i = static_cast<std::size_t>(f * 1024 + 458);
        worst = std::max(worst, std::hypot(static_cast<double>(re[i] - exact), im[i]) / total);
    }
    EXPECT_LE(worst, 0.9 * tolerance);
    std::printf("coherent at the threshold %.6g: worst |error| / A %.3g of it\n", tolerance, worst / tolerance);
}

}  // namespace

namespace {

// The exact reduction of a product modulo 1, against binary128: a small hi
// and a low part below its last bit, whatever the product's size (products
// from 2^104 to 2^105 once left a low part of 1/2, which threw the grid
// position off by half the grid).
TEST(phase_reduction, reduces_products_of_any_size) {
    const double cases[][2] = {
        {-1.8976619944442062e-41, -1.1638538241386412e+72},  // 2.2e31
        {0x1.8p52, 0x1.000001p52}, {0x1p104, 1.0}, {0x1.fffffffffffffp104, -1.0}, {3e5, 1e26 + 0x1p35},
        {1e300, 1e-300}, {0.1, 0.7}, {1.7976931348623157e308, 1.0}, {-5e-324, 3.0},
    };
    for (const auto& c : cases) {
        const trapft::unit_pair u = trapft::fraction_of_product(c[0], c[1]);
        const trapft::exact_phase exact = trapft::exact_fraction_of_product(c[0], c[1]);
        EXPECT_LE(std::fabs(u.hi), 0.5) << c[0] << " × " << c[1];
        EXPECT_LE(std::fabs(u.lo), 0x1p-52) << c[0] << " × " << c[1];
        // hi + lo and the exact fraction agree modulo 1.
        const trapft::exact_phase difference = static_cast<trapft::exact_phase>(u.hi) + u.lo - exact;
        const double off = static_cast<double>(difference - static_cast<trapft::exact_phase>(std::nearbyint(static_cast<double>(difference))));
        EXPECT_LE(std::fabs(off), 0x1p-100 + 0x1p-60 * std::fabs(u.hi)) << c[0] << " × " << c[1];
    }
}

// Sine and cosine of a phase in cycles within 2.5e-16 of long double's,
// across the quarter turns' edges (where the reduction switches polynomial
// and sign) and on a fine grid of [−1/2, 1/2].
TEST(phase_reduction, turns_phases_into_sine_and_cosine) {
    std::vector<double> phases = {0.0, -0.0, 0.5, -0.5, 0x1p-60, 1e-300, 0.375, -0.125};
    for (int q = -4; q <= 4; ++q)
        for (const double edge : {0.125 * q, 0.125 * q + 0.0625})
            for (int k = -2; k <= 2; ++k) phases.push_back(std::clamp(std::nextafter(edge, k) + k * 0x1p-40, -0.5, 0.5));
    for (int k = 0; k <= 200000; ++k) phases.push_back(-0.5 + k / 200000.0);
    double worst = 0.0;
    for (const double r : phases) {
        const trapft::sine_cosine sc = trapft::sin_cos_cycles(r);
        const long double angle = 6.283185307179586476925286766559L * static_cast<long double>(r);
        worst = std::max({worst, std::fabs(static_cast<double>(sc.sine - sinl(angle))),
                          std::fabs(static_cast<double>(sc.cosine - cosl(angle)))});
    }
    EXPECT_LE(worst, 2.5e-16);
}

}  // namespace
