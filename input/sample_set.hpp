// The loaded signal and the reading of sample files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace trapft {

// Capacity of every per-sample table.
inline constexpr std::int32_t max_samples = 16384;

// Samples in file order. Every number went through single precision and was
// widened exactly to double. Large (256 KiB): keep one per run, not on the stack.
struct sample_set {
    std::int32_t count = 0;
    double times[max_samples];
    double values[max_samples];
};

enum class load_status {
    ok,
    not_a_number,        // text that does not read as a number, at `line`
    time_without_value,  // odd count of numbers; `line` holds the lone time
    too_many_samples,    // a pair beyond max_samples
    read_error,          // the stream reported an error
};

struct load_result {
    load_status status = load_status::ok;
    std::int64_t line = 0;  // 1-based line of the offending text, where it has one
};

// Reads white-space separated (time, value) pairs from the stream's current
// position to its end into `samples`, each number read as "%f" reads it. A file
// without numbers gives one sample (0, 0). On failure `samples` holds no more
// than max_samples entries and its count is unspecified. Leaves the stream open.
load_result load_samples(std::FILE* stream, sample_set& samples);

// Reads one number as "%f" does from `text` (of `size` bytes): skips leading
// white space, takes the longest prefix that can begin a floating-point number,
// and converts it to the nearest float, widened to double. Returns false when
// that prefix is not a whole number. `used` receives the bytes consumed.
bool parse_float_prefix(const char* text, std::size_t size, double& value, std::size_t& used);

// Reads a count as "%d" does: white space, optional sign, decimal digits; text
// after the digits is ignored. Returns false without digits or outside int32.
bool parse_count(const char* text, std::int32_t& count);

}  // namespace trapft
