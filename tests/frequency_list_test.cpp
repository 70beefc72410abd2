// Lists of frequencies and the caller's weights: the fast evaluation within its
// bound for any list, the exact one a grid line's bits, parts and jobs a run's bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "exact_phase.hpp"
#include "random_samples.hpp"
#include "spectrum/frequency_list.hpp"
#include "sweep_output.hpp"
#include "trapft/array_sink.hpp"
#include "trapft/sweep.hpp"

namespace {

using trapft::sweep_options;

struct lines_out {
    std::vector<double> frequency, real, imaginary;
};

lines_out swept_list(trapft::sample_view samples, const std::vector<double>& list, const sweep_options& options) {
    lines_out out;
    const std::size_t n = list.size();
    out.frequency.assign(n, 0.0);
    out.real.assign(n, 0.0);
    out.imaginary.assign(n, 0.0);
    trapft::spectrum_arrays arrays;
    arrays.frequency = out.frequency.data();
    arrays.real = out.real.data();
    arrays.imaginary = out.imaginary.data();
    arrays.capacity = static_cast<std::int64_t>(n);
    trapft::array_sink sink(arrays);
    EXPECT_EQ(trapft::run_sweep(samples, list, options, sink), trapft::sweep_status::ok);
    return out;
}

// Σ c_k e^(−2πi f t_k) with c_k the trapezoid's (or w_k x_k) and f·t_k exact
// modulo 1, in long double; A into `total`.
void reference(trapft::sample_view s, double f, long double& re, long double& im, long double& total) {
    const std::size_t n = s.size();
    re = im = total = 0.0L;
    const long double two_pi = 6.283185307179586476925286766559L;
    for (std::size_t k = 0; k < n; ++k) {
        long double c = 0.0L;
        if (s.weighted()) {
            c = static_cast<long double>(s.weights[k]) * s.values[k];
        } else if (n > 1) {
            const long double after = s.times[std::min(k + 1, n - 1)], before = s.times[k == 0 ? 0 : k - 1];
            c = (after - before) / 2 * s.values[k];
        }
        total += std::fabs(c);
        const long double angle = two_pi * static_cast<long double>(trapft::exact_fraction_of_product(f, s.times[k]));
        re += c * std::cos(angle);
        im -= c * std::sin(angle);
    }
}

std::vector<double> list_of(const std::string& shape, std::mt19937_64& rng) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<double> f;
    if (shape == "shuffled_grid") {
        for (int m = 0; m < 900; ++m) f.push_back(-20.0 + 0.05 * m);
        std::shuffle(f.begin(), f.end(), rng);
    } else if (shape == "descending") {
        for (int m = 900; m > 0; --m) f.push_back(0.0371 * m);
    } else if (shape == "random") {
        for (int m = 0; m < 900; ++m) f.push_back(400.0 * unit(rng));
    } else if (shape == "clustered") {
        for (int c = 0; c < 15; ++c) {
            const double centre = 1000.0 * unit(rng);
            for (int m = 0; m < 60; ++m) f.push_back(centre + 1e-6 * unit(rng));
        }
    } else if (shape == "log_spaced_12_decades") {
        for (int m = 0; m < 900; ++m) f.push_back(std::pow(10.0, -6.0 + 12.0 * m / 899.0));
    } else if (shape == "signs_zeros_duplicates") {
        for (int m = 0; m < 300; ++m) {
            const double v = std::round(50.0 * unit(rng)) * 0.25;
            f.insert(f.end(), {v, -v, 0.0, -0.0, v});
        }
    } else if (shape == "near_progression") {  // as numpy.linspace: each line rounded on its own
        for (int m = 0; m < 900; ++m) f.push_back(1000.0 + m * 0.2509);
    } else if (shape == "huge_f_t") {
        for (int m = 0; m < 600; ++m) f.push_back(1e12 + 1e3 * unit(rng));
    } else if (shape == "not_finite_among_them") {
        for (int m = 0; m < 600; ++m) f.push_back(m % 97 == 3 ? std::nan("") : m % 89 == 5 ? -INFINITY : 30.0 * unit(rng));
    }
    return f;
}

