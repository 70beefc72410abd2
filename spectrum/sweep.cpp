// The sweep: the grid's lines cut into blocks and pieces, evaluated on threads, handed to the sink in order.
#include "trapft/sweep.hpp"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <span>
#include <vector>

#include "spectrum/nufft/nufft.hpp"
#include "spectrum/grid.hpp"
#include "spectrum/instruction_set.hpp"
#include "trapft/limits.hpp"
#include "spectrum/magnitude.hpp"
#include "spectrum/exact_rows.hpp"
#include "spectrum/frequency_list.hpp"
#include "spectrum/non_finite.hpp"
#include "spectrum/pages.hpp"
#include "spectrum/parallel.hpp"
#include "spectrum/spectrum.hpp"

namespace trapft {
namespace {

// Lines that a piece holds at most: the unit handed to the sink.
constexpr std::int32_t piece_lines = 1024;

// A block of grid lines that one thread evaluates, cut into pieces for the
// sink. The fast evaluation's blocks lie at multiples of its block length on
// the whole grid, whatever the slice, so that every slice prints its lines as
// the whole sweep does; a block that straddles the slice's edge evaluates all
// its lines and hands on those inside. The exact evaluation's blocks are one
// piece each, cut from the slice's own lines.
struct block {
    std::int32_t lines = 0;      // lines evaluated
    std::int32_t skip = 0;       // leading lines before the slice, not handed on
    std::int32_t printed = 0;    // lines handed on, from `skip` on
    std::int64_t first_piece = 0;
    std::int64_t first_printed = 0;  // its first line handed on, counted from the slice's first
};

// Everything the threads read and never write. Each row of the samples has
// its own sink; a piece is the same lines of every row.
struct sweep_plan {
    sample_rows samples;
    frequency_grid grid;               // its count is the list's, with a list
    const double* list = nullptr;      // the caller's frequencies; null: the grid's running sum
    line_range slice;
    std::int32_t block_lines = 1;      // most lines per block
    const nufft_plan* fast = nullptr;   // null: the exact evaluation
    // The exact evaluation of samples that are not finite, from their runs
    // alone (a tolerance was asked for); null: over every sample.
    const non_finite_runs* non_finite = nullptr;
    // The exact evaluation of several rows, sharing each line's phases; null:
    // row by row.
    const exact_rows* rows_exact = nullptr;
    int block_threads = 1;             // fast evaluation: threads that share a block
    std::span<spectrum_sink* const> sinks;  // one per row
    std::size_t piece_bytes = 0;       // most bytes a sink makes of a piece
};

// Hands out the blocks of the slice in grid order.
struct block_source {
    std::int64_t line = 0;  // the grid's next line and its frequency
    double frequency = 0.0;
    std::int64_t next_piece = 0;
};

block_source start_blocks(const sweep_plan& plan) {
    block_source source;
    source.line = plan.fast == nullptr ? plan.slice.first : plan.slice.first / plan.block_lines * plan.block_lines;
    if (plan.list == nullptr) source.frequency = grid_frequency(plan.grid, source.line);
    return source;
}

// The next block of the slice, and its lines' frequencies: the list's own,
// or the grid's made in `room` (block_lines); false when the slice is done.
bool next_block(const sweep_plan& plan, block_source& source, block& b, double* room, const double*& frequencies) {
    const std::int64_t first = source.line;
    if (first >= plan.slice.end) return false;
    const std::int64_t end = plan.fast == nullptr ? plan.slice.end : plan.grid.count;
    b = {};
    b.lines = static_cast<std::int32_t>(std::min<std::int64_t>(plan.block_lines, end - first));
    if (plan.list != nullptr) {
        frequencies = plan.list + first;
    } else {
        for (std::int32_t j = 0; j < b.lines; ++j) {
            room[j] = source.frequency;
            source.frequency = source.frequency + plan.grid.step;
        }
        frequencies = room;
    }
    source.line += b.lines;
    const std::int64_t printed_first = std::max(first, plan.slice.first);
    const std::int64_t printed_end = std::min(first + b.lines, plan.slice.end);
    b.skip = static_cast<std::int32_t>(printed_first - first);
    b.printed = static_cast<std::int32_t>(printed_end - printed_first);
    b.first_printed = printed_first - plan.slice.first;
    b.first_piece = source.next_piece;
    source.next_piece += (b.printed + piece_lines - 1) / piece_lines;
    return true;
}

// A block handed out and not yet wholly formatted, with the fast
// evaluation's frequencies and sums of its lines.
struct block_slot {
    bool in_use = false;
    bool evaluated = false;        // its sums are in place (always, in the exact evaluation)
    block b;
    std::int64_t pieces_end = 0;   // one past its last piece
    std::int64_t next_piece = 0;   // the next piece to hand out for formatting
    std::int64_t unfinished = 0;   // pieces not yet formatted
    std::vector<double> frequency; // the grid's lines: reserved once, block_lines
    const double* frequencies = nullptr;  // the block's: the list's own, or `frequency`
    // The fast evaluation's sums: block_lines for each row, written before
    // they are read, so never cleared.
    page_array<double> real;
    page_array<double> imaginary;
    list_work list;  // the fast evaluation of a list: its sorting
};

// The fast evaluation's sums of a whole block, into its slot.
void evaluate_nufft_block(const sweep_plan& plan, block_slot& slot, nufft_work& work) {
    const auto stride = static_cast<std::size_t>(plan.block_lines);
    if (plan.list != nullptr)
        return evaluate_list(*plan.fast, slot.frequencies, slot.b.lines, slot.list, work, slot.real.get(),
                             slot.imaginary.get(), plan.block_threads, stride);
    nufft_evaluate(*plan.fast, slot.frequencies, slot.b.lines, work, slot.real.get(), slot.imaginary.get(),
               plan.block_threads, stride);
}

// Takes the next block of the slice into `slot`; false when the slice is done.
bool take_block(const sweep_plan& plan, block_source& source, block_slot& slot) {
    if (!next_block(plan, source, slot.b, slot.frequency.data(), slot.frequencies)) return false;
    slot.in_use = true;
    slot.evaluated = plan.fast == nullptr;
    slot.next_piece = slot.b.first_piece;
    slot.pieces_end = source.next_piece;
    slot.unfinished = slot.pieces_end - slot.next_piece;
    return true;
}

// One thread's storage, all reserved before the first line.
struct worker_state {
    spectrum_work work;
    nufft_work_owner nufft;  // the fast evaluation only
    // Several rows evaluated exactly together: their tables, and each row's
    // sums of a piece's lines (rows × piece lines).
    std::unique_ptr<exact_rows_work> rows_work;
    std::vector<spectrum_sums> piece_sums;  // [r × lines + j]
    double real[piece_lines];
    double imaginary[piece_lines];
    double magnitude[piece_lines];
};

// A worker that evaluates fast blocks holds the engine's storage; one that
// only formats does not.
std::unique_ptr<worker_state> make_worker(const sweep_plan& plan, bool evaluates) {
    auto worker = std::make_unique<worker_state>();
    if (plan.rows_exact != nullptr) {
        const auto rows = static_cast<std::size_t>(plan.samples.rows);
        worker->rows_work = std::make_unique<exact_rows_work>(*plan.rows_exact);
        worker->piece_sums.resize(rows * static_cast<std::size_t>(std::min(piece_lines, plan.block_lines)));
    }
    if (plan.fast != nullptr && evaluates) {
        worker->nufft = make_nufft_work(*plan.fast, plan.block_threads);
        if (worker->nufft == nullptr) return nullptr;
    }
    return worker;
}

// A piece's bytes, as the sinks made them, waiting for their turn.
struct piece_slot {
    std::vector<char> bytes;         // reserved once: piece_bytes for each row
    std::vector<std::size_t> sizes;  // per row
    std::int32_t lines = 0;
    bool ready = false;
};

// Every row's sums of a piece's lines, exactly, sharing each line's phases,
// into worker.piece_sums.
void evaluate_piece_rows(const sweep_plan& plan, const double* frequencies, std::int32_t lines, worker_state& worker) {
    for (std::int32_t j = 0; j < lines; ++j)
        evaluate_rows(*plan.rows_exact, frequencies[j], *worker.rows_work, worker.piece_sums.data() + j,
                      static_cast<std::size_t>(lines));
}

// A line into the worker's tables at `j`.
void put_line(worker_state& worker, std::int32_t j, const spectrum_point& point) {
    worker.real[j] = point.real;
    worker.imaginary[j] = point.imaginary;
    worker.magnitude[j] = point.magnitude;
}

// Row r's `lines` lines from line `first` of the block in `from` into the
// worker's tables: the way of evaluating them chosen once, not per line.
void evaluate_row(const sweep_plan& plan, const block_slot& from, std::int32_t first, std::int32_t lines,
                  std::int32_t r, worker_state& worker) {
    const double* const frequencies = from.frequencies + first;
    if (plan.rows_exact != nullptr) {
        const spectrum_sums* const sums = worker.piece_sums.data() + static_cast<std::size_t>(r) * static_cast<std::size_t>(lines);
        for (std::int32_t j = 0; j < lines; ++j) put_line(worker, j, spectrum_line(frequencies[j], sums[j]));
        return;
    }
    const sample_view samples = plan.samples.row(r);
    if (plan.non_finite != nullptr) {  // exact, from the runs around what is not finite
        for (std::int32_t j = 0; j < lines; ++j)
            put_line(worker, j, evaluate_non_finite(samples, *plan.non_finite, frequencies[j], worker.work));
        return;
    }
    if (plan.fast == nullptr) {
        for (std::int32_t j = 0; j < lines; ++j) put_line(worker, j, evaluate_spectrum(samples, frequencies[j], worker.work));
        return;
    }
    const std::size_t row = static_cast<std::size_t>(r) * static_cast<std::size_t>(plan.block_lines) +
                            static_cast<std::size_t>(first);
    for (std::int32_t j = 0; j < lines; ++j) {
        // A frequency that is not finite has no phases to reduce: such lines
        // are the exact evaluation's, whatever it makes of them.
        if (!std::isfinite(frequencies[j])) {
            put_line(worker, j, evaluate_spectrum(samples, frequencies[j], worker.work));
            continue;
        }
        const double real = from.real[row + static_cast<std::size_t>(j)];
        const double imaginary = from.imaginary[row + static_cast<std::size_t>(j)];
        put_line(worker, j, {frequencies[j], real, imaginary, spectrum_magnitude(real, imaginary)});
    }
}

// Evaluates the lines of piece `index` of the block in `from` (the exact
// evaluation here, the fast one from the block's sums) and has each row's
// sink format them into `to`.
void fill_piece(const sweep_plan& plan, const block_slot& from, std::int64_t index, worker_state& worker,
                piece_slot& to) {
    const block& b = from.b;
    const std::int64_t offset = (index - b.first_piece) * piece_lines;
    const auto lines = static_cast<std::int32_t>(std::min<std::int64_t>(piece_lines, b.printed - offset));
    const auto first = static_cast<std::int32_t>(b.skip + offset);
    const double* const frequencies = from.frequencies + first;
    if (plan.rows_exact != nullptr) evaluate_piece_rows(plan, frequencies, lines, worker);
    for (std::int32_t r = 0; r < plan.samples.rows; ++r) {
        evaluate_row(plan, from, first, lines, r, worker);
        spectrum_lines out;
        out.first = b.first_printed + offset;
        out.count = lines;
        out.frequency = frequencies;
        out.real = worker.real;
        out.imaginary = worker.imaginary;
        out.magnitude = worker.magnitude;
        to.sizes[static_cast<std::size_t>(r)] =
            plan.sinks[static_cast<std::size_t>(r)]->format(out, to.bytes.data() + static_cast<std::size_t>(r) * plan.piece_bytes);
    }
    to.lines = lines;
}

// Calls begin, or end, on every row's sink; false when one refuses.
bool begin_sinks(const sweep_plan& plan) {
    for (spectrum_sink* const sink : plan.sinks)
        if (!sink->begin(plan.slice.size())) return false;
    return true;
}
bool end_sinks(const sweep_plan& plan) {
    bool ended = true;
    for (spectrum_sink* const sink : plan.sinks) ended = sink->end() && ended;
    return ended;
}

// Everything a sweep holds, reserved before its first line.
struct sweep_state {
    const sweep_plan* plan = nullptr;
    const progress_callback* progress = nullptr;
    block_source source;
    std::vector<block_slot> blocks;
    std::vector<piece_slot> pieces;
    std::vector<std::unique_ptr<worker_state>> workers;
};

// Hands a piece to the sink and tells the progress callback; the status to
// stop with, or ok.
sweep_status deliver(const sweep_state& state, const piece_slot& piece, std::int64_t& done) {
    const sweep_plan& plan = *state.plan;
    for (std::size_t r = 0; r < plan.sinks.size(); ++r)
        if (!plan.sinks[r]->write(piece.bytes.data() + r * plan.piece_bytes, piece.sizes[r], piece.lines))
            return sweep_status::write_failed;
    done += piece.lines;
    if (*state.progress && !(*state.progress)(done, state.plan->slice.size())) return sweep_status::stopped;
    return sweep_status::ok;
}

// One thread: evaluate a block, format and hand on its pieces, next block.
sweep_status sweep_alone(sweep_state& state) {
    const sweep_plan& plan = *state.plan;
    block_slot& slot = state.blocks.front();
    worker_state& worker = *state.workers.front();
    piece_slot& piece = state.pieces.front();
    std::int64_t done = 0;
    if (!begin_sinks(plan)) return sweep_status::write_failed;
    while (take_block(plan, state.source, slot)) {
        if (plan.fast != nullptr) evaluate_nufft_block(plan, slot, *worker.nufft);
        for (std::int64_t index = slot.next_piece; index < slot.pieces_end; ++index) {
            fill_piece(plan, slot, index, worker, piece);
            const sweep_status status = deliver(state, piece, done);
            if (status != sweep_status::ok) return status;
        }
    }
    return sweep_status::ok;
}

// Several threads. Workers take blocks in grid order into a few block slots
// and, in the fast evaluation, sum them; any worker formats any summed
// block's next piece, piece i into piece slot i mod slots once the writer has
// handed on piece i − slots; the calling thread hands the pieces on in order.
// The lowest piece not yet handed on can always go on (its block is taken, or
// a block slot is free), so the bounded queues cannot stall. Each event wakes
// only as many threads as it lets go on.
struct shared_sweep {
    sweep_state* state = nullptr;
    bool source_done = false;
    std::int64_t written = 0;  // pieces handed on
    bool stopped = false;
    std::mutex mutex;
    std::condition_variable work;         // for workers
    std::condition_variable piece_ready;  // for the writer
};

// The block slot whose next piece is the lowest one that may be formatted now.
block_slot* formattable(shared_sweep& shared) {
    const auto window = static_cast<std::int64_t>(shared.state->pieces.size());
    block_slot* best = nullptr;
    for (block_slot& slot : shared.state->blocks) {
        if (!slot.in_use || !slot.evaluated || slot.next_piece == slot.pieces_end) continue;
        if (slot.next_piece >= shared.written + window) continue;
        if (best == nullptr || slot.next_piece < best->next_piece) best = &slot;
    }
    return best;
}

block_slot* free_block_slot(shared_sweep& shared) {
    for (block_slot& slot : shared.state->blocks)
        if (!slot.in_use) return &slot;
    return nullptr;
}

bool work_left(const shared_sweep& shared) {
    if (!shared.source_done) return true;
    for (const block_slot& slot : shared.state->blocks)
        if (slot.in_use && slot.next_piece < slot.pieces_end) return true;
    return false;
}

void sweep_worker(shared_sweep& shared, worker_state& worker) {
    const sweep_plan& plan = *shared.state->plan;
    std::vector<piece_slot>& pieces = shared.state->pieces;
    const auto window = static_cast<std::int64_t>(pieces.size());
    std::unique_lock<std::mutex> lock(shared.mutex);
    while (!shared.stopped && work_left(shared)) {
        if (block_slot* const from = formattable(shared)) {
            const std::int64_t index = from->next_piece++;
            piece_slot& to = pieces[static_cast<std::size_t>(index % window)];
            lock.unlock();
            fill_piece(plan, *from, index, worker, to);  // both slots are this thread's meanwhile
            lock.lock();
            to.ready = true;
            if (index == shared.written) shared.piece_ready.notify_one();
            if (--from->unfinished == 0) {
                from->in_use = false;
                shared.work.notify_one();  // one thread may take the next block
            }
            continue;
        }
        const bool can_take = plan.fast == nullptr || worker.nufft != nullptr;
        block_slot* const slot = shared.source_done || !can_take ? nullptr : free_block_slot(shared);
        if (slot != nullptr) {
            if (!take_block(plan, shared.state->source, *slot)) {
                shared.source_done = true;
                shared.work.notify_all();  // the idle ones may end
                continue;
            }
            if (plan.fast != nullptr) {
                lock.unlock();
                evaluate_nufft_block(plan, *slot, *worker.nufft);
                lock.lock();
                slot->evaluated = true;
                shared.work.notify_all();  // its pieces may all be formatted at once
            }
            continue;
        }
        shared.work.wait(lock);
    }
}

sweep_status write_in_order(shared_sweep& shared) {
    sweep_state& state = *shared.state;
    std::vector<piece_slot>& pieces = state.pieces;
    const std::int64_t lines = state.plan->slice.size();
    std::int64_t done = 0;
    while (done < lines) {
        piece_slot& piece = pieces[static_cast<std::size_t>(shared.written % static_cast<std::int64_t>(pieces.size()))];
        {
            std::unique_lock<std::mutex> lock(shared.mutex);
            shared.piece_ready.wait(lock, [&] { return piece.ready; });
        }
        const sweep_status status = deliver(state, piece, done);
        if (status != sweep_status::ok) return status;
        {
            std::lock_guard<std::mutex> lock(shared.mutex);
            piece.ready = false;
            ++shared.written;
        }
        shared.work.notify_one();  // one more piece may be formatted
    }
    return sweep_status::ok;
}

sweep_status sweep_together(sweep_state& state) {
    shared_sweep shared;
    shared.state = &state;
    const int workers = static_cast<int>(state.workers.size());
    thread_team team(workers + 1);
    // Every worker must run: the writer waits for their pieces.
    if (team.threads() != workers + 1) return sweep_status::threads_failed;
    sweep_status status = sweep_status::ok;
    // The sink begins once every thread runs, so that a failure to start them writes nothing.
    team.run_beside(
        workers, [&](int w) { sweep_worker(shared, *state.workers[static_cast<std::size_t>(w)]); },
        [&] {
            status = begin_sinks(*state.plan) ? write_in_order(shared) : sweep_status::write_failed;
            {
                std::lock_guard<std::mutex> lock(shared.mutex);
                shared.stopped = true;
            }
            shared.work.notify_all();
        });
    return status;
}

// Blocks a worker should see at least, so that uneven finishing costs little.
constexpr std::int64_t blocks_per_worker = 8;

// Lines per block of the exact evaluation: about 0.2 ms of work, so that
// handing out blocks costs nothing beside them, yet many blocks per thread;
// never under about 20 µs, where handing out would cost as much as the work.
std::int32_t exact_block_lines(std::size_t samples, std::int64_t slice_lines, int jobs) {
    const double line_ns = 15.0 * static_cast<double>(samples) + 250.0;
    auto lines = static_cast<std::int64_t>(200000.0 / line_ns);
    const auto least = static_cast<std::int64_t>(20000.0 / line_ns);
    if (jobs > 1) lines = std::max(least, std::min(lines, slice_lines / (blocks_per_worker * jobs)));
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(lines, 1, piece_lines));
}

// Most piece slots: threads past them would only wait.
constexpr std::int64_t max_piece_slots = 256;

sweep_status sweep_with(sweep_plan& plan, const sweep_options& options, int jobs) {
    const std::int64_t slice_lines = plan.slice.size();
    // The fast evaluation's blocks lie on the whole grid: a slice counts every
    // one it starts, ends or lies in.
    const std::int64_t blocks = plan.fast != nullptr ? (plan.slice.end - 1) / plan.block_lines -
                                                           plan.slice.first / plan.block_lines + 1
                                                     : (slice_lines + plan.block_lines - 1) / plan.block_lines;
    const std::int64_t pieces = plan.fast ? slice_lines / piece_lines + blocks : blocks;
    const int threads = static_cast<int>(std::min<std::int64_t>(jobs, pieces));
    // Fast blocks fewer than the threads: only as many evaluate as there are
    // blocks, each block's own work shared by the threads left over; the
    // others format.
    const int evaluators = static_cast<int>(std::min<std::int64_t>(threads, blocks));
    if (plan.fast != nullptr) plan.block_threads = std::max(1, jobs / evaluators);

    sweep_state state;
    state.plan = &plan;
    state.progress = &options.progress;
    state.source = start_blocks(plan);
    try {
        // Alone: one block and one piece at a time. Together: a block slot
        // more than threads, and two piece slots per thread and two more.
        state.blocks.resize(threads > 1 ? static_cast<std::size_t>(threads) + 1 : 1);
        state.pieces.resize(threads > 1 ? static_cast<std::size_t>(std::min<std::int64_t>(2 * threads + 2, max_piece_slots))
                                        : 1);
        const auto rows = static_cast<std::size_t>(plan.samples.rows);
        for (piece_slot& piece : state.pieces) {
            piece.bytes.resize(rows * plan.piece_bytes);
            piece.sizes.resize(rows);
        }
        for (block_slot& slot : state.blocks) {
            if (plan.list == nullptr) slot.frequency.resize(static_cast<std::size_t>(plan.block_lines));
            if (plan.fast != nullptr) {
                slot.real = make_page_array<double>(rows * static_cast<std::size_t>(plan.block_lines));
                slot.imaginary = make_page_array<double>(rows * static_cast<std::size_t>(plan.block_lines));
                if (plan.list != nullptr && !reserve_list_work(*plan.fast, slot.list, plan.block_lines, plan.block_threads))
                    return sweep_status::out_of_memory;
            }
        }
        for (int k = 0; k < threads; ++k) {
            state.workers.push_back(make_worker(plan, k < evaluators));
            if (state.workers.back() == nullptr) return sweep_status::out_of_memory;
        }
    } catch (const std::bad_alloc&) {
        return sweep_status::out_of_memory;
    }

    const sweep_status status = threads > 1 ? sweep_together(state) : sweep_alone(state);
    if (status != sweep_status::ok && status != sweep_status::stopped) return status;
    // Stopped on request: what was handed on still goes out, a prefix of the whole.
    if (!end_sinks(plan)) return sweep_status::write_failed;
    return status;
}

}  // namespace

