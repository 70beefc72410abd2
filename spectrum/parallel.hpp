// The core's threads: how many a jobs count asks for, and one fan-out of tasks over threads.
#pragma once

#include <algorithm>
#include <atomic>
#include <exception>
#include <thread>
#include <vector>

namespace trapft {

// The threads a jobs count asks for: 0 is one per online processor; more
// than four per processor would only wait their turn, so none past that.
// Always 1 to max_jobs.
int resolve_jobs(int jobs);

// Runs task(i) for i < tasks on up to `threads` threads, this one among them;
// which thread runs which task does not change what each task computes, and
// a thread that cannot be started leaves its tasks to the others.
template <typename F>
void in_parallel(int tasks, int threads, F&& task) {
    threads = std::clamp(threads, 1, std::max(tasks, 1));
    if (threads == 1) {
        for (int i = 0; i < tasks; ++i) task(i);
        return;
    }
    std::atomic<int> next{0};
    auto work = [&] {
        for (int i = next++; i < tasks; i = next++) task(i);
    };
    std::vector<std::thread> helpers;
    try {
        helpers.reserve(static_cast<std::size_t>(threads - 1));
        for (int h = 1; h < threads; ++h) helpers.emplace_back(work);
    } catch (const std::exception&) {
        // Fewer threads: the same results.
    }
    work();
    for (std::thread& helper : helpers) helper.join();
}

}  // namespace trapft
