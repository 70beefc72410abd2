// Bytes to a file descriptor, buffered, so that a failed write leaves whole lines only.
#include "trapft/file_sink.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

namespace trapft {
namespace {

// Sixteen times the usual stdio buffer: a long sweep makes few writes.
constexpr std::size_t buffer_size = std::size_t{1} << 16;

}  // namespace

bool file_output::open(int fd) {
    fd_ = fd;
    try {
        buffer_.resize(buffer_size);
    } catch (const std::bad_alloc&) {
        return false;
    }
    struct stat status {};
    if (fstat(fd, &status) == 0) {
        flush_each_put_ = isatty(fd) != 0;
        // Appending (>>), writes go to the end whatever the offset says.
        const int flags = fcntl(fd, F_GETFL);
        const off_t offset = flags >= 0 && (flags & O_APPEND) != 0 ? status.st_size : lseek(fd, 0, SEEK_CUR);
        // Only a file written at its end is cut back: cutting one written in
        // the middle (1<>file) would lose what lies after the run.
        regular_ = S_ISREG(status.st_mode) && offset >= 0 && offset == status.st_size;
        start_ = offset < 0 ? 0 : offset;
    }
    return true;
}

void file_output::use_records(std::size_t header, std::size_t record) {
    header_ = header;
    record_ = record;
}

bool file_output::put(const char* data, std::size_t size) {
    if (failed_) return false;
    if (used_ + size > buffer_.size()) {
        if (!flush()) return false;
        if (size >= buffer_.size()) return write_out(data, size);
    }
    std::memcpy(buffer_.data() + used_, data, size);
    used_ += size;
    return !flush_each_put_ || flush();
}

bool file_output::flush() {
    if (failed_) return false;
    const std::size_t size = used_;
    used_ = 0;
    return write_out(buffer_.data(), size);
}

bool file_output::write_out(const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd_, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            failed_ = true;
            cut_back();
            return false;
        }
        note_written(data, static_cast<std::size_t>(n));
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void file_output::note_written(const char* data, std::size_t size) {
    written_ += static_cast<std::int64_t>(size);
    if (record_ == 0) {
        const void* last = memrchr(data, '\n', size);
        if (last != nullptr) whole_ = written_ - static_cast<std::int64_t>(data + size - static_cast<const char*>(last)) + 1;
        return;
    }
    const auto header = static_cast<std::int64_t>(header_);
    const auto record = static_cast<std::int64_t>(record_);
    if (written_ >= header) whole_ = header + (written_ - header) / record * record;
}

void file_output::cut_back() {
    if (regular_ && whole_ < written_) {
        // Nothing more to do if this fails too: the output stays a prefix.
        (void)::ftruncate(fd_, static_cast<off_t>(start_ + whole_));
    }
}

}  // namespace trapft
