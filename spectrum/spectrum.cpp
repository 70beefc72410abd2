// The trapezoidal transform at one frequency, in the documented order of operations.
#include "spectrum/spectrum.hpp"

#include <algorithm>
#include <cmath>

#include "spectrum/magnitude.hpp"
#include "spectrum/phase_tables.hpp"
#include "spectrum/weighted_sums.hpp"

namespace trapft {
spectrum_sums evaluate_sums(sample_view samples, double frequency, spectrum_work& work) {
    const auto n = static_cast<std::int32_t>(samples.size());
    const double* const t = samples.times.data();
    const double* const x = samples.values.data();
    double* const c = work.cosines;
    double* const s = work.sines;
    const double omega = exact_angular_frequency(frequency);

    // One table of samples at a time. c[k] = x_k × cos(ω t_k) and
    // s[k] = x_k × sin(ω t_k) are the products of the trapezoids below, each
    // rounded once as written there; the interval that joins two tables takes
    // the products it needs from the table before.
    double cosine_sum = 0.0;
    double sine_sum = 0.0;
    double last_cosine = 0.0;
    double last_sine = 0.0;
    for (std::int32_t first = 0; first < n; first += table_samples) {
        const std::int32_t size = std::min(table_samples, n - first);
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

    return {cosine_sum, sine_sum};
}

spectrum_point spectrum_line(double frequency, spectrum_sums sums) {
    return {frequency, sums.cosine, -sums.sine, spectrum_magnitude(sums.cosine, sums.sine)};
}

spectrum_point evaluate_spectrum(sample_view samples, double frequency, spectrum_work& work) {
    return spectrum_line(frequency, samples.weighted() ? evaluate_weighted_sums(samples, frequency, work)
                                                       : evaluate_sums(samples, frequency, work));
}

}  // namespace trapft
