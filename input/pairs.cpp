#include "input/pairs.hpp"

#include <algorithm>
#include <new>

namespace trapft {

void reserve_pairs(sample_set& samples, std::int64_t bytes, std::int64_t most) {
    const std::int64_t pairs = std::min<std::int64_t>(bytes / 4 + 1, std::max<std::int64_t>(most, 0));
    try {
        samples.times.reserve(static_cast<std::size_t>(pairs));
        samples.values.reserve(static_cast<std::size_t>(pairs));
    } catch (const std::bad_alloc&) {
    }
}

void append_pairs(sample_set& samples, pending_time& pending, const double* numbers, std::size_t n, std::size_t most) {
    if (n == 0) return;
    std::vector<double>& times = samples.times;
    std::vector<double>& values = samples.values;
    const std::size_t skip = pending.waiting ? 1 : 0;
    const std::size_t pairs = (n + skip) / 2;
    const std::size_t size = times.size();
    const std::size_t wanted = size + pairs;
    // Both tables have room before either takes a pair, so a failure to grow
    // leaves them equal.
    for (std::vector<double>* table : {&times, &values})
        if (table->capacity() < wanted)
            table->reserve(std::max(wanted, std::min(std::max(2 * table->capacity(), std::size_t{1024}), most)));
    // Within the room reserved: the tables take the pairs whole rather than
    // one push at a time, in a loop that vectorizes.
    times.resize(wanted);
    values.resize(wanted);
    double* t = times.data() + size;
    double* v = values.data() + size;
    if (pending.waiting) {
        *t++ = pending.time;
        *v++ = numbers[0];
    }
    const double* const rest = numbers + skip;
    for (std::size_t i = 0; i < pairs - skip; ++i) {
        t[i] = rest[2 * i];
        v[i] = rest[2 * i + 1];
    }
    pending.waiting = (n + skip) % 2 != 0;
    if (pending.waiting) pending.time = numbers[n - 1];
}

}  // namespace trapft
