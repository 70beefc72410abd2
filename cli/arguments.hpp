// The tool's command line, parsed into what one run needs.
#pragma once

#include <cstddef>
#include <cstdint>

namespace trapft {

// The form of the result lines on standard output.
enum class output_format { text, csv, npy };

struct run_parameters {
    const char* path;
    const char* frequency_path; // --frequencies: the list's file; null: the grid of START END COUNT
    double start_frequency;
    double end_frequency;
    std::int32_t count;
    int jobs;                   // 0: one per online processor
    std::int32_t part;          // print slice `part` of `parts`
    std::int32_t parts;
    std::int32_t max_samples;   // the sample capacity
    double tolerance;           // 0: the exact evaluation
    bool double_precision;      // numbers rounded to double, not through float
    bool progress;              // a status line where it can be seen
    output_format format;
    const char* const* ignored; // the arguments after COUNT, which change nothing
    int ignored_count;
    bool ignored_option;        // one of them is an option of the tool, likely misplaced
    const char* bad_option;     // the option at fault, when one is
};

// What the command line asks for; each refusal names the argument at fault.
enum class argument_status {
    run,                  // `parameters` holds a run
    help,                 // --help or -h alone
    version,              // --version alone
    usage,                // fewer than four arguments after the options
    invalid_start,        // the start frequency does not begin with a number
    invalid_end,          // the end frequency does not begin with a number
    invalid_count,        // the count is not an int32 integer
    list_and_grid,        // --frequencies, and arguments after SAMPLE_FILE
    both_from_input,      // --frequencies=- with SAMPLE_FILE -
    unknown_option,       // bad_option is not an option
    missing_value,        // bad_option needs a value and has none, or an empty one
    unexpected_value,     // bad_option takes no value and has one
    invalid_jobs,         // not an integer from 0 to 1024
    invalid_part,         // not K/P with 1 ≤ K ≤ P
    invalid_max_samples,  // not an integer from 1 to 2147483647
    invalid_tolerance,    // not a decimal number from 1e-14 to 0.1
    invalid_format,       // not text, csv or npy
};

// Options come before SAMPLE_FILE only, and "--" ends them; from SAMPLE_FILE
// on, four positional arguments in order: path, start, end, count; later ones
// change nothing and are listed in `ignored`. With --frequencies, SAMPLE_FILE
// alone. `parameters` is complete only
// when the result is run; the path, `ignored` and bad_option point into argv.
// Reads nothing at or past argv[argc].
argument_status parse_arguments(int argc, const char* const* argv, run_parameters& parameters);

// The bytes of `option` that name it as written, without its value: "--jobs"
// of "--jobs=x", "-j" of "-jx", and a short option's whole UTF-8 character.
std::size_t option_name_size(const char* option);

}  // namespace trapft
