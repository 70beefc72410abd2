// Text and CSV output: the result lines, blank or comma separated.
#pragma once

#include "trapft/file_sink.hpp"

namespace trapft {

// "%.15g %.15g %.15g %.15g\n" lines to a file descriptor (the documented output).
class text_sink : public file_sink {
public:
    // `separator` between the numbers; `header`, if not null, a first line.
    explicit text_sink(char separator = ' ', const char* header = nullptr) : separator_(separator), header_(header) {}

    std::size_t line_bytes() const override;
    bool begin(std::int64_t lines) override;
    std::size_t format(const spectrum_lines& lines, char* out) override;

private:
    char separator_;
    const char* header_;
};

// The same numbers separated by commas, under the header line
// "frequency,real,imaginary,magnitude" when `header` is set (the first part
// only, so that the parts joined are the whole file).
class csv_sink final : public text_sink {
public:
    explicit csv_sink(bool header) : text_sink(',', header ? "frequency,real,imaginary,magnitude\n" : nullptr) {}
};

}  // namespace trapft
