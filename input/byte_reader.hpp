// Buffered bytes of a stream or of a range of a file, read a number at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>

#include "trapft/reader.hpp"

namespace trapft {

// Reads from `stream` when set, else from `descriptor` at `offset` with pread,
// up to `end`. The buffer is the caller's; the bytes are never pushed back.
struct byte_reader {
    std::FILE* stream = nullptr;
    int descriptor = -1;
    std::int64_t offset = 0;  // file offset of buffer[size] (bytes read, from a stream)
    std::int64_t end = 0;
    char* buffer = nullptr;
    std::size_t capacity = 0;
    std::size_t position = 0;
    std::size_t size = 0;
    bool failed = false;      // a read error, or the file ended before `end`, or stopped
    bool stopped = false;     // `keep_going` asked to stop
    // From a stream: asked before each refill, with true after a read that a
    // signal interrupted (which is then retried); false stops the reading.
    // May be null.
    const std::function<bool(bool interrupted)>* keep_going = nullptr;
    bool after_item = false;  // the last byte taken ended an item
    std::int64_t line = 1;    // line feeds passed, plus one
};

// A reader of `stream` through the caller's `buffer`, asking `keep_going` (may be empty).
inline byte_reader stream_reader(std::FILE* stream, char* buffer, std::size_t capacity,
                                 const std::function<bool(bool interrupted)>& keep_going) {
    byte_reader reader;
    reader.stream = stream;
    reader.buffer = buffer;
    reader.capacity = capacity;
    if (keep_going) reader.keep_going = &keep_going;
    return reader;
}

// What a load that met `status` at `line` reports: a stop asked for or a
// read error before it, whatever it met.
inline load_result load_failure(const byte_reader& reader, load_status status, std::int64_t line) {
    if (reader.stopped) return {load_status::stopped, 0};
    return reader.failed ? load_result{load_status::read_error, 0} : load_result{status, line};
}

// The file offset of the next byte.
inline std::int64_t reader_offset(const byte_reader& reader) {
    return reader.offset - static_cast<std::int64_t>(reader.size - reader.position);
}

// Next byte without taking it; false at the end of input or after a read error.
bool peek(byte_reader& reader, char& c);

// Skips white space, counting line feeds, up to the file offset `limit`:
// true at the next item, false at the end of input or when the next item
// begins at the limit or past it. Text right after an item is always taken
// as the next item, wherever the limit lies.
bool skip_space(byte_reader& reader, std::int64_t limit = INT64_MAX);

// Reads one "%f" item at the current position into `value`; false when the
// item is not a whole number.
bool read_number(byte_reader& reader, bool double_precision, double& value);

// Reads the buffered plain decimal numbers (see read_plain_decimal) and the
// white space between them into `numbers`, at most `most`, without refilling
// the buffer; stops before anything else and before an item that begins at
// the file offset `limit` or past it. Returns the count; `last_line` receives
// the line of the last one.
std::size_t read_plain_numbers(byte_reader& reader, bool double_precision, std::int64_t limit, double* numbers,
                               std::size_t most, std::int64_t& last_line);

// White space as the C locale's isspace has it.
inline bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace trapft
