// The C interface: translates C arguments to the core's calls and its statuses back, catching everything.
#include "trapft.h"

#include <cstdio>
#include <new>
#include <string>

#include "trapft/array_sink.hpp"
#include "trapft/limits.hpp"
#include "trapft/reader.hpp"
#include "trapft/sweep.hpp"
#include "trapft/version.hpp"

struct trapft_samples {
    trapft::sample_set set;
};

namespace {

thread_local std::string last_message;

constexpr const char* null_message = "A required pointer is null.";
constexpr const char* arrays_message = "The arrays hold fewer lines than the sweep gives.";
constexpr const char* memory_message = "Out of memory.";

// Records `message` as this thread's last one and returns `status`.
trapft_status fail(trapft_status status, const char* message) {
    try {
        last_message = message;
    } catch (...) {
        last_message.clear();  // a message too long to copy: none rather than a stale one
    }
    return status;
}

trapft_status from_sweep(trapft::sweep_status status) {
    using trapft::sweep_status;
    switch (status) {
    case sweep_status::ok: return TRAPFT_OK;
    case sweep_status::invalid_samples:  // not reached: views are built here, unweighted, on a grid
    case sweep_status::invalid_weights:
    case sweep_status::invalid_frequencies: return TRAPFT_NULL_ARGUMENT;
    case sweep_status::invalid_jobs: return TRAPFT_INVALID_JOBS;
    case sweep_status::invalid_part: return TRAPFT_INVALID_PART;
    case sweep_status::invalid_tolerance: return TRAPFT_INVALID_TOLERANCE;
    case sweep_status::fast_unavailable: return TRAPFT_FAST_UNAVAILABLE;
    case sweep_status::invalid_instruction_set: return TRAPFT_INVALID_INSTRUCTION_SET;
    case sweep_status::write_failed: return TRAPFT_ARRAYS_TOO_SHORT;  // the array sink refuses only that
    case sweep_status::out_of_memory: return TRAPFT_OUT_OF_MEMORY;
    case sweep_status::threads_failed: return TRAPFT_THREADS_FAILED;
    case sweep_status::stopped: return TRAPFT_THREADS_FAILED;  // no progress callback here: not reached
    }
    return TRAPFT_THREADS_FAILED;
}

trapft_status fail_sweep(trapft::sweep_status status) {
    return fail(from_sweep(status), status == trapft::sweep_status::write_failed ? arrays_message
                                                                                 : trapft::sweep_message(status));
}

// The core's options from the C ones (null: the defaults).
trapft::sweep_options core_options(const trapft_options* options) {
    trapft::sweep_options out;
    if (options == nullptr) return out;
    out.tolerance = options->tolerance;
    out.jobs = options->jobs;
    out.part = options->part;
    out.parts = options->parts;
    return out;
}

bool count_fits(std::int64_t count) { return count <= trapft::max_count; }

}  // namespace