const char* sweep_message(sweep_status status) {
    switch (status) {
    case sweep_status::ok: return "";
    case sweep_status::invalid_samples: return "Times and values differ in length.";
    case sweep_status::invalid_weights: return "Weights and times differ in length.";
    case sweep_status::invalid_frequencies: return "Too many frequencies: at most 2147483647.";
    case sweep_status::invalid_jobs: return jobs_message;
    case sweep_status::invalid_part: return part_message;
    case sweep_status::invalid_tolerance: return tolerance_message;
    case sweep_status::fast_unavailable: return "The fast evaluation is not built in: it needs FFTW3.";
    case sweep_status::invalid_instruction_set:
        return "Invalid TRAPFT_ISA: give portable, avx2 or avx512, one this processor runs.";
    case sweep_status::write_failed: return "Error writing output.";
    case sweep_status::out_of_memory: return "Not enough memory for the sweep.";
    case sweep_status::threads_failed: return "Could not start the threads.";
    case sweep_status::stopped: return "Stopped.";
    }
    return "Unknown status.";
}

sweep_status check_sweep_options(const sweep_options& options) {
    if (options.jobs < 0 || options.jobs > max_jobs) return sweep_status::invalid_jobs;
    if (options.parts < 1 || options.part < 1 || options.part > options.parts) return sweep_status::invalid_part;
    const double eps = options.tolerance;
    if (eps != 0.0 && !(eps >= min_tolerance && eps <= max_tolerance)) return sweep_status::invalid_tolerance;
    if (eps != 0.0 && !fast_evaluation_available()) return sweep_status::fast_unavailable;
    instruction_set set = instruction_set::portable;
    if (eps != 0.0 && !chosen_instruction_set(set)) return sweep_status::invalid_instruction_set;
    return sweep_status::ok;
}

