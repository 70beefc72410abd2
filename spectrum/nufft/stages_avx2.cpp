// The AVX2 table of stages: vectors of four doubles, fused multiply-adds.
#if defined(__x86_64__)
#define TRAPFT_STAGE_TARGET gnu::target("avx2,fma")
#define TRAPFT_STAGE_VECTOR vector4
#define TRAPFT_STAGE_TABLE avx2_stages
#include "spectrum/nufft/stage_table.hpp"
#endif
