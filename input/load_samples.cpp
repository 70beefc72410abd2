// Reads sample files, and single numbers and counts, as scanf's "%f" and "%d" do.
#include "input/float_scanner.hpp"
#include "input/plain_decimal.hpp"
#include "input/sample_set.hpp"

#include <algorithm>
#include <new>

namespace trapft {
namespace {

// White space as the C locale's isspace has it.
bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Buffered bytes of a stream; the stream is read in blocks and never pushed back.
struct byte_reader {
    std::FILE* stream = nullptr;
    std::size_t position = 0;
    std::size_t size = 0;
    bool failed = false;
    std::int64_t line = 1;
    char buffer[1 << 14];
};

// Next byte without taking it; false at the end of input or after a read error.
bool peek(byte_reader& reader, char& c) {
    if (reader.position == reader.size) {
        if (reader.failed) return false;
        reader.size = std::fread(reader.buffer, 1, sizeof reader.buffer, reader.stream);
        reader.position = 0;
        if (reader.size == 0) {
            reader.failed = std::ferror(reader.stream) != 0;
            return false;
        }
    }
    c = reader.buffer[reader.position];
    return true;
}

// Skips white space; false when the input ends first.
bool skip_space(byte_reader& reader) {
    char c;
    while (peek(reader, c)) {  // refills the buffer when it is used up
        const char* p = reader.buffer + reader.position;
        const char* const end = reader.buffer + reader.size;
        std::int64_t line = reader.line;
        for (; p < end && is_space(*p); ++p) line += *p == '\n';
        reader.line = line;
        reader.position = static_cast<std::size_t>(p - reader.buffer);
        if (p < end) return true;
    }
    return false;
}

// Reads one "%f" item at the current position into `value`.
bool read_number(byte_reader& reader, bool double_precision, double& value) {
    // Most numbers are plain decimals that end inside the buffer.
    const std::size_t plain = read_plain_decimal(reader.buffer + reader.position,
                                                 reader.buffer + reader.size, double_precision, value);
    if (plain != 0) {
        reader.position += plain;
        return true;
    }
    float_scanner scanner;
    scanner.double_precision = double_precision;
    char c;
    while (peek(reader, c)) {  // refills the buffer when it is used up
        const std::size_t available = reader.size - reader.position;
        const std::size_t taken = float_scanner_take(scanner, reader.buffer + reader.position, available);
        reader.position += taken;  // an item holds no line feed
        if (taken < available) break;
    }
    if (!float_scanner_complete(scanner)) return false;
    value = float_scanner_value(scanner);
    return true;
}

// Makes room for one more pair in both tables, or leaves them as they are.
// They grow geometrically, up to the capacity: memory follows the pairs read.
bool make_room(sample_set& samples, std::int32_t capacity) {
    const std::size_t size = samples.times.size();
    if (size < samples.times.capacity() && size < samples.values.capacity()) return true;
    const std::size_t wanted = std::min(std::max(2 * size, std::size_t{1024}),
                                        static_cast<std::size_t>(capacity));
    try {
        samples.times.reserve(wanted);
        samples.values.reserve(wanted);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

}  // namespace

load_result load_samples(std::FILE* stream, sample_set& samples, const read_options& options) {
    byte_reader reader;
    reader.stream = stream;
    samples.times.clear();
    samples.values.clear();

    auto fail = [&](load_status status, std::int64_t line) {
        return reader.failed ? load_result{load_status::read_error, 0} : load_result{status, line};
    };

    const bool double_precision = options.double_precision;
    std::int32_t count = 0;
    while (skip_space(reader)) {
        const std::int64_t time_line = reader.line;
        double time = 0.0;
        if (!read_number(reader, double_precision, time)) return fail(load_status::not_a_number, time_line);
        if (count >= options.capacity) return fail(load_status::too_many_samples, time_line);
        if (!skip_space(reader)) return fail(load_status::time_without_value, time_line);
        const std::int64_t value_line = reader.line;
        double value = 0.0;
        if (!read_number(reader, double_precision, value)) return fail(load_status::not_a_number, value_line);
        // Both tables have room before either takes the pair, so a failure
        // to grow leaves them equal and holding the pairs before it.
        if (!make_room(samples, options.capacity)) return fail(load_status::out_of_memory, 0);
        samples.times.push_back(time);
        samples.values.push_back(value);
        ++count;
    }
    if (reader.failed) return {load_status::read_error, 0};
    if (count == 0) {
        // A file without numbers still makes one (empty) read attempt: one
        // sample, which bounds no interval and so changes no result.
        if (!make_room(samples, 1)) return {load_status::out_of_memory, 0};
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
