// The core's threads: how many a jobs count asks for.
#include "spectrum/parallel.hpp"

#include <unistd.h>

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

}  // namespace trapft
