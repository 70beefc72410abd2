// The fast evaluation's spreading kernel: its tables, polynomial pieces and Fourier transform.
#include "spectrum/nufft/kernel.hpp"

#include "spectrum/instruction_set.hpp"

#include <algorithm>
#include <cmath>

namespace trapft {
namespace {

using wide = long double;
constexpr wide pi_wide = 3.141592653589793238462643383279502884L;

// Printed by trapft_kernel_tables (tools/kernel_tables.cpp): worst error of
// one sample of weight 1, over every offset from the grid and every mode of a
// block (the edge included), for width w with the upsampling's β and the
// polynomial pieces of kernel_degrees, in long double, each peak searched
// past a 129 × 129 mesh; times 1.12 and rounded up to three digits. By the
// triangle inequality the error of a sum is at most A times this.
constexpr double width_error[kernel_upsamplings][kernel_max_width + 1] = {
    {1.0,      1.0,      1.74e-01, 2.96e-02, 3.99e-03, 4.21e-04, 3.49e-05, 3.01e-06, 4.41e-07,
     5.73e-08, 8.18e-09, 9.42e-10, 8.76e-11, 8.18e-12, 1.07e-12, 1.46e-13, 1.85e-14, 2.23e-15},
    {1.0,      1.0,      2.67e-01, 5.83e-02, 1.14e-02, 1.58e-03, 1.83e-04, 1.93e-05, 3.76e-06,
     7.31e-07, 1.40e-07, 2.29e-08, 3.05e-09, 3.18e-10, 5.86e-11, 1.07e-11, 1.93e-12, 3.26e-13},
    {1.0,      1.0,      4.56e-01, 1.33e-01, 3.46e-02, 7.91e-03, 1.29e-03, 1.53e-04, 4.63e-05,
     1.34e-05, 3.73e-06, 9.87e-07, 1.92e-07, 2.79e-08, 6.23e-09, 1.72e-09, 4.59e-10, 1.25e-10}};

// β ÷ width for each upsampling.
constexpr long double beta_per_point[kernel_upsamplings] = {2.30L, 2.10L, 1.90L};

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

// The interpolant by Clenshaw's recurrence at modes 0 … half, 32 modes at a
// time so that the recurrence runs in vector registers (of whatever width the
// processor has: see fill_correction), several chains of it side by side.
[[gnu::always_inline]] inline void clenshaw_modes(const double* coefficients, int terms, std::int32_t half,
                                                  double* correction) {
    constexpr std::int32_t batch = 32;
    const double scale = 1.0 / static_cast<double>(half == 0 ? 1 : half);
    for (std::int32_t j0 = 0; j0 <= half; j0 += batch) {
        double y[batch], b1[batch], b2[batch];
        for (std::int32_t i = 0; i < batch; ++i) {
            const double x = static_cast<double>(j0 + i) * scale;  // ξ / ξ_max
            y[i] = 2.0 * (x * x) - 1.0;
            b1[i] = 0.0;
            b2[i] = 0.0;
        }
        for (int k = terms - 1; k >= 1; --k) {
            for (std::int32_t i = 0; i < batch; ++i) {
                const double b0 = ((2.0 * y[i]) * b1[i] - b2[i]) + coefficients[k];
                b2[i] = b1[i];
                b1[i] = b0;
            }
        }
        const std::int32_t end = std::min(batch, half + 1 - j0);
        for (std::int32_t i = 0; i < end; ++i) correction[j0 + i] = 1.0 / ((y[i] * b1[i] - b2[i]) + coefficients[0]);
    }
}

#if defined(__x86_64__)
[[gnu::target("avx512f")]] void clenshaw_avx512(const double* coefficients, int terms, std::int32_t half,
                                                double* correction) {
    clenshaw_modes(coefficients, terms, half, correction);
}
[[gnu::target("avx2")]] void clenshaw_avx2(const double* coefficients, int terms, std::int32_t half,
                                           double* correction) {
    clenshaw_modes(coefficients, terms, half, correction);
}
#endif

// Chosen at run time rather than by the loader (whose early choice the
// sanitizers' runtimes do not survive); the same operations in every case.
void fill_correction(const double* coefficients, int terms, std::int32_t half, double* correction) {
#if defined(__x86_64__)
    const instruction_set set = best_instruction_set();
    if (set == instruction_set::avx512) return clenshaw_avx512(coefficients, terms, half, correction);
    if (set == instruction_set::avx2) return clenshaw_avx2(coefficients, terms, half, correction);
#endif
    clenshaw_modes(coefficients, terms, half, correction);
}

}  // namespace

long double kernel_beta(int width, int upsampling) { return beta_per_point[upsampling] * width; }

long double kernel_value(long double z, long double beta) {
    if (std::fabs(z) >= 1) return 0;
    return std::exp(beta * (std::sqrt(1 - z * z) - 1));
}

double kernel_error(int width, int upsampling) {
    return width_error[upsampling][std::clamp(width, 0, kernel_max_width)];
}

int kernel_degree(int width) { return kernel_degrees[std::clamp(width, 0, kernel_max_width)]; }

int kernel_lead(int width) { return width % 2 == 0 ? width / 2 - 1 : (width - 1) / 2; }

// Chebyshev interpolation of each piece in long double, turned into monomials.
std::vector<double> kernel_pieces(int width, int upsampling, int degree, int lanes) {
    const int w = width;
    const int p = degree;
    const wide beta = kernel_beta(w, upsampling);
    const int lead = kernel_lead(w);
    const wide low = w % 2 == 0 ? 0 : -0.5L;
    std::vector<double> pieces(static_cast<std::size_t>((p + 1) * lanes), 0.0);
    const auto n = static_cast<std::size_t>(p + 1);
    std::vector<wide> values(n), chebyshev(n), monomial(n), t_prev(n), t_cur(n), t_next(n);
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
                for (std::size_t k = 0; k < n; ++k) t_next[k] = (k > 0 ? 2 * t_cur[k - 1] : 0) - t_prev[k];
                t_prev.swap(t_cur);
                t_cur.swap(t_next);
            }
            for (std::size_t k = 0; k < n; ++k) monomial[k] += chebyshev[static_cast<std::size_t>(j)] * t_cur[k];
        }
        for (int k = 0; k <= p; ++k)
            pieces[static_cast<std::size_t>((p - k) * lanes + i)] = static_cast<double>(monomial[static_cast<std::size_t>(k)]);
    }
    return pieces;
}

