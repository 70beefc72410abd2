#include "input/byte_reader.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "input/float_scanner.hpp"
#include "input/plain_decimal.hpp"

namespace trapft {
namespace {

bool keep_going(byte_reader& reader, bool interrupted) {
    if (reader.keep_going == nullptr || (*reader.keep_going)(interrupted)) return true;
    reader.failed = reader.stopped = true;
    return false;
}

// A read that a signal interrupts is retried (the caller's handler has run
// by then), keeping what was read before it.
std::size_t read_stream_block(byte_reader& reader) {
    bool interrupted = false;
    for (;;) {
        if (!keep_going(reader, interrupted)) return 0;
        errno = 0;
        const std::size_t got = std::fread(reader.buffer, 1, reader.capacity, reader.stream);
        interrupted = std::ferror(reader.stream) != 0 && errno == EINTR;
        if (interrupted) std::clearerr(reader.stream);
        reader.offset += static_cast<std::int64_t>(got);
        if (got != 0) return got;
        if (!interrupted) {
            reader.failed = std::ferror(reader.stream) != 0;
            return 0;
        }
    }
}

std::size_t read_block(byte_reader& reader) {
    if (reader.stream != nullptr) return read_stream_block(reader);
    const std::int64_t left = reader.end - reader.offset;
    if (left <= 0) return 0;
    const std::size_t wanted =
        static_cast<std::size_t>(std::min<std::int64_t>(left, static_cast<std::int64_t>(reader.capacity)));
    ssize_t got;
    do got = pread(reader.descriptor, reader.buffer, wanted, reader.offset);
    while (got < 0 && errno == EINTR);
    // A file cut short while it is read fails as a read error would.
    if (got <= 0) {
        reader.failed = true;
        return 0;
    }
    reader.offset += got;
    return static_cast<std::size_t>(got);
}

}  // namespace

bool peek(byte_reader& reader, char& c) {
    if (reader.position == reader.size) {
        if (reader.failed) return false;
        reader.size = read_block(reader);
        reader.position = 0;
        if (reader.size == 0) return false;
    }
    c = reader.buffer[reader.position];
    return true;
}

bool skip_space(byte_reader& reader, std::int64_t limit) {
    char c;
    if (!peek(reader, c)) return false;
    if (!is_space(c)) return reader.after_item || reader_offset(reader) < limit;
    reader.after_item = false;
    do {  // refills the buffer when it is used up
        const std::int64_t room = limit - reader_offset(reader);
        if (room <= 0) return false;
        const char* p = reader.buffer + reader.position;
        const char* const end =
            p + std::min<std::int64_t>(room, static_cast<std::int64_t>(reader.size - reader.position));
        std::int64_t line = reader.line;
        for (; p < end && is_space(*p); ++p) line += *p == '\n';
        reader.line = line;
        reader.position = static_cast<std::size_t>(p - reader.buffer);
        if (p < end) return true;
    } while (peek(reader, c));
    return false;
}

std::size_t read_plain_numbers(byte_reader& reader, bool double_precision, std::int64_t limit, double* numbers,
                               std::size_t most, std::int64_t& last_line) {
    const char* p = reader.buffer + reader.position;
    const char* const end = reader.buffer + reader.size;
    const std::int64_t room = limit - reader_offset(reader);
    const char* const stop = room < end - p ? p + std::max<std::int64_t>(room, 0) : end;
    std::int64_t line = reader.line;
    bool after_item = reader.after_item;
    std::size_t count = 0;
    while (count < most) {
        const char* const start = p;
        for (; p < stop && is_space(*p); ++p) line += *p == '\n';
        after_item = after_item && p == start;
        if (p == stop) break;
        const std::size_t used = read_plain_decimal(p, end, double_precision, numbers[count]);
        if (used == 0) break;
        last_line = line;
        ++count;
        p += used;
        after_item = true;
    }
    reader.position = static_cast<std::size_t>(p - reader.buffer);
    reader.line = line;
    reader.after_item = after_item;
    return count;
}

bool read_number(byte_reader& reader, bool double_precision, double& value) {
    // Most numbers are plain decimals that end inside the buffer.
    const std::size_t plain = read_plain_decimal(reader.buffer + reader.position,
                                                 reader.buffer + reader.size, double_precision, value);
    if (plain != 0) {
        reader.position += plain;
        reader.after_item = true;
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
    reader.after_item = true;
    if (!float_scanner_complete(scanner)) return false;
    value = float_scanner_value(scanner);
    return true;
}

}  // namespace trapft
