// The sweep as a library call: the lines of a grid or of a list of frequencies evaluated on threads and handed, in order, to a sink.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "trapft/samples.hpp"
#include "trapft/sink.hpp"

namespace trapft {

// Called on the calling thread after each piece of output with the lines done
// so far and the lines of the run; returning false stops the sweep (status
// stopped) at the next piece.
using progress_callback = std::function<bool(std::int64_t done, std::int64_t total)>;

// How a sweep is run; the defaults give every line, exactly, on one thread.
struct sweep_options {
    int jobs = 1;             // threads: 1 to 1024, or 0 for every online processor
    std::int32_t part = 1;    // only slice `part` (1-based) of `parts` equal slices
    std::int32_t parts = 1;
    double tolerance = 0.0;   // 0: exact; 1e-14 to 0.1: the fast evaluation, within tolerance × A
    progress_callback progress;  // empty: none
};

enum class sweep_status {
    ok,
    invalid_samples,    // times and values differ in length
    invalid_jobs,       // jobs outside 0 to 1024
    invalid_part,       // not 1 ≤ part ≤ parts
    invalid_tolerance,  // neither 0 nor within 1e-14 to 0.1
    fast_unavailable,   // a tolerance, in a build without the fast evaluation
    invalid_instruction_set,  // a tolerance, and TRAPFT_ISA names no set this processor runs
    write_failed,       // the sink refused bytes; what it took is a prefix of the output
    out_of_memory,      // before the first line
    threads_failed,     // before the first line
    stopped,            // the progress callback asked to stop
    invalid_weights,    // weights given, but not one per sample
    invalid_frequencies,  // a list of more than 2^31 − 1 frequencies
};

// The tool's one-line message for a status other than ok, without line feed
// ("Invalid tolerance.").
const char* sweep_message(sweep_status status);

// Checks the options alone, as run_sweep does first: ok or the invalid_* or
// fast_unavailable status that run_sweep would give.
sweep_status check_sweep_options(const sweep_options& options);

// Whether this build has the fast evaluation (a tolerance other than 0).
bool fast_evaluation_available();

// The listed frequencies of the slice that run_sweep gives a list, into `out`.
sweep_status sweep_frequencies(std::span<const double> frequencies, const sweep_options& options, double* out);

// Lines of the run that run_sweep gives these arguments (0 when they are invalid).
std::int64_t sweep_lines(std::int32_t count, const sweep_options& options);

// The frequencies of the lines that run_sweep gives these arguments
// (sweep_lines of them) into `out`, bit for bit the sweep's; the progress
// callback is asked now and then, and can stop it. The options are checked
// as run_sweep checks them; jobs and tolerance change nothing.
sweep_status sweep_frequencies(double start, double end, std::int32_t count, const sweep_options& options,
                               double* out);

// Evaluates the lines of `count` frequencies from `start`, stepping by
// (end − start) ÷ (count − 1) as a running sum (none when count ≤ 0), and
// hands the lines of the chosen slice to `sink` in grid order. Whatever the
// jobs and parts, the lines are those of the one-thread run; the fast
// evaluation's are within its tolerance of the exact ones. Arguments are
// checked before anything is reserved; memory is reserved before the first
// line and does not grow with the count. Samples with weights of their own
// are summed as Σ w_k x_k e^(−i2πf t_k), the fast evaluation's A being
// Σ |w_k x_k|.
sweep_status run_sweep(sample_view samples, double start, double end, std::int32_t count,
                       const sweep_options& options, spectrum_sink& sink);

// Each row of `samples` swept into its own sink, sinks[r]: every row's lines
// are bit for bit those of run_sweep on that row alone, with the same
// options. The fast evaluation spreads the rows together, sharing what
// depends on the times; when some row holds a number that is not finite, the
// rows are swept one after another instead (the progress callback then
// counts each row's lines afresh). invalid_samples when the values are not
// rows × times long or the sinks not one per row.
sweep_status run_sweep(sample_rows samples, double start, double end, std::int32_t count,
                       const sweep_options& options, std::span<spectrum_sink* const> sinks);

// The same at the caller's `frequencies`, in their order (any order, repeats,
// any sign; a part is a slice of the list). The exact evaluation of a listed
// frequency is bit for bit a grid line's at that frequency; the fast
// evaluation sorts the list a block at a time, so its lines depend on the
// list alone, not on the jobs or parts. Memory grows with the list.
sweep_status run_sweep(sample_view samples, std::span<const double> frequencies, const sweep_options& options,
                       spectrum_sink& sink);
sweep_status run_sweep(sample_rows samples, std::span<const double> frequencies, const sweep_options& options,
                       std::span<spectrum_sink* const> sinks);

}  // namespace trapft
