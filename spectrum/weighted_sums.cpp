// The exact transform with the caller's weights in place of the trapezoid's, in a fixed order of operations.
#include "spectrum/weighted_sums.hpp"

#include <algorithm>

#include "spectrum/phase_tables.hpp"

namespace trapft {

spectrum_sums evaluate_weighted_sums(sample_view samples, double frequency, spectrum_work& work) {
    const auto n = static_cast<std::int32_t>(samples.size());
    const double* const t = samples.times.data();
    const double* const x = samples.values.data();
    const double* const w = samples.weights.data();
    const double omega = exact_angular_frequency(frequency);
    double cosine_sum = 0.0;
    double sine_sum = 0.0;
    for (std::int32_t first = 0; first < n; first += table_samples) {
        const std::int32_t size = std::min(table_samples, n - first);
        fill_phase_tables(t + first, x + first, size, omega, work.cosines, work.sines);
        for (std::int32_t k = 0; k < size; ++k) {
            cosine_sum = cosine_sum + w[first + k] * work.cosines[k];
            sine_sum = sine_sum + w[first + k] * work.sines[k];
        }
    }
    return {cosine_sum, sine_sum};
}

}  // namespace trapft
