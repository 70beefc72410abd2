// The ranges of the core's arguments, for every front end's checks and messages.
#pragma once

#include <cstdint>

namespace trapft {

// The fast evaluation's tolerance; 0 asks for the exact evaluation.
inline constexpr double min_tolerance = 1e-14;
inline constexpr double max_tolerance = 0.1;
// Threads; 0 is one per online processor.
inline constexpr int max_jobs = 1024;
// Frequencies of a grid, parts of a sweep and samples of a file, each from 1
// (counts from 0) to the largest int32.
inline constexpr std::int32_t max_count = INT32_MAX;

}  // namespace trapft
