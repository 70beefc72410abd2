// The fast evaluation: trapezoid sums at the sweep's frequencies by a type-1 non-uniform FFT, one pass over the samples per block.
//
// A block's frequencies f_m (the sweep's running sum) are taken as a
// progression g_m = first + m·d plus small offsets δ_m = f_m − g_m. Then
// X(f_m) = e^(−2πi δ_m t_c) Σ_p (−2πi δ_m R)^p / p! · Σ_k c_k τ_k^p e^(−2πi g_m t_k),
// τ_k = (t_k − t_c) / R, so each Taylor term p is one transform of the
// progression with weights c_k τ_k^p, all spread in the same pass; where the
// lines lie close together for the times' span, term 1 comes instead from
// differences of term 0's neighbouring lines, without a grid of its own. For the
// progression, with u_k = d·t_k mod 1 and the block centred on mode h = n/4
// of an n-point grid, Σ_k a_k e^(−2πi g_m t_k) = Σ_k a_k e^(−2πi (first + h·d) t_k) e^(−2πi j u_k),
// j = m − h: each rotated weight is spread onto the grid at n·u_k by the
// "exponential of semicircle" kernel, the grid is transformed, and mode j is
// divided by the kernel's transform. Every phase is reduced modulo one cycle
// with error-free products before it is turned into an angle, so the error
// does not grow with |f·t|.
//
// The tolerance is shared out: the kernel (its measured worst error), the
// Taylor terms' truncation, a fixed allowance for the rounding of the
// transform and of the kernel's evaluation, and the rest for the grid's
// accumulation. A cell that gathers M terms in a row can be off by M·u of
// their sizes, which coherent data (all samples on one cell) makes real: the
// samples that start on each grid point are counted, and past the count the
// rest allows, the term-0 grid's rounding errors are kept in a grid of their
// own (two-sum) and added back before the transform.
#include "spectrum/nufft_engine.hpp"

#include <fftw3.h>
#include <sys/mman.h>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>

#include "spectrum/nufft_kernel.hpp"
#include "spectrum/phase_reduction.hpp"