sweep_status sweep_frequencies(double start, double end, std::int32_t count, const sweep_options& options,
                               double* out) {
    const sweep_status checked = check_sweep_options(options);
    if (checked != sweep_status::ok) return checked;
    const frequency_grid grid = make_grid(start, end, count);
    const line_range lines = grid_slice(grid.count, options.part, options.parts);
    // A million lines at a time, the running sum carried from one to the
    // next (the same bits as in one go), asking the callback between them.
    constexpr std::int64_t chunk = std::int64_t{1} << 20;
    double frequency = grid.start;  // of line `line`
    for (std::int64_t line = 0; line < lines.end;) {
        if (options.progress && !options.progress(std::max<std::int64_t>(line - lines.first, 0), lines.size()))
            return sweep_status::stopped;
        const frequency_grid from{frequency, grid.step, grid.count};
        const bool before = line < lines.first;  // walking to the slice
        const std::int64_t size = std::min(chunk, (before ? lines.first : lines.end) - line);
        if (before) {
            frequency = grid_frequency(from, size);
        } else {
            double* const at = out + (line - lines.first);
            grid_frequencies(from, {0, size}, at);
            frequency = at[size - 1] + grid.step;
        }
        line += size;
    }
    return sweep_status::ok;
}

sweep_status sweep_frequencies(std::span<const double> frequencies, const sweep_options& options, double* out) {
    const sweep_status checked = check_sweep_options(options);
    if (checked != sweep_status::ok) return checked;
    const line_range lines = grid_slice(static_cast<std::int64_t>(frequencies.size()), options.part, options.parts);
    std::copy(frequencies.begin() + lines.first, frequencies.begin() + lines.end, out);
    return sweep_status::ok;
}

