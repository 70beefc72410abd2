#include <cmath>

#include "spectrum/phase_tables.hpp"

namespace trapft {

void fill_phase_tables(const double* times, const double* values, std::int32_t count, double omega,
                       double* cosines, double* sines) {
    for (std::int32_t k = 0; k < count; ++k) {
        const double phase = omega * times[k];
        // The compiler pairs these into one sincos call; the products cost
        // nothing beside it and spare the sums' pass, which is latency-bound.
        cosines[k] = values[k] * std::cos(phase);
        sines[k] = values[k] * std::sin(phase);
    }
}

}  // namespace trapft
