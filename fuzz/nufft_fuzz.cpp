// Builds small sample sets and frequency progressions from arbitrary bytes
// (unsorted, repeated and extreme times, values of mixed scale; progressions
// crossing zero, descending, with tiny or huge increments, of one or two
// lines; exact, or running sums as the sweep forms them, by one or two
// threads) and checks the fast evaluation against a term-by-term sum with
// exactly reduced phases: every line within tolerance × A, and so the same
// lines sorted as a list (interpolated where the tolerance allows); and the
// same samples as one of two rows, bit for bit. Aborts on any violation.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <span>
#include <vector>

#include "trapft/reader.hpp"
#include "nufft_hooks.hpp"
#include "spectrum/phase_reduction.hpp"
#include "exact_phase.hpp"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

// Reads the input a little at a time; zeros once it runs out.
struct reader {
    const std::uint8_t* data;
    std::size_t size;

    std::uint64_t bits(int bytes) {
        std::uint64_t v = 0;
        for (int i = 0; i < bytes; ++i) {
            v = (v << 8) | (size > 0 ? *data : 0u);
            if (size > 0) {
                ++data;
                --size;
            }
        }
        return v;
    }
    double unit() { return static_cast<double>(bits(4)) / 4294967296.0; }
};

// A number of some scale: random digits times a power of ten, or a value from
// the edges of the double range.
double some_number(reader& in, int lowest_exponent, int highest_exponent) {
    static const double edges[] = {0.0, 5e-324, 2.2250738585072014e-308, 1e-300, 1.0, 0.5,
                                   1e15, 4503599627370496.5, 1e300, 1.7976931348623157e308};
    const std::uint64_t kind = in.bits(1);
    const double sign = (kind & 1) != 0 ? -1.0 : 1.0;
    if ((kind & 0xe) == 0) return sign * edges[in.bits(1) % (sizeof edges / sizeof edges[0])];
    const int span = highest_exponent - lowest_exponent + 1;
    const int exponent = lowest_exponent + static_cast<int>(in.bits(2) % static_cast<std::uint64_t>(span));
    return sign * (1.0 + in.unit()) * std::pow(10.0, exponent);
}

