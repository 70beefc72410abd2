// A slow, plainly written evaluation of the transform, for comparison.
#pragma once

#include <cmath>
#include <cstdio>
#include <cstdint>
#include <string>
#include <vector>

namespace reference {

// Called through pointers so that the compiler cannot pair them into sincos:
// the tool's output must not depend on that pairing.
inline double (*volatile cosine)(double) = static_cast<double (*)(double)>(std::cos);
inline double (*volatile sine)(double) = static_cast<double (*)(double)>(std::sin);

inline std::string line(double f, double re, double im, double mag) {
    char text[160];
    std::snprintf(text, sizeof text, "%.15g %.15g %.15g %.15g\n", f, re, im, mag);
    return text;
}

// The two sums at one frequency, term by term as documented. Every product is
// stored before it is added, so that no build flag can fuse the two roundings.
struct sums {
    double cosine;
    double sine;
};

inline sums sums_at(const std::vector<double>& t, const std::vector<double>& x, double f) {
    const double omega = f * 6.283185307179586;
    double c_sum = 0.0;
    double s_sum = 0.0;
    for (std::size_t k = 0; k + 1 < t.size(); ++k) {
        const double c0 = cosine(omega * t[k]);
        const double s0 = sine(omega * t[k]);
        const double c1 = cosine(omega * t[k + 1]);
        const double s1 = sine(omega * t[k + 1]);
        const double delta = t[k + 1] - t[k];
        volatile double xs0 = x[k] * s0, xs1 = x[k + 1] * s1;
        volatile double xc0 = x[k] * c0, xc1 = x[k + 1] * c1;
        volatile double s_term = ((xs0 + xs1) * delta) * 0.5;
        volatile double c_term = ((xc0 + xc1) * delta) * 0.5;
        s_sum = s_sum + s_term;
        c_sum = c_sum + c_term;
    }
    return {c_sum, s_sum};
}

// Result line at one frequency.
inline std::string line_at(const std::vector<double>& t, const std::vector<double>& x, double f) {
    const sums s = sums_at(t, x, f);
    volatile double c_squared = s.cosine * s.cosine;
    volatile double s_squared = s.sine * s.sine;
    return line(f, s.cosine, -s.sine, std::sqrt(c_squared + s_squared));
}

// Every line of a sweep: a running-sum frequency from start.
inline std::string sweep(const std::vector<double>& t, const std::vector<double>& x,
                         double start, double end, std::int32_t count) {
    std::string out;
    double f = start;
    const double step = count > 1 ? (end - start) / (static_cast<double>(count) - 1.0) : 0.0;
    for (std::int32_t j = 0; j < count; ++j) {
        out += line_at(t, x, f);
        f = f + step;
    }
    return out;
}

}  // namespace reference
