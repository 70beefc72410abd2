// One group of eight rows' exact trapezoids over one table, in vectors of TRAPFT_ROWS_WIDTH doubles; included once per instruction set.
// The includer defines TRAPFT_ROWS_TARGET (an attribute), TRAPFT_ROWS_WIDTH
// (2, 4 or 8) and TRAPFT_ROWS_FUNCTION (the name). Every lane takes its row's
// operations in the one-row order, each rounded once: the same bits on
// every set.
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace trapft::rows_lanes {

[[TRAPFT_ROWS_TARGET]] void TRAPFT_ROWS_FUNCTION(const double* t, const double* x, std::int32_t first,
                                                 std::int32_t size, const double* cosines, const double* sines,
                                                 double* state) {
    typedef double vec __attribute__((vector_size(TRAPFT_ROWS_WIDTH * 8)));
    constexpr int width = TRAPFT_ROWS_WIDTH;
    constexpr int parts = 8 / width;
    // state: the cosine sums, sine sums, last cosines and last sines, 8 each.
    vec cosine_sum[parts], sine_sum[parts], last_cosine[parts], last_sine[parts];
    for (int p = 0; p < parts; ++p) {
        std::memcpy(&cosine_sum[p], state + p * width, sizeof(vec));
        std::memcpy(&sine_sum[p], state + 8 + p * width, sizeof(vec));
        std::memcpy(&last_cosine[p], state + 16 + p * width, sizeof(vec));
        std::memcpy(&last_sine[p], state + 24 + p * width, sizeof(vec));
    }
    std::int32_t k = 0;
    if (first == 0) {  // the first sample only starts the first trapezoid
        for (int p = 0; p < parts; ++p) {
            vec value;
            std::memcpy(&value, x + p * width, sizeof(vec));
            last_cosine[p] = value * cosines[0];
            last_sine[p] = value * sines[0];
        }
        k = 1;
    }
    for (; k < size; ++k) {
        const double* const xk = x + static_cast<std::size_t>(first + k) * 8;
        const double delta = t[first + k] - t[first + k - 1];
        for (int p = 0; p < parts; ++p) {
            vec value;
            std::memcpy(&value, xk + p * width, sizeof(vec));
            const vec c = value * cosines[k];
            const vec s = value * sines[k];
            sine_sum[p] = sine_sum[p] + ((last_sine[p] + s) * delta) * 0.5;
            cosine_sum[p] = cosine_sum[p] + ((last_cosine[p] + c) * delta) * 0.5;
            last_cosine[p] = c;
            last_sine[p] = s;
        }
    }
    for (int p = 0; p < parts; ++p) {
        std::memcpy(state + p * width, &cosine_sum[p], sizeof(vec));
        std::memcpy(state + 8 + p * width, &sine_sum[p], sizeof(vec));
        std::memcpy(state + 16 + p * width, &last_cosine[p], sizeof(vec));
        std::memcpy(state + 24 + p * width, &last_sine[p], sizeof(vec));
    }
}

}  // namespace trapft::rows_lanes
