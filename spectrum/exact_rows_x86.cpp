// The exact rows' lanes for AVX2 and AVX-512: wider vectors, the same operations.
#if defined(__x86_64__)
#define TRAPFT_ROWS_TARGET gnu::target("avx2")
#define TRAPFT_ROWS_WIDTH 4
#define TRAPFT_ROWS_FUNCTION sum_group_avx2
#include "spectrum/exact_rows_lanes.hpp"
#undef TRAPFT_ROWS_TARGET
#undef TRAPFT_ROWS_WIDTH
#undef TRAPFT_ROWS_FUNCTION
#define TRAPFT_ROWS_TARGET gnu::target("avx512f")
#define TRAPFT_ROWS_WIDTH 8
#define TRAPFT_ROWS_FUNCTION sum_group_avx512
#include "spectrum/exact_rows_lanes.hpp"
#endif