// Every shape of list, with the trapezoid's weights, all ones, random
// weights and weights near the times' middle or ends, at four tolerances:
// each line within tolerance × A of the exact sums (plus the reference's own
// rounding); lines not finite as the exact evaluation gives them.
TEST(frequency_list, fast_lines_hold_the_bound_for_any_list) {
    if (!trapft::fast_evaluation_available()) GTEST_SKIP() << "built without the fast evaluation";
    const trapft::sample_set s = random_samples(400, 17);
    const std::vector<double> ones(s.times.size(), 1.0);
    std::vector<double> random_weights(s.times.size());
    std::mt19937_64 rng(23);
    std::normal_distribution<double> normal;
    for (double& w : random_weights) w = normal(rng);
    // Weight near the middle of the times, or near their ends: the inner
    // sums' share of the tolerance follows where the weight lies.
    const double centre = 0.5 * (s.times.front() + s.times.back()), radius = 0.5 * (s.times.back() - s.times.front());
    std::vector<double> middle(s.times.size()), ends(s.times.size());
    for (std::size_t k = 0; k < s.times.size(); ++k) {
        const double u = (s.times[k] - centre) / radius;
        middle[k] = std::exp(-40.0 * u * u);
        ends[k] = std::exp(-40.0 * (1.0 - std::fabs(u)));
    }
    const char* shapes[] = {"shuffled_grid", "descending", "random", "clustered", "log_spaced_12_decades",
                            "signs_zeros_duplicates", "near_progression", "huge_f_t", "not_finite_among_them"};
    for (const char* shape : shapes) {
        const std::vector<double> list = list_of(shape, rng);
        const std::pair<const char*, const std::vector<double>*> weightings[] = {
            {"trapezoid", nullptr}, {"ones", &ones}, {"random", &random_weights}, {"middle", &middle}, {"ends", &ends}};
        for (const auto& [weighting, weights] : weightings) {
            const trapft::sample_view samples(s.times, s.values, weights ? std::span<const double>(*weights) : std::span<const double>());
            const lines_out exact = swept_list(samples, list, {});
            std::vector<long double> ref_re(list.size()), ref_im(list.size()), total(list.size());
            for (std::size_t m = 0; m < list.size(); ++m)
                if (std::isfinite(list[m])) reference(samples, list[m], ref_re[m], ref_im[m], total[m]);
            for (const double eps : {1e-4, 1e-9, 1e-12, 1e-14}) {  // 1e-14: too tight to interpolate
                SCOPED_TRACE(testing::Message() << shape << ", " << weighting << " weights, at " << eps);
                sweep_options options;
                options.tolerance = eps;
                const lines_out fast = swept_list(samples, list, options);
                double worst = 0.0;
                for (std::size_t m = 0; m < list.size(); ++m) {
                    ASSERT_EQ(std::memcmp(&fast.frequency[m], &list[m], sizeof(double)), 0);
                    if (!std::isfinite(list[m])) {
                        EXPECT_EQ(std::memcmp(&fast.real[m], &exact.real[m], sizeof(double)), 0) << m;
                        EXPECT_EQ(std::memcmp(&fast.imaginary[m], &exact.imaginary[m], sizeof(double)), 0) << m;
                        continue;
                    }
                    const long double error = std::hypot(fast.real[m] - ref_re[m], fast.imaginary[m] - ref_im[m]);
                    worst = std::max(worst, static_cast<double>(error / (total[m] * (eps + 1e-15L))));
                }
                EXPECT_LE(worst, 1.0);
            }
        }
    }
}

// The exact evaluation at a listed frequency is a grid line's at that double,
// with either weights; parts and jobs of a list give one run's bytes, exact
// and fast.
TEST(frequency_list, exact_lines_are_grid_lines_and_parts_are_the_run) {
    const trapft::sample_set s = random_samples(700, 5);
    std::vector<double> w(s.times.size());
    for (std::size_t k = 0; k < w.size(); ++k) w[k] = 0.5 + static_cast<double>(k % 7);
    std::mt19937_64 rng(9);
    const std::vector<double> list = list_of("random", rng);
    for (const bool weighted : {false, true}) {
        const trapft::sample_view samples(s.times, s.values, weighted ? std::span<const double>(w) : std::span<const double>());
        const lines_out listed = swept_list(samples, list, {});
        for (std::size_t m = 0; m < list.size(); m += 37) {
            const sweep_output::swept line = sweep_output::sweep(samples, list[m], list[m], 1);
            char expected[200];
            std::snprintf(expected, sizeof expected, "%.15g %.15g %.15g", list[m], listed.real[m], listed.imaginary[m]);
            EXPECT_EQ(line.bytes.substr(0, std::strlen(expected)), expected) << m;
        }
        for (const double eps : {0.0, 1e-9}) {
            sweep_options one;
            one.tolerance = eps;
            const std::string whole = sweep_output::sweep(samples, 0, 0, 0, one, sweep_output::format::text, &list).bytes;
            std::string pieces;
            for (std::int32_t k = 1; k <= 4; ++k) {
                sweep_options part = one;
                part.jobs = 3;
                part.part = k;
                part.parts = 4;
                pieces += sweep_output::sweep(samples, 0, 0, 0, part, sweep_output::format::text, &list).bytes;
            }
            EXPECT_EQ(pieces, whole) << "weighted " << weighted << " eps " << eps;
        }
    }
}