long double kernel_highest_mode(int upsampling) { return kernel_lines_eighths[upsampling] / 16.0L; }

long double kernel_transform(int width, int upsampling, long double xi) {
    static thread_local std::vector<wide> nodes, weights;
    static thread_local int nodes_for = -1;
    if (nodes_for != width) {
        gauss_legendre(2 * width + 40, nodes, weights);
        nodes_for = width;
    }
    const wide beta = kernel_beta(width, upsampling);
    wide sum = 0;
    for (std::size_t q = 0; q < nodes.size(); ++q)
        sum += weights[q] * kernel_value(nodes[q], beta) * std::cos(pi_wide * xi * width * nodes[q]);
    return width * sum;
}

// The transform at a few Chebyshev nodes in ξ² on [0, ξ_max²], then the
// interpolant by Clenshaw's recurrence at each mode.
void kernel_correction(int width, int upsampling, std::int32_t half, double* correction) {
    constexpr int terms = 28;
    wide values[terms];
    for (int i = 0; i < terms; ++i) {
        const wide y = std::cos(pi_wide * (i + 0.5L) / terms);
        values[i] = kernel_transform(width, upsampling, std::sqrt((1 + y) / 2) * kernel_highest_mode(upsampling));
    }
    double coefficients[terms];
    for (int j = 0; j < terms; ++j) {
        wide sum = 0;
        for (int i = 0; i < terms; ++i) sum += values[i] * std::cos(pi_wide * j * (i + 0.5L) / terms);
        coefficients[j] = static_cast<double>(sum * 2 / terms / (j == 0 ? 2 : 1));
    }
    fill_correction(coefficients, terms, half, correction);
}

}  // namespace trapft

namespace trapft {

double kernel_gain(int width, int upsampling) {
    // Printed by trapft_kernel_tables (tools/kernel_tables.cpp), rounded up.
    static constexpr double gains[kernel_upsamplings][kernel_max_width + 1] = {
        {1.0, 1.0, 1.0, 1.39, 1.59, 1.83, 2.10, 2.41, 2.76, 3.17, 3.64, 4.18, 4.80, 5.51, 6.32, 7.26, 8.33, 9.57},
        {1.0, 1.0, 1.0, 1.75, 2.22, 2.83, 3.61, 4.60, 5.86, 7.47, 9.53, 12.15, 15.50, 19.77, 25.22, 32.17, 41.04,
         52.35},
        {1.0, 1.0, 1.0, 2.44, 3.64, 5.45, 8.19, 12.31, 18.51, 27.85, 41.90, 63.06, 94.90, 142.85, 215.03, 323.71,
         487.32, 733.65}};
    return gains[upsampling][std::clamp(width, 0, kernel_max_width)];
}

}  // namespace trapft
