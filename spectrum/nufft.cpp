// The fast evaluation: trapezoid sums at evenly stepped frequencies by a type-1 non-uniform FFT.
//
// X(first + m·d) = Σ c_k e^(−2πi (first + m·d) t_k). With u_k = d·t_k mod 1 and
// the block centred on mode h = n/4 of an n-point grid, this is
// Σ a_k e^(−2πi j u_k), j = m − h, a_k = c_k e^(−2πi (first + h·d) t_k): each a_k
// is spread onto the grid at n·u_k by the "exponential of semicircle" kernel,
// the grid is transformed, and mode j is divided by the kernel's transform.
// Every phase is reduced modulo one cycle with error-free products before it
// is turned into an angle, so the error does not grow with |f·t|.
#include "spectrum/nufft.hpp"

#include <fftw3.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

namespace trapft {
namespace {

// The double nearest 2π.
constexpr double two_pi = 6.283185307179586;

// Widest kernel, and its width rounded up to a multiple of eight.
constexpr int max_width = 17;
constexpr int max_lanes = 24;

// Worst error of one sample of weight 1, over every offset from the grid and
// every mode within a quarter of the grid, for the kernel width w with
// β = 2.30·w and the polynomial pieces below, in exact arithmetic: measured in
// long double on a 129 × 129 mesh of offsets and modes, rounded up by 1 %.
// By the triangle inequality the error of a sum is at most A times this.
constexpr double width_error[max_width + 1] = {
    1.0,     1.0,      1.56e-1,  2.67e-2,  3.60e-3,  3.80e-4,  3.14e-5,  2.72e-6,  3.97e-7,
    5.17e-8, 7.38e-9,  8.50e-10, 7.90e-11, 7.40e-12, 9.61e-13, 1.30e-13, 1.64e-14, 2.22e-15};

// Polynomial degree of the kernel's pieces for each width: the lowest at
// which the fit's error is at most about 1 % of width_error.
constexpr int width_degree[max_width + 1] = {0, 0, 5, 5, 5, 6, 7, 8, 8, 9, 9, 10, 11, 12, 12, 13, 14, 14};

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

// The integer nearest x, for |x| < 2^51.
[[gnu::always_inline]] inline double nearest_integer(double x) {
    constexpr double magic = 0x1.8p52;
    return (x + magic) - magic;
}

// x minus an integer, exactly, for any finite x: within [−1/2, 1/2] when
// |x| < 2^51, within [−2, 2] otherwise. Without branches, so that loops over
// samples vectorize.
[[gnu::always_inline]] inline double reduce_unit(double x) {
    const double magic = std::copysign(0x1.8p52, x);  // the sum rounds to an integer either side
    return x - ((x + magic) - magic);
}

// a·b modulo 1 as hi + lo, |hi| ≤ 1/2, |lo| ≤ ulp(hi): exact up to the last rounding.
struct unit_pair {
    double hi;
    double lo;
};

[[gnu::always_inline]] inline unit_pair fraction_of_product(double a, double b) {
    const double p = a * b;
    const double e = std::fma(a, b, -p);  // a·b = p + e exactly
    const double r1 = reduce_unit(p);
    const double r2 = reduce_unit(e);
    const double s = r1 + r2;
    const double back = s - r1;
    const double error = (r1 - (s - back)) + (r2 - back);
    // A product that overflows is, exactly, a huge integer.
    const bool finite = std::fabs(p) <= 0x1.fffffffffffffp1023;
    return {finite ? reduce_unit(s) : 0.0, finite ? error : 0.0};
}

struct sine_cosine {
    double sine;
    double cosine;
};

// sin and cos of 2π·r for |r| ≤ 1/2 (r in cycles): reduced by quarter turns
// exactly, then Taylor series on |x| ≤ π/4 (truncation below 1e-18).
[[gnu::always_inline]] inline sine_cosine sin_cos_cycles(double r) {
    const double q = nearest_integer(4.0 * r);
    const double x = (r - 0.25 * q) * two_pi;
    const double x2 = x * x;
    const double sp = -1.0 / 6 + x2 * (1.0 / 120 + x2 * (-1.0 / 5040 + x2 * (1.0 / 362880 + x2 * (-1.0 / 39916800
                      + x2 * (1.0 / 6227020800 + x2 * (-1.0 / 1307674368000 + x2 * (1.0 / 355687428096000)))))));
    const double cp = -0.5 + x2 * (1.0 / 24 + x2 * (-1.0 / 720 + x2 * (1.0 / 40320 + x2 * (-1.0 / 3628800
                      + x2 * (1.0 / 479001600 + x2 * (-1.0 / 87178291200 + x2 * (1.0 / 20922789888000
                      + x2 * (-1.0 / 6402373705728000))))))));
    const double s = x + (x * x2) * sp;
    const double c = 1.0 + x2 * cp;
    const int quadrant = static_cast<int>(q) & 3;
    const double a = (quadrant & 1) != 0 ? c : s;
    const double b = (quadrant & 1) != 0 ? s : c;
    return {(quadrant & 2) != 0 ? -a : a, ((quadrant + 1) & 2) != 0 ? -b : b};
}

// Kernel geometry: a sample at grid position cell + offset touches the points
// cell − lead … cell − lead + width − 1; the offset lies in [0, 1] for an even
// width and in [−1/2, 1/2] for an odd one, and maps onto [−1, 1].
int kernel_lead(int width) { return width % 2 == 0 ? width / 2 - 1 : (width - 1) / 2; }

using wide = long double;
constexpr wide pi_wide = 3.141592653589793238462643383279502884L;

wide kernel_value(wide z, wide beta) {
    if (std::fabs(z) >= 1) return 0;
    return std::exp(beta * (std::sqrt(1 - z * z) - 1));
}

// Monomial coefficients on [−1, 1] of each kernel piece, fitted by Chebyshev
// interpolation in long double.
void fit_kernel(nufft_setup& setup, wide beta) {
    const int w = setup.width;
    const int p = setup.degree;
    const int lead = kernel_lead(w);
    const wide low = w % 2 == 0 ? 0 : -0.5L;
    setup.kernel.assign(static_cast<std::size_t>((p + 1) * setup.lanes), 0.0);
    std::vector<wide> values(static_cast<std::size_t>(p + 1));
    std::vector<wide> chebyshev(values.size());
    std::vector<wide> monomial(values.size());
    std::vector<wide> t_prev(values.size()), t_cur(values.size()), t_next(values.size());
    for (int i = 0; i < w; ++i) {
        for (int k = 0; k <= p; ++k) {
            const wide s = std::cos(pi_wide * (k + 0.5L) / (p + 1));
            const wide offset = low + (s + 1) / 2;
            values[static_cast<std::size_t>(k)] = kernel_value((i - lead - offset) / (w / 2.0L), beta);
        }
        for (int j = 0; j <= p; ++j) {
            wide sum = 0;
            for (int k = 0; k <= p; ++k) sum += values[static_cast<std::size_t>(k)] * std::cos(pi_wide * j * (k + 0.5L) / (p + 1));
            chebyshev[static_cast<std::size_t>(j)] = sum * 2 / (p + 1);
        }
        chebyshev[0] /= 2;
        std::fill(monomial.begin(), monomial.end(), 0.0L);
        std::fill(t_prev.begin(), t_prev.end(), 0.0L);
        std::fill(t_cur.begin(), t_cur.end(), 0.0L);
        t_prev[0] = 1;  // T_0
        if (p >= 1) t_cur[1] = 1;  // T_1
        monomial[0] = chebyshev[0];
        for (int j = 1; j <= p; ++j) {
            if (j >= 2) {
                for (int k = 0; k <= p; ++k)
                    t_next[static_cast<std::size_t>(k)] = (k > 0 ? 2 * t_cur[static_cast<std::size_t>(k - 1)] : 0) - t_prev[static_cast<std::size_t>(k)];
                t_prev.swap(t_cur);
                t_cur.swap(t_next);
            }
            for (int k = 0; k <= p; ++k) monomial[static_cast<std::size_t>(k)] += chebyshev[static_cast<std::size_t>(j)] * t_cur[static_cast<std::size_t>(k)];
        }
        for (int k = 0; k <= p; ++k)
            setup.kernel[static_cast<std::size_t>((p - k) * setup.lanes + i)] = static_cast<double>(monomial[static_cast<std::size_t>(k)]);
    }
}

// Gauss–Legendre nodes and weights on [0, 1].
void gauss_legendre(int q, std::vector<wide>& nodes, std::vector<wide>& weights) {
    nodes.resize(static_cast<std::size_t>(q));
    weights.resize(static_cast<std::size_t>(q));
    for (int i = 0; i < q; ++i) {
        wide z = std::cos(pi_wide * (i + 0.75L) / (q + 0.5L));
        wide derivative = 1;
        for (int iteration = 0; iteration < 100; ++iteration) {
            wide p0 = 1, p1 = z;
            for (int k = 2; k <= q; ++k) {
                const wide p2 = ((2 * k - 1) * z * p1 - (k - 1) * p0) / k;
                p0 = p1;
                p1 = p2;
            }
            derivative = q * (z * p1 - p0) / (z * z - 1);
            const wide step = p1 / derivative;
            z -= step;
            if (std::fabs(step) < 1e-19L) break;
        }
        nodes[static_cast<std::size_t>(i)] = (z + 1) / 2;
        weights[static_cast<std::size_t>(i)] = 1 / ((1 - z * z) * derivative * derivative);
    }
}

// 1 / (the kernel's Fourier transform) at modes 0 … block_lines / 2 of the
// largest grid, 2·block_lines points. The transform at ξ cycles per grid point
// is w ∫₀¹ φ(z) cos(π ξ w z) dz, by Gauss–Legendre quadrature at a few
// Chebyshev nodes in ξ², then interpolated (it is an entire function of ξ).
void fill_correction(nufft_setup& setup, wide beta) {
    const int w = setup.width;
    std::vector<wide> nodes, weights;
    gauss_legendre(2 * w + 40, nodes, weights);
    constexpr int terms = 28;
    wide values[terms];
    for (int i = 0; i < terms; ++i) {
        const wide y = std::cos(pi_wide * (i + 0.5L) / terms);
        const wide xi = std::sqrt((1 + y) / 2) / 4;
        wide sum = 0;
        for (std::size_t q = 0; q < nodes.size(); ++q)
            sum += weights[q] * kernel_value(nodes[q], beta) * std::cos(pi_wide * xi * w * nodes[q]);
        values[i] = w * sum;
    }
    double coefficients[terms];
    for (int j = 0; j < terms; ++j) {
        wide sum = 0;
        for (int i = 0; i < terms; ++i) sum += values[i] * std::cos(pi_wide * j * (i + 0.5L) / terms);
        coefficients[j] = static_cast<double>(sum * 2 / terms / (j == 0 ? 2 : 1));
    }
    const std::int32_t half = setup.block_lines / 2;
    setup.correction.resize(static_cast<std::size_t>(half) + 1);
    for (std::int32_t j = 0; j <= half; ++j) {
        const double x = static_cast<double>(j) / static_cast<double>(half == 0 ? 1 : half);  // 4ξ
        const double y = 2.0 * (x * x) - 1.0;
        double b1 = 0.0, b2 = 0.0;
        for (int k = terms - 1; k >= 1; --k) {
            const double b0 = ((2.0 * y) * b1 - b2) + coefficients[k];
            b2 = b1;
            b1 = b0;
        }
        setup.correction[static_cast<std::size_t>(j)] = 1.0 / ((y * b1 - b2) + coefficients[0]);
    }
}

std::int64_t next_power_of_two(std::int64_t value) {
    return static_cast<std::int64_t>(std::bit_ceil(static_cast<std::uint64_t>(std::max<std::int64_t>(value, 1))));
}

double sample_pass_cost(const nufft_setup& setup) {
    return sample_cost + sample_cost_per_width * setup.width;
}

double fft_pass_cost(std::int64_t points) {
    return fft_cost * static_cast<double>(points) * std::log2(static_cast<double>(points));
}

// The block size that makes a sweep of `lines` cheapest: the default, or, when
// the samples outnumber the lines, up to all lines in one pass over the samples.
std::int32_t choose_block_lines(const nufft_setup& setup, std::int64_t lines) {
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
bool fill_weights(sample_view samples, nufft_setup& setup) {
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

// Plans for full blocks, for the sweep's last block, and for the shortest
// blocks; a block of another size uses the next larger plan.
void make_plans(nufft_setup& setup, std::int64_t lines) {
    const std::int32_t largest = 2 * setup.block_lines;
    const std::int64_t rest = std::max<std::int64_t>(lines, 1) % setup.block_lines;
    std::vector<std::int32_t> sizes = {std::min(smallest_grid, largest), largest};
    if (rest != 0) sizes.push_back(static_cast<std::int32_t>(std::max<std::int64_t>(2 * next_power_of_two(rest), smallest_grid)));
    std::sort(sizes.begin(), sizes.end());
    sizes.erase(std::unique(sizes.begin(), sizes.end()), sizes.end());
    fftw_array scratch(static_cast<double*>(fftw_malloc(sizeof(fftw_complex) * static_cast<std::size_t>(largest))));
    if (!scratch) throw std::bad_alloc();
    auto* data = reinterpret_cast<fftw_complex*>(scratch.get());
    for (const std::int32_t points : sizes) {
        fftw_plan plan = fftw_plan_dft_1d(points, data, data, FFTW_FORWARD, FFTW_ESTIMATE);
        if (plan == nullptr) throw std::bad_alloc();  // FFTW fails only for want of memory
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
[[gnu::always_inline]] inline void rotate_samples(const nufft_setup& setup, double first, double increment,
                                                  double offset, std::int32_t points, std::int32_t begin,
                                                  std::int32_t end, nufft_work& work) {
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
[[gnu::always_inline]] inline void spread_samples(const nufft_setup& setup, std::int32_t points, std::int32_t size,
                                                  nufft_work& work) {
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
[[gnu::always_inline]] inline void spread_any(const nufft_setup& setup, std::int32_t points, std::int32_t size,
                                              nufft_work& work) {
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
[[TRAPFT_AVX2]] void rotate_avx2(const nufft_setup& setup, double first, double increment, double offset,
                                 std::int32_t points, std::int32_t begin, std::int32_t end, nufft_work& work) {
    rotate_samples(setup, first, increment, offset, points, begin, end, work);
}
[[TRAPFT_AVX512]] void rotate_avx512(const nufft_setup& setup, double first, double increment, double offset,
                                     std::int32_t points, std::int32_t begin, std::int32_t end, nufft_work& work) {
    rotate_samples(setup, first, increment, offset, points, begin, end, work);
}
[[TRAPFT_AVX2]] void spread_avx2(const nufft_setup& setup, std::int32_t points, std::int32_t size, nufft_work& work) {
    spread_any<vector2>(setup, points, size, work);
}
[[TRAPFT_AVX512]] void spread_avx512(const nufft_setup& setup, std::int32_t points, std::int32_t size, nufft_work& work) {
    spread_any<vector8>(setup, points, size, work);
}
#endif

void rotate(const nufft_setup& setup, double first, double increment, double offset, std::int32_t points,
            std::int32_t begin, std::int32_t end, nufft_work& work) {
#if defined(__x86_64__)
    if (setup.instruction_set == 2) return rotate_avx512(setup, first, increment, offset, points, begin, end, work);
    if (setup.instruction_set == 1) return rotate_avx2(setup, first, increment, offset, points, begin, end, work);
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

void direct_sum(const nufft_setup& setup, double first, double increment, double shift, std::int32_t count,
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

}  // namespace

bool prepare_nufft(sample_view samples, double tolerance, std::int64_t lines, nufft_setup& setup) {
    setup = nufft_setup{};
    nufft_setup s;
    s.count = static_cast<std::int32_t>(samples.times.size());
    if (!fill_weights(samples, s)) return false;
    int width = 3;
    while (width < max_width && width_error[width] > 0.98 * tolerance - rounding_allowance) ++width;
    s.width = width;
    s.degree = width_degree[width];
    s.lanes = (width + 7) / 8 * 8;
    const wide beta = 2.30L * width;
    fit_kernel(s, beta);
    s.block_lines = choose_block_lines(s, lines);
    fill_correction(s, beta);
    make_plans(s, lines);
    s.instruction_set = best_instruction_set();
    setup = std::move(s);
    return true;
}

bool nufft_available() { return true; }

void fftw_plan_release::operator()(void* plan) const { fftw_destroy_plan(static_cast<fftw_plan>(plan)); }

void fftw_array_release::operator()(double* data) const { fftw_free(data); }

bool prepare_nufft_work(const nufft_setup& setup, nufft_work& work) {
    work = nufft_work{};
    try {
        const std::size_t doubles = 2 * (2 * static_cast<std::size_t>(setup.block_lines) + max_lanes);
        work.grid.reset(static_cast<double*>(fftw_malloc(sizeof(double) * doubles)));
        if (!work.grid) return false;
        work.rotated.resize(2 * nufft_chunk);
        work.argument.resize(nufft_chunk);
        work.first_point.resize(nufft_chunk);
        return true;
    } catch (const std::bad_alloc&) {
        work = nufft_work{};
        return false;
    }
}

std::int32_t nufft_block_lines(const nufft_setup& setup) { return setup.block_lines; }

std::int32_t nufft_grid_points(const nufft_setup& setup, std::int32_t count) {
    const std::int64_t least = 2 * next_power_of_two(count);
    for (const std::int32_t points : setup.plan_points)
        if (points >= least) return points;
    return setup.plan_points.back();
}

void nufft_rotate(const nufft_setup& setup, double first, double increment, std::int32_t points,
                  std::int32_t begin, std::int32_t end, nufft_work& work) {
    rotate(setup, first, increment, points / 4, points, begin, end, work);
}

void nufft_spread(const nufft_setup& setup, std::int32_t points, std::int32_t size, nufft_work& work) {
#if defined(__x86_64__)
    if (setup.instruction_set == 2) return spread_avx512(setup, points, size, work);
    if (setup.instruction_set == 1) return spread_avx2(setup, points, size, work);
#endif
    spread_any<vector2>(setup, points, size, work);
}

void nufft_transform(const nufft_setup& setup, std::int32_t points, nufft_work& work) {
    std::size_t level = 0;
    while (setup.plan_points[level] != points) ++level;
    auto* data = reinterpret_cast<fftw_complex*>(work.grid.get());
    fftw_execute_dft(static_cast<fftw_plan>(setup.plans[level].get()), data, data);
}

void nufft_deconvolve(const nufft_setup& setup, std::int32_t points, std::int32_t count,
                      const nufft_work& work, double* real, double* imaginary) {
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

void nufft_block(const nufft_setup& setup, double first, double increment, std::int32_t count,
                 nufft_work& work, double* real, double* imaginary) {
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
        std::memset(work.grid.get(), 0, sizeof(double) * 2 * (static_cast<std::size_t>(points) + max_lanes));
        for (std::int32_t begin = 0; begin < setup.count; begin += nufft_chunk) {
            const std::int32_t end = std::min(setup.count, begin + nufft_chunk);
            rotate(setup, first, increment, shift + points / 4, points, begin, end, work);
            nufft_spread(setup, points, end - begin, work);
        }
        nufft_transform(setup, points, work);
        nufft_deconvolve(setup, points, lines, work, real + done, imaginary + done);
    }
}

}  // namespace trapft