using trapft::exact_phase;
using trapft::exact_fraction;
using trapft::exact_fraction_of_product;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    reader in{data, size};
    static const double tolerances[] = {1e-14, 1e-12, 1e-9, 1e-6, 1e-3, 0.1};
    const double tolerance = tolerances[in.bits(1) % 6];

    // Samples.
    const int n = static_cast<int>(in.bits(1) % 41);
    const std::uint64_t layout = in.bits(1);
    const double origin = (layout & 4) != 0 ? some_number(in, -3, 8) : 0.0;
    const double step = std::pow(10.0, static_cast<double>(in.bits(1) % 9) - 4);
    trapft::sample_set samples;
    double time = origin;
    for (int k = 0; k < n; ++k) {
        const std::uint64_t how = in.bits(1);
        if ((layout & 3) == 3 && how % 8 == 0) {
            time = some_number(in, -20, 307);  // an extreme time anywhere
        } else if ((layout & 3) == 2 && k > 0 && how % 4 == 0) {
            time = samples.times[in.bits(1) % static_cast<std::uint64_t>(k)];  // a time seen before
        } else {
            const double move = step * (0.1 + in.unit());
            time = (layout & 3) == 1 ? origin + step * n * in.unit() : time + move;  // unsorted or sorted
        }
        samples.times.push_back(time);
        samples.values.push_back((layout & 8) != 0 ? some_number(in, -30, 30) : 2 * in.unit() - 1);
    }

    // The progression.
    const std::int32_t count = static_cast<std::int32_t>(1 + in.bits(2) % 700);
    double first = some_number(in, -6, 12);
    double increment = some_number(in, -300, 12);
    if ((in.bits(1) & 1) != 0) {  // a sweep crossing zero
        increment = std::fabs(increment);
        first = -increment * count * in.unit();
        if (!std::isfinite(first)) first = -increment;
    }
    if (increment == 0.0 && count > 1) increment = 1.0;
    const std::int64_t lines = count + static_cast<std::int64_t>(in.bits(3) % 5000);
    const int upsampling = static_cast<int>(in.bits(1) % 4) - 1;  // a kernel's, or (−1) the costs' choice

    // The reference: c_k and A in long double, phases reduced exactly.
    std::vector<long double> c(static_cast<std::size_t>(n), 0.0L);
    long double total = 0.0L;
    bool finite = true;
    for (int k = 0; k < n; ++k) finite = finite && std::isfinite(samples.times[static_cast<std::size_t>(k)]) &&
                                         std::isfinite(samples.values[static_cast<std::size_t>(k)]);
    for (int k = 0; n >= 2 && k < n; ++k) {
        const long double after = samples.times[static_cast<std::size_t>(std::min(k + 1, n - 1))];
        const long double before = samples.times[static_cast<std::size_t>(std::max(k - 1, 0))];
        c[static_cast<std::size_t>(k)] = (after - before) / 2 * samples.values[static_cast<std::size_t>(k)];
        total += std::fabs(c[static_cast<std::size_t>(k)]);
    }

    trapft::nufft_plan_owner plan;
    const trapft::nufft_status status =
        trapft::nufft_prepare(trapft::sample_rows(samples), tolerance, lines, upsampling, plan);
    check(status == trapft::nufft_status::ok || status == trapft::nufft_status::not_applicable);
    if (status != trapft::nufft_status::ok) {
        // Refused only for a number that is not finite or an A beyond double.
        check(!finite || total > 0.999L * std::numeric_limits<double>::max());
        return 0;
    }
    check(finite && total <= 1.001L * std::numeric_limits<double>::max());
    const trapft::nufft_plan& setup = *plan;
    check(trapft::nufft_block_lines(setup) >= 1);
    const int set = std::min(trapft::nufft_widest_set(setup), static_cast<std::int32_t>(in.bits(1) % 3));
    const trapft::nufft_work_owner work = trapft::make_nufft_work(setup, 1);
    check(work != nullptr);

    const std::int32_t block = trapft::nufft_block_lines(setup);
    const std::int32_t lines_here = std::min(count, block);
    std::vector<double> re(static_cast<std::size_t>(lines_here)), im(re.size());
    // Either one exact progression, or (as the sweep hands them over) a
    // running sum first, first + step, … whose exact increments change from
    // binade to binade, evaluated in one pass with its offsets corrected, by
    // one thread or two.
    const bool running = (in.bits(1) & 1) != 0;
    std::vector<double> frequencies(static_cast<std::size_t>(lines_here));
    double f = first;
    for (double& v : frequencies) {
        v = f;
        f = f + increment;
    }
    // Or any caller's lines near a progression, mostly close together for
    // the times' span, offsets up to a fraction of the step: so that term 1
    // may come from differences of term 0's lines.
    if (running && (in.bits(1) & 1) != 0) {
        const auto [low, high] = std::minmax_element(samples.times.begin(), samples.times.end());
        const double span = n > 0 ? *high - *low : 0.0;
        const double close = (0.01 + in.unit()) * 0.1 / span;
        const double d = (in.bits(1) & 1) != 0 && std::isfinite(close) ? close : increment;
        const double jitter = std::ldexp(d, -static_cast<int>(in.bits(1) % 40));
        for (std::size_t m = 0; m < frequencies.size(); ++m)
            frequencies[m] = first + static_cast<double>(m) * d + jitter * (2 * in.unit() - 1);
    }
    if (running) {
        const int threads = 1 + static_cast<int>(in.bits(1) % 2);
        const trapft::nufft_work_owner shared = trapft::make_nufft_work(setup, threads);
        check(shared != nullptr);
        trapft::nufft_block(setup, set, frequencies.data(), lines_here, *shared, re.data(), im.data(), threads);
    } else {
        trapft::nufft_progression(setup, set, first, increment, lines_here, *work, re.data(), im.data());
    }

    const long double two_pi = 6.283185307179586476925286766559L;
    const long double bound = tolerance * total + 1e-16L * total + (n + 8) * 0x1p-1070L;
    for (std::int32_t m = 0; m < lines_here; ++m) {
        const double at = frequencies[static_cast<std::size_t>(m)];
        if (running && !std::isfinite(at)) continue;  // such lines are the exact evaluation's
        long double sum_re = 0.0L, sum_im = 0.0L;
        for (int k = 0; k < n; ++k) {
            const long double ck = c[static_cast<std::size_t>(k)];
            if (ck == 0.0L) continue;
            const double t = samples.times[static_cast<std::size_t>(k)];
            exact_phase phase;
            if (running) {
                phase = exact_fraction(exact_fraction_of_product(at, t));
            } else {
                const exact_phase by_increment =
                    lines_here == 1 ? 0 : exact_fraction(static_cast<exact_phase>(m) * exact_fraction_of_product(increment, t));
                phase = exact_fraction(exact_fraction_of_product(first, t) + by_increment);
            }
            const long double angle = two_pi * static_cast<long double>(phase);
            sum_re += ck * std::cos(angle);
            sum_im -= ck * std::sin(angle);
        }
        const long double error = std::hypot(re[static_cast<std::size_t>(m)] - sum_re, im[static_cast<std::size_t>(m)] - sum_im);
        check(error <= bound);
    }

    // The same lines sorted, as a list's block takes them: interpolated from
    // progressions of their own where the tolerance allows, each within the bound.
    if (running) {
        std::vector<double> sorted;
        for (const double v : frequencies)
            if (std::isfinite(v)) sorted.push_back(v);
        std::sort(sorted.begin(), sorted.end());
        trapft::nufft_plan_owner listed;
        const trapft::sample_rows rows = trapft::sample_rows(samples);
        if (!sorted.empty() && trapft::nufft_prepare(rows, tolerance, lines, upsampling, listed) == trapft::nufft_status::ok) {
            check(trapft::prepare_nufft_lists(*listed, rows, sorted.front(), sorted.back(), 1) == trapft::nufft_status::ok);
            const trapft::nufft_work_owner list_engine = trapft::make_nufft_work(*listed, 1);
            const trapft::nufft_list_work_owner list_work = trapft::make_nufft_list_work(*listed, 1);
            check(list_engine != nullptr && (list_work != nullptr || !trapft::nufft_interpolates_lists(*listed)));
            const auto listed_lines = static_cast<std::int32_t>(sorted.size());
            std::vector<double> list_re(sorted.size()), list_im(sorted.size());
            trapft::nufft_evaluate_sorted(*listed, sorted.data(), listed_lines, *list_engine, list_work.get(),
                                          list_re.data(), list_im.data(), 1);
            for (std::int32_t m = 0; m < listed_lines; ++m) {
                long double sum_re = 0.0L, sum_im = 0.0L;
                for (int k = 0; k < n; ++k) {
                    const long double ck = c[static_cast<std::size_t>(k)];
                    if (ck == 0.0L) continue;
                    const exact_phase phase = exact_fraction(
                        exact_fraction_of_product(sorted[static_cast<std::size_t>(m)], samples.times[static_cast<std::size_t>(k)]));
                    const long double angle = two_pi * static_cast<long double>(phase);
                    sum_re += ck * std::cos(angle);
                    sum_im -= ck * std::sin(angle);
                }
                const auto at = static_cast<std::size_t>(m);
                check(std::hypot(list_re[at] - sum_re, list_im[at] - sum_im) <= bound);
            }
        }
    }

    // The samples as the first of two rows on their times, the second drawn
    // from them (negated, zero, scaled): each row of the pair bit for bit
    // what it gives alone.
    static const double factors[] = {-1.0, 0.0, 3.0, 1e-200, 1e200};
    const double factor = factors[in.bits(1) % 5];
    std::vector<double> values = samples.values;
    for (int k = 0; k < n; ++k) values.push_back(factor * samples.values[static_cast<std::size_t>(k)]);
    auto evaluate = [&](trapft::sample_rows rows, std::vector<double>& real, std::vector<double>& imaginary) {
        trapft::nufft_plan_owner made;
        if (trapft::nufft_prepare(rows, tolerance, lines, upsampling, made) != trapft::nufft_status::ok) return false;
        const auto size = static_cast<std::size_t>(lines_here);
        real.assign(size * static_cast<std::size_t>(rows.rows), 0.0);
        imaginary.assign(real.size(), 0.0);
        const trapft::nufft_work_owner storage = trapft::make_nufft_work(*made, 2);
        check(storage != nullptr);
        if (running)
            trapft::nufft_block(*made, set, frequencies.data(), lines_here, *storage, real.data(), imaginary.data(), 2, size);
        else
            trapft::nufft_progression(*made, set, first, increment, lines_here, *storage, real.data(), imaginary.data(), 2, size);
        return true;
    };
    std::vector<double> pair_re, pair_im, second_re, second_im;
    const std::span<const double> times(samples.times);
    const std::span<const double> all(values);
    if (!evaluate(trapft::sample_rows(times, all, 2), pair_re, pair_im)) {
        // Refused only when the second row's A is beyond double.
        check(!evaluate(trapft::sample_rows(times, all.subspan(static_cast<std::size_t>(n)), 1), second_re, second_im));
        return 0;
    }
    check(evaluate(trapft::sample_rows(times, all.subspan(static_cast<std::size_t>(n)), 1), second_re, second_im));
    for (std::int32_t m = 0; m < lines_here; ++m) {
        if (running && !std::isfinite(frequencies[static_cast<std::size_t>(m)])) continue;
        const auto at = static_cast<std::size_t>(m);
        const auto next = at + static_cast<std::size_t>(lines_here);
        check(std::memcmp(&pair_re[at], &re[at], sizeof(double)) == 0 && std::memcmp(&pair_im[at], &im[at], sizeof(double)) == 0);
        check(std::memcmp(&pair_re[next], &second_re[at], sizeof(double)) == 0 &&
              std::memcmp(&pair_im[next], &second_im[at], sizeof(double)) == 0);
    }
    return 0;
}
