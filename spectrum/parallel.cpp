// The core's threads: how many a jobs count asks for, and a team of threads that stays to run fan-outs of tasks.
#include "spectrum/parallel.hpp"

#include <unistd.h>

#include <algorithm>
#include <system_error>

#include "trapft/limits.hpp"

namespace trapft {
namespace {

constexpr int threads_per_processor = 4;

int online_processors() {
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online < 1 ? 1 : online > max_jobs ? max_jobs : static_cast<int>(online);
}

}  // namespace

int resolve_jobs(int jobs) {
    const int processors = online_processors();
    if (jobs <= 0) return processors;
    return std::min({jobs, threads_per_processor * processors, max_jobs});
}

thread_team::thread_team(int threads) {
    try {
        helpers_.reserve(static_cast<std::size_t>(std::max(threads - 1, 0)));
        for (int h = 1; h < threads; ++h) helpers_.emplace_back([this] { serve(); });
    } catch (const std::exception&) {
        // Fewer helpers: the same results.
    }
}

thread_team::~thread_team() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    start_.notify_all();
    for (std::thread& helper : helpers_) helper.join();
}

// Takes tasks until none is left; the lock is held on entry and exit.
void thread_team::take_tasks(std::unique_lock<std::mutex>& lock) {
    while (next_ < tasks_) {
        const int i = next_++;
        lock.unlock();
        (*task_)(i);
        lock.lock();
    }
}

void thread_team::serve() {
    std::unique_lock<std::mutex> lock(mutex_);
    std::uint64_t seen = 0;
    for (;;) {
        start_.wait(lock, [&] { return stopping_ || (round_ != seen && joining_ > 0); });
        if (stopping_) return;
        seen = round_;
        --joining_;
        ++running_;
        take_tasks(lock);
        if (--running_ == 0) done_.notify_all();
    }
}

void thread_team::run(int tasks, int most, const std::function<void(int)>& task) {
    run_beside(tasks, task, nullptr, std::min(most, tasks) - 1);
}

void thread_team::run_beside(int tasks, const std::function<void(int)>& task, const std::function<void()>& beside) {
    run_beside(tasks, task, &beside, tasks);
}

void thread_team::run_beside(int tasks, const std::function<void(int)>& task, const std::function<void()>* beside,
                             int helpers) {
    std::unique_lock<std::mutex> lock(mutex_);
    task_ = &task;
    tasks_ = tasks;
    next_ = 0;
    joining_ = std::clamp(helpers, 0, static_cast<int>(helpers_.size()));
    ++round_;
    if (joining_ > 0) start_.notify_all();
    if (beside != nullptr) {
        lock.unlock();
        (*beside)();
        lock.lock();
    }
    take_tasks(lock);
    joining_ = 0;  // helpers that have not joined by now are not needed
    done_.wait(lock, [&] { return running_ == 0; });
    task_ = nullptr;
}

}  // namespace trapft