std::int64_t sweep_lines(std::int32_t count, const sweep_options& options) {
    if (check_sweep_options(options) != sweep_status::ok) return 0;
    return grid_slice(std::max<std::int32_t>(count, 0), options.part, options.parts).size();
}

namespace {

// The lines of `grid`, or of `list` (grid.count of them) where given: run_sweep's work.
sweep_status sweep_samples(sample_rows samples, frequency_grid grid, const double* list, const sweep_options& options,
                           std::span<spectrum_sink* const> sinks) {
    const sweep_status checked = check_sweep_options(options);
    if (checked != sweep_status::ok) return checked;
    if (samples.weighted() && samples.weights.size() != samples.times.size()) return sweep_status::invalid_weights;
    if (!samples.consistent() || sinks.size() != static_cast<std::size_t>(samples.rows) ||
        samples.times.size() > INT32_MAX)
        return sweep_status::invalid_samples;
    if (samples.rows == 0) return sweep_status::ok;

    sweep_plan plan;
    plan.samples = samples;
    plan.grid = grid;
    plan.list = list;
    plan.slice = grid_slice(plan.grid.count, options.part, options.parts);
    plan.sinks = sinks;
    const int jobs = resolve_jobs(options.jobs);

    nufft_plan_owner fast;
    non_finite_runs non_finite;
    std::size_t exact_samples = samples.times.size() * static_cast<std::size_t>(samples.rows);
    if (options.tolerance > 0.0 && plan.slice.size() > 0) {
        const nufft_status prepared = prepare_nufft(samples, options.tolerance, plan.grid.count, fast, jobs);
        if (prepared == nufft_status::out_of_memory) return sweep_status::out_of_memory;
        if (prepared == nufft_status::instruction_set_unavailable) return sweep_status::invalid_instruction_set;
        if (prepared == nufft_status::not_applicable && samples.rows > 1) {
            // Some row is evaluated exactly: each row as it would be alone.
            for (std::int32_t r = 0; r < samples.rows; ++r) {
                spectrum_sink* const one[1] = {sinks[static_cast<std::size_t>(r)]};
                const sweep_status status = sweep_samples(samples.row(r), grid, list, options, one);
                if (status != sweep_status::ok) return status;
            }
            return sweep_status::ok;
        }
        // Lines that are not finite cost the samples near what makes them so
        // (the trapezoid's neighbours; the caller's weights have none).
        if (prepared == nufft_status::not_applicable && !samples.weighted()) {
            try {
                if (find_non_finite_runs(samples.row(0), non_finite)) {
                    plan.non_finite = &non_finite;
                    exact_samples = static_cast<std::size_t>(non_finite.samples);
                }
            } catch (const std::bad_alloc&) {
                return sweep_status::out_of_memory;
            }
        }
    }
    exact_rows rows_exact;
    if (fast != nullptr) {
        plan.fast = fast.get();
        plan.block_lines = nufft_block_lines(*fast);
        // A list that ascends near progressions is taken where it stands, a
        // grid's block (less the wide stencil's margins) at a time; any other
        // in large blocks, to be sorted or interpolated.
        const finite_range range = list != nullptr ? finite_extent(list, plan.grid.count) : finite_range{};
        if (range.any && needs_interpolation(*fast, list, plan.grid.count)) {
            plan.block_lines = list_block_lines(plan.grid.count, samples.rows, plan.block_lines);
            if (prepare_nufft_lists(*fast, samples, range.lowest, range.highest, jobs) != nufft_status::ok)
                return sweep_status::out_of_memory;
        } else if (list != nullptr) {
            plan.block_lines = nufft_progression_block_lines(*fast);
        }
    } else {
        if (samples.rows > 1 && plan.slice.size() > 0 && !samples.weighted()) {
            try {
                make_exact_rows(samples, rows_exact);
            } catch (const std::bad_alloc&) {
                return sweep_status::out_of_memory;
            }
            plan.rows_exact = &rows_exact;
        }
        plan.block_lines = exact_block_lines(exact_samples, plan.slice.size(), jobs);
    }
    std::size_t line_bytes = 0;
    for (spectrum_sink* const sink : sinks) line_bytes = std::max(line_bytes, sink->line_bytes());
    plan.piece_bytes = static_cast<std::size_t>(std::min(piece_lines, plan.block_lines)) * line_bytes;
    if (plan.slice.size() == 0) {
        if (!begin_sinks(plan) || !end_sinks(plan)) return sweep_status::write_failed;
        return sweep_status::ok;
    }
    return sweep_with(plan, options, jobs);
}

}  // namespace

sweep_status run_sweep(sample_rows samples, double start, double end, std::int32_t count,
                       const sweep_options& options, std::span<spectrum_sink* const> sinks) {
    return sweep_samples(samples, make_grid(start, end, count), nullptr, options, sinks);
}

sweep_status run_sweep(sample_view samples, double start, double end, std::int32_t count,
                       const sweep_options& options, spectrum_sink& sink) {
    spectrum_sink* const one[1] = {&sink};
    return run_sweep(sample_rows(samples), start, end, count, options, one);
}

sweep_status run_sweep(sample_rows samples, std::span<const double> frequencies, const sweep_options& options,
                       std::span<spectrum_sink* const> sinks) {
    if (frequencies.size() > static_cast<std::size_t>(INT32_MAX)) return sweep_status::invalid_frequencies;
    const frequency_grid grid{0.0, 0.0, static_cast<std::int64_t>(frequencies.size())};
    return sweep_samples(samples, grid, frequencies.data(), options, sinks);
}

sweep_status run_sweep(sample_view samples, std::span<const double> frequencies, const sweep_options& options,
                       spectrum_sink& sink) {
    spectrum_sink* const one[1] = {&sink};
    return run_sweep(sample_rows(samples), frequencies, options, one);
}

}  // namespace trapft
