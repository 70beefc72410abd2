// Bytes to a file descriptor, buffered, so that a failed write leaves whole lines only; the sinks that write there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "trapft/sink.hpp"

namespace trapft {

// Writes to an open descriptor through a buffer reserved at open. Output is
// made of units: lines ending in '\n', or, after a header, records of a fixed
// size. When a write fails and the descriptor is a regular file that the run
// was writing at its end, the file is cut back to the end of the last whole
// unit written (never before where the run started); pipes and terminals keep
// what they got.
class file_output {
public:
    // Takes `fd` (not owned) as it is now; false when the buffer cannot be had.
    bool open(int fd);

    // After open, for record output: `header` bytes, then records of `record` bytes.
    void use_records(std::size_t header, std::size_t record);

    // Appends bytes; false once a write has failed.
    bool put(const char* data, std::size_t size);

    // Writes what is buffered; false once a write has failed.
    bool flush();

private:
    bool write_out(const char* data, std::size_t size);
    void note_written(const char* data, std::size_t size);
    void cut_back();

    int fd_ = -1;
    bool failed_ = false;
    bool regular_ = false;      // a regular file written at its end: may be cut back
    bool flush_each_put_ = false;  // a terminal: lines show as they come
    std::int64_t start_ = 0;    // offset where the run started
    std::int64_t written_ = 0;  // bytes the file took from this run
    std::int64_t whole_ = 0;    // of them, up to the end of the last whole unit
    std::size_t header_ = 0;    // record output: header bytes, then records
    std::size_t record_ = 0;    // 0: units are lines
    std::vector<char> buffer_;
    std::size_t used_ = 0;
};

// A sink that writes the bytes its format gives to a file descriptor, in
// order, through a file_output.
class file_sink : public spectrum_sink {
public:
    // Takes `fd` (not owned); false when the output buffer cannot be had.
    bool open(int fd) { return out_.open(fd); }

    bool write(const char* bytes, std::size_t size, std::int32_t) override { return out_.put(bytes, size); }
    bool end() override { return out_.flush(); }

protected:
    file_output out_;
};

}  // namespace trapft
