// Measures the kernels' tables (worst error per width and upsampling, pieces' degrees, gains) and prints them.
//
// The pieces' degree is the lowest whose polynomials (coefficients rounded
// to double, as the engine uses them) move the kernel's worst error on a
// 129 × 129 mesh of offsets and modes by at most 1 %; the degree is the
// highest any upsampling needs. The table holds the worst error with those
// pieces, searched past the mesh (see kernel_worst_error), times the margin
// below and rounded up to three digits. Takes about a minute.
#include <cmath>
#include <cstdio>
#include <vector>

#include "spectrum/nufft/kernel.hpp"
#include "tools/kernel_measure.hpp"

namespace {

using wide = long double;

// What the table states beyond the measured worst error: with the engine's
// growth of 2 % for the lines' offsets, a sum of samples that all meet the
// worst case stays within 0.9 of a tolerance that the table just meets.
constexpr wide table_margin = 1.12L;

// The mesh alone, for comparing degrees.
constexpr trapft::kernel_search mesh_only{129, 1, 0};

double three_digits_up(double e) {
    const double unit = std::pow(10.0, std::floor(std::log10(e)) - 2);
    return std::ceil(e * (1 + 1e-12) / unit) * unit;
}

}  // namespace

int main() {
    using trapft::kernel_max_width;
    using trapft::kernel_upsamplings;
    // The degree each width needs: the highest over the upsamplings.
    std::vector<int> degrees(kernel_max_width + 1, 0);
    for (int u = 0; u < kernel_upsamplings; ++u) {
        std::printf("upsampling %d/8 lines per point\n%-6s %-10s %s\n", trapft::kernel_lines_eighths[u], "width",
                    "kernel", "degree");
        for (int width = 2; width <= kernel_max_width; ++width) {
            std::vector<wide> errors;
            wide best = 1;
            for (int degree = 0; degree <= 18; ++degree) {
                errors.push_back(degree < 5 ? 1 : trapft::kernel_worst_error(width, u, degree, mesh_only));
                best = std::fmin(best, errors.back());
            }
            int degree = 5;
            while (errors[static_cast<std::size_t>(degree)] > 1.01L * best) ++degree;
            degrees[static_cast<std::size_t>(width)] = std::max(degrees[static_cast<std::size_t>(width)], degree);
            std::printf("%-6d %-10.3Le %d\n", width, trapft::kernel_worst_error(width, u, -1), degree);
        }
    }
    std::printf("constexpr double width_error[kernel_upsamplings][kernel_max_width + 1] = {\n");
    for (int u = 0; u < kernel_upsamplings; ++u) {
        std::printf("    {1.0, 1.0");
        for (int width = 2; width <= kernel_max_width; ++width) {
            const wide e = trapft::kernel_worst_error(width, u, degrees[static_cast<std::size_t>(width)]);
            std::printf(", %.2e", three_digits_up(static_cast<double>(table_margin * e)));
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
