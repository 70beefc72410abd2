// The cosine and sine of every sample's phase at one frequency.
#pragma once

#include <cstdint>

namespace trapft {

// Sets cosines[k] and sines[k] to the cosine and sine of omega × times[k] for
// k < count (the product rounded to double first). The default build calls the
// platform's cos and sin, so the tables are exactly theirs; the vector build
// (TRAPFT_VECTOR_MATH) uses a vector library within 1 ULP of the true values.
void fill_phase_tables(const double* times, std::int32_t count, double omega, double* cosines,
                       double* sines);

}  // namespace trapft
