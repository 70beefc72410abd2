// Reads sample files, and single numbers and counts, as scanf's "%f" and "%d" do.
#include "input/byte_reader.hpp"
#include "input/float_scanner.hpp"
#include "input/pairs.hpp"
#include "input/parallel_read.hpp"
#include "trapft/reader.hpp"
#include "spectrum/parallel.hpp"

#include <unistd.h>

#include <algorithm>
#include <iterator>
#include <new>

namespace trapft {

load_result load_samples(std::FILE* stream, sample_set& samples, const read_options& options) {
    samples.times.clear();
    samples.values.clear();
    // A regular file large enough is read in parallel, in pieces.
    std::int64_t begin = 0, end = 0;
    const int pieces = file_pieces(stream, options.threads, begin, end);
    if (pieces > 1) {
        const load_result result = load_file_samples(fileno(stream), begin, end, pieces, samples, options);
        std::fseek(stream, 0, SEEK_END);  // read to its end, as a stream would be
        return result;
    }
    if (pieces > 0) reserve_pairs(samples, end - begin, options.capacity);

    char buffer[1 << 14];
    byte_reader reader = stream_reader(stream, buffer, sizeof buffer, options.keep_going);
    auto fail = [&](load_status status, std::int64_t line) { return load_failure(reader, status, line); };

    const bool double_precision = options.double_precision;
    // Numbers the tables take: the time of the pair past the capacity is
    // read on its own, to report it.
    const std::int64_t allowed = 2 * static_cast<std::int64_t>(std::max(options.capacity, 0));
    const auto most = static_cast<std::size_t>(std::max(options.capacity, 0));
    std::int64_t numbers = 0;
    std::int64_t last_line = 0;  // of the last number read
    pending_time pending;
    double batch[256];
    for (;;) {
        const std::size_t wanted = static_cast<std::size_t>(std::min<std::int64_t>(std::size(batch), allowed - numbers));
        std::size_t read = read_plain_numbers(reader, double_precision, INT64_MAX, batch, wanted, last_line);
        if (read == 0) {
            // Anything else, a number across the buffer's end too, one at a time.
            if (!skip_space(reader)) break;
            const std::int64_t line = reader.line;
            if (!read_number(reader, double_precision, batch[0])) return fail(load_status::not_a_number, line);
            if (numbers % 2 == 0 && numbers >= allowed) return fail(load_status::too_many_samples, line);
            last_line = line;
            read = 1;
        }
        // Memory follows the pairs read, up to the capacity.
        try {
            append_pairs(samples, pending, batch, read, most);
        } catch (const std::bad_alloc&) {
            return fail(load_status::out_of_memory, 0);
        }
        numbers += static_cast<std::int64_t>(read);
    }
    if (reader.failed) return fail(load_status::read_error, 0);
    if (numbers % 2 != 0) return {load_status::time_without_value, last_line};
    if (numbers == 0) {
        // A file without numbers still makes one (empty) read attempt: one
        // sample, which bounds no interval and so changes no result.
        try {
            samples.times.reserve(1);
            samples.values.reserve(1);
        } catch (const std::bad_alloc&) {
            return {load_status::out_of_memory, 0};
        }
        samples.times.push_back(0.0);
        samples.values.push_back(0.0);
    }
    return {};
}

bool parse_float_prefix(const char* text, std::size_t size, double& value, std::size_t& used,
                        bool double_precision) {
    std::size_t i = 0;
    while (i < size && is_space(text[i])) ++i;
    float_scanner scanner;
    scanner.double_precision = double_precision;
    used = i + float_scanner_take(scanner, text + i, size - i);
    if (!float_scanner_complete(scanner)) return false;
    value = float_scanner_value(scanner);
    return true;
}

bool parse_count(const char* text, std::int32_t& count) {
    while (is_space(*text)) ++text;
    const bool negative = *text == '-';
    if (*text == '+' || *text == '-') ++text;
    if (*text < '0' || *text > '9') return false;
    // Magnitude up to 2^31, enough for the lowest int32 and one past the highest.
    std::int64_t magnitude = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        magnitude = magnitude * 10 + (*text - '0');
        if (magnitude > (std::int64_t{1} << 31)) return false;
    }
    const std::int64_t signed_value = negative ? -magnitude : magnitude;
    if (signed_value > INT32_MAX) return false;
    count = static_cast<std::int32_t>(signed_value);
    return true;
}

}  // namespace trapft
