#include "spectrum/spectrum.hpp"

#include <algorithm>
#include <cmath>

#include "output/g15.hpp"
#include "spectrum/phase_tables.hpp"

namespace trapft {
namespace {

// The double nearest 2π, 0x401921FB54442D18.
constexpr double two_pi = 6.283185307179586;

char* put_value(char* first, double value) {
    return write_g15(first, value);
}

}  // namespace

spectrum_point evaluate_spectrum(const sample_set& samples, double frequency, spectrum_work& work) {
    const std::int32_t n = samples.count;
    const double* const t = samples.times.data();
    const double* const x = samples.values.data();
    double* const c = work.cosines;
    double* const s = work.sines;
    const double omega = frequency * two_pi;

    // One block of samples at a time. c[k] = x_k × cos(ω t_k) and
    // s[k] = x_k × sin(ω t_k) are the products of the trapezoids below, each
    // rounded once as written there; the interval that joins two blocks takes
    // the products it needs from the block before.
    double cosine_sum = 0.0;
    double sine_sum = 0.0;
    double last_cosine = 0.0;
    double last_sine = 0.0;
    for (std::int32_t first = 0; first < n; first += table_block) {
        const std::int32_t size = std::min(table_block, n - first);
        const double* const tb = t + first;
        fill_phase_tables(tb, x + first, size, omega, c, s);
        if (first > 0) {
            const double delta = tb[0] - tb[-1];
            sine_sum = sine_sum + ((last_sine + s[0]) * delta) * 0.5;
            cosine_sum = cosine_sum + ((last_cosine + c[0]) * delta) * 0.5;
        }
        for (std::int32_t k = 0; k + 1 < size; ++k) {
            const double delta = tb[k + 1] - tb[k];
            sine_sum = sine_sum + ((s[k] + s[k + 1]) * delta) * 0.5;
            cosine_sum = cosine_sum + ((c[k] + c[k + 1]) * delta) * 0.5;
        }
        last_cosine = c[size - 1];
        last_sine = s[size - 1];
    }

    const double magnitude = std::sqrt((cosine_sum * cosine_sum) + (sine_sum * sine_sum));
    return {frequency, cosine_sum, -sine_sum, magnitude};
}

char* write_result_line(char* first, const spectrum_point& point) {
    char* p = put_value(first, point.frequency);
    *p++ = ' ';
    p = put_value(p, point.real);
    *p++ = ' ';
    p = put_value(p, point.imaginary);
    *p++ = ' ';
    p = put_value(p, point.magnitude);
    *p++ = '\n';
    return p;
}

result_line format_result_line(const spectrum_point& point) {
    result_line line;
    line.size = static_cast<std::size_t>(write_result_line(line.text, point) - line.text);
    return line;
}

}  // namespace trapft
