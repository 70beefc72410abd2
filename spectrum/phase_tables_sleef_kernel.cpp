// One width of the vector table filling. The build compiles this file once per
// instruction set, with TRAPFT_SLEEF_LANES set to 2 (SSE2), 4 (AVX) or 8
// (AVX-512F) and the matching -m flag; only the chosen width runs.
#include <immintrin.h>
#include <sleef.h>

#include "spectrum/phase_tables_sleef.hpp"

#if TRAPFT_SLEEF_LANES == 8
#define LANES_VECTOR __m512d
#define LANES_LOAD _mm512_loadu_pd
#define LANES_STORE _mm512_storeu_pd
#define LANES_SET1 _mm512_set1_pd
#define LANES_MUL _mm512_mul_pd
#define LANES_SINCOS Sleef_sincosd8_u10
#define LANES_FILL fill_phase_tables_sleef8
#elif TRAPFT_SLEEF_LANES == 4
#define LANES_VECTOR __m256d
#define LANES_LOAD _mm256_loadu_pd
#define LANES_STORE _mm256_storeu_pd
#define LANES_SET1 _mm256_set1_pd
#define LANES_MUL _mm256_mul_pd
#define LANES_SINCOS Sleef_sincosd4_u10
#define LANES_FILL fill_phase_tables_sleef4
#elif TRAPFT_SLEEF_LANES == 2
#define LANES_VECTOR __m128d
#define LANES_LOAD _mm_loadu_pd
#define LANES_STORE _mm_storeu_pd
#define LANES_SET1 _mm_set1_pd
#define LANES_MUL _mm_mul_pd
#define LANES_SINCOS Sleef_sincosd2_u10
#define LANES_FILL fill_phase_tables_sleef2
#else
#error "TRAPFT_SLEEF_LANES must be 2, 4 or 8"
#endif

namespace trapft {

void LANES_FILL(const double* times, const double* values, std::int32_t count, double omega,
                double* cosines, double* sines) {
    constexpr std::int32_t lanes = TRAPFT_SLEEF_LANES;
    const LANES_VECTOR omegas = LANES_SET1(omega);
    std::int32_t first = 0;
    for (; first + lanes <= count; first += lanes) {
        // Lane by lane the same rounded products as the scalar code.
        const auto result = LANES_SINCOS(LANES_MUL(omegas, LANES_LOAD(times + first)));
        const LANES_VECTOR x = LANES_LOAD(values + first);
        LANES_STORE(cosines + first, LANES_MUL(x, result.y));  // y: cosine, x: sine
        LANES_STORE(sines + first, LANES_MUL(x, result.x));
    }
    if (first == count) return;
    // The last, partial block, padded with zero phases and values.
    alignas(64) double block[4][lanes] = {};
    const std::int32_t used = count - first;
    for (std::int32_t k = 0; k < used; ++k) {
        block[0][k] = times[first + k];
        block[1][k] = values[first + k];
    }
    const auto result = LANES_SINCOS(LANES_MUL(omegas, LANES_LOAD(block[0])));
    const LANES_VECTOR x = LANES_LOAD(block[1]);
    LANES_STORE(block[2], LANES_MUL(x, result.y));
    LANES_STORE(block[3], LANES_MUL(x, result.x));
    for (std::int32_t k = 0; k < used; ++k) {
        cosines[first + k] = block[2][k];
        sines[first + k] = block[3][k];
    }
}

}  // namespace trapft
