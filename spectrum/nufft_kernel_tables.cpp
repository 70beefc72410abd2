// Measures the kernels' tables (worst error per width and upsampling, pieces' degrees) and prints them.
//
// A sample at offset x from its cell, spread over the width's grid points by
// the kernel and read back at ξ cycles per grid point, gives
// Σ_i φ(z_i) e^(−2πi ξ (i − lead − x)) / φ̂(ξ) in place of 1. Its distance
// from 1, worst over a 129 × 129 mesh of offsets and of |ξ| ≤ 1 / (2σ), in
// long double, is the kernel's error. The pieces' degree is the lowest whose
// polynomials (coefficients rounded to double, as the engine uses them) move
// that error by at most 1 %; the table holds the error with those pieces,
// rounded up by 1 %. The degree is the highest any upsampling needs. Takes
// half a minute.
#include <cmath>
#include <cstdio>
#include <vector>

#include "spectrum/nufft_kernel.hpp"

namespace {

using wide = long double;
constexpr wide pi_wide = 3.141592653589793238462643383279502884L;
constexpr int mesh = 129;

// Worst |spread and read back − 1| for `width`, with the kernel itself
// (degree < 0) or with its pieces of `degree`; or (fit) the worst
// |difference the pieces make| instead.
wide worst_error(int width, int upsampling, int degree, bool fit = false) {
    const int lead = trapft::kernel_lead(width);
    const wide beta = trapft::kernel_beta(width, upsampling);
    const wide highest = trapft::kernel_highest_mode(upsampling);
    const int lanes = (width + 7) / 8 * 8;
    const std::vector<double> pieces =
        degree >= 0 ? trapft::kernel_pieces(width, upsampling, degree, lanes) : std::vector<double>();
    const wide low = width % 2 == 0 ? 0 : -0.5L;
    std::vector<wide> transform(mesh);
    for (int b = 0; b < mesh; ++b)
        transform[static_cast<std::size_t>(b)] = trapft::kernel_transform(width, upsampling, highest * b / (mesh - 1));
    wide worst = 0;
    for (int a = 0; a < mesh; ++a) {
        const wide x = low + static_cast<wide>(a) / (mesh - 1);
        std::vector<wide> value(static_cast<std::size_t>(width));
        for (int i = 0; i < width; ++i) {
            if (degree < 0) {
                value[static_cast<std::size_t>(i)] = trapft::kernel_value((i - lead - x) / (width / 2.0L), beta);
            } else {
                const wide z = width % 2 == 0 ? 2 * x - 1 : 2 * x;  // the piece's argument, as the engine forms it
                wide v = 0;
                for (int d = 0; d <= degree; ++d) v = v * z + pieces[static_cast<std::size_t>(d * lanes + i)];
                value[static_cast<std::size_t>(i)] = fit ? v - trapft::kernel_value((i - lead - x) / (width / 2.0L), beta) : v;
            }
        }
        for (int b = 0; b < mesh; ++b) {
            const wide xi = highest * b / (mesh - 1);
            wide re = 0, im = 0;
            for (int i = 0; i < width; ++i) {
                const wide angle = 2 * pi_wide * xi * (i - lead - x);
                re += value[static_cast<std::size_t>(i)] * std::cos(angle);
                im -= value[static_cast<std::size_t>(i)] * std::sin(angle);
            }
            const wide t = transform[static_cast<std::size_t>(b)];
            worst = std::fmax(worst, std::hypot(re / t - (fit ? 0 : 1), im / t));
        }
    }
    return worst;
}

}  // namespace

int main() {
    using trapft::kernel_max_width;
    using trapft::kernel_upsamplings;
    // errors[u][w] with the degree each upsampling needs, then with the highest.
    std::vector<std::vector<std::vector<wide>>> by_degree(kernel_upsamplings);
    std::vector<int> degrees(kernel_max_width + 1, 0);
    for (int u = 0; u < kernel_upsamplings; ++u) {
        std::printf("upsampling %d/8 lines per point\n%-6s %-10s %-10s %s\n", trapft::kernel_lines_eighths[u], "width",
                    "kernel", "pieces", "degree");
        by_degree[static_cast<std::size_t>(u)].resize(kernel_max_width + 1);
        for (int width = 2; width <= kernel_max_width; ++width) {
            const wide exact = worst_error(width, u, -1);
            std::vector<wide>& errors = by_degree[static_cast<std::size_t>(u)][static_cast<std::size_t>(width)];
            wide best = 1;
            for (int degree = 0; degree <= 18; ++degree) {
                errors.push_back(degree < 5 ? 1 : worst_error(width, u, degree));
                best = std::fmin(best, errors.back());
            }
            int degree = 5;
            while (errors[static_cast<std::size_t>(degree)] > 1.01L * best) ++degree;
            degrees[static_cast<std::size_t>(width)] = std::max(degrees[static_cast<std::size_t>(width)], degree);
            std::printf("%-6d %-10.3Le %-10.3Le %d\n", width, exact, errors[static_cast<std::size_t>(degree)], degree);
        }
    }
    auto three_digits_up = [](double e) {
        const double unit = std::pow(10.0, std::floor(std::log10(e)) - 2);
        return std::ceil(e * (1 + 1e-12) / unit) * unit;
    };
    std::printf("constexpr double width_error[kernel_upsamplings][kernel_max_width + 1] = {\n");
    for (int u = 0; u < kernel_upsamplings; ++u) {
        std::printf("    {1.0, 1.0");
        for (int width = 2; width <= kernel_max_width; ++width) {
            const wide e = by_degree[static_cast<std::size_t>(u)][static_cast<std::size_t>(width)]
                                    [static_cast<std::size_t>(degrees[static_cast<std::size_t>(width)])];
            std::printf(", %.2e", three_digits_up(static_cast<double>(1.01L * e)));
        }
        std::printf("}%s\n", u + 1 < kernel_upsamplings ? "," : "};");
    }
    std::printf("inline constexpr int kernel_degrees[kernel_max_width + 1] = {0, 0");
    for (int width = 2; width <= kernel_max_width; ++width)
        std::printf(", %d", degrees[static_cast<std::size_t>(width)]);
    std::printf("};\nstatic constexpr double gains[kernel_upsamplings][kernel_max_width + 1] = {\n");
    for (int u = 0; u < kernel_upsamplings; ++u) {
        std::printf("    {1.0, 1.0, 1.0");
        for (int width = 3; width <= kernel_max_width; ++width)
            std::printf(", %.2f", std::ceil(trapft::measure_kernel_gain(width, u) * 100) / 100);
        std::printf("}%s\n", u + 1 < kernel_upsamplings ? "," : "};");
    }
}
