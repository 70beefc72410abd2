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

#include "nufft_cases.hpp"
#include "spectrum/nufft/kernel.hpp"
#include "spectrum/nufft/stencils.hpp"
#include "spectrum/spectrum.hpp"

namespace {

using namespace nufft_cases;

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

// The wide stencil's weights as stored: 2 Σ α_j sin(jθ) within wide_miss·|θ|
// of θ for 0 < θ ≤ wide_span (odd, so for negative θ too), measured on a
// fine grid in long double, and its gain within wide_gain.
TEST(nufft, the_wide_stencil_misses_within_its_bound) {
    using trapft::nufft::wide_reach, trapft::nufft::wide_weights;
    long double gain = 0.0L;
    for (const double a : wide_weights) gain += 2.0L * std::fabs(static_cast<long double>(a));
    EXPECT_LE(gain, trapft::nufft::wide_gain);
    constexpr int samples = 40000;
    long double worst = 0.0L;
    for (int i = 1; i <= samples; ++i) {
        const long double theta = trapft::nufft::wide_span * static_cast<long double>(i) / samples;
        long double p = 0.0L;
        for (int j = 1; j <= wide_reach; ++j) p += 2.0L * wide_weights[j - 1] * std::sin(j * theta);
        worst = std::max(worst, std::fabs(p - theta) / theta);
    }
    EXPECT_LE(worst, trapft::nufft::wide_miss);
    EXPECT_GE(worst, trapft::nufft::wide_miss / 2);  // and the bound not far from it
}

// Lines a progression's step apart plus random offsets of up to `jitter`
// (any caller's lines, not only a sweep's): close lines take term 1 from
// differences of term 0's lines (one-sided at the block's ends), lines up to
// the wide stencil's span apart from it where a list's block has room for its
// margins, far ones from its own grid. Each line within the bound with every
// instruction set.
// A night's samples in Julian dates, with lines from near zero (so that the
// fitted progression's first carries bits far below the lines'), make δ·t_c
// over a hundred cycles, which δ's own rounding would put off by u·|δ·t_c|:
// seen where the values are coherent and |X| is near A.
TEST(nufft, takes_lines_near_a_progression) {
    struct jitter_case {
        const char* name;
        double first, step, jitter, eps;
        double origin, scale;  // of the times
        bool ones;             // every value 1
        bool margins = false;  // a list's block
    };
    const jitter_case cases[] = {
        {"close_lines_differences", 100.0, 1e-3, 1e-7, 1e-6, 0.0, 1.0, false},    // x near 1e-5, u near 0.09
        {"close_lines_at_1e-9_grids", 100.0, 1e-3, 1e-7, 1e-9, 0.0, 1.0, false},  // the stencil's miss is past the share
        {"far_lines_grids", 100.0, 0.05, 1e-8, 1e-6, 0.0, 1.0, false},             // u near 4.4
        {"tiny_offsets_differences", 100.0, 1e-3, 1e-12, 1e-12, 0.0, 1.0, false},
        {"a_night_in_julian_dates", 0.0, 0.9224246903269413, 5e-5, 1e-14, 2459000.5, 0.004, true},  // three terms
        {"wide_stencil", 100.0, 0.0205, 1e-12, 1e-12, 0.0, 1.0, false, true},  // u near 1.8, x near 1e-10
        {"wide_stencil_at_1e-14", 100.0, 0.0205, 1e-13, 1e-14, 0.0, 1.0, false, true},
        {"past_the_wide_span_grids", 100.0, 0.025, 1e-12, 1e-12, 0.0, 1.0, false, true},  // u near 2.2
    };
    std::mt19937_64 rng(41);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    for (const jitter_case& c : cases) {
        SCOPED_TRACE(c.name);
        sample_set s = make_shape(shape::sorted, 400, 37);
        for (double& t : s.times) t = c.origin + c.scale * t;
        if (c.ones) std::fill(s.values.begin(), s.values.end(), 1.0);
        std::vector<double> f(1500);
        for (std::size_t m = 0; m < f.size(); ++m) f[m] = c.first + static_cast<double>(m) * c.step + c.jitter * unit(rng);
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
                                1, 0, c.margins);
            double worst = 0.0;
            for (std::size_t m = 0; m < f.size(); ++m)
                worst = std::max(worst, static_cast<double>(std::hypot(re[m] - ref_re[m], im[m] - ref_im[m]) / total));
            EXPECT_LE(worst, c.eps) << "set " << set;
        }
    }
}

}  // namespace
