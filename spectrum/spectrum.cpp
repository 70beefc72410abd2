#include "spectrum/spectrum.hpp"

#include <charconv>
#include <cmath>

#include "spectrum/phase_tables.hpp"

namespace trapft {
namespace {

// The double nearest 2π, 0x401921FB54442D18.
constexpr double two_pi = 6.283185307179586;

char* put_value(char* first, double value) {
    return std::to_chars(first, first + 22, value, std::chars_format::general, 15).ptr;
}

}  // namespace

spectrum_point evaluate_spectrum(const sample_set& samples, double frequency, spectrum_work& work) {
    const std::int32_t n = samples.count;
    const double* const t = samples.times;
    const double* const x = samples.values;
    double* const c = work.cosines;
    double* const s = work.sines;

    // c[k] = x_k × cos(ω t_k) and s[k] = x_k × sin(ω t_k), the products of the
    // trapezoids below, each rounded once as written there.
    fill_phase_tables(t, x, n, frequency * two_pi, c, s);

    double cosine_sum = 0.0;
    double sine_sum = 0.0;
    for (std::int32_t k = 0; k + 1 < n; ++k) {
        const double delta = t[k + 1] - t[k];
        sine_sum = sine_sum + ((s[k] + s[k + 1]) * delta) * 0.5;
        cosine_sum = cosine_sum + ((c[k] + c[k + 1]) * delta) * 0.5;
    }

    const double magnitude = std::sqrt((cosine_sum * cosine_sum) + (sine_sum * sine_sum));
    return {frequency, cosine_sum, -sine_sum, magnitude};
}

result_line format_result_line(const spectrum_point& point) {
    result_line line;
    char* p = line.text;
    p = put_value(p, point.frequency);
    *p++ = ' ';
    p = put_value(p, point.real);
    *p++ = ' ';
    p = put_value(p, point.imaginary);
    *p++ = ' ';
    p = put_value(p, point.magnitude);
    *p++ = '\n';
    line.size = static_cast<std::size_t>(p - line.text);
    return line;
}

bool run_sweep(const sample_set& samples, double start, double end, std::int32_t count,
               std::FILE* out, spectrum_work& work) {
    // The step only matters between lines; forming count − 1 only when count > 1
    // also keeps it clear of overflow at the lowest count.
    const double step = count > 1 ? (end - start) / static_cast<double>(count - 1) : 0.0;
    double frequency = start;
    for (std::int32_t j = 0; j < count; ++j) {
        const result_line line = format_result_line(evaluate_spectrum(samples, frequency, work));
        if (fwrite_unlocked(line.text, 1, line.size, out) != line.size) return false;
        frequency = frequency + step;
    }
    return true;
}

}  // namespace trapft
