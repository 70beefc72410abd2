// The core's threads: how many a jobs count asks for, and a team of threads that stays to run fan-outs of tasks.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace trapft {

// The threads a jobs count asks for: 0 is one per online processor; more
// than four per processor would only wait their turn, so none past that.
// Always 1 to max_jobs.
int resolve_jobs(int jobs);

// The calling thread and up to threads − 1 helpers, started once and kept for
// the team's life, that run fan-outs of tasks together: the one place the
// core's stages start threads. A helper the system refuses leaves its share
// to the others; which thread runs which task never changes what a task
// computes.
class thread_team {
public:
    explicit thread_team(int threads = 1);
    ~thread_team();
    thread_team(const thread_team&) = delete;
    thread_team& operator=(const thread_team&) = delete;

    // The threads that run a fan-out: the caller and the helpers started.
    int threads() const { return static_cast<int>(helpers_.size()) + 1; }

    // Runs task(i) for every i < tasks, on up to `most` of the team's threads,
    // the caller among them, and returns when all have ended. Not to be
    // entered from two threads at once, nor from a task.
    void run(int tasks, int most, const std::function<void(int)>& task);

    // Runs task(i) for every i < tasks on the helpers alone while the caller
    // runs `beside`, then returns when all have ended; tasks beyond the
    // helpers are left to the caller after `beside`. (The sweep's writer
    // stays on the calling thread this way, its workers on the helpers.)
    void run_beside(int tasks, const std::function<void(int)>& task, const std::function<void()>& beside);

private:
    void run_beside(int tasks, const std::function<void(int)>& task, const std::function<void()>* beside, int helpers);
    void serve();
    void take_tasks(std::unique_lock<std::mutex>& lock);

    std::vector<std::thread> helpers_;
    std::mutex mutex_;
    std::condition_variable start_, done_;
    const std::function<void(int)>* task_ = nullptr;
    std::uint64_t round_ = 0;   // fan-outs begun
    int tasks_ = 0;
    int next_ = 0;              // the next task to take
    int joining_ = 0;           // helpers that may join this round
    int running_ = 0;           // helpers within the round
    bool stopping_ = false;
};

// Runs task(i) for every i < tasks on `team` (up to `most` threads), or on
// the caller alone where there is no team.
inline void run_tasks(thread_team* team, int tasks, int most, const std::function<void(int)>& task) {
    if (team != nullptr && most > 1 && tasks > 1) return team->run(tasks, most, task);
    for (int i = 0; i < tasks; ++i) task(i);
}

}  // namespace trapft
