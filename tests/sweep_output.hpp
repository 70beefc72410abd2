// A sweep's output as bytes, through the tool's own sinks over an in-memory file.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "trapft/npy_sink.hpp"
#include "trapft/text_sink.hpp"
#include "trapft/sweep.hpp"

namespace sweep_output {

enum class format { text, csv, csv_without_header, npy };

struct swept {
    trapft::sweep_status status = trapft::sweep_status::ok;
    std::string bytes;
};

// The bytes of run_sweep over the grid, or over `list` where given.
inline swept sweep(trapft::sample_view samples, double start, double end, std::int32_t count,
                   const trapft::sweep_options& options = {}, format how = format::text,
                   const std::vector<double>* list = nullptr) {
    swept result;
    const int fd = memfd_create("sweep", 0);
    if (fd < 0) return {trapft::sweep_status::write_failed, "memfd_create failed"};
    trapft::text_sink text;
    trapft::csv_sink csv(how == format::csv);
    trapft::npy_sink npy;
    trapft::file_sink* const sink = how == format::npy    ? static_cast<trapft::file_sink*>(&npy)
                                    : how == format::text ? static_cast<trapft::file_sink*>(&text)
                                                          : &csv;
    sink->open(fd);
    result.status = list != nullptr ? trapft::run_sweep(samples, *list, options, *sink)
                                    : trapft::run_sweep(samples, start, end, count, options, *sink);
    const off_t size = lseek(fd, 0, SEEK_END);
    result.bytes.resize(static_cast<std::size_t>(size));
    if (size > 0 && pread(fd, result.bytes.data(), result.bytes.size(), 0) != size) result.bytes = "pread failed";
    close(fd);
    return result;
}

}  // namespace sweep_output