namespace trapft {
namespace {

constexpr double unit_roundoff = 0x1p-53;

// Shares of the tolerance (relative to A): a fixed allowance for the rounding
// of the transform, the kernel's evaluation, the rotation and the scaling;
// at least this much for the Taylor terms' truncation; and the kernel's
// error grows by at most 2 % with offsets whose phase x = 2π max|δ| R is at
// most largest_offset_phase.
constexpr double rounding_allowance = 4e-15;
constexpr double truncation_share = 0.005;
constexpr double largest_offset_phase = 0.01;
constexpr double kernel_growth = 1.02;
// The width is chosen so that plain accumulation takes at least this many
// samples starting on one grid point before it needs compensation (which
// costs more than a wider kernel saves).
constexpr double plain_samples_wanted = 32;

// Default most lines per block, and the most a block may grow to for many samples.
constexpr std::int64_t default_block = 65536;
constexpr std::int64_t largest_block = std::int64_t{1} << 20;
constexpr std::int32_t smallest_grid = 16;
constexpr std::int32_t small_plans = 8192;
// Grids take at most this much, or as much as the samples' times and values.
constexpr std::size_t grid_memory = std::size_t{40} << 20;
// Doubles between the grids of several rows, beside their size (six cache lines).
constexpr std::size_t grid_stagger = 48;
// Grids from this size on are mapped on huge pages.
constexpr std::size_t huge_page = std::size_t{2} << 20;

// Approximate costs on a current x86-64 core, in nanoseconds, for choosing
// block sizes, the direct sum and the Taylor terms: per sample and pass (and
// per grid point of kernel width), per sample, Taylor term and grid point of
// width, per grid point and level of the FFT, per grid point first touched,
// and per sample and frequency summed directly.
constexpr double sample_cost = 6.0;
constexpr double sample_cost_per_width = 1.0;
constexpr double term_cost_per_width = 0.35;
constexpr double fft_cost = 0.35;
constexpr double touch_cost = 40.0;
constexpr double direct_cost = 9.0;

std::int64_t next_power_of_two(std::int64_t value) {
    return static_cast<std::int64_t>(std::bit_ceil(static_cast<std::uint64_t>(std::max<std::int64_t>(value, 1))));
}

double sample_pass_cost(int width, int terms) {
    return sample_cost + (sample_cost_per_width + term_cost_per_width * (terms - 1)) * width;
}
double sample_pass_cost(const fast_plan& plan, int terms) { return sample_pass_cost(plan.width, terms); }

double fft_pass_cost(std::int64_t points) {
    return fft_cost * static_cast<double>(points) * std::log2(static_cast<double>(points));
}

// Sub-grids of a plan: two when the samples outnumber a full grid's points
// twice over, so that two threads can share a block; never more, and never
// dependent on the threads, so that the results are not either.
std::int32_t choose_subgrids(std::int64_t samples, std::int64_t block_lines) {
    return samples >= 4 * block_lines ? 2 : 1;
}

std::size_t grids_bytes(std::int64_t points, std::int32_t subgrids) {
    return static_cast<std::size_t>(subgrids) * (nufft_max_terms + 1) * sizeof(fftw_complex) *
           static_cast<std::size_t>(points);
}

// The lines a grid of `points` (a power of two, at least 16) holds at an upsampling.
std::int64_t lines_on(int upsampling, std::int64_t points) { return points / 8 * kernel_lines_eighths[upsampling]; }

// Mode 0's line on a grid of `points`: half the lines the grid holds.
std::int32_t centre_line(const fast_plan& plan, std::int32_t points) {
    return static_cast<std::int32_t>(lines_on(plan.upsampling, points) / 2);
}

// The least grid that holds `count` lines, a power of two.
std::int32_t grid_for(const fast_plan& plan, std::int64_t count) {
    const std::int64_t eighths = kernel_lines_eighths[plan.upsampling];
    return static_cast<std::int32_t>(
        std::max<std::int64_t>(next_power_of_two((8 * count + eighths - 1) / eighths), smallest_grid));
}

// A kernel for an upsampling: its width, and the tolerance's shares left by
// its error (see choose_kernel); `meets` where the tolerance leaves room.
struct kernel_choice {
    int upsampling = 0;
    int width = 3;
    bool meets = false;
    double gain = 0.0;
    double rounding = 0.0;
    double truncation = 0.0;
};

// The narrowest kernel that leaves room, after its own error and the fixed
// allowance, for plain accumulation of a good many samples per grid point and
// for some Taylor truncation; the widest that leaves any room at all
// otherwise. What is left after the accumulation's share goes to the
// truncation. The allowance for the transform's and the evaluation's
// rounding grows with the kernel's gain over upsampling 2's, through which
// those errors reach the results.
kernel_choice choose_kernel(double tolerance, int upsampling) {
    auto accumulation = [&](int width) {
        return unit_roundoff * kernel_gain(width, upsampling) * width * plain_samples_wanted;
    };
    auto allowance = [&](int width) {
        return rounding_allowance * (kernel_gain(width, upsampling) / kernel_gain(width, 0));
    };
    auto wanted = [&](int width) {
        return kernel_growth * kernel_error(width, upsampling) + allowance(width) + accumulation(width) +
               truncation_share * tolerance;
    };
    kernel_choice k;
    k.upsampling = upsampling;
    while (k.width < kernel_max_width && wanted(k.width) > tolerance) ++k.width;
    k.meets = wanted(k.width) <= tolerance;
    k.gain = kernel_gain(k.width, upsampling);
    const double rest =
        std::max(tolerance - kernel_growth * kernel_error(k.width, upsampling) - allowance(k.width), 0.0);
    k.rounding = std::min(accumulation(k.width), rest / 2);
    k.truncation = rest - k.rounding;
    return k;
}

// The upsampling and the block's grid that make a sweep of `lines`
// cheapest, by the costs above: for each kernel that meets the tolerance
// (upsampling 2 always serves), grids from the default block's up to all
// lines in one pass over the samples when the samples outnumber the lines,
// as far as the grids' memory allows. Ties go to the larger upsampling.
// With `upsampling` ≥ 0, that one where it meets the tolerance.
void choose_blocks(fast_plan& plan, std::int64_t lines, int upsampling) {
    lines = std::max<std::int64_t>(lines, 1);
    const std::int64_t low =
        2 * std::max<std::int64_t>(next_power_of_two(std::min(lines, default_block)), smallest_grid / 2);
    const std::int64_t high = 2 * std::min({next_power_of_two(lines), largest_block,
                                            std::max(default_block, next_power_of_two(plan.count))});
    const std::size_t memory = std::max(grid_memory, 16 * static_cast<std::size_t>(plan.count));
    // The kernel asked for where it meets the tolerance, else every one that does.
    const bool asked = upsampling >= 0 && upsampling < kernel_upsamplings &&
                       choose_kernel(plan.tolerance, upsampling).meets;
    kernel_choice best_kernel = choose_kernel(plan.tolerance, 0);
    std::int64_t best_points = low;
    double best_cost = 0.0;
    bool any = false;
    for (int u = 0; u < kernel_upsamplings; ++u) {
        const kernel_choice k = u == 0 ? best_kernel : choose_kernel(plan.tolerance, u);
        if (asked ? u != upsampling : u > 0 && !k.meets) continue;
        for (std::int64_t points = low; points <= std::max(low, high); points *= 2) {
            const std::int64_t block = lines_on(u, points);
            if (points > low && grids_bytes(points, choose_subgrids(plan.count, block)) > memory) break;
            const double passes = static_cast<double>((lines + block - 1) / block);
            const double cost =
                passes * (static_cast<double>(plan.count) * sample_pass_cost(k.width, 2) + 2 * fft_pass_cost(points)) +
                touch_cost * static_cast<double>(points);
            if (!any || cost < best_cost) {
                best_kernel = k;
                best_points = points;
                best_cost = cost;
                any = true;
            }
        }
    }
    plan.upsampling = best_kernel.upsampling;
    plan.width = best_kernel.width;
    plan.gain = best_kernel.gain;
    plan.rounding = best_kernel.rounding;
    plan.truncation = best_kernel.truncation;
    plan.block_points = static_cast<std::int32_t>(best_points);
    plan.block_lines = static_cast<std::int32_t>(lines_on(plan.upsampling, best_points));
}

// The trapezoid weight of a sample times its value, from its neighbours'
// times. Halved last, where that is exact: halving a tiny step first would
// lose its last bit, or all of it. A step or product that overflows may still
// have a finite half. Without branches, so that loops of it vectorize.
[[gnu::always_inline]] inline double weight(double after, double before, double value) {
    const double span = after - before;
    const double product = span * value;
    const double halves = (0.5 * after - 0.5 * before) * value;
    const double halved = (span * 0.5) * value;
    const bool span_finite = std::fabs(span) <= std::numeric_limits<double>::max();
    const bool product_finite = std::fabs(product) <= std::numeric_limits<double>::max();
    return !span_finite ? halves : !product_finite ? halved : product * 0.5;
}

// The same for a vector of samples, lane by lane with the same operations.
template <typename vector>
[[gnu::always_inline]] inline void weights(const vector& after, const vector& before, const vector& value,
                                           vector& out) {
    constexpr double largest = std::numeric_limits<double>::max();
    const vector span = after - before;
    const vector product = span * value;
    const vector halves = (0.5 * after - 0.5 * before) * value;
    const vector halved = (span * 0.5) * value;
    const auto span_finite = (span <= largest) & (span >= -largest);
    const auto product_finite = (product <= largest) & (product >= -largest);
    out = span_finite ? (product_finite ? product * 0.5 : halved) : halves;
}

// c_k = w_k x_k · 2^-scale of row `row` for samples [begin, end), into out[k − begin].
[[gnu::always_inline]] inline void row_weights(const fast_plan& plan, std::int32_t row, std::int32_t begin,
                                               std::int32_t end, double* out) {
    const std::int32_t n = plan.count;
    const double* const t = plan.times;
    const double* const x = plan.values + static_cast<std::size_t>(row) * static_cast<std::size_t>(n);
    const double down = plan.shrink[2 * static_cast<std::size_t>(row)];
    const double further = plan.shrink[2 * static_cast<std::size_t>(row) + 1];
    if (n < 2) {
        std::fill(out, out + (end - begin), 0.0);  // a lone sample has weight zero
        return;
    }
    const std::int32_t from = std::max(begin, 1);
    const std::int32_t to = std::min(end, n - 1);
    if (begin == 0) out[0] = (weight(t[1], t[0], x[0]) * down) * further;
    for (std::int32_t k = from; k < to; ++k) out[k - begin] = (weight(t[k + 1], t[k - 1], x[k]) * down) * further;
    if (end == n) out[n - 1 - begin] = (weight(t[n - 1], t[n - 2], x[n - 1]) * down) * further;
}

// Vectors of doubles (GCC and Clang vector extensions), for the loops that
// compilers do not vectorize well on their own (the spreading, the weights).
typedef double vector2 __attribute__((vector_size(2 * sizeof(double))));
typedef double vector4 __attribute__((vector_size(4 * sizeof(double))));
typedef double vector8 __attribute__((vector_size(8 * sizeof(double))));

template <typename vector>
[[gnu::always_inline]] inline void load(vector& v, const double* p) {
    std::memcpy(&v, p, sizeof v);
}

template <typename vector>
[[gnu::always_inline]] inline void store(double* p, const vector& v) {
    std::memcpy(p, &v, sizeof v);
}

int best_instruction_set();

// The times' extremes and each row's A and scale (by an exact power of two,
// so that its A lies in [1, 2)); false when a number is not finite.
[[gnu::always_inline]] inline bool measure(sample_rows samples, fast_plan& plan) {
    const auto n = static_cast<std::int32_t>(samples.times.size());
    const double* t = samples.times.data();
    plan.times = t;
    plan.values = samples.values.data();
    plan.rows = samples.rows;
    plan.scale.assign(static_cast<std::size_t>(samples.rows), 1.0);
    plan.shrink.assign(2 * static_cast<std::size_t>(samples.rows), 1.0);
    plan.total.assign(static_cast<std::size_t>(samples.rows), 0.0);
    // Eight lanes at a time: the extremes are exact in any order.
    constexpr std::int32_t lanes = 8;
    bool finite = true;
    double low = n > 0 ? t[0] : 0.0, high = low;
    double lows[lanes], highs[lanes];
    bool finites[lanes];
    for (std::int32_t j = 0; j < lanes; ++j) {
        lows[j] = highs[j] = low;
        finites[j] = true;
    }
    std::int32_t at = 0;
    for (; at + lanes <= n; at += lanes)
        for (std::int32_t j = 0; j < lanes; ++j) {
            const double time = t[at + j];
            finites[j] &= std::fabs(time) <= std::numeric_limits<double>::max();
            lows[j] = time < lows[j] ? time : lows[j];
            highs[j] = time > highs[j] ? time : highs[j];
        }
    for (; at < n; ++at) {
        finite &= std::fabs(t[at]) <= std::numeric_limits<double>::max();
        low = std::min(low, t[at]);
        high = std::max(high, t[at]);
    }
    for (std::int32_t j = 0; j < lanes; ++j) {
        finite &= finites[j];
        low = std::min(low, lows[j]);
        high = std::max(high, highs[j]);
    }
    if (!finite) return false;
    // Rows eight at a time: the times are read once for them all.
    constexpr std::int32_t together = 8;
    for (std::int32_t first = 0; first < samples.rows; first += together) {
        const std::int32_t rows = std::min(together, samples.rows - first);
        const double* x[together];
        double total[together] = {};
        for (std::int32_t r = 0; r < rows; ++r) x[r] = samples.row(first + r).values.data();
        if (n < 2) {
            // No weight carries the values, so they are checked on their own.
            for (std::int32_t r = 0; r < rows; ++r)
                for (std::int32_t k = 0; k < n; ++k) total[r] += x[r][k] - x[r][k];
        } else {
            // A value that is not finite makes its weight, and so A, not
            // finite. Four partial sums per row (sample k in sum (k − 1) mod 4),
            // added in a fixed order, keep the additions from waiting on each other.
            double partial[together][4] = {};
            vector4 lanes_of[together] = {};  // partial[r][j] in lane j
            std::int32_t k = 1;
            for (; k + 4 <= n - 1; k += 4) {
                vector4 after, before;
                load(after, t + k + 1);
                load(before, t + k - 1);
                for (std::int32_t r = 0; r < rows; ++r) {
                    vector4 value;
                    load(value, x[r] + k);
                    vector4 w;
                    weights(after, before, value, w);
                    lanes_of[r] += w < 0.0 ? -w : w;  // |w| (a −0 adds as +0)
                }
            }
            for (std::int32_t r = 0; r < rows; ++r)
                for (std::int32_t j = 0; j < 4; ++j) partial[r][j] = lanes_of[r][j];
            for (; k < n - 1; ++k)
                for (std::int32_t r = 0; r < rows; ++r)
                    partial[r][(k - 1) & 3] += std::fabs(weight(t[k + 1], t[k - 1], x[r][k]));
            for (std::int32_t r = 0; r < rows; ++r)
                total[r] = (std::fabs(weight(t[1], t[0], x[r][0])) + std::fabs(weight(t[n - 1], t[n - 2], x[r][n - 1]))) +
                           ((partial[r][0] + partial[r][1]) + (partial[r][2] + partial[r][3]));
        }
        for (std::int32_t r = 0; r < rows; ++r) {
            if (!std::isfinite(total[r])) return false;
            const auto row = static_cast<std::size_t>(first + r);
            plan.total[row] = total[r];
            if (total[r] > 0.0) {
                const int scale = std::ilogb(total[r]);
                plan.scale[row] = std::ldexp(1.0, scale);
                // 2^-scale, in two factors where it is beyond the doubles; scaling up
                // is exact, and scaling down by one power of two rounds once.
                plan.shrink[2 * row] = std::ldexp(1.0, -std::max(scale, -1000));
                plan.shrink[2 * row + 1] = std::ldexp(1.0, -std::min(scale + 1000, 0));
            }
        }
    }
    plan.centre = 0.5 * low + 0.5 * high;
    const double radius = std::max(high - plan.centre, plan.centre - low);
    plan.radius = radius * (1.0 + 4 * unit_roundoff);
    return true;
}

// The same with AVX2 where the processor has it: the loops of four partial
// sums and of eight extremes become whole vectors, in the same order, so
// the results are the same.
#if defined(__x86_64__)
[[gnu::target("avx2")]] bool measure_avx2(sample_rows samples, fast_plan& plan) { return measure(samples, plan); }
#endif

bool measure_samples(sample_rows samples, fast_plan& plan) {
#if defined(__x86_64__)
    if (best_instruction_set() >= 1) return measure_avx2(samples, plan);
#endif
    return measure(samples, plan);
}

// FFTW's planner, and its destruction of plans, are not safe to enter from two
// threads at once: sweeps run side by side (threads of a program, calls from
// Python) take turns through this lock.
std::mutex& fftw_planner() {
    static std::mutex planner;
    return planner;
}

// FFTW stops the process, rather than fail, when an allocation of its own
// fails while planning. Its planner keeps at most about half a transform's
// array for a size (and some 200 KB for its first plan), and its transforms
// allocate nothing: so a plan is made only once twice the array and 4 MiB
// more could be had, and that memory is given back just before planning, for
// FFTW to take. Under a limit on the address space, a failure here is the
// process's limit and the plan is refused with std::bad_alloc.
bool room_to_plan(std::int32_t points) {
    const std::size_t room = 2 * sizeof(fftw_complex) * static_cast<std::size_t>(points) + (std::size_t{4} << 20);
    void* reserve = std::malloc(room);
    if (reserve == nullptr) return false;
    std::free(reserve);
    return true;
}

// Plans for every power of two from the smallest grid up to small_plans
// points (cheap, for short blocks and runs), for the sweep's last block and
// for full blocks; a block of another size uses the next larger plan.
void make_plans(fast_plan& plan, std::int64_t lines) {
    const std::int32_t largest = plan.block_points;
    const std::int64_t rest = std::max<std::int64_t>(lines, 1) % plan.block_lines;
    std::vector<std::int32_t> sizes = {largest};
    for (std::int32_t points = std::min(smallest_grid, largest); points <= std::min(small_plans, largest); points *= 2)
        sizes.push_back(points);
    if (rest != 0) sizes.push_back(grid_for(plan, rest));
    std::sort(sizes.begin(), sizes.end());
    sizes.erase(std::unique(sizes.begin(), sizes.end()), sizes.end());
    fftw_array scratch(static_cast<double*>(fftw_malloc(sizeof(fftw_complex) * static_cast<std::size_t>(largest))));
    if (!scratch) throw std::bad_alloc();
    auto* data = reinterpret_cast<fftw_complex*>(scratch.get());
    plan.plans.reserve(sizes.size());
    plan.plan_points.reserve(sizes.size());
    const std::lock_guard<std::mutex> lock(fftw_planner());
    for (const std::int32_t points : sizes) {
        if (!room_to_plan(points)) throw std::bad_alloc();
        fftw_plan made = fftw_plan_dft_1d(points, data, data, FFTW_FORWARD, FFTW_ESTIMATE);
        if (made == nullptr) throw std::bad_alloc();
        plan.plans.emplace_back(made);
        plan.plan_points.push_back(points);
    }
}

int best_instruction_set() {
#if defined(__x86_64__)
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return 2;
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return 1;
#endif
    return 0;
}

// Samples starting on one grid point that plain accumulation takes within
// the plan's share for it: a cell then gathers at most width times as many.
std::int32_t plain_limit(const fast_plan& plan) {
    const double terms = plan.rounding / (unit_roundoff * plan.gain * plan.width);
    return static_cast<std::int32_t>(std::clamp(terms, 1.0, 1e9));
}

// What depends only on the number of samples, the tolerance and the lines:
// the kernel, its tables, the block length and the transforms' plans.
void make_tables(std::int64_t lines, int upsampling, fast_plan& plan) {
    choose_blocks(plan, lines, upsampling);
    plan.degree = kernel_degree(plan.width);
    plan.lanes = (plan.width + 7) / 8 * 8;
    plan.kernel = kernel_pieces(plan.width, plan.upsampling, plan.degree, plan.lanes);
    plan.subgrids = choose_subgrids(plan.count, plan.block_lines);
    plan.correction.resize(static_cast<std::size_t>(plan.block_lines / 2) + 1);
    kernel_correction(plan.width, plan.upsampling, plan.block_lines / 2, plan.correction.data());
    make_plans(plan, lines);
    plan.instruction_set = best_instruction_set();
}

// Prepares `plan`; false when a number is not finite. Throws std::bad_alloc.
// With a second thread, the tables are made on it while this one measures
// the samples (the two fill different members of the plan). Neither depends
// on the other, so the plan is the same either way.
bool prepare(sample_rows samples, double tolerance, std::int64_t lines, int upsampling, int threads,
             fast_plan& plan) {
    plan.count = static_cast<std::int32_t>(samples.times.size());
    plan.tolerance = tolerance;
    std::thread helper;
    std::exception_ptr failure;
    if (threads > 1) {
        try {
            helper = std::thread([&] {
                try {
                    make_tables(lines, upsampling, plan);
                } catch (...) {
                    failure = std::current_exception();
                }
            });
        } catch (const std::system_error&) {
            // No second thread: the tables are made below.
        }
    }
    bool measured = false;
    try {
        measured = measure_samples(samples, plan);
    } catch (...) {
        if (helper.joinable()) helper.join();
        throw;
    }
    if (helper.joinable()) {
        helper.join();
        if (failure) std::rethrow_exception(failure);
    } else if (measured) {
        make_tables(lines, upsampling, plan);
    }
    return measured;
}

// A new plan into `plan` by prepare, with the statuses of prepare_fast.
fast_status prepare_owned(sample_rows samples, double tolerance, std::int64_t lines, int upsampling, int threads,
                          fast_plan_owner& plan) {
    try {
        fast_plan_owner made(new fast_plan);
        if (!prepare(samples, tolerance, lines, upsampling, threads, *made)) return fast_status::not_applicable;
        plan = std::move(made);
        return fast_status::ok;
    } catch (const std::bad_alloc&) {
        return fast_status::out_of_memory;
    }
}

// Fresh pages for the grids, on huge pages where the system allows it: a
// block touches its grids end to end, and small pages would cost a fault
// each. Large mappings start on a huge page, so that grids of a whole number
// of huge pages share none, and a grid that is never used is never touched.
// Page-aligned, as the transforms' vector code wants. Null when memory runs out.
mapped_array map_grids(std::size_t bytes) {
    const bool huge = bytes >= huge_page;
    const std::size_t mapped = huge ? bytes + huge_page : bytes;
    void* const data = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (data == MAP_FAILED) return mapped_array(nullptr, mapped_release{0});
    char* start = static_cast<char*>(data);
    if (huge) {
        const std::size_t lead = (huge_page - reinterpret_cast<std::uintptr_t>(data) % huge_page) % huge_page;
        start += lead;
        if (lead > 0) munmap(data, lead);
        if (lead < huge_page) munmap(start + bytes, huge_page - lead);
#ifdef MADV_HUGEPAGE
        madvise(start, bytes, MADV_HUGEPAGE);  // advice only: nothing to do when refused
#endif
    }
    return mapped_array(reinterpret_cast<double*>(start), mapped_release{bytes});
}

bool prepare_work(const fast_plan& plan, int threads, fast_work& work) {
    work.threads = std::max(threads, 1);
    work.rows = std::clamp(plan.rows, 1, nufft_row_group);
    const auto rows = static_cast<std::size_t>(work.rows);
    work.grid_doubles = 2 * static_cast<std::size_t>(plan.block_points);
    // Several rows spread onto many grids at the same place at once: grids a
    // whole number of pages apart would contend for the same cache sets, so
    // they are staggered by a few cache lines (one row's few grids are not).
    if (work.rows > 1) work.grid_doubles += grid_stagger;
    const std::size_t grids = static_cast<std::size_t>(plan.subgrids) * rows * (nufft_max_terms + 1);
    work.grids = map_grids(sizeof(double) * work.grid_doubles * grids);
    if (!work.grids) return false;
    work.scratch.resize(static_cast<std::size_t>(plan.subgrids));
    for (nufft_scratch& s : work.scratch) {
        s.rotated.resize(2 * rows * nufft_max_terms * static_cast<std::size_t>(nufft_chunk));
        s.weights.resize(nufft_chunk);
        s.cosine.resize(nufft_chunk);
        s.sine.resize(nufft_chunk);
        s.tau.resize(nufft_chunk);
        s.argument.resize(nufft_chunk);
        s.first_point.resize(nufft_chunk);
        s.per_point.resize(static_cast<std::size_t>(plan.block_points));
    }
    work.offsets = std::make_unique_for_overwrite<double[]>(static_cast<std::size_t>(plan.block_lines));
    work.compensation = std::make_unique_for_overwrite<double[]>(2 * rows * static_cast<std::size_t>(plan.block_lines));
    return true;
}

// Runs task(i) for i < tasks on up to `threads` threads, this one among them;
// which thread runs which task does not change what each task computes, and
// a thread that cannot be started leaves its tasks to the others.
template <typename F>
void in_parallel(int tasks, int threads, F&& task) {
    threads = std::clamp(threads, 1, std::max(tasks, 1));
    if (threads == 1) {
        for (int i = 0; i < tasks; ++i) task(i);
        return;
    }
    std::atomic<int> next{0};
    auto work = [&] {
        for (int i = next++; i < tasks; i = next++) task(i);
    };
    std::vector<std::thread> helpers;
    try {
        helpers.reserve(static_cast<std::size_t>(threads - 1));
        for (int h = 1; h < threads; ++h) helpers.emplace_back(work);
    } catch (const std::exception&) {
        // Fewer threads: the same results.
    }
    work();
    for (std::thread& helper : helpers) helper.join();
}

// The rows that one pass over the samples spreads together: the plan's rows
// [first, first + count), count ≤ the work's rows.
struct row_group {
    std::int32_t first = 0;
    std::int32_t count = 1;
};

// The stages' loops, compiled once for each instruction set below.
// Lines first + (steps + j)·increment, j = m − h, h = centre_line: `steps` is
// h plus the lines before the progression's first (an integer below 2^53).
// The phases, cells and τ_k are the times' alone, found once for every row.
// Each sample's phase at the progression's centre, and its place on the grid.
// From `first` 0 (as sweeps from 0 begin), first·t_k mod 1 is 0 and is not
// worked out: the same bits.
template <bool from_zero>
[[gnu::always_inline]] inline void place_samples(const fast_plan& plan, double first, double increment,
                                                 double steps, std::int32_t points, std::int32_t begin,
                                                 std::int32_t end, nufft_scratch& scratch) {
    const double grid = static_cast<double>(points);
    const bool even = plan.width % 2 == 0;
    const std::int32_t lead = kernel_lead(plan.width);
    const std::int32_t mask = points - 1;
    const double* const times = plan.times + begin;
    double* const cosine = scratch.cosine.data();
    double* const sine = scratch.sine.data();
    double* const argument = scratch.argument.data();
    std::int32_t* const first_point = scratch.first_point.data();
    const std::int32_t size = end - begin;
    for (std::int32_t i = 0; i < size; ++i) {
        const double t = times[i];
        const unit_pair u = fraction_of_product(increment, t);
        const unit_pair v = from_zero ? unit_pair{0.0, 0.0} : fraction_of_product(first, t);
        const sine_cosine sc = sin_cos_cycles(phase_at(v, u, steps));
        cosine[i] = sc.cosine;
        sine[i] = sc.sine;

        // Position n·u on the grid as an exact cell and an offset.
        const double position = u.hi * grid;
        const double nearest = nearest_integer(position);
        const double from_nearest = (position - nearest) + u.lo * grid;
        // An even width takes the cell below (offset in [0, 1]), an odd one the nearest.
        const bool below = even && from_nearest < 0.0;
        const double cell = below ? nearest - 1.0 : nearest;
        const double within = below ? from_nearest + 1.0 : from_nearest;
        argument[i] = even ? 2.0 * within - 1.0 : 2.0 * within;
        first_point[i] = (static_cast<std::int32_t>(cell) - lead) & mask;
    }
}

[[gnu::always_inline]] inline void rotate_samples(const fast_plan& plan, row_group rows, double first,
                                                  double increment, double steps, std::int32_t points, int terms,
                                                  std::int32_t begin, std::int32_t end, nufft_scratch& scratch) {
    if (first == 0.0) place_samples<true>(plan, first, increment, steps, points, begin, end, scratch);
    else place_samples<false>(plan, first, increment, steps, points, begin, end, scratch);
    const double* const times = plan.times + begin;
    const double* const cosine = scratch.cosine.data();
    const double* const sine = scratch.sine.data();
    const std::int32_t size = end - begin;
    double* const weights = scratch.weights.data();
    for (std::int32_t r = 0; r < rows.count; ++r) {
        row_weights(plan, rows.first + r, begin, end, weights);
        double* const rotated = scratch.rotated.data() + 2 * static_cast<std::size_t>(r) * nufft_max_terms * nufft_chunk;
        for (std::int32_t i = 0; i < size; ++i) {
            rotated[2 * i] = weights[i] * cosine[i];
            rotated[2 * i + 1] = -(weights[i] * sine[i]);
        }
    }
    if (terms == 1) return;
    const double centre = plan.centre;
    const double inverse = 1.0 / plan.radius;
    double* const tau = scratch.tau.data();
    for (std::int32_t i = 0; i < size; ++i) tau[i] = (times[i] - centre) * inverse;
    for (std::int32_t r = 0; r < rows.count; ++r) {
        double* const rotated = scratch.rotated.data() + 2 * static_cast<std::size_t>(r) * nufft_max_terms * nufft_chunk;
        for (int p = 1; p < terms; ++p) {
            const double* const previous = rotated + 2 * static_cast<std::size_t>(p - 1) * nufft_chunk;
            double* const term = rotated + 2 * static_cast<std::size_t>(p) * nufft_chunk;
            for (std::int32_t i = 0; i < size; ++i) {
                term[2 * i] = previous[2 * i] * tau[i];
                term[2 * i + 1] = previous[2 * i + 1] * tau[i];
            }
        }
    }
}

// Each lane twice: (a, b, …) gives (a, a, b, b, …) in `low` and `high`.
[[gnu::always_inline]] inline void pair_up(const vector2& v, vector2& low, vector2& high) {
    low = __builtin_shufflevector(v, v, 0, 0);
    high = __builtin_shufflevector(v, v, 1, 1);
}
[[gnu::always_inline]] inline void pair_up(const vector4& v, vector4& low, vector4& high) {
    low = __builtin_shufflevector(v, v, 0, 0, 1, 1);
    high = __builtin_shufflevector(v, v, 2, 2, 3, 3);
}
[[gnu::always_inline]] inline void pair_up(const vector8& v, vector8& low, vector8& high) {
    low = __builtin_shufflevector(v, v, 0, 0, 1, 1, 2, 2, 3, 3);
    high = __builtin_shufflevector(v, v, 4, 4, 5, 5, 6, 6, 7, 7);
}

// (re, im, re, im, …) from the pair at p, without a detour through memory.
[[gnu::always_inline]] inline void repeat_pair(vector2& v, const double* p) { load(v, p); }
#if defined(__x86_64__)
[[gnu::target("avx2,fma")]] inline void repeat_pair(vector4& v, const double* p) {
    v = static_cast<vector4>(_mm256_broadcast_pd(reinterpret_cast<const __m128d*>(p)));
}
[[gnu::target("avx512f,avx2,fma")]] inline void repeat_pair(vector8& v, const double* p) {
    const __m128 two = _mm_loadu_ps(reinterpret_cast<const float*>(p));  // the 16 bytes of (re, im)
    v = static_cast<vector8>(_mm512_castps_pd(_mm512_maskz_broadcast_f32x4(0xffff, two)));
}
#endif

// a·b + c, fused on every instruction set, so that every set gives the same
// bits: std::fma lane by lane for the portable vectors (an instruction on
// ARM64 and on x86-64 processors since 2013, a library call before them).
// The wider forms carry their instruction set and are inlined into the
// flattened spreading of that set only.
// (Vectors pass by reference: their passing by value depends on the set.)
inline void multiply_add(vector2& r, const vector2& a, const vector2& b, const vector2& c) {
    r = vector2{std::fma(a[0], b[0], c[0]), std::fma(a[1], b[1], c[1])};
}
#if defined(__x86_64__)
[[gnu::target("avx2,fma")]] inline void multiply_add(vector4& r, const vector4& a, const vector4& b, const vector4& c) {
    r = __builtin_ia32_vfmaddpd256(a, b, c);
}
[[gnu::target("avx512f,avx2,fma")]] inline void multiply_add(vector8& r, const vector8& a, const vector8& b,
                                                             const vector8& c) {
    r = __builtin_ia32_vfmaddpd512_mask(a, b, c, 0xff, 4);
}
#endif

// Adds pair × values to the grid at g, by two-sum with its rounding errors
// into e where `compensated` and `first_term`.
template <bool compensated, typename vector>
[[gnu::always_inline]] inline void add_to_grid(double* g, double* e, const vector& pair, const vector& values,
                                               bool first_term) {
    vector cells;
    load(cells, g);
    if (compensated && first_term) {
        const vector term = pair * values;
        const vector sum = cells + term;
        const vector back = sum - cells;
        vector errors;
        load(errors, e);
        store(e, errors + ((cells - (sum - back)) + (term - back)));
        store(g, sum);
    } else {
        multiply_add(cells, pair, values, cells);
        store(g, cells);
    }
}

// Adds each placed sample times the kernel's values to the grids of the
// `terms` Taylor terms of each of `rows` rows (grids[r × terms + p]): the
// pieces' polynomials by Horner's rule on vectors, once for every row, their
// degree and width fixed at compile time and their coefficients held in
// registers, then paired with the grids' interleaved real and imaginary
// parts. With `compensated`, term 0 is added by two-sum, its rounding errors
// gathered in errors[r].
template <typename vector, int width, int fixed_terms, bool compensated, bool one_row>
inline void spread_samples(const fast_plan& plan, std::int32_t points, int any_terms, std::int32_t group,
                           std::int32_t size, const nufft_scratch& scratch, double* const* grids,
                           double* const* errors) {
    // One row: the terms fixed at compile time. Several: both counts at run
    // time, which costs little beside the rows' own work and keeps the code small.
    const std::int32_t rows = one_row ? 1 : group;
    const int terms = fixed_terms > 0 ? fixed_terms : any_terms;
    constexpr int size_of = static_cast<int>(sizeof(vector) / sizeof(double));
    constexpr int degree = kernel_degrees[width];
    constexpr int lanes = (width + 7) / 8 * 8;
    constexpr int blocks = lanes / size_of;
    const double* const kernel = plan.kernel.data();
    vector coefficients[degree + 1][blocks];
    for (int d = 0; d <= degree; ++d)
        for (int b = 0; b < blocks; ++b) load(coefficients[d][b], kernel + d * lanes + b * size_of);
    const std::int32_t mask = points - 1;
    const double* const rotated = scratch.rotated.data();
    // Samples in file order often lie side by side on the grid; taking them
    // from four quarters of the chunk in turn keeps each sample's loads clear of
    // the stores of the one before, which the CPU could not forward.
    const std::int32_t quarter = (size + 3) / 4;
    for (std::int32_t step = 0; step < 4 * quarter; ++step) {
        const std::int32_t k = (step % 4) * quarter + step / 4;
        if (k >= size) continue;
        vector s;
        for (int i = 0; i < size_of; ++i) s[i] = scratch.argument[static_cast<std::size_t>(k)];
        vector v[blocks];
        for (int b = 0; b < blocks; ++b) v[b] = coefficients[0][b];
        for (int d = 1; d <= degree; ++d)
            for (int b = 0; b < blocks; ++b) multiply_add(v[b], v[b], s, coefficients[d][b]);
        const std::int32_t start = scratch.first_point[static_cast<std::size_t>(k)];
        if (start + lanes <= points) {
            vector low[blocks], high[blocks];
            for (int b = 0; b < blocks; ++b) pair_up(v[b], low[b], high[b]);
            for (int r = 0; r < rows; ++r) {
                double* const e0 = errors[r] + 2 * start;
                for (int p = 0; p < terms; ++p) {
                    const std::size_t at =
                        2 * ((static_cast<std::size_t>(r) * nufft_max_terms + static_cast<std::size_t>(p)) * nufft_chunk +
                             static_cast<std::size_t>(k));
                    vector pair;
                    repeat_pair(pair, rotated + at);
                    double* g = grids[r * terms + p] + 2 * start;
                    double* e = e0;
                    for (int b = 0; b < blocks; ++b) {
                        add_to_grid<compensated>(g, e, pair, low[b], p == 0);
                        add_to_grid<compensated>(g + size_of, e + size_of, pair, high[b], p == 0);
                        g += 2 * size_of;
                        e += 2 * size_of;
                    }
                }
            }
            continue;
        }
        // Near the grid's end, point by point: short of the end as the vector
        // code adds (fused), so that a sample's sums do not depend on where
        // it falls; wrapping around the end, plainly.
        double values[lanes];
        for (int b = 0; b < blocks; ++b) store(values + b * size_of, v[b]);
        const bool wraps = start + width > points;
        for (int rp = 0; rp < rows * terms; ++rp) {
            const int r = rp / terms;
            const int p = rp % terms;
            const std::size_t at =
                2 * ((static_cast<std::size_t>(r) * nufft_max_terms + static_cast<std::size_t>(p)) * nufft_chunk +
                     static_cast<std::size_t>(k));
            double* const grid = grids[rp];
            double* const error = errors[r];
            for (int i = 0; i < width; ++i) {
                const std::size_t cell = 2 * static_cast<std::size_t>((start + i) & mask);
                for (int part = 0; part < 2; ++part) {
                    double& g = grid[cell + static_cast<std::size_t>(part)];
                    const double factor = rotated[at + static_cast<std::size_t>(part)];
                    const double term = factor * values[i];
                    if (compensated && p == 0) {
                        const double sum = g + term;
                        const double back = sum - g;
                        error[cell + static_cast<std::size_t>(part)] += (g - (sum - back)) + (term - back);
                        g = sum;
                    } else if (!wraps) {
                        g = std::fma(factor, values[i], g);
                    } else {
                        g = g + term;
                    }
                }
            }
        }
    }
}

template <typename vector, int width, bool compensated>
inline void spread_terms(const fast_plan& plan, std::int32_t points, int terms, std::int32_t rows, std::int32_t size,
                         const nufft_scratch& scratch, double* const* grids, double* const* errors) {
    if (rows > 1)
        return spread_samples<vector, width, 0, compensated, false>(plan, points, terms, rows, size, scratch, grids,
                                                                    errors);
    if (terms == 1)
        return spread_samples<vector, width, 1, compensated, true>(plan, points, terms, rows, size, scratch, grids,
                                                                   errors);
    if (terms == 2)
        return spread_samples<vector, width, 2, compensated, true>(plan, points, terms, rows, size, scratch, grids,
                                                                   errors);
    spread_samples<vector, width, nufft_max_terms, compensated, true>(plan, points, terms, rows, size, scratch, grids,
                                                                      errors);
}

template <typename vector, bool compensated>
inline void spread_any(const fast_plan& plan, std::int32_t points, int terms, std::int32_t rows, std::int32_t size,
                       const nufft_scratch& scratch, double* const* grids, double* const* errors) {
    switch (plan.width) {
#define TRAPFT_WIDTH(w)                                                                                            \
    case w: return spread_terms<vector, w, compensated>(plan, points, terms, rows, size, scratch, grids, errors);
        TRAPFT_WIDTH(3) TRAPFT_WIDTH(4) TRAPFT_WIDTH(5) TRAPFT_WIDTH(6) TRAPFT_WIDTH(7) TRAPFT_WIDTH(8)
        TRAPFT_WIDTH(9) TRAPFT_WIDTH(10) TRAPFT_WIDTH(11) TRAPFT_WIDTH(12) TRAPFT_WIDTH(13) TRAPFT_WIDTH(14)
        TRAPFT_WIDTH(15) TRAPFT_WIDTH(16)
#undef TRAPFT_WIDTH
        default: return spread_terms<vector, 17, compensated>(plan, points, terms, rows, size, scratch, grids, errors);
    }
}

// The spreading's arguments: a chunk of `size` samples placed in `scratch`,
// onto the grids of `rows` rows and `terms` terms.
struct spread_target {
    std::int32_t points = 0;
    int terms = 1;
    std::int32_t rows = 1;
    std::int32_t size = 0;
    double* const* grids = nullptr;   // rows × terms
    double* const* errors = nullptr;  // rows
};

void rotate_plain(const fast_plan& plan, row_group rows, double first, double increment, double steps,
                  std::int32_t points, int terms, std::int32_t begin, std::int32_t end, nufft_scratch& scratch) {
    rotate_samples(plan, rows, first, increment, steps, points, terms, begin, end, scratch);
}
template <bool compensated>
[[gnu::flatten]] void spread_plain(const fast_plan& plan, const spread_target& to, const nufft_scratch& scratch) {
    spread_any<vector2, compensated>(plan, to.points, to.terms, to.rows, to.size, scratch, to.grids, to.errors);
}

#if defined(__x86_64__)
#define TRAPFT_AVX2 gnu::target("avx2,fma")
#define TRAPFT_AVX512 gnu::target("avx512f,avx2,fma")
[[TRAPFT_AVX2]] void rotate_avx2(const fast_plan& plan, row_group rows, double first, double increment,
                                 double steps, std::int32_t points, int terms, std::int32_t begin, std::int32_t end,
                                 nufft_scratch& scratch) {
    rotate_samples(plan, rows, first, increment, steps, points, terms, begin, end, scratch);
}
[[TRAPFT_AVX512]] void rotate_avx512(const fast_plan& plan, row_group rows, double first, double increment,
                                     double steps, std::int32_t points, int terms, std::int32_t begin,
                                     std::int32_t end, nufft_scratch& scratch) {
    rotate_samples(plan, rows, first, increment, steps, points, terms, begin, end, scratch);
}
template <bool compensated>
[[TRAPFT_AVX2, gnu::flatten]] void spread_avx2(const fast_plan& plan, const spread_target& to,
                                               const nufft_scratch& scratch) {
    spread_any<vector4, compensated>(plan, to.points, to.terms, to.rows, to.size, scratch, to.grids, to.errors);
}
template <bool compensated>
[[TRAPFT_AVX512, gnu::flatten]] void spread_avx512(const fast_plan& plan, const spread_target& to,
                                                   const nufft_scratch& scratch) {
    spread_any<vector8, compensated>(plan, to.points, to.terms, to.rows, to.size, scratch, to.grids, to.errors);
}
#endif

void rotate(const fast_plan& plan, int instruction_set, row_group rows, double first, double increment,
            double steps, std::int32_t points, int terms, std::int32_t begin, std::int32_t end,
            nufft_scratch& scratch) {
#if defined(__x86_64__)
    if (instruction_set == 2)
        return rotate_avx512(plan, rows, first, increment, steps, points, terms, begin, end, scratch);
    if (instruction_set == 1)
        return rotate_avx2(plan, rows, first, increment, steps, points, terms, begin, end, scratch);
#endif
    rotate_plain(plan, rows, first, increment, steps, points, terms, begin, end, scratch);
}

void spread(const fast_plan& plan, int instruction_set, const spread_target& to, const nufft_scratch& scratch) {
    const bool compensated = scratch.compensated;
#if defined(__x86_64__)
    if (instruction_set == 2)
        return compensated ? spread_avx512<true>(plan, to, scratch) : spread_avx512<false>(plan, to, scratch);
    if (instruction_set == 1)
        return compensated ? spread_avx2<true>(plan, to, scratch) : spread_avx2<false>(plan, to, scratch);
#endif
    return compensated ? spread_plain<true>(plan, to, scratch) : spread_plain<false>(plan, to, scratch);
}

// Each line's offset from the progression first + m·increment, written to
// `offsets`: (f_m − first) − m·increment from exact differences and
// products. The largest, or the first that is not finite (a difference
// overflowed), where the lines stop.
[[gnu::always_inline]] inline double line_offset(double f, std::int32_t m, double first, double increment) {
    const double from = f - first;
    const double back = from - f;
    const double from_error = (f - (from - back)) + (-first - back);
    const double along = static_cast<double>(m) * increment;
    const double along_error = std::fma(static_cast<double>(m), increment, -along);
    return (from - along) + (from_error - along_error);
}
[[gnu::always_inline]] inline double offsets_of(const double* frequencies, std::int32_t from, std::int32_t lines,
                                                double first, double increment, double* offsets, double largest) {
    for (std::int32_t m = from; m < lines; ++m) {
        const double f = frequencies[m];
        offsets[m] = std::isfinite(f) ? line_offset(f, m, first, increment) : 0.0;
        largest = std::max(largest, std::fabs(offsets[m]));
        if (!std::isfinite(offsets[m])) return offsets[m];
    }
    return largest;
}

// The same, where the processor has fused multiply-adds: lines a vector at a
// time, the same operations lane by lane, with a line that is not finite
// given offset 0 by selection rather than a branch. A block with an offset
// that is not finite (rare) is gone through again one line at a time.
template <typename vector>
[[gnu::always_inline]] inline double offsets_of_vectors(const double* frequencies, std::int32_t lines, double first,
                                                        double increment, double* offsets) {
    constexpr std::int32_t size_of = static_cast<std::int32_t>(sizeof(vector) / sizeof(double));
    constexpr double largest_double = std::numeric_limits<double>::max();
    const vector zero = {};
    const vector firsts = zero + first;
    const vector increments = zero + increment;
    vector index = zero;
    for (std::int32_t i = 0; i < size_of; ++i) index[i] = static_cast<double>(i);
    vector most = zero;
    vector check = zero;  // NaN in a lane that met an offset that is not finite
    std::int32_t m = 0;
    for (; m + size_of <= lines; m += size_of) {
        vector f;
        load(f, frequencies + m);
        const auto usable = (f <= largest_double) & (f >= -largest_double);
        f = usable ? f : firsts;
        const vector from = f - firsts;
        const vector back = from - f;
        const vector from_error = (f - (from - back)) + (-firsts - back);
        const vector along = index * increments;
        vector along_error;
        multiply_add(along_error, index, increments, -along);
        vector offset = (from - along) + (from_error - along_error);
        offset = usable ? offset : zero;
        store(offsets + m, offset);
        const vector size = offset < zero ? -offset : offset;
        most = size > most ? size : most;
        check += offset * zero;
        index += static_cast<double>(size_of);
    }
    double largest = 0.0;
    bool all_finite = true;
    for (std::int32_t i = 0; i < size_of; ++i) {
        largest = std::max(largest, most[i]);
        all_finite &= check[i] == 0.0;
    }
    if (!all_finite) return offsets_of(frequencies, 0, lines, first, increment, offsets, 0.0);
    return offsets_of(frequencies, m, lines, first, increment, offsets, largest);
}

double offsets_plain(const double* frequencies, std::int32_t lines, double first, double increment, double* offsets) {
    return offsets_of(frequencies, 0, lines, first, increment, offsets, 0.0);
}
#if defined(__x86_64__)
[[TRAPFT_AVX2]] double offsets_fused(const double* frequencies, std::int32_t lines, double first, double increment,
                                     double* offsets) {
    return offsets_of_vectors<vector4>(frequencies, lines, first, increment, offsets);
}
#endif
double line_offsets(int instruction_set, const double* frequencies, std::int32_t lines, double first,
                    double increment, double* offsets) {
#if defined(__x86_64__)
    if (instruction_set >= 1) return offsets_fused(frequencies, lines, first, increment, offsets);
#endif
    return offsets_plain(frequencies, lines, first, increment, offsets);
}

// Counts the chunk's samples by their first grid point; from the chunk that
// would take any point past the plain limit on, term 0 is compensated (for
// every row: where the samples fall is the times' alone).
void count_chunk(nufft_scratch& scratch, std::int32_t size, std::int32_t limit, double* const* errors,
                 std::int32_t rows, std::size_t doubles) {
    if (scratch.compensated) return;
    std::int32_t most = 0;
    for (std::int32_t k = 0; k < size; ++k)
        most = std::max(most, ++scratch.per_point[static_cast<std::size_t>(scratch.first_point[static_cast<std::size_t>(k)])]);
    if (most > limit) {
        scratch.compensated = true;
        for (std::int32_t r = 0; r < rows; ++r) std::memset(errors[r], 0, sizeof(double) * doubles);
    }
}

// A result scaled back by 2^scale. The sums are at most A ≤ the largest
// double in size, so one that the tolerance's error pushes past it is brought
// back to the largest double, which is nearer the true sum, not to infinity.
double unscale(double value, double scale) {
    constexpr double largest = std::numeric_limits<double>::max();
    return std::clamp(value * scale, -largest, largest);
}

// Adds b to the compensated sum (sum, error) (Neumaier's two-sum).
[[gnu::always_inline]] inline void accumulate(double& sum, double& error, double b) {
    const double s = sum + b;
    error += std::fabs(sum) >= std::fabs(b) ? (sum - s) + b : (b - s) + sum;
    sum = s;
}

// Where a group's results go: row r of the group at real/imaginary + r × stride.
struct group_results {
    double* real = nullptr;
    double* imaginary = nullptr;
    std::size_t stride = 0;

