// Measures the fast evaluation's kernels in long double: the worst error of one sample, and the gain.
//
// A sample at offset x from its cell, spread over the width's grid points by
// the kernel and read back at ξ cycles per grid point, gives
// Σ_i φ(z_i) e^(−2πi ξ (i − lead − x)) / φ̂(ξ) in place of 1; the error is its
// distance from 1. It peaks between the points of any mesh, so the largest
// local maxima of a mesh are each zoomed in on until the peak is found.
#include "tools/kernel_measure.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "spectrum/nufft/kernel.hpp"

namespace trapft {
namespace {

using wide = long double;
constexpr wide pi_wide = 3.141592653589793238462643383279502884L;

// One kernel as the engine evaluates it, and the error at (x, ξ).
class kernel_probe {
public:
    kernel_probe(int width, int upsampling, int degree)
        : width_(width), upsampling_(upsampling), degree_(degree), lanes_((width + 7) / 8 * 8),
          lead_(kernel_lead(width)), beta_(kernel_beta(width, upsampling)),
          low_(width % 2 == 0 ? 0 : -0.5L), highest_(kernel_highest_mode(upsampling)) {
        if (degree >= 0) pieces_ = kernel_pieces(width, upsampling, degree, lanes_);
    }

    wide low() const { return low_; }
    wide highest() const { return highest_; }

    wide error(wide x, wide xi) const { return error(x, xi, kernel_transform(width_, upsampling_, xi)); }

    // The same, with the kernel's transform at ξ given.
    wide error(wide x, wide xi, wide transform) const {
        wide re = 0, im = 0;
        for (int i = 0; i < width_; ++i) {
            const wide value = weight(i, x);
            const wide angle = 2 * pi_wide * xi * (i - lead_ - x);
            re += value * std::cos(angle);
            im -= value * std::sin(angle);
        }
        return std::hypot(re / transform - 1, im / transform);
    }

private:
    // Point i's value for offset x: the kernel, or its piece in the argument
    // the engine forms.
    wide weight(int i, wide x) const {
        if (degree_ < 0) return kernel_value((i - lead_ - x) / (width_ / 2.0L), beta_);
        const wide z = width_ % 2 == 0 ? 2 * x - 1 : 2 * x;
        wide v = 0;
        for (int d = 0; d <= degree_; ++d) v = v * z + pieces_[static_cast<std::size_t>(d * lanes_ + i)];
        return v;
    }

    int width_, upsampling_, degree_, lanes_, lead_;
    wide beta_, low_, highest_;
    std::vector<double> pieces_;
};

struct peak {
    wide error = 0, x = 0, xi = 0;
};

// Zooms in on a peak: a 9 × 9 patch around it, a quarter as wide each round.
peak refine(const kernel_probe& probe, peak best, wide step_x, wide step_xi, int rounds) {
    for (int round = 0; round < rounds; ++round) {
        const peak centre = best;
        for (int a = -4; a <= 4; ++a)
            for (int b = -4; b <= 4; ++b) {
                const wide x = std::clamp(centre.x + a * step_x / 4, probe.low(), probe.low() + 1);
                const wide xi = std::clamp(centre.xi + b * step_xi / 4, wide{0}, probe.highest());
                const wide e = probe.error(x, xi);
                if (e > best.error) best = {e, x, xi};
            }
        step_x /= 4;
        step_xi /= 4;
    }
    return best;
}

}  // namespace

long double kernel_worst_error(int width, int upsampling, int degree, const kernel_search& search) {
    const kernel_probe probe(width, upsampling, degree);
    const int n = search.mesh;
    const wide step_x = 1.0L / (n - 1), step_xi = probe.highest() / (n - 1);
    std::vector<wide> transform(static_cast<std::size_t>(n));
    for (int b = 0; b < n; ++b) transform[static_cast<std::size_t>(b)] = kernel_transform(width, upsampling, b * step_xi);
    std::vector<wide> mesh(static_cast<std::size_t>(n * n));
    auto at = [&](int a, int b) -> wide& { return mesh[static_cast<std::size_t>(a * n + b)]; };
    for (int a = 0; a < n; ++a)
        for (int b = 0; b < n; ++b)
            at(a, b) = probe.error(probe.low() + a * step_x, b * step_xi, transform[static_cast<std::size_t>(b)]);
    // The mesh's local maxima, largest first.
    std::vector<peak> peaks;
    for (int a = 0; a < n; ++a)
        for (int b = 0; b < n; ++b) {
            bool highest = true;
            for (int da = -1; da <= 1; ++da)
                for (int db = -1; db <= 1; ++db) {
                    const int a2 = a + da, b2 = b + db;
                    if (a2 >= 0 && a2 < n && b2 >= 0 && b2 < n && at(a2, b2) > at(a, b)) highest = false;
                }
            if (highest) peaks.push_back({at(a, b), probe.low() + a * step_x, b * step_xi});
        }
    std::sort(peaks.begin(), peaks.end(), [](const peak& p, const peak& q) { return p.error > q.error; });
    peaks.resize(std::min(peaks.size(), static_cast<std::size_t>(search.candidates)));
    wide worst = 0;
    for (const peak& p : peaks) worst = std::fmax(worst, refine(probe, p, step_x, step_xi, search.rounds).error);
    return worst;
}

double measure_kernel_gain(int width, int upsampling) {
    const int lead = kernel_lead(width);
    const long double beta = kernel_beta(width, upsampling);
    const long double low = width % 2 == 0 ? 0 : -0.5L;
    long double most = 0;
    for (int a = 0; a <= 64; ++a) {
        const long double x = low + a / 64.0L;
        long double sum = 0;
        for (int i = 0; i < width; ++i) sum += kernel_value((i - lead - x) / (width / 2.0L), beta);
        most = std::fmax(most, sum);
    }
    return static_cast<double>(most / kernel_transform(width, upsampling, kernel_highest_mode(upsampling)));
}

}  // namespace trapft
