#include <cmath>

#include "spectrum/phase_tables.hpp"

namespace trapft {

void fill_phase_tables(const double* times, std::int32_t count, double omega, double* cosines,
                       double* sines) {
    for (std::int32_t k = 0; k < count; ++k) {
        const double phase = omega * times[k];
        cosines[k] = std::cos(phase);  // the compiler pairs these into one sincos call
        sines[k] = std::sin(phase);
    }
}

}  // namespace trapft
