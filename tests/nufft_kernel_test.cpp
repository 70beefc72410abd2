// The fast evaluation at its limits: coherent sums, each kernel at its least tolerance, and the phase reduction.
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
#include "spectrum/nufft/offsets.hpp"
#include "spectrum/nufft/phase_vectors.hpp"
#include "tools/kernel_measure.hpp"

namespace {

using namespace nufft_cases;

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

// The vector forms give each lane its scalar namesake's bits: products of
// every size (zero, huge, the largest double, tiny), phases across the
// quarter turns' edges, floors either side of whole numbers, and offsets.
TEST(phase_reduction, vector_lanes_give_the_scalar_bits) {
    using trapft::nufft::vector2;
    const auto same = [](double a, double b) { return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b); };
    const double values[] = {0.0, -0.0, 0.5, -0.5, 0.375, -0.125, 0.25, -0.25, 0x1p-60, 3.0, -2.5, 1e-300, 0x1.8p52,
                             0x1.000001p52, 0x1p104, -0x1.fffffffffffffp104, 1e300, 1.7976931348623157e308, -5e-324,
                             0.1, 0.7, 1e26 + 0x1p35, 2451545.123456789, -1.1638538241386412e+72, 6.5, -7.0 + 0x1p-40};
    for (const double a : values)
        for (const double b : values) {
            const vector2 x = {a, b}, y = {b, a};
            const trapft::nufft::unit_pairs<vector2> v = trapft::nufft::fractions_of_products(x, y);
            const vector2 reduced = trapft::nufft::reduce_units(x);
            vector2 sine, cosine;
            const vector2 r = {std::clamp(std::fmod(a, 1.0) * 0.5, -0.5, 0.5), std::clamp(b / 8.0, -0.5, 0.5)};
            trapft::nufft::sin_cos_lanes(r, sine, cosine);
            for (int i = 0; i < 2; ++i) {
                SCOPED_TRACE(std::to_string(x[i]) + " × " + std::to_string(y[i]));
                const trapft::unit_pair u = trapft::fraction_of_product(x[i], y[i]);
                EXPECT_TRUE(same(v.hi[i], u.hi) && same(v.lo[i], u.lo));
                EXPECT_TRUE(same(reduced[i], trapft::reduce_unit(x[i])));
                const trapft::sine_cosine sc = trapft::sin_cos_cycles(r[i]);
                EXPECT_TRUE(same(sine[i], sc.sine) && same(cosine[i], sc.cosine)) << r[i];
                if (std::fabs(x[i]) < 0x1p51) {
                    EXPECT_TRUE(same(trapft::nufft::floors(x)[i], x[i] == 0.0 ? 0.0 : std::floor(x[i])));
                }
                const double m = std::floor(std::fabs(y[i]) < 1e9 ? std::fabs(y[i]) : 7.0);
                const vector2 offset = trapft::nufft::line_offset(x, vector2{m, m}, vector2{} + 0.75, vector2{} + 0.1);
                const double line = trapft::nufft::line_offset(x[i], static_cast<std::int32_t>(m), 0.75, 0.1);
                if (std::isfinite(x[i])) {
                    EXPECT_TRUE(same(offset[i], line));
                }
            }
        }
}

}  // namespace
