// Each sample's value times the cosine and sine of its phase at one frequency.
#pragma once

#include <cstdint>

namespace trapft {

// Sets cosines[k] to values[k] × cos(omega × times[k]) and sines[k] to
// values[k] × sin(omega × times[k]) for k < count, each product rounded to
// double. The default build calls the platform's cos and sin, so the tables are
// exact; the vector build (TRAPFT_VECTOR_MATH) uses a vector library within
// 1 ULP of the true cosine and sine.
void fill_phase_tables(const double* times, const double* values, std::int32_t count, double omega,
                       double* cosines, double* sines);

}  // namespace trapft
