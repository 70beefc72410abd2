// The Gaussian examples against the closed-form transform of the pulse:
// the tool must stay within what the trapezoidal rule can be off by.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "process.hpp"

namespace {

// The pulse x(t) = exp(−t²/(2σ²)) of examples/make_examples.py.
constexpr double sigma = 0.5;
constexpr double pi = 3.14159265358979323846;

double pulse(double t) { return std::exp(-t * t / (2 * sigma * sigma)); }

// X(f) = σ√(2π)·exp(−2π²σ²f²), real.
double pulse_transform(double f) {
    return sigma * std::sqrt(2 * pi) * std::exp(-2 * pi * pi * sigma * sigma * f * f);
}

struct samples {
    std::vector<double> t, x;
};

samples read_example(const std::string& path) {
    std::ifstream in(path);
    samples s;
    std::string time, value;
    while (in >> time >> value) {
        s.t.push_back(static_cast<double>(std::strtof(time.c_str(), nullptr)));
        s.x.push_back(static_cast<double>(std::strtof(value.c_str(), nullptr)));
    }
    return s;
}

// Largest possible error of the trapezoid sum of x(t)·e^(−iωt) over these
// times, in the real and in the imaginary part alone. On each step of width h,
// |rule − integral| ≤ h³/12 · sup|g''| with g'' = (x'' − 2iωx' − ω²x)·e^(−iωt),
// and on the step |x| ≤ e^(−m²/2σ²), |x'| ≤ M/σ²·e^(−m²/2σ²),
// |x''| ≤ (M²/σ⁴ + 1/σ²)·e^(−m²/2σ²), where m and M are the least and largest
// |t| there. Added: the values' rounding as found in the file, the pulse
// outside the sampled span, and a margin for the double arithmetic.
double error_bound(const samples& s, double f) {
    const double omega = 2 * pi * f;
    const double s2 = sigma * sigma;
    double bound = 0;
    for (std::size_t k = 0; k + 1 < s.t.size(); ++k) {
        const double a = s.t[k], b = s.t[k + 1], h = b - a;
        const double m = (a <= 0 && b >= 0) ? 0 : std::min(std::fabs(a), std::fabs(b));
        const double big = std::max(std::fabs(a), std::fabs(b));
        const double second = (big * big / (s2 * s2) + 1 / s2) + 2 * omega * big / s2 + omega * omega;
        bound += h * h * h / 12 * second * std::exp(-m * m / (2 * s2));
        bound += h * (std::fabs(s.x[k] - pulse(a)) + std::fabs(s.x[k + 1] - pulse(b))) / 2;
    }
    for (const double end : {s.t.front(), s.t.back()}) bound += s2 / std::fabs(end) * pulse(end);
    return bound + 1e-12;
}

// Largest |X − closed form| over 0…2 cycles per unit, each line checked against its bound.
double checked_max_error(const std::string& name) {
    const std::string path = std::string(TRAPFT_EXAMPLES_DIR) + "/" + name;
    const samples s = read_example(path);
    EXPECT_GT(s.t.size(), 50u) << path;
    const process::outcome o = process::run({TRAPFT_BINARY, path, "0", "2", "201"});
    EXPECT_EQ(o.status, 0);
    std::istringstream lines(o.out);
    double f, re, im, magnitude, worst = 0;
    int count = 0;
    while (lines >> f >> re >> im >> magnitude) {
        ++count;
        const double bound = error_bound(s, f);
        EXPECT_LE(std::fabs(re - pulse_transform(f)), bound) << name << " at f = " << f;
        EXPECT_LE(std::fabs(im), bound) << name << " at f = " << f;
        worst = std::max(worst, std::hypot(re - pulse_transform(f), im));
    }
    EXPECT_EQ(count, 201);
    return worst;
}

TEST(examples, gaussian_pulse_is_within_the_trapezoid_error_and_converges) {
    const double coarse = checked_max_error("gaussian_100.txt");
    const double medium = checked_max_error("gaussian_400.txt");
    const double fine = checked_max_error("gaussian_1600.txt");
    // Four times the samples: at least second order would give 16 times less error.
    EXPECT_GT(coarse / medium, 8.0);
    EXPECT_GT(medium / fine, 8.0);
}

}  // namespace
