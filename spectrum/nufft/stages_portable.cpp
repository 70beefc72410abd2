// The portable table of stages: vectors of two doubles, which every 64-bit target has (SSE2, NEON).
#define TRAPFT_STAGE_TARGET
#define TRAPFT_STAGE_VECTOR vector2
#define TRAPFT_STAGE_TABLE portable_stages
#include "spectrum/nufft/stage_table.hpp"