// A line's fast bits do not depend on the list's order: ascending,
// descending and shuffled, a NaN among them or not, with either weights.
TEST(frequency_list, a_lines_bits_do_not_depend_on_the_order) {
    if (!trapft::fast_evaluation_available()) GTEST_SKIP() << "built without the fast evaluation";
    const trapft::sample_set s = random_samples(500, 3);
    std::mt19937_64 rng(31);
    std::vector<double> ascending = list_of("random", rng);
    std::sort(ascending.begin(), ascending.end());
    std::vector<double> w(s.times.size());
    for (double& x : w) x = std::uniform_real_distribution<double>(-1.0, 2.0)(rng);
    for (const bool weighted : {false, true})
        for (const bool with_nan : {false, true}) {
            const trapft::sample_view samples(s.times, s.values, weighted ? std::span<const double>(w) : std::span<const double>());
            std::vector<double> base = ascending;
            if (with_nan) base.insert(base.begin() + static_cast<std::ptrdiff_t>(base.size() / 3), std::nan(""));
            std::vector<std::size_t> order(base.size());
            for (std::size_t m = 0; m < order.size(); ++m) order[m] = m;
            std::vector<std::size_t> reversed(order.rbegin(), order.rend()), shuffled = order;
            std::shuffle(shuffled.begin(), shuffled.end(), rng);
            for (const double eps : {1e-9, 1e-12}) {
                sweep_options options;
                options.tolerance = eps;
                const lines_out first = swept_list(samples, base, options);
                for (const std::vector<std::size_t>* arranged : {&reversed, &shuffled}) {
                    std::vector<double> list(base.size());
                    for (std::size_t m = 0; m < list.size(); ++m) list[m] = base[(*arranged)[m]];
                    const lines_out other = swept_list(samples, list, options);
                    for (std::size_t m = 0; m < list.size(); ++m) {
                        const std::size_t at = (*arranged)[m];
                        ASSERT_EQ(std::memcmp(&other.real[m], &first.real[at], sizeof(double)), 0)
                            << "weighted " << weighted << " NaN " << with_nan << " eps " << eps << " line " << m;
                        ASSERT_EQ(std::memcmp(&other.imaginary[m], &first.imaginary[at], sizeof(double)), 0) << m;
                    }
                }
            }
        }
}

// A list's finite extent, four lines at a time and the rest one by one: the
// extremes wherever they lie, the infinities and NaNs never taken.
TEST(frequency_list, finite_extent_takes_the_finite_ends_only) {
    const double nan = std::nan(""), inf = INFINITY;
    struct extent_case {
        const char* name;
        std::vector<double> list;
        bool any;
        double lowest, highest;
    };
    const extent_case cases[] = {
        {"empty", {}, false, 0.0, 0.0},
        {"none finite", {nan, inf, -inf, nan, inf}, false, 0.0, 0.0},
        {"extremes in the last lines", {1, 2, 3, 4, 5, 6, 7, 8, -9, 10}, true, -9.0, 10.0},
        {"extremes in different lanes", {0.5, -3, nan, 8, inf, 2, -inf, 1}, true, -3.0, 8.0},
        {"one finite, past the vectors", {nan, nan, inf, -inf, 2.5}, true, 2.5, 2.5},
        {"huge and tiny", {1e-300, -1e300, nan, 1e300, -1e-300, 0.0, -0.0, 7.0}, true, -1e300, 1e300},
    };
    for (const extent_case& c : cases) {
        SCOPED_TRACE(c.name);
        const trapft::finite_range range =
            trapft::finite_extent(c.list.data(), static_cast<std::int64_t>(c.list.size()));
        EXPECT_EQ(range.any, c.any);
        EXPECT_EQ(range.lowest, c.lowest);
        EXPECT_EQ(range.highest, c.highest);
    }
}

// Weights that are not one per sample are refused before anything is written.
TEST(frequency_list, refuses_weights_of_another_length) {
    const trapft::sample_set s = random_samples(10, 1);
    const std::vector<double> w(9, 1.0), list{1.0, 2.0};
    const trapft::sample_view samples(s.times, s.values, w);
    const sweep_output::swept result = sweep_output::sweep(samples, 0, 0, 0, {}, sweep_output::format::text, &list);
    EXPECT_EQ(result.status, trapft::sweep_status::invalid_weights);
    EXPECT_EQ(result.bytes, "");
    EXPECT_STREQ(trapft::sweep_message(result.status), "Weights and times differ in length.");
}

}  // namespace
