// Numbers taken into samples two by two, a time then its value, for both readers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "trapft/reader.hpp"

namespace trapft {

// A time read whose value has not come yet.
struct pending_time {
    bool waiting = false;
    double time = 0.0;
};

// Reserves room in both tables for as many pairs as `bytes` of text could
// hold (a pair takes at least four bytes, "1 2" and a separator), at most
// `most`: address space only, as the pages are touched by the pairs read,
// which saves copying the tables as they grow. Where that much cannot be
// had, the tables are left to grow.
void reserve_pairs(sample_set& samples, std::int64_t bytes, std::int64_t most);

// Appends `n` numbers to the samples: the time waiting in `pending` (if any)
// with the first, then each number with the one after it; a last number
// without its value waits in `pending`. Tables that must grow grow together,
// geometrically but to no more than `most` pairs unless the numbers need
// more. Throws std::bad_alloc, the tables then holding the pairs before.
void append_pairs(sample_set& samples, pending_time& pending, const double* numbers, std::size_t n, std::size_t most);

}  // namespace trapft
