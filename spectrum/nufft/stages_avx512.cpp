// The AVX-512 table of stages: vectors of eight doubles.
#if defined(__x86_64__)
#define TRAPFT_STAGE_TARGET gnu::target("avx512f,avx2,fma")
#define TRAPFT_STAGE_VECTOR vector8
#define TRAPFT_STAGE_TABLE avx512_stages
#include "spectrum/nufft/stage_table.hpp"
#endif
