// The status line of a long sweep on standard error: lines done, rate, time left.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>

namespace trapft {

struct progress_line {
    std::FILE* terminal = nullptr;  // null: no status line
    std::int64_t total = 0;
    std::chrono::steady_clock::time_point started;
    std::chrono::steady_clock::time_point drawn;
    bool shown = false;
};

// Starts counting `total` lines; draws on `terminal` unless it is null.
void progress_start(progress_line& progress, std::int64_t total, std::FILE* terminal);

// Notes that `done` lines are out. Draws only once the run has taken about a
// second, and then at most four times a second.
void progress_update(progress_line& progress, std::int64_t done);

// Erases the status line, if one was drawn.
void progress_end(progress_line& progress);

}  // namespace trapft
