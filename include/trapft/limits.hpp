// The ranges of the core's arguments, for every front end's checks and messages.
#pragma once

#include <cstdint>

namespace trapft {

// Each range's message when a value falls outside it: the same words in the
// tool, the library and the Python module (which adds the value and range).
inline constexpr const char* tolerance_message = "Invalid tolerance.";
inline constexpr const char* jobs_message = "Invalid number of jobs.";
inline constexpr const char* part_message = "Invalid part: give K/P with 1 <= K <= P.";
inline constexpr const char* count_message = "Invalid frequency count.";
inline constexpr const char* capacity_message = "Invalid maximum number of samples.";

// The fast evaluation's tolerance; 0 asks for the exact evaluation.
inline constexpr double min_tolerance = 1e-14;
inline constexpr double max_tolerance = 0.1;
// Threads; 0 is one per online processor.
inline constexpr int max_jobs = 1024;
// Frequencies of a grid, parts of a sweep and samples of a file, each from 1
// (counts from 0) to the largest int32.
inline constexpr std::int32_t max_count = INT32_MAX;

}  // namespace trapft