    group_results from(std::int32_t line) const { return {real + line, imaginary + line, stride}; }
    double* real_of(std::int32_t r) const { return real + static_cast<std::size_t>(r) * stride; }
    double* imaginary_of(std::int32_t r) const { return imaginary + static_cast<std::size_t>(r) * stride; }
};

// Every result of a row whose weights are all zero is exactly zero, signed
// as the exact evaluation signs it; true when every row of the group is so.
bool zero_rows(const fast_plan& plan, row_group rows, std::int32_t count, const group_results& out) {
    bool all = true;
    for (std::int32_t r = 0; r < rows.count; ++r) {
        if (plan.total[static_cast<std::size_t>(rows.first + r)] != 0.0) {
            all = false;
            continue;
        }
        std::fill(out.real_of(r), out.real_of(r) + count, 0.0);
        std::fill(out.imaginary_of(r), out.imaginary_of(r) + count, -0.0);
    }
    return all;
}

// Σ c_k e^(−2πi f_m t_k) term by term at each finite frequency, each phase
// reduced exactly once for every row, in compensated sums.
void direct_sums(const fast_plan& plan, row_group rows, const double* frequencies, std::int32_t count,
                 fast_work& work, const group_results& out) {
    double* const errors = work.compensation.get();
    auto real_error = [&](std::int32_t r) {
        return errors + 2 * static_cast<std::size_t>(r) * static_cast<std::size_t>(count);
    };
    auto imaginary_error = [&](std::int32_t r) { return real_error(r) + count; };
    for (std::int32_t r = 0; r < rows.count; ++r) {
        std::fill(out.real_of(r), out.real_of(r) + count, 0.0);
        std::fill(out.imaginary_of(r), out.imaginary_of(r) + count, 0.0);
        std::fill(real_error(r), real_error(r) + 2 * static_cast<std::size_t>(count), 0.0);
    }
    double weights[nufft_row_group];
    for (std::int32_t k = 0; k < plan.count; ++k) {
        bool any = false;
        for (std::int32_t r = 0; r < rows.count; ++r) {
            row_weights(plan, rows.first + r, k, k + 1, &weights[r]);
            any = any || weights[r] != 0.0;
        }
        if (!any) continue;
        const double t = plan.times[k];
        for (std::int32_t m = 0; m < count; ++m) {
            if (!std::isfinite(frequencies[m])) continue;
            const unit_pair phase = fraction_of_product(frequencies[m], t);
            const sine_cosine sc = sin_cos_cycles(reduce_unit(phase.hi + phase.lo));
            for (std::int32_t r = 0; r < rows.count; ++r) {
                const double c = weights[r];
                if (c == 0.0) continue;
                accumulate(out.real_of(r)[m], real_error(r)[m], c * sc.cosine);
                accumulate(out.imaginary_of(r)[m], imaginary_error(r)[m], -(c * sc.sine));
            }
        }
    }
    for (std::int32_t r = 0; r < rows.count; ++r) {
        const double scale = plan.scale[static_cast<std::size_t>(rows.first + r)];
        for (std::int32_t m = 0; m < count; ++m) {
            out.real_of(r)[m] = unscale(out.real_of(r)[m] + real_error(r)[m], scale);
            out.imaginary_of(r)[m] = unscale(out.imaginary_of(r)[m] + imaginary_error(r)[m], scale);
        }
    }
}

// Clears the sub-grid's grids over [from, to) in doubles, beside what they
// have cleared already: the range cleared is always one interval.
void clear_grids(nufft_scratch& scratch, double* const* grids, int count, std::size_t from, std::size_t to) {
    if (scratch.cleared_from == scratch.cleared_to) {
        scratch.cleared_from = from;
        scratch.cleared_to = from;
    }
    from = std::min(from, scratch.cleared_from);
    to = std::max(to, scratch.cleared_to);
    for (int g = 0; g < count; ++g) {
        std::memset(grids[g] + from, 0, sizeof(double) * (scratch.cleared_from - from));
        std::memset(grids[g] + scratch.cleared_to, 0, sizeof(double) * (to - scratch.cleared_to));
    }
    scratch.cleared_from = from;
    scratch.cleared_to = to;
}

// The doubles of the grids that the chunk's samples reach: from the first
// point of the lowest to the last lane of the highest, or every one when a
// sample wraps around the grid's end.
std::pair<std::size_t, std::size_t> chunk_reach(const fast_plan& plan, const nufft_scratch& scratch,
                                                std::int32_t size, std::int32_t points, std::size_t doubles) {
    std::int32_t low = points, high = 0;
    for (std::int32_t k = 0; k < size; ++k) {
        low = std::min(low, scratch.first_point[static_cast<std::size_t>(k)]);
        high = std::max(high, scratch.first_point[static_cast<std::size_t>(k)]);
    }
    if (high + plan.width > points) return {0, doubles};
    return {2 * static_cast<std::size_t>(low),
            std::min(doubles, 2 * (static_cast<std::size_t>(high) + static_cast<std::size_t>(plan.lanes)))};
}

// The grids of the progression's lines from `shift` on (an integer below
// 2^53): rotated, spread and gathered into sub-grid 0's term grids of each
// row of the group, then transformed. Each sub-grid is cleared only as far as
// its samples reach (in file order they often keep to a part of the grid),
// so that no thread clears a whole grid before it starts; sub-grid 0's rest
// is cleared when it gathers the others, grids side by side, and only the
// others' reach is added to it: the rest would add zeros, which change
// nothing (a grid never holds −0).
void spread_and_transform(const fast_plan& plan, int instruction_set, row_group rows, double first,
                          double increment, double shift, std::int32_t points, int terms, fast_work& work,
                          int threads) {
    const std::size_t doubles = 2 * static_cast<std::size_t>(points);
    const int subgrids = plan.subgrids;
    const std::int32_t limit = plain_limit(plan);
    const std::int32_t chunks = (plan.count + nufft_chunk - 1) / nufft_chunk;
    in_parallel(subgrids, threads, [&](int s) {
        nufft_scratch& scratch = work.scratch[static_cast<std::size_t>(s)];
        double* grids[nufft_row_group * nufft_max_terms];
        double* errors[nufft_row_group];
        for (std::int32_t r = 0; r < rows.count; ++r) {
            for (int p = 0; p < terms; ++p) grids[r * terms + p] = work.grid(s, r, p);
            errors[r] = work.grid(s, r, nufft_max_terms);
        }
        scratch.cleared_from = scratch.cleared_to = 0;
        scratch.compensated = false;
        std::fill(scratch.per_point.begin(), scratch.per_point.begin() + points, 0);
        spread_target to;
        to.points = points;
        to.terms = terms;
        to.rows = rows.count;
        to.grids = grids;
        to.errors = errors;
        // Sub-grid s takes whole chunks [chunks·s/S, chunks·(s+1)/S).
        const std::int32_t from = static_cast<std::int32_t>(static_cast<std::int64_t>(chunks) * s / subgrids);
        const std::int32_t to_chunk = static_cast<std::int32_t>(static_cast<std::int64_t>(chunks) * (s + 1) / subgrids);
        for (std::int32_t chunk = from; chunk < to_chunk; ++chunk) {
            const std::int32_t begin = chunk * nufft_chunk;
            const std::int32_t end = std::min(plan.count, begin + nufft_chunk);
            rotate(plan, instruction_set, rows, first, increment, shift + centre_line(plan, points), points, terms,
                   begin, end, scratch);
            count_chunk(scratch, end - begin, limit, errors, rows.count, doubles);
            // Compensated, the whole grid gathers its errors.
            const auto [low, high] = scratch.compensated ? std::pair<std::size_t, std::size_t>{0, doubles}
                                                         : chunk_reach(plan, scratch, end - begin, points, doubles);
            clear_grids(scratch, grids, rows.count * terms, low, high);
            to.size = end - begin;
            spread(plan, instruction_set, to, scratch);
        }
    });
    // Each grid gathered in a fixed order (each sub-grid's term 0 with its
    // errors, then the sub-grids in turn) and transformed, grids side by side.
    // (A sub-grid's cleared range lies within the grid: see chunk_reach.)
    in_parallel(rows.count * terms, threads, [&](int rp) {
        const int r = rp / terms;
        const int p = rp % terms;
        if (p == 0)
            for (int s = 0; s < subgrids; ++s) {
                if (!work.scratch[static_cast<std::size_t>(s)].compensated) continue;
                double* const g = work.grid(s, r, 0);
                const double* const e = work.grid(s, r, nufft_max_terms);
                for (std::size_t i = 0; i < doubles; ++i) g[i] += e[i];
            }
        double* const g = work.grid(0, r, p);
        const nufft_scratch& own = work.scratch[0];
        std::memset(g, 0, sizeof(double) * own.cleared_from);
        std::memset(g + own.cleared_to, 0, sizeof(double) * (doubles - own.cleared_to));
        for (int s = 1; s < subgrids; ++s) {
            const nufft_scratch& scratch = work.scratch[static_cast<std::size_t>(s)];
            const double* const h = work.grid(s, r, p);
            for (std::size_t i = scratch.cleared_from; i < scratch.cleared_to; ++i) g[i] += h[i];
        }
        nufft_transform(plan, points, g);
    });
}

// The real and the imaginary parts of a vector's worth of (re, im) pairs at p.
template <typename vector>
[[gnu::always_inline]] inline void split_pairs(const double* p, vector& re, vector& im) {
    vector low, high;
    load(low, p);
    load(high, p + sizeof(vector) / sizeof(double));
    if constexpr (sizeof(vector) == 2 * sizeof(double)) {
        re = __builtin_shufflevector(low, high, 0, 2);
        im = __builtin_shufflevector(low, high, 1, 3);
    } else if constexpr (sizeof(vector) == 4 * sizeof(double)) {
        re = __builtin_shufflevector(low, high, 0, 2, 4, 6);
        im = __builtin_shufflevector(low, high, 1, 3, 5, 7);
    } else {
        re = __builtin_shufflevector(low, high, 0, 2, 4, 6, 8, 10, 12, 14);
        im = __builtin_shufflevector(low, high, 1, 3, 5, 7, 9, 11, 13, 15);
    }
}

// The correction of mode j on a grid `stride` times coarser than the table's.
inline double correction_at(const fast_plan& plan, std::int32_t j, std::int32_t stride) {
    return plan.correction[static_cast<std::size_t>((j < 0 ? -j : j) * stride)];
}

// The same for modes j … j + lanes − 1: loaded whole, or reversed below mode
// 0, where the modes are the table's own, else entry by entry.
template <typename vector>
[[gnu::always_inline]] inline void correction_of(const fast_plan& plan, std::int32_t j, std::int32_t stride,
                                                 vector& factor) {
    constexpr std::int32_t size_of = static_cast<std::int32_t>(sizeof(vector) / sizeof(double));
    const double* const table = plan.correction.data();
    if (stride == 1 && j >= 0) {
        load(factor, table + j);
    } else if (stride == 1 && j + size_of <= 1) {
        vector reversed;
        load(reversed, table + (-j - size_of + 1));
        for (std::int32_t i = 0; i < size_of; ++i) factor[i] = reversed[size_of - 1 - i];
    } else {
        for (std::int32_t i = 0; i < size_of; ++i) factor[i] = correction_at(plan, j + i, stride);
    }
}

// Term 1 from the term-0 grid's own lines, where they lie close together
// for the times' span. With σ = e^(2πi d t_c), sample k adds c_k e^(−2πi g_m t_k)
// e^(−i j θ_k) to σ^j G0_{m+j}, θ_k = 2π d R τ_k; a five-point stencil for
// the derivative at j = 0 (central, one-sided at the block's ends) turns that
// into −i θ_k times it, so Σ_j a_j σ^j G0_{m+j} / (−2πi d R) stands for G1_m.
// The stencil is exact up to degree 4: it misses by Σ_j |a_j| |j θ_k|^5 / 5!
// ≤ 6 |θ_k| u^4, u = 2π |d| R, and G0's error ε·A grows by Σ_j |a_j| ≤ 11 over
// 2π |d| R. Times z = 2π δ R: see differences_suffice.
constexpr double stencils[5][5] = {  // twelve times the weights, for the derivative at point s of 0 … 4
    {-25, 48, -36, 16, -3}, {-3, -10, 18, -6, 1}, {1, -8, 0, 8, -1}, {-1, 6, -18, 10, 3}, {3, -16, 36, -48, 25}};
constexpr double stencil_miss = 6.0;
constexpr double stencil_gain = 11.0;

// Whether term 1 may come from differences for a block of `lines` lines d
// apart with offsets up to `largest`: the stencil's miss and the grid's error
// through it, with the truncation after term 1, within the truncation's share.
bool differences_suffice(const fast_plan& plan, std::int32_t lines, double increment, double largest) {
    if (lines < 5 || !(increment != 0.0)) return false;
    const double x = two_pi * largest * plan.radius;
    const double u = two_pi * std::fabs(increment) * plan.radius;
    const double error = x * x / 2 + stencil_miss * x * ((u * u) * (u * u)) +
                         stencil_gain * (largest / std::fabs(increment)) * (plan.tolerance + 64 * unit_roundoff);
    return error <= plan.truncation && std::isfinite(1.0 / (12.0 * u));  // κ below is finite
}

// σ^j for j = −4 … 4 (at j + 4), and κ = 1 / (12 · 2π d R), for a progression d apart.
struct difference_stencil {
    double sine[9];
    double cosine[9];
    double kappa;
};

difference_stencil make_stencil(const fast_plan& plan, double increment) {
    difference_stencil st;
    const unit_pair phase = fraction_of_product(increment, plan.centre);
    for (int j = -4; j <= 4; ++j) {
        const sine_cosine sc = sin_cos_cycles(reduce_unit(j * phase.hi + j * phase.lo));
        st.sine[j + 4] = sc.sine;
        st.cosine[j + 4] = sc.cosine;
    }
    st.kappa = 1.0 / (12.0 * (two_pi * increment * plan.radius));
    return st;
}

// Term 1 = i κ Σ_q a_q σ^(q − s) G0_(w + q), the stencil at point s of lines w … w + 4
// of term 0's corrected lines (re, im), for one line or a vector of them.
// The central stencil pairs lines m ± j: σ^j W_(m+j) − σ^(−j) W_(m−j) =
// c_j (W_(m+j) − W_(m−j)) + i s_j (W_(m+j) + W_(m−j)), half the products.
template <typename number>
[[gnu::always_inline]] inline void term_from_lines(const difference_stencil& st, const double* re, const double* im,
                                                   std::int32_t w, int s, number& term_re, number& term_im) {
    number sum_re = number{} + 0.0;
    number sum_im = number{} + 0.0;
    if (s == 2) {
        for (int j = 1; j <= 2; ++j) {
            number after_re, after_im, before_re, before_im;
            load(after_re, re + w + 2 + j);
            load(after_im, im + w + 2 + j);
            load(before_re, re + w + 2 - j);
            load(before_im, im + w + 2 - j);
            const double c = st.cosine[j + 4];
            const double n = st.sine[j + 4];
            const double a = stencils[2][2 + j];
            sum_re = sum_re + a * (c * (after_re - before_re) - n * (after_im + before_im));
            sum_im = sum_im + a * (c * (after_im - before_im) + n * (after_re + before_re));
        }
    } else {
        for (int q = 0; q < 5; ++q) {
            number wr, wi;
            load(wr, re + w + q);
            load(wi, im + w + q);
            const double c = st.cosine[q - s + 4];
            const double n = st.sine[q - s + 4];
            const double a = stencils[s][q];
            sum_re = sum_re + a * (c * wr - n * wi);
            sum_im = sum_im + a * (c * wi + n * wr);
        }
    }
    term_re = -(sum_im * st.kappa);
    term_im = sum_re * st.kappa;
}

// Line m's term 1 of a block of `lines`: the central stencil, one-sided
// within two lines of either end.
inline void term_of_line(const difference_stencil& st, const double* re, const double* im, std::int32_t lines,
                         std::int32_t m, double& term_re, double& term_im) {
    const std::int32_t w = std::clamp(m - 2, 0, lines - 5);
    term_from_lines(st, re, im, w, m - w, term_re, term_im);
}

// Where row r's lines of term 0, divided by the kernel's transform, are kept
// for the differences: the real parts, then the imaginary ones a block on.
double* corrected_lines(const fast_plan& plan, fast_work& work, std::int32_t r) {
    return work.compensation.get() + 2 * static_cast<std::size_t>(r) * static_cast<std::size_t>(plan.block_lines);
}

// Term 0 of each row's lines [from, to) of a grid of `points`, divided by the
// kernel's transform, into corrected_lines; a vector of lines at a time where
// they lie side by side on the grid. The same bits with every instruction set.
template <typename vector>
[[gnu::always_inline]] inline void correct_vectors(const fast_plan& plan, row_group rows, std::int32_t points,
                                                   std::int32_t from, std::int32_t to, fast_work& work) {
    constexpr std::int32_t size_of = static_cast<std::int32_t>(sizeof(vector) / sizeof(double));
    const std::int32_t centre = centre_line(plan, points);
    const std::int32_t stride = plan.block_points / points;
    const std::int32_t mask = points - 1;
    for (std::int32_t r = 0; r < rows.count; ++r) {
        double* const g_re = corrected_lines(plan, work, r);
        double* const g_im = g_re + plan.block_lines;
        const double* const grid = work.grid(0, r, 0);
        auto corrected = [&](std::int32_t line) {
            const std::int32_t j = line - centre;
            const std::size_t at = 2 * static_cast<std::size_t>(j & mask);
            const double factor = correction_at(plan, j, stride);
            g_re[line] = grid[at] * factor;
            g_im[line] = grid[at + 1] * factor;
        };
        std::int32_t m = from;
        for (; m + size_of <= to; m += size_of) {
            const std::int32_t j = m - centre;
            if (j < 0 && j + size_of > 0) {
                for (std::int32_t i = 0; i < size_of; ++i) corrected(m + i);
                continue;
            }
            vector re, im, factor;
            split_pairs(grid + 2 * static_cast<std::size_t>(j & mask), re, im);
            correction_of(plan, j, stride, factor);
            store(g_re + m, re * factor);
            store(g_im + m, im * factor);
        }
        for (; m < to; ++m) corrected(m);
    }
}

#if defined(__x86_64__)
[[TRAPFT_AVX2]] void correct_avx2(const fast_plan& plan, row_group rows, std::int32_t points, std::int32_t from,
                                  std::int32_t to, fast_work& work) {
    correct_vectors<vector4>(plan, rows, points, from, to, work);
}
[[TRAPFT_AVX512]] void correct_avx512(const fast_plan& plan, row_group rows, std::int32_t points, std::int32_t from,
                                      std::int32_t to, fast_work& work) {
    correct_vectors<vector8>(plan, rows, points, from, to, work);
}
#endif

void correct_lines(const fast_plan& plan, int instruction_set, row_group rows, std::int32_t points,
                   std::int32_t from, std::int32_t to, fast_work& work) {
#if defined(__x86_64__)
    if (instruction_set == 2) return correct_avx512(plan, rows, points, from, to, work);
    if (instruction_set == 1) return correct_avx2(plan, rows, points, from, to, work);
#endif
    correct_vectors<vector2>(plan, rows, points, from, to, work);
}

// Where lines' results are read from and written to: lines of a progression
// transformed on `points`, with offsets (per line) and `terms` Taylor terms,
// or without (offsets null); lines whose `frequencies` entry is not finite are
// skipped (frequencies may be null: every line).
struct deconvolution {
    const fast_plan& plan;
    row_group rows;
    std::int32_t points;
    std::int32_t centre;  // the progression's centre line, mode 0: centre_line
    std::int32_t stride;  // between the correction table's modes: block_points / points
    int terms;
    const double* offsets;
    const double* frequencies;
    fast_work& work;
    const group_results& out;
    std::int32_t lines;
    // Term 0 from corrected_lines and term 1 from its differences, or null:
    // every term from its grid.
    const difference_stencil* differences;
};

// The phase below 2^-10 cycles of e^(−2πi δ t_c), by short series (truncated
// below 2^-60), for lines whose offset is not zero.
template <typename number>
[[gnu::always_inline]] inline void short_phase(const number& cycles, number& sine, number& cosine) {
    const number angle = two_pi * cycles;
    const number a2 = angle * angle;
    sine = angle + angle * a2 * (-1.0 / 6 + a2 * (1.0 / 120 + a2 * (-1.0 / 5040)));
    cosine = 1.0 + a2 * (-0.5 + a2 * (1.0 / 24 + a2 * (-1.0 / 720 + a2 * (1.0 / 40320))));
}

// Line m's result for each row: the grids' mode j = m − h divided by the
// kernel's transform; with an offset δ, Σ_p (−i z)^p / p! · term p,
// z = 2π δ R, then times e^(−2πi δ t_c) (for a phase of 2^-10 cycles or more,
// reduced exactly).
void deconvolve_line(const deconvolution& d, std::int32_t m) {
    const fast_plan& plan = d.plan;
    if (d.frequencies != nullptr && !std::isfinite(d.frequencies[m])) return;
    const std::int32_t j = m - d.centre;
    const std::size_t at = 2 * static_cast<std::size_t>(j & (d.points - 1));
    const double factor = correction_at(plan, j, d.stride);
    const double delta = d.offsets == nullptr ? 0.0 : d.offsets[m];
    const double z = two_pi * delta * plan.radius;
    sine_cosine sc{0.0, 1.0};
    if (delta != 0.0) {
        const double cycles = delta * plan.centre;
        if (std::fabs(cycles) < 0x1p-10) {
            short_phase(cycles, sc.sine, sc.cosine);
        } else {
            const unit_pair phase = fraction_of_product(delta, plan.centre);
            sc = sin_cos_cycles(reduce_unit(phase.hi + phase.lo));
        }
    }
    for (std::int32_t r = 0; r < d.rows.count; ++r) {
        const double* const grid = d.work.grid(0, r, 0);
        const double* const g_re = corrected_lines(plan, d.work, r);
        const double* const g_im = g_re + plan.block_lines;
        double re = d.differences != nullptr ? g_re[m] : grid[at] * factor;
        double im = d.differences != nullptr ? g_im[m] : grid[at + 1] * factor;
        if (delta != 0.0) {
            if (d.terms > 1) {
                double tr = 0.0, ti = 0.0;
                for (int p = d.terms - 1; p >= 1; --p) {
                    const double* const term = d.work.grid(0, r, p);
                    double term_re, term_im;
                    if (p == 1 && d.differences != nullptr) {
                        term_of_line(*d.differences, g_re, g_im, d.lines, m, term_re, term_im);
                    } else {
                        term_re = term[at] * factor;
                        term_im = term[at + 1] * factor;
                    }
                    const double gr = term_re + tr;
                    const double gi = term_im + ti;
                    // (gr + i gi) · (−i z / p)
                    // (over 1 exactly without dividing)
                    tr = p == 1 ? gi * z : gi * z / p;
                    ti = -(p == 1 ? gr * z : gr * z / p);
                }
                re += tr;
                im += ti;
            }
            const double rr = re * sc.cosine + im * sc.sine;
            const double ri = im * sc.cosine - re * sc.sine;
            re = rr;
            im = ri;
        }
        const double scale = plan.scale[static_cast<std::size_t>(d.rows.first + r)];
        d.out.real_of(r)[m] = unscale(re, scale);
        d.out.imaginary_of(r)[m] = unscale(im, scale);
    }
}

void deconvolve_plain(const deconvolution& d, std::int32_t from, std::int32_t to) {
    for (std::int32_t m = from; m < to; ++m) deconvolve_line(d, m);
}

// The same, a vector of lines at a time, with the same operations lane by
// lane (selections where deconvolve_line branches). A vector of lines that
// straddles mode 0, meets a line that is not finite or a phase of 2^-10
// cycles or more is done line by line.
template <typename vector>
[[gnu::always_inline]] inline void deconvolve_vectors(const deconvolution& d, std::int32_t from, std::int32_t to) {
    constexpr std::int32_t size_of = static_cast<std::int32_t>(sizeof(vector) / sizeof(double));
    const fast_plan& plan = d.plan;
    const std::int32_t mask = d.points - 1;
    constexpr double largest = std::numeric_limits<double>::max();
    const vector zero = {};
    std::int32_t m = from;
    for (; m + size_of <= to; m += size_of) {
        const std::int32_t j = m - d.centre;
        // (With differences, the stencil's central form: two lines either side.)
        bool by_line =
            (j < 0 && j + size_of > 0) || (d.differences != nullptr && (m < 2 || m + size_of + 2 > d.lines));
        vector delta = zero, f = zero;
        if (d.offsets != nullptr) load(delta, d.offsets + m);
        if (d.frequencies != nullptr) load(f, d.frequencies + m);
        const vector cycles = delta * plan.centre;
        for (std::int32_t i = 0; i < size_of; ++i)
            by_line = by_line || !(std::fabs(cycles[i]) < 0x1p-10) || !(std::fabs(f[i]) <= largest);
        if (by_line) {
            for (std::int32_t i = 0; i < size_of; ++i) deconvolve_line(d, m + i);
            continue;
        }
        vector factor = zero;  // (corrected_lines are divided already)
        if (d.differences == nullptr) correction_of(plan, j, d.stride, factor);
        const vector z = two_pi * delta * plan.radius;
        vector sine, cosine;
        short_phase(cycles, sine, cosine);
        const auto offset = delta != zero;
        const std::size_t at = 2 * static_cast<std::size_t>(j & mask);
        auto split = [&](const double* grid, vector& re, vector& im) { split_pairs(grid + at, re, im); };
        for (std::int32_t r = 0; r < d.rows.count; ++r) {
            vector re, im;
            const double* const g_re = corrected_lines(plan, d.work, r);
            const double* const g_im = g_re + plan.block_lines;
            if (d.differences != nullptr) {
                load(re, g_re + m);
                load(im, g_im + m);
            } else {
                split(d.work.grid(0, r, 0), re, im);
                re = re * factor;
                im = im * factor;
            }
            vector shifted_re = re, shifted_im = im;
            if (d.terms > 1) {
                vector tr = zero, ti = zero;
                for (int p = d.terms - 1; p >= 1; --p) {
                    vector term_re, term_im, gr, gi;
                    if (p == 1 && d.differences != nullptr) {
                        term_from_lines(*d.differences, g_re, g_im, m - 2, 2, term_re, term_im);
                        gr = term_re + tr;
                        gi = term_im + ti;
                    } else {
                        split(d.work.grid(0, r, p), term_re, term_im);
                        gr = term_re * factor + tr;
                        gi = term_im * factor + ti;
                    }
                    tr = p == 1 ? gi * z : gi * z / static_cast<double>(p);
                    ti = -(p == 1 ? gr * z : gr * z / static_cast<double>(p));
                }
                shifted_re += tr;
                shifted_im += ti;
            }
            const vector rr = shifted_re * cosine + shifted_im * sine;
            const vector ri = shifted_im * cosine - shifted_re * sine;
            re = offset ? rr : re;
            im = offset ? ri : im;
            // unscale, lane by lane
            const double scale = plan.scale[static_cast<std::size_t>(d.rows.first + r)];
            auto store_unscaled = [&](double* target, const vector& v) {
                const vector scaled = v * scale;
                store(target, scaled < -largest ? zero - largest : (largest < scaled ? zero + largest : scaled));
            };
            store_unscaled(d.out.real_of(r) + m, re);
            store_unscaled(d.out.imaginary_of(r) + m, im);
        }
    }
    for (; m < to; ++m) deconvolve_line(d, m);
}

#if defined(__x86_64__)
[[TRAPFT_AVX2]] void deconvolve_avx2(const deconvolution& d, std::int32_t from, std::int32_t to) {
    deconvolve_vectors<vector4>(d, from, to);
}
[[TRAPFT_AVX512]] void deconvolve_avx512(const deconvolution& d, std::int32_t from, std::int32_t to) {
    deconvolve_vectors<vector8>(d, from, to);
}
#endif

// The results of lines [from, to) of a block of `lines` (all of them when
// `to` is negative; see deconvolution), the same bits with every instruction set.
void deconvolve(const fast_plan& plan, int instruction_set, row_group rows, std::int32_t points, std::int32_t lines,
                int terms, const double* offsets, const double* frequencies, fast_work& work,
                const group_results& out, const difference_stencil* differences = nullptr, std::int32_t from = 0,
                std::int32_t to = -1) {
    const deconvolution d{plan, rows, points, centre_line(plan, points), plan.block_points / points, terms, offsets,
                          frequencies, work, out, lines, differences};
    if (to < 0) to = lines;
#if defined(__x86_64__)
    if (instruction_set == 2) return deconvolve_avx512(d, from, to);
    if (instruction_set == 1) return deconvolve_avx2(d, from, to);
#endif
    deconvolve_plain(d, from, to);
}

// Whether b − a is exactly d: the subtraction gave d and lost nothing (its
// two-sum error is zero).
bool exact_difference(double a, double b, double d) {
    const double sum = b - a;
    if (sum != d) return false;
    const double b_part = sum - b;
    return (b - (sum - b_part)) + (-a - b_part) == 0.0;
}

// The cheapest of summing directly and one pass over the samples, for a progression of `lines` lines.
bool direct_is_cheaper(const fast_plan& plan, std::int32_t lines, std::int32_t points, int terms) {
    const double samples = static_cast<double>(plan.count);
    return static_cast<double>(lines) * samples * direct_cost <=
           samples * sample_pass_cost(plan, terms) + terms * fft_pass_cost(points);
}

// A progression's lines for one group of rows: as nufft_progression.
void progression(const fast_plan& plan, int instruction_set, row_group rows, double first, double increment,
                 std::int32_t count, fast_work& work, const group_results& out, int threads) {
    if (count <= 0) return;
    if (count == 1) increment = 0.0;
    if (!std::isfinite(first) || !std::isfinite(increment)) {
        for (std::int32_t r = 0; r < rows.count; ++r) {
            std::fill(out.real_of(r), out.real_of(r) + count, std::numeric_limits<double>::quiet_NaN());
            std::fill(out.imaginary_of(r), out.imaginary_of(r) + count, std::numeric_limits<double>::quiet_NaN());
        }
        return;
    }
    // More lines than a block holds are taken a block at a time, each block's
    // first line reduced exactly with the others.
    for (std::int32_t done = 0; done < count; done += plan.block_lines) {
        const std::int32_t lines = std::min(plan.block_lines, count - done);
        const double shift = static_cast<double>(done);
        const std::int32_t points = nufft_grid_points(plan, lines);
        if (direct_is_cheaper(plan, lines, points, 1)) {
            // Summed directly at first + m·increment where those are the
            // progression's exact lines.
            double* const frequencies = work.offsets.get();
            bool exact = true;
            for (std::int32_t m = 0; m < lines && exact; ++m) {
                frequencies[m] = first + (shift + m) * increment;
                exact = m == 0 ? shift == 0.0
                               : exact_difference(frequencies[m - 1], frequencies[m], increment);
            }
            if (exact) {
                direct_sums(plan, rows, frequencies, lines, work, out.from(done));
                continue;
            }
        }
        spread_and_transform(plan, instruction_set, rows, first, increment, shift, points, 1, work, threads);
        deconvolve(plan, instruction_set, rows, points, lines, 1, nullptr, nullptr, work, out.from(done));
    }
}

// The end of the longest run of finite frequencies from `first` (finite)
// whose neighbours differ exactly by one increment, and that increment.
std::int32_t run_end(const double* frequencies, std::int32_t first, std::int32_t count, double& increment) {
    std::int32_t end = first + 1;
    increment = 0.0;
    if (end < count && std::isfinite(frequencies[end])) {
        increment = frequencies[end] - frequencies[first];
        while (end < count && std::isfinite(frequencies[end]) &&
               exact_difference(frequencies[end - 1], frequencies[end], increment))
            ++end;
    }
    return end;
}

// Whether a pass per exact run costs less than `budget` (one pass with the
// Taylor terms): so when the samples are few and the grid's transforms
// dominate, as for a block of many lines that crosses a binade or two.
bool runs_are_cheaper(const fast_plan& plan, const double* frequencies, std::int32_t count, double budget) {
    const double samples = static_cast<double>(plan.count);
    double cost = 0.0;
    for (std::int32_t first = 0; first < count && cost < budget;) {
        if (!std::isfinite(frequencies[first])) {
            ++first;
            continue;
        }
        double increment = 0.0;
        const std::int32_t end = run_end(frequencies, first, count, increment);
        const std::int32_t lines = increment == 0.0 ? 1 : end - first;
        const std::int32_t points = nufft_grid_points(plan, lines);
        cost += direct_is_cheaper(plan, lines, points, 1)
                    ? static_cast<double>(lines) * samples * direct_cost
                    : samples * sample_pass_cost(plan, 1) + fft_pass_cost(points);
        first = end;
    }
    return cost < budget;
}

// Each longest run of finite frequencies whose neighbours differ exactly by
// one increment, as its own progression: a pass over the samples each.
void exact_runs(const fast_plan& plan, int instruction_set, row_group rows, const double* frequencies,
                std::int32_t count, fast_work& work, const group_results& out, int threads) {
    std::int32_t first = 0;
    while (first < count) {
        const double f = frequencies[first];
        if (!std::isfinite(f)) {
            ++first;
            continue;
        }
        double increment = 0.0;
        const std::int32_t end = run_end(frequencies, first, count, increment);
        const std::int32_t lines = end - first;
        const group_results here = out.from(first);
        if (lines > 1 && increment == 0.0) {
            // Every line at one frequency (equal ends, or a step lost to rounding).
            progression(plan, instruction_set, rows, f, 0.0, 1, work, here, threads);
            for (std::int32_t r = 0; r < rows.count; ++r) {
                std::fill(here.real_of(r) + 1, here.real_of(r) + lines, here.real_of(r)[0]);
                std::fill(here.imaginary_of(r) + 1, here.imaginary_of(r) + lines, here.imaginary_of(r)[0]);
            }
        } else {
            progression(plan, instruction_set, rows, f, increment, lines, work, here, threads);
        }
        first = end;
    }
}

// A block's lines for one group of rows: as fast_block.
void block(const fast_plan& plan, int instruction_set, row_group rows, const double* frequencies,
           std::int32_t count, fast_work& work, group_results out, int threads) {
    std::int32_t a = 0, b = count - 1;
    while (a < count && !std::isfinite(frequencies[a])) ++a;
    while (b > a && !std::isfinite(frequencies[b])) --b;
    if (a >= count) return;
    frequencies += a;
    out = out.from(a);
    const std::int32_t lines = b - a + 1;
    const std::int32_t points = nufft_grid_points(plan, lines);
    if (lines == 1 || direct_is_cheaper(plan, lines, points, 1))
        return direct_sums(plan, rows, frequencies, lines, work, out);

    // Each line's offset from a progression, and the largest (see offsets_of).
    double* const offsets = work.offsets.get();
    auto offsets_from = [&](double first, double increment) {
        return line_offsets(instruction_set, frequencies, lines, first, increment, offsets);
    };
    // The progression through the first and last lines; then, where it
    // leaves smaller offsets, the least-squares line through the offsets.
    double first = frequencies[0];
    double increment = (frequencies[lines - 1] - first) / static_cast<double>(lines - 1);
    double largest = offsets_from(first, increment);
    // Taylor terms: the fewest whose truncation x^P / P! is within its share.
    auto terms_for = [&](double most) {
        const double x = two_pi * most * plan.radius;
        int terms = 1;
        double remainder = x;
        while (terms <= nufft_max_terms && remainder > plan.truncation) {
            ++terms;
            remainder *= x / terms;
        }
        return terms;
    };
    // (Not when term 1 can come from differences: the fit costs about as much.)
    const bool fit = largest > 0.0 && std::isfinite(largest) && terms_for(largest) > 1 &&
                     !(terms_for(largest) == 2 && differences_suffice(plan, lines, increment, largest));
    if (fit) {
        // Every offset is finite here (largest would not be otherwise), so
        // the lines m are 0 … lines − 1 and Σ (m − m̄) = 0: eight lanes of
        // Σ δ_m and Σ (m − m̄) δ_m, in one pass.
        constexpr std::int32_t lanes = 8;
        const double mean_m = 0.5 * static_cast<double>(lines - 1);
        double sums[lanes] = {}, moments[lanes] = {};
        std::int32_t m = 0;
        for (; m + lanes <= lines; m += lanes)
            for (std::int32_t j = 0; j < lanes; ++j) {
                sums[j] += offsets[m + j];
                moments[j] += (static_cast<double>(m + j) - mean_m) * offsets[m + j];
            }
        for (; m < lines; ++m) {
            sums[m % lanes] += offsets[m];
            moments[m % lanes] += (static_cast<double>(m) - mean_m) * offsets[m];
        }
        double sum = 0.0, covariance = 0.0;
        for (std::int32_t j = 0; j < lanes; ++j) {
            sum += sums[j];
            covariance += moments[j];
        }
        const double n = static_cast<double>(lines);
        const double mean_delta = sum / n;
        const double variance = n * (n * n - 1.0) / 12.0;
        const double slope = covariance / variance;
        const double fitted_first = first + (mean_delta - slope * mean_m);
        const double fitted_increment = increment + slope;
        const double fitted = offsets_from(fitted_first, fitted_increment);
        if (fitted < largest) {
            first = fitted_first;
            increment = fitted_increment;
            largest = fitted;
        } else {
            offsets_from(first, increment);
        }
    }
    const bool finite = std::isfinite(largest) && std::isfinite(increment);
    const double x = largest == 0.0 || !finite ? 0.0 : two_pi * largest * plan.radius;
    const int terms = largest == 0.0 || !finite ? 1 : terms_for(largest);
    // Term 1 from differences of term 0's lines, where they are close enough.
    const bool differences = finite && terms == 2 && differences_suffice(plan, lines, increment, largest);
    const int grids = differences ? 1 : terms;
    const bool one_pass = finite && x <= largest_offset_phase && terms <= nufft_max_terms &&
                          (grids == 1 || !runs_are_cheaper(plan, frequencies, lines,
                                                           static_cast<double>(plan.count) * sample_pass_cost(plan, grids) +
                                                               grids * fft_pass_cost(points)));
    if (!one_pass) return exact_runs(plan, instruction_set, rows, frequencies, lines, work, out, threads);
    spread_and_transform(plan, instruction_set, rows, first, increment, 0.0, points, grids, work, threads);
    // Offsets whose whole phase 2π δ t_k is within the truncation's share are
    // dropped: the lines are then taken as the progression's.
    const bool negligible = terms == 1 && two_pi * largest * (plan.radius + std::fabs(plan.centre)) <= plan.truncation;
    if (!differences)
        return deconvolve(plan, instruction_set, rows, points, lines, terms,
                          largest == 0.0 || negligible ? nullptr : offsets, frequencies, work, out);
    // Term 0's lines corrected a chunk ahead of their deconvolution, so that
    // the stencils find them in cache.
    const difference_stencil stencil = make_stencil(plan, increment);
    constexpr std::int32_t chunk = 2048;
    for (std::int32_t from = 0; from < lines; from += chunk) {
        const std::int32_t to = std::min(lines, from + chunk);
        correct_lines(plan, instruction_set, rows, points, from == 0 ? 0 : from + 2, std::min(lines, to + 2), work);
        deconvolve(plan, instruction_set, rows, points, lines, terms, offsets, frequencies, work, out, &stencil, from,
                   to);
    }
}

// Runs `evaluate(rows, results)` for each group of the plan's rows that the
// work holds, then zeroes the rows whose weights are all zero.
template <typename F>
void by_groups(const fast_plan& plan, const fast_work& work, std::int32_t count, double* real, double* imaginary,
               std::size_t row_stride, F&& evaluate) {
    for (std::int32_t first = 0; first < plan.rows; first += work.rows) {
        const row_group rows{first, std::min(work.rows, plan.rows - first)};
        const std::size_t at = static_cast<std::size_t>(first) * row_stride;
        const group_results out{real + at, imaginary + at, row_stride};
        if (zero_rows(plan, rows, count, out)) continue;
        evaluate(rows, out);
        zero_rows(plan, rows, count, out);
    }
}

}  // namespace

void fftw_plan_release::operator()(void* plan) const {
    const std::lock_guard<std::mutex> lock(fftw_planner());
    fftw_destroy_plan(static_cast<fftw_plan>(plan));
}

void fftw_array_release::operator()(double* data) const { fftw_free(data); }

void mapped_release::operator()(double* data) const { munmap(data, bytes); }

std::int32_t nufft_grid_points(const fast_plan& plan, std::int32_t count) {
    const std::int64_t least = grid_for(plan, count);
    for (const std::int32_t points : plan.plan_points)
        if (points >= least) return points;
    return plan.plan_points.back();
}

void nufft_rotate(const fast_plan& plan, double first, double increment, std::int32_t points, int terms,
                  std::int32_t begin, std::int32_t end, fast_work& work) {
    rotate(plan, plan.instruction_set, row_group{0, work.rows}, first, increment, centre_line(plan, points), points,
           terms, begin, end, work.scratch[0]);
}

void nufft_spread(const fast_plan& plan, std::int32_t points, int terms, std::int32_t size, fast_work& work) {
    double* grids[nufft_row_group * nufft_max_terms];
    double* errors[nufft_row_group];
    for (std::int32_t r = 0; r < work.rows; ++r) {
        for (int p = 0; p < terms; ++p) grids[r * terms + p] = work.grid(0, r, p);
        errors[r] = work.grid(0, r, nufft_max_terms);
    }
    spread(plan, plan.instruction_set, spread_target{points, terms, work.rows, size, grids, errors}, work.scratch[0]);
}

void nufft_transform(const fast_plan& plan, std::int32_t points, double* grid) {
    std::size_t level = 0;
    while (plan.plan_points[level] != points) ++level;
    auto* data = reinterpret_cast<fftw_complex*>(grid);
    fftw_execute_dft(static_cast<fftw_plan>(plan.plans[level].get()), data, data);
}

void nufft_deconvolve(const fast_plan& plan, int instruction_set, std::int32_t points, std::int32_t count, int terms,
                      const double* offsets, const double* frequencies, fast_work& work, double* real,
                      double* imaginary) {
    deconvolve(plan, instruction_set, row_group{0, 1}, points, count, terms, offsets, frequencies, work,
               group_results{real, imaginary, 0});
}

void nufft_term_by_differences(const fast_plan& plan, int instruction_set, double first, double increment,
                               std::int32_t count, fast_work& work, double* real, double* imaginary) {
    const row_group rows{0, 1};
    const std::int32_t points = nufft_grid_points(plan, count);
    spread_and_transform(plan, instruction_set, rows, first, increment, 0.0, points, 1, work, 1);
    correct_lines(plan, instruction_set, rows, points, 0, count, work);
    const difference_stencil stencil = make_stencil(plan, increment);
    const double* const g_re = corrected_lines(plan, work, 0);
    for (std::int32_t m = 0; m < count; ++m) {
        term_of_line(stencil, g_re, g_re + plan.block_lines, count, m, real[m], imaginary[m]);
        real[m] *= plan.scale[0];
        imaginary[m] *= plan.scale[0];
    }
}

double nufft_line_offsets(int instruction_set, const double* frequencies, std::int32_t lines, double first,
                          double increment, double* offsets) {
    return line_offsets(instruction_set, frequencies, lines, first, increment, offsets);
}

void nufft_progression(const fast_plan& plan, int instruction_set, double first, double increment,
                       std::int32_t count, fast_work& work, double* real, double* imaginary, int threads,
                       std::size_t row_stride) {
    if (count <= 0) return;
    by_groups(plan, work, count, real, imaginary, row_stride, [&](row_group rows, const group_results& out) {
        progression(plan, instruction_set, rows, first, increment, count, work, out, threads);
    });
}

void nufft_block(const fast_plan& plan, int instruction_set, const double* frequencies, std::int32_t count,
                 fast_work& work, double* real, double* imaginary, int threads, std::size_t row_stride) {
    by_groups(plan, work, count, real, imaginary, row_stride, [&](row_group rows, const group_results& out) {
        block(plan, instruction_set, rows, frequencies, count, work, out, threads);
    });
}

void fast_plan_release::operator()(fast_plan* plan) const { delete plan; }
void fast_work_release::operator()(fast_work* work) const { delete work; }

bool fast_evaluation_available() { return true; }

fast_status prepare_fast(sample_rows samples, double tolerance, std::int64_t lines, fast_plan_owner& plan,
                         int threads) {
    return prepare_owned(samples, tolerance, lines, -1, threads, plan);
}

fast_status nufft_prepare(sample_rows samples, double tolerance, std::int64_t lines, int upsampling,
                          fast_plan_owner& plan) {
    return prepare_owned(samples, tolerance, lines, upsampling, 1, plan);
}

int nufft_kernel_width(double tolerance, int upsampling, bool& meets) {
    const kernel_choice k = choose_kernel(tolerance, upsampling);
    meets = k.meets;
    return k.width;
}

std::int32_t fast_block_lines(const fast_plan& plan) { return plan.block_lines; }

fast_work_owner make_fast_work(const fast_plan& plan, int threads) {
    try {
        fast_work_owner work(new fast_work);
        if (!prepare_work(plan, threads, *work)) return nullptr;
        return work;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void fast_block(const fast_plan& plan, const double* frequencies, std::int32_t count, fast_work& work,
                double* real, double* imaginary, int threads, std::size_t row_stride) {
    nufft_block(plan, plan.instruction_set, frequencies, count, work, real, imaginary,
                std::clamp(threads, 1, work.threads), row_stride);
}

}  // namespace trapft