extern "C" {

const char* trapft_version(void) { return TRAPFT_VERSION_STRING; }

trapft_read_options trapft_default_read_options(void) {
    const trapft::read_options defaults;
    return {defaults.capacity, defaults.double_precision ? 1 : 0, defaults.threads};
}

trapft_options trapft_default_options(void) {
    const trapft::sweep_options defaults;
    return {defaults.tolerance, defaults.jobs, defaults.part, defaults.parts};
}

const char* trapft_last_message(void) { return last_message.c_str(); }

trapft_status trapft_load(const char* path, const trapft_read_options* options, trapft_samples** samples) {
    if (samples == nullptr) return fail(TRAPFT_NULL_ARGUMENT, null_message);
    *samples = nullptr;
    if (path == nullptr) return fail(TRAPFT_NULL_ARGUMENT, null_message);
    const trapft_read_options given = options != nullptr ? *options : trapft_default_read_options();
    if (given.capacity < 1 || given.capacity > trapft::max_count)
        return fail(TRAPFT_INVALID_CAPACITY, trapft::capacity_message);
    if (given.jobs < 0 || given.jobs > trapft::max_jobs) return fail(TRAPFT_INVALID_JOBS, trapft::jobs_message);
    trapft::read_options reading;
    reading.capacity = static_cast<std::int32_t>(given.capacity);
    reading.double_precision = given.double_precision != 0;
    reading.threads = given.jobs;

    auto* owned = new (std::nothrow) trapft_samples;
    if (owned == nullptr) return fail(TRAPFT_OUT_OF_MEMORY, memory_message);
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        delete owned;
        return fail(TRAPFT_OPEN_FAILED, "Error opening file.");
    }
    trapft::load_result loaded;
    try {
        loaded = trapft::load_samples(file, owned->set, reading);
    } catch (...) {
        loaded.status = trapft::load_status::out_of_memory;
    }
    std::fclose(file);
    if (loaded.status != trapft::load_status::ok) {
        delete owned;
        try {
            last_message = trapft::load_message(loaded, reading.capacity);
        } catch (...) {
            last_message.clear();
        }
        return loaded.status == trapft::load_status::out_of_memory ? TRAPFT_OUT_OF_MEMORY : TRAPFT_READ_FAILED;
    }
    *samples = owned;
    return TRAPFT_OK;
}

size_t trapft_sample_count(const trapft_samples* samples) {
    return samples != nullptr ? samples->set.times.size() : 0;
}

const double* trapft_sample_times(const trapft_samples* samples) {
    return samples != nullptr ? samples->set.times.data() : nullptr;
}

const double* trapft_sample_values(const trapft_samples* samples) {
    return samples != nullptr ? samples->set.values.data() : nullptr;
}

void trapft_free_samples(trapft_samples* samples) { delete samples; }

trapft_status trapft_sweep_lines(int64_t count, const trapft_options* options, int64_t* lines) {
    if (lines == nullptr) return fail(TRAPFT_NULL_ARGUMENT, null_message);
    *lines = 0;
    if (!count_fits(count)) return fail(TRAPFT_INVALID_COUNT, trapft::count_message);
    const trapft::sweep_options core = core_options(options);
    const trapft::sweep_status checked = trapft::check_sweep_options(core);
    if (checked != trapft::sweep_status::ok) return fail_sweep(checked);
    *lines = trapft::sweep_lines(static_cast<std::int32_t>(count), core);
    return TRAPFT_OK;
}

trapft_status trapft_sweep(const double* times, const double* values, size_t n, double start, double end,
                           int64_t count, const trapft_options* options, const trapft_arrays* arrays,
                           int64_t* lines) {
    if (lines != nullptr) *lines = 0;
    if (arrays == nullptr || (n > 0 && (times == nullptr || values == nullptr)))
        return fail(TRAPFT_NULL_ARGUMENT, null_message);
    std::int64_t wanted = 0;
    const trapft_status sized = trapft_sweep_lines(count, options, &wanted);
    if (sized != TRAPFT_OK) return sized;
    if (static_cast<std::uint64_t>(wanted) > arrays->capacity) return fail(TRAPFT_ARRAYS_TOO_SHORT, arrays_message);

    const trapft::sweep_options core = core_options(options);
    const trapft::spectrum_arrays out{arrays->frequency, arrays->real, arrays->imaginary, arrays->magnitude, 1, wanted};
    trapft::array_sink sink(out);
    const trapft::sample_view samples({times, n}, {values, n});
    trapft::sweep_status status;
    try {
        status = trapft::run_sweep(samples, start, end, static_cast<std::int32_t>(count), core, sink);
    } catch (const std::bad_alloc&) {
        status = trapft::sweep_status::out_of_memory;
    } catch (...) {
        status = trapft::sweep_status::threads_failed;
    }
    if (status != trapft::sweep_status::ok) return fail_sweep(status);
    if (lines != nullptr) *lines = wanted;
    return TRAPFT_OK;
}

}  // extern "C"
