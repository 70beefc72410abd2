// The fast evaluation: trapezoid sums at evenly stepped frequencies by a type-1 non-uniform FFT.
//
// X(first + m·d) = Σ c_k e^(−2πi (first + m·d) t_k). With u_k = d·t_k mod 1 and
// the block centred on mode h = n/4 of an n-point grid, this is
// Σ a_k e^(−2πi j u_k), j = m − h, a_k = c_k e^(−2πi (first + h·d) t_k): each a_k
// is spread onto the grid at n·u_k by the "exponential of semicircle" kernel,
// the grid is transformed, and mode j is divided by the kernel's transform.
// Every phase is reduced modulo one cycle with error-free products before it
// is turned into an angle, so the error does not grow with |f·t|.
#include "spectrum/nufft_engine.hpp"

#include <fftw3.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>

#include "spectrum/nufft_kernel.hpp"
#include "spectrum/phase_reduction.hpp"

namespace trapft {
namespace {

// Room left in the tolerance for the rounding of double arithmetic (spreading,
// FFT, scaling), relative to A.
constexpr double rounding_allowance = 4e-15;

// Default most lines per block, and the most a block may grow to for many samples.
constexpr std::int64_t default_block = 65536;
constexpr std::int64_t largest_block = std::int64_t{1} << 20;
constexpr std::int32_t smallest_grid = 16;

// Approximate costs on a current x86-64 core, in nanoseconds, for choosing
// block sizes and the direct sum: per sample and pass (per grid point of kernel
// width), per grid point and level of the FFT, per grid point first touched,
// and per sample and frequency summed directly.
constexpr double sample_cost = 6.0;
constexpr double sample_cost_per_width = 1.0;
constexpr double fft_cost = 0.35;
constexpr double touch_cost = 40.0;
constexpr double direct_cost = 9.0;

std::int64_t next_power_of_two(std::int64_t value) {
    return static_cast<std::int64_t>(std::bit_ceil(static_cast<std::uint64_t>(std::max<std::int64_t>(value, 1))));
}

double sample_pass_cost(const fast_plan& setup) {
    return sample_cost + sample_cost_per_width * setup.width;
}

double fft_pass_cost(std::int64_t points) {
    return fft_cost * static_cast<double>(points) * std::log2(static_cast<double>(points));
}

// The block size that makes a sweep of `lines` cheapest: the default, or, when
// the samples outnumber the lines, up to all lines in one pass over the samples.
std::int32_t choose_block_lines(const fast_plan& setup, std::int64_t lines) {
    lines = std::max<std::int64_t>(lines, 1);
    const std::int64_t low = std::max<std::int64_t>(next_power_of_two(std::min(lines, default_block)), smallest_grid / 2);
    const std::int64_t high = std::min({next_power_of_two(lines), largest_block,
                                        std::max(default_block, next_power_of_two(setup.count))});
    std::int64_t best = low;
    double best_cost = 0.0;
    for (std::int64_t block = low; block <= std::max(low, high); block *= 2) {
        const double passes = static_cast<double>((lines + block - 1) / block);
        const double cost = passes * (static_cast<double>(setup.count) * sample_pass_cost(setup) + fft_pass_cost(2 * block))
                            + touch_cost * static_cast<double>(2 * block);
        if (block == low || cost < best_cost) {
            best = block;
            best_cost = cost;
        }
    }
    return static_cast<std::int32_t>(best);
}

// Trapezoid weights times values; false when a number is not finite.
bool fill_weights(sample_view samples, fast_plan& setup) {
    const auto n = static_cast<std::int32_t>(samples.times.size());
    const double* t = samples.times.data();
    const double* x = samples.values.data();
    setup.times.assign(t, t + n);
    setup.weights.assign(static_cast<std::size_t>(n), 0.0);
    double total = 0.0;
    for (std::int32_t k = 0; k < n; ++k) {
        if (!std::isfinite(t[k]) || !std::isfinite(x[k])) return false;
        if (n < 2) continue;
        const double after = t[std::min(k + 1, n - 1)];
        const double before = t[std::max(k - 1, 0)];
        // Halved last, where that is exact: halving a tiny step first would lose
        // its last bit, or all of it. A step or product that overflows may still
        // have a finite half.
        const double span = after - before;
        const double product = span * x[k];
        double c = product * 0.5;
        if (!std::isfinite(span)) c = (0.5 * after - 0.5 * before) * x[k];
        else if (!std::isfinite(product)) c = (span * 0.5) * x[k];
        setup.weights[static_cast<std::size_t>(k)] = c;
        total += std::fabs(c);
    }
    if (!std::isfinite(total)) return false;
    setup.total = total;
    if (total > 0.0) {
        setup.scale = std::ilogb(total);
        for (double& c : setup.weights) c = std::ldexp(c, -setup.scale);
    }
    return true;
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

// Plans for full blocks, for the sweep's last block, and for the shortest
// blocks; a block of another size uses the next larger plan.
void make_plans(fast_plan& setup, std::int64_t lines) {
    const std::int32_t largest = 2 * setup.block_lines;
    const std::int64_t rest = std::max<std::int64_t>(lines, 1) % setup.block_lines;
    std::vector<std::int32_t> sizes = {std::min(smallest_grid, largest), largest};
    if (rest != 0) sizes.push_back(static_cast<std::int32_t>(std::max<std::int64_t>(2 * next_power_of_two(rest), smallest_grid)));
    std::sort(sizes.begin(), sizes.end());
    sizes.erase(std::unique(sizes.begin(), sizes.end()), sizes.end());
    fftw_array scratch(static_cast<double*>(fftw_malloc(sizeof(fftw_complex) * static_cast<std::size_t>(largest))));
    if (!scratch) throw std::bad_alloc();
    auto* data = reinterpret_cast<fftw_complex*>(scratch.get());
    setup.plans.reserve(sizes.size());
    setup.plan_points.reserve(sizes.size());
    // FFTW's planner is not safe to enter from two threads at once.
    static std::mutex planner;
    const std::lock_guard<std::mutex> lock(planner);
    for (const std::int32_t points : sizes) {
        if (!room_to_plan(points)) throw std::bad_alloc();
        fftw_plan plan = fftw_plan_dft_1d(points, data, data, FFTW_FORWARD, FFTW_ESTIMATE);
        if (plan == nullptr) throw std::bad_alloc();
        setup.plans.emplace_back(plan);
        setup.plan_points.push_back(points);
    }
}

int best_instruction_set() {
#if defined(__x86_64__)
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return 2;
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return 1;
#endif
    return 0;
}

// The stages' loops, compiled once for each instruction set below.
// Lines first + (offset + j)·increment, j = m − h, h = points / 4: `offset`
// is h plus the lines before the block's first (an integer below 2^53).
[[gnu::always_inline]] inline void rotate_samples(const fast_plan& setup, double first, double increment,
                                                  double offset, std::int32_t points, std::int32_t begin,
                                                  std::int32_t end, fast_work& work) {
    const double grid = static_cast<double>(points);
    const bool even = setup.width % 2 == 0;
    const std::int32_t lead = kernel_lead(setup.width);
    const std::int32_t mask = points - 1;
    const double* const times = setup.times.data() + begin;
    const double* const weights = setup.weights.data() + begin;
    double* const rotated = work.rotated.data();
    double* const argument = work.argument.data();
    std::int32_t* const first_point = work.first_point.data();
    const std::int32_t size = end - begin;
    for (std::int32_t i = 0; i < size; ++i) {
        const double t = times[i];
        const unit_pair u = fraction_of_product(increment, t);
        const unit_pair v = fraction_of_product(first, t);
        // (first + offset·increment)·t mod 1, the integer times u reduced exactly.
        const unit_pair ou = fraction_of_product(offset, u.hi);
        const double phase = reduce_unit((ou.hi + v.hi) + ((ou.lo + offset * u.lo) + v.lo));
        const sine_cosine sc = sin_cos_cycles(phase);
        rotated[2 * i] = weights[i] * sc.cosine;
        rotated[2 * i + 1] = -(weights[i] * sc.sine);

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

// Vectors of doubles (GCC and Clang vector extensions), for the spreading loop,
// which compilers do not vectorize well on their own.
typedef double vector2 __attribute__((vector_size(2 * sizeof(double))));
typedef double vector8 __attribute__((vector_size(8 * sizeof(double))));

template <typename vector>
[[gnu::always_inline]] inline void load(vector& v, const double* p) {
    std::memcpy(&v, p, sizeof v);
}

template <typename vector>
[[gnu::always_inline]] inline void store(double* p, const vector& v) {
    std::memcpy(p, &v, sizeof v);
}

// Each lane twice: (a, b, …) gives (a, a, b, b, …) in `low` and `high`.
[[gnu::always_inline]] inline void pair_up(const vector2& v, vector2& low, vector2& high) {
    low = __builtin_shufflevector(v, v, 0, 0);
    high = __builtin_shufflevector(v, v, 1, 1);
}
[[gnu::always_inline]] inline void pair_up(const vector8& v, vector8& low, vector8& high) {
    low = __builtin_shufflevector(v, v, 0, 0, 1, 1, 2, 2, 3, 3);
    high = __builtin_shufflevector(v, v, 4, 4, 5, 5, 6, 6, 7, 7);
}

// Adds each placed sample times the kernel's values to the grid: the pieces'
// polynomials by Horner's rule on `blocks` vectors, each then paired with the
// grid's interleaved real and imaginary parts.
template <typename vector, int blocks>
[[gnu::always_inline]] inline void spread_samples(const fast_plan& setup, std::int32_t points, std::int32_t size,
                                                  fast_work& work) {
    constexpr int size_of = static_cast<int>(sizeof(vector) / sizeof(double));
    const double* const kernel = setup.kernel.data();
    const int degree = setup.degree;
    const int width = setup.width;
    double* const grid = work.grid.get();
    const std::int32_t mask = points - 1;
    // Samples in file order often lie side by side on the grid; taking them
    // from four quarters of the chunk in turn keeps each sample's loads clear of
    // the stores of the one before, which the CPU could not forward.
    const std::int32_t quarter = (size + 3) / 4;
    for (std::int32_t step = 0; step < 4 * quarter; ++step) {
        const std::int32_t k = (step % 4) * quarter + step / 4;
        if (k >= size) continue;
        const double s = work.argument[static_cast<std::size_t>(k)];
        vector v[blocks];
        for (int b = 0; b < blocks; ++b) load(v[b], kernel + b * size_of);
        for (int d = 1; d <= degree; ++d) {
            const double* c = kernel + d * blocks * size_of;
            for (int b = 0; b < blocks; ++b) {
                vector coefficient;
                load(coefficient, c + b * size_of);
                v[b] = v[b] * s + coefficient;
            }
        }
        const double re = work.rotated[2 * static_cast<std::size_t>(k)];
        const double im = work.rotated[2 * static_cast<std::size_t>(k) + 1];
        const std::int32_t start = work.first_point[static_cast<std::size_t>(k)];
        if (start + width <= points) {
            // The padding past the grid takes the zero-valued lanes.
            vector pair;
            for (int i = 0; i < size_of; ++i) pair[i] = (i & 1) != 0 ? im : re;
            double* g = grid + 2 * start;
            for (int b = 0; b < blocks; ++b) {
                vector low, high, cells;
                pair_up(v[b], low, high);
                load(cells, g);
                store(g, cells + pair * low);
                load(cells, g + size_of);
                store(g + size_of, cells + pair * high);
                g += 2 * size_of;
            }
        } else {
            double values[blocks * size_of];
            for (int b = 0; b < blocks; ++b) store(values + b * size_of, v[b]);
            for (int i = 0; i < width; ++i) {
                double* g = grid + 2 * ((start + i) & mask);
                g[0] += re * values[i];
                g[1] += im * values[i];
            }
        }
    }
}

template <typename vector>
[[gnu::always_inline]] inline void spread_any(const fast_plan& setup, std::int32_t points, std::int32_t size,
                                              fast_work& work) {
    constexpr int size_of = static_cast<int>(sizeof(vector) / sizeof(double));
    switch (setup.lanes) {
        case 8: spread_samples<vector, 8 / size_of>(setup, points, size, work); break;
        case 16: spread_samples<vector, 16 / size_of>(setup, points, size, work); break;
        default: spread_samples<vector, 24 / size_of>(setup, points, size, work); break;
    }
}

#if defined(__x86_64__)
#define TRAPFT_AVX2 gnu::target("avx2,fma")
#define TRAPFT_AVX512 gnu::target("avx512f,avx2,fma")
[[TRAPFT_AVX2]] void rotate_avx2(const fast_plan& setup, double first, double increment, double offset,
                                 std::int32_t points, std::int32_t begin, std::int32_t end, fast_work& work) {
    rotate_samples(setup, first, increment, offset, points, begin, end, work);
}
[[TRAPFT_AVX512]] void rotate_avx512(const fast_plan& setup, double first, double increment, double offset,
                                     std::int32_t points, std::int32_t begin, std::int32_t end, fast_work& work) {
    rotate_samples(setup, first, increment, offset, points, begin, end, work);
}
[[TRAPFT_AVX2]] void spread_avx2(const fast_plan& setup, std::int32_t points, std::int32_t size, fast_work& work) {
    spread_any<vector2>(setup, points, size, work);
}
[[TRAPFT_AVX512]] void spread_avx512(const fast_plan& setup, std::int32_t points, std::int32_t size, fast_work& work) {
    spread_any<vector8>(setup, points, size, work);
}
#endif

void rotate(const fast_plan& setup, int instruction_set, double first, double increment, double offset,
            std::int32_t points, std::int32_t begin, std::int32_t end, fast_work& work) {
#if defined(__x86_64__)
    if (instruction_set == 2) return rotate_avx512(setup, first, increment, offset, points, begin, end, work);
    if (instruction_set == 1) return rotate_avx2(setup, first, increment, offset, points, begin, end, work);
#endif
    rotate_samples(setup, first, increment, offset, points, begin, end, work);
}

// Σ c_k e^(−2πi (first + (shift + m)·increment) t_k) term by term, each phase reduced exactly.
// A result scaled back by 2^scale. The sums are at most A ≤ the largest
// double in size, so one that the tolerance's error pushes past it is brought
// back to the largest double, which is nearer the true sum, not to infinity.
double unscale(double value, double scale) {
    constexpr double largest = std::numeric_limits<double>::max();
    return std::clamp(value * scale, -largest, largest);
}

void direct_sum(const fast_plan& setup, double first, double increment, double shift, std::int32_t count,
                double* real, double* imaginary) {
    std::fill(real, real + count, 0.0);
    std::fill(imaginary, imaginary + count, 0.0);
    for (std::int32_t k = 0; k < setup.count; ++k) {
        const double c = setup.weights[static_cast<std::size_t>(k)];
        if (c == 0.0) continue;
        const double t = setup.times[static_cast<std::size_t>(k)];
        const unit_pair u = fraction_of_product(increment, t);
        const unit_pair v = fraction_of_product(first, t);
        for (std::int32_t m = 0; m < count; ++m) {
            const double steps = shift + static_cast<double>(m);
            const unit_pair mu = fraction_of_product(steps, u.hi);
            const double phase = reduce_unit((v.hi + mu.hi) + ((mu.lo + steps * u.lo) + v.lo));
            const sine_cosine sc = sin_cos_cycles(phase);
            real[m] += c * sc.cosine;
            imaginary[m] -= c * sc.sine;
        }
    }
    const double scale = std::ldexp(1.0, setup.scale);
    for (std::int32_t m = 0; m < count; ++m) {
        real[m] = unscale(real[m], scale);
        imaginary[m] = unscale(imaginary[m], scale);
    }
}

void spread(const fast_plan& setup, int instruction_set, std::int32_t points, std::int32_t size, fast_work& work) {
#if defined(__x86_64__)
    if (instruction_set == 2) return spread_avx512(setup, points, size, work);
    if (instruction_set == 1) return spread_avx2(setup, points, size, work);
#endif
    spread_any<vector2>(setup, points, size, work);
}

}  // namespace

namespace {

// Prepares `setup`; false when a number is not finite. Throws std::bad_alloc.
bool prepare_nufft(sample_view samples, double tolerance, std::int64_t lines, fast_plan& s) {
    s.count = static_cast<std::int32_t>(samples.times.size());
    if (!fill_weights(samples, s)) return false;
    const int width = kernel_width_for(0.98 * tolerance - rounding_allowance);
    s.width = width;
    s.degree = kernel_degree(width);
    s.lanes = (width + 7) / 8 * 8;
    s.kernel = kernel_pieces(width, s.degree, s.lanes);
    s.block_lines = choose_block_lines(s, lines);
    s.correction.resize(static_cast<std::size_t>(s.block_lines / 2) + 1);
    kernel_correction(width, s.block_lines / 2, s.correction.data());
    make_plans(s, lines);
    s.instruction_set = best_instruction_set();
    return true;
}

// Whether b − a is exactly d: the subtraction gave d and lost nothing (its
// two-sum error is zero).
bool exact_difference(double a, double b, double d) {
    const double sum = b - a;
    if (sum != d) return false;
    const double b_part = sum - b;
    return (b - (sum - b_part)) + (-a - b_part) == 0.0;
}

}  // namespace

void fftw_plan_release::operator()(void* plan) const { fftw_destroy_plan(static_cast<fftw_plan>(plan)); }

void fftw_array_release::operator()(double* data) const { fftw_free(data); }

namespace {

bool prepare_fast_work(const fast_plan& setup, fast_work& work) {
    try {
        const std::size_t doubles = 2 * (2 * static_cast<std::size_t>(setup.block_lines) + kernel_max_lanes);
        work.grid.reset(static_cast<double*>(fftw_malloc(sizeof(double) * doubles)));
        if (!work.grid) return false;
        work.rotated.resize(2 * nufft_chunk);
        work.argument.resize(nufft_chunk);
        work.first_point.resize(nufft_chunk);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace

std::int32_t nufft_grid_points(const fast_plan& setup, std::int32_t count) {
    const std::int64_t least = 2 * next_power_of_two(count);
    for (const std::int32_t points : setup.plan_points)
        if (points >= least) return points;
    return setup.plan_points.back();
}

void nufft_rotate(const fast_plan& setup, double first, double increment, std::int32_t points,
                  std::int32_t begin, std::int32_t end, fast_work& work) {
    rotate(setup, setup.instruction_set, first, increment, points / 4, points, begin, end, work);
}

void nufft_spread(const fast_plan& setup, std::int32_t points, std::int32_t size, fast_work& work) {
    spread(setup, setup.instruction_set, points, size, work);
}

void nufft_transform(const fast_plan& setup, std::int32_t points, fast_work& work) {
    std::size_t level = 0;
    while (setup.plan_points[level] != points) ++level;
    auto* data = reinterpret_cast<fftw_complex*>(work.grid.get());
    fftw_execute_dft(static_cast<fftw_plan>(setup.plans[level].get()), data, data);
}

void nufft_deconvolve(const fast_plan& setup, std::int32_t points, std::int32_t count,
                      const fast_work& work, double* real, double* imaginary) {
    const double* const grid = work.grid.get();
    const std::int32_t centre = points / 4;
    const std::int32_t mask = points - 1;
    const std::int32_t stride = 2 * setup.block_lines / points;
    const double scale = std::ldexp(1.0, setup.scale);
    for (std::int32_t m = 0; m < count; ++m) {
        const std::int32_t j = m - centre;
        const std::size_t at = 2 * static_cast<std::size_t>(j & mask);
        const double factor = setup.correction[static_cast<std::size_t>((j < 0 ? -j : j) * stride)];
        real[m] = unscale(grid[at] * factor, scale);
        imaginary[m] = unscale(grid[at + 1] * factor, scale);
    }
}

void nufft_progression(const fast_plan& setup, int instruction_set, double first, double increment,
                       std::int32_t count, fast_work& work, double* real, double* imaginary) {
    if (count <= 0) return;
    if (count == 1) increment = 0.0;
    if (!std::isfinite(first) || !std::isfinite(increment)) {
        std::fill(real, real + count, std::numeric_limits<double>::quiet_NaN());
        std::fill(imaginary, imaginary + count, std::numeric_limits<double>::quiet_NaN());
        return;
    }
    if (setup.total == 0.0) {
        // Every weight is zero: the sums are exactly zero, signed as the exact evaluation signs them.
        std::fill(real, real + count, 0.0);
        std::fill(imaginary, imaginary + count, -0.0);
        return;
    }
    // More lines than a block holds are taken a block at a time, each block's
    // first line reduced exactly with the others.
    for (std::int32_t done = 0; done < count; done += setup.block_lines) {
        const std::int32_t lines = std::min(setup.block_lines, count - done);
        const double shift = static_cast<double>(done);
        const std::int32_t points = nufft_grid_points(setup, lines);
        const double samples = static_cast<double>(setup.count);
        if (static_cast<double>(lines) * samples * direct_cost <= samples * sample_pass_cost(setup) + fft_pass_cost(points)) {
            direct_sum(setup, first, increment, shift, lines, real + done, imaginary + done);
            continue;
        }
        std::memset(work.grid.get(), 0, sizeof(double) * 2 * (static_cast<std::size_t>(points) + kernel_max_lanes));
        for (std::int32_t begin = 0; begin < setup.count; begin += nufft_chunk) {
            const std::int32_t end = std::min(setup.count, begin + nufft_chunk);
            rotate(setup, instruction_set, first, increment, shift + points / 4, points, begin, end, work);
            spread(setup, instruction_set, points, end - begin, work);
        }
        nufft_transform(setup, points, work);
        nufft_deconvolve(setup, points, lines, work, real + done, imaginary + done);
    }
}

void fast_plan_release::operator()(fast_plan* plan) const { delete plan; }
void fast_work_release::operator()(fast_work* work) const { delete work; }

bool fast_evaluation_available() { return true; }

fast_status prepare_fast(sample_view samples, double tolerance, std::int64_t lines, fast_plan_owner& plan) {
    try {
        fast_plan_owner made(new fast_plan);
        if (!prepare_nufft(samples, tolerance, lines, *made)) return fast_status::not_applicable;
        plan = std::move(made);
        return fast_status::ok;
    } catch (const std::bad_alloc&) {
        return fast_status::out_of_memory;
    }
}

std::int32_t fast_block_lines(const fast_plan& plan) { return plan.block_lines; }

fast_work_owner make_fast_work(const fast_plan& plan, int) {
    try {
        fast_work_owner work(new fast_work);
        if (!prepare_fast_work(plan, *work)) return nullptr;
        return work;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void fast_block(const fast_plan& plan, const double* frequencies, std::int32_t count, fast_work& work,
                double* real, double* imaginary, int) {
    // Each longest run of finite frequencies whose neighbours differ exactly
    // by one increment is one progression.
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
            nufft_progression(plan, plan.instruction_set, f, 0.0, 1, work, real + first, imaginary + first);
            std::fill(real + first + 1, real + end, real[first]);
            std::fill(imaginary + first + 1, imaginary + end, imaginary[first]);
        } else {
            nufft_progression(plan, plan.instruction_set, f, increment, lines, work, real + first, imaginary + first);
        }
        first = end;
    }
}

}  // namespace trapft
