// Reading sample files, and single numbers and counts, as the tool reads them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "trapft/samples.hpp"

namespace trapft {

// The default sample capacity; read_options::capacity changes it.
inline constexpr std::int32_t max_samples = 16384;

// How a sample file is read.
struct read_options {
    std::int32_t capacity = max_samples;  // most pairs taken; one more is refused
    bool double_precision = false;        // round numbers to double, not through float
    int threads = 1;                      // most threads reading a regular file; 0: one per online processor
    // Asked on the calling thread before each block read from a stream, with
    // true after a read that a signal interrupted (which is then retried);
    // false stops the reading (status stopped). Empty: never stops.
    std::function<bool(bool interrupted)> keep_going = nullptr;
};

enum class load_status {
    ok,
    not_a_number,        // text that does not read as a number, at `line`
    time_without_value,  // odd count of numbers; `line` holds the lone time
    too_many_samples,    // a pair beyond the capacity
    read_error,          // the stream reported an error
    out_of_memory,       // the tables could not grow to hold the pairs read
    stopped,             // options.keep_going asked to stop
    no_numbers,          // a list of frequencies without any
};

struct load_result {
    load_status status = load_status::ok;
    std::int64_t line = 0;  // 1-based line of the offending text, where it has one
};

// Reads white-space separated (time, value) pairs from the stream's current
// position to its end into `samples`, each number read as "%f" reads it (or
// rounded to double). A file without numbers gives one sample (0, 0). On
// failure the tables hold no more than options.capacity entries each, and
// what they hold is unspecified. Leaves the stream open. A large regular file
// is read by up to options.threads threads, with the same result.
load_result load_samples(std::FILE* stream, sample_set& samples, const read_options& options = {});

// The one-line message of a load that failed with `result` (without line
// feed), `capacity` being the pairs the load took at most: "Error reading
// file: line 2: not a number.", "Error reading file." for a read error.
std::string load_message(const load_result& result, std::int32_t capacity);

// Reads white-space separated frequencies (one a line, as a rule) from the
// stream's current position to its end into `frequencies`, each number read
// as load_samples reads one (through float unless options.double_precision).
// A list without numbers is refused (no_numbers); too_many_samples past
// 2^31 − 1 numbers. A regular file is read by up to options.threads threads,
// with the same result; options.capacity is not used.
load_result load_frequencies(std::FILE* stream, std::vector<double>& frequencies, const read_options& options = {});

// The one-line message of a frequency list that failed to load, naming the
// file as `name` (without line feed): "Error reading frequency file f.txt:
// line 3: not a number."
std::string frequency_load_message(const load_result& result, const std::string& name);

// Reads one number as "%f" does from `text` (of `size` bytes): skips leading
// white space, takes the longest prefix that can begin a floating-point number,
// and converts it to the nearest float, widened to double (or to the nearest
// double). Returns false when that prefix is not a whole number. `used`
// receives the bytes consumed.
bool parse_float_prefix(const char* text, std::size_t size, double& value, std::size_t& used,
                        bool double_precision = false);

// Reads a count as "%d" does: white space, optional sign, decimal digits; text
// after the digits is ignored. Returns false without digits or outside int32.
bool parse_count(const char* text, std::int32_t& count);

}  // namespace trapft
