// The sweep: the running-sum grid cut into slices and blocks, the threads that evaluate blocks, and the one writer.
#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "spectrum/fast_evaluation.hpp"
#include "spectrum/progress.hpp"
#include "spectrum/spectrum.hpp"

namespace trapft {
namespace {

// Lines of printed output a chunk holds at most: the unit of the queue.
constexpr std::int32_t chunk_lines = 1024;

// A block of grid lines that one thread evaluates. Blocks lie where the whole
// sweep puts them, whatever the slice, so that every slice prints its lines
// as the whole sweep does; a block that straddles the slice's edge evaluates
// all its lines and prints those inside.
struct block {
    std::int32_t lines = 0;      // lines evaluated
    std::int32_t skip = 0;       // leading lines before the slice, not printed
    std::int32_t printed = 0;    // lines printed, from `skip` on
    double first_frequency = 0.0;
    std::int64_t first_chunk = 0;
};

// The grid as the writer of one line at a time would walk it: frequency f of
// line `line`, then f + step.
struct grid_cursor {
    std::int64_t line = 0;
    double frequency = 0.0;
};

struct sweep_plan {
    const sample_set* samples = nullptr;
    double step = 0.0;
    std::int64_t count = 0;        // lines of the whole sweep
    std::int64_t slice_first = 0;  // the slice printed: [slice_first, slice_end)
    std::int64_t slice_end = 0;
    std::int32_t block_lines = 1;  // most lines per block
    const fast_plan* fast = nullptr;  // null: the exact evaluation
};

// The fast evaluation's block starting at `at`, which is a multiple of
// block_lines: blocks lie at the same lines whatever the slice. Leaves `at`
// on the next block.
block next_fast_block(const sweep_plan& plan, grid_cursor& at) {
    block b;
    b.first_frequency = at.frequency;
    b.lines = static_cast<std::int32_t>(std::min<std::int64_t>(plan.block_lines, plan.count - at.line));
    double f = at.frequency;
    for (std::int32_t j = 0; j < b.lines; ++j) f = f + plan.step;
    at.line += b.lines;
    at.frequency = f;
    return b;
}

// Hands out the blocks of the slice in grid order.
struct block_source {
    grid_cursor cursor;
    std::int64_t next_chunk = 0;
};

// Walks the grid from its start to the block that holds the slice's first line.
block_source start_blocks(const sweep_plan& plan, double start) {
    block_source source;
    source.cursor.frequency = start;
    if (plan.fast == nullptr) {
        for (; source.cursor.line < plan.slice_first; ++source.cursor.line)
            source.cursor.frequency = source.cursor.frequency + plan.step;
        return source;
    }
    for (;;) {
        grid_cursor ahead = source.cursor;
        next_fast_block(plan, ahead);
        if (ahead.line > plan.slice_first) return source;
        source.cursor = ahead;
    }
}

// The next block of the slice, false when the slice is done.
bool next_block(const sweep_plan& plan, block_source& source, block& b) {
    const std::int64_t first = source.cursor.line;
    if (first >= plan.slice_end) return false;
    if (plan.fast != nullptr) {
        b = next_fast_block(plan, source.cursor);
    } else {
        b = {};
        b.first_frequency = source.cursor.frequency;
        b.lines = static_cast<std::int32_t>(std::min<std::int64_t>(plan.block_lines, plan.slice_end - first));
        for (std::int32_t j = 0; j < b.lines; ++j) source.cursor.frequency = source.cursor.frequency + plan.step;
        source.cursor.line += b.lines;
    }
    const std::int64_t printed_first = std::max(first, plan.slice_first);
    const std::int64_t printed_end = std::min(first + b.lines, plan.slice_end);
    b.skip = static_cast<std::int32_t>(printed_first - first);
    b.printed = static_cast<std::int32_t>(printed_end - printed_first);
    b.first_chunk = source.next_chunk;
    source.next_chunk += (b.printed + chunk_lines - 1) / chunk_lines;
    return true;
}

// One thread's storage, all reserved before the first line.
struct worker_state {
    spectrum_work work;
    fast_work_owner fast_work;  // the fast evaluation only
};

std::unique_ptr<worker_state> make_worker(const sweep_plan& plan) {
    auto worker = std::make_unique<worker_state>();
    if (plan.fast != nullptr) {
        worker->fast_work = make_fast_work(*plan.fast, 1);
        if (worker->fast_work == nullptr) return nullptr;
    }
    return worker;
}

// A block handed out and not yet wholly formatted, with the fast
// evaluation's sums of its lines.
struct block_slot {
    bool in_use = false;
    bool evaluated = false;        // its sums are in place (always, in the exact evaluation)
    block b;
    std::int64_t chunks_end = 0;   // one past its last chunk
    std::int64_t next_chunk = 0;   // the next chunk to hand out for formatting
    std::int64_t unfinished = 0;   // chunks not yet formatted
    std::vector<double> real;      // reserved once: block_lines each, fast evaluation only
    std::vector<double> imaginary;
    std::vector<double> frequency;  // fast evaluation: the block's frequencies
};

// The fast evaluation's sums of a whole block, into its slot.
void evaluate_fast_block(const sweep_plan& plan, block_slot& slot, fast_work& work) {
    const block& b = slot.b;
    double* const frequency = slot.frequency.data();
    double f = b.first_frequency;
    for (std::int32_t j = 0; j < b.lines; ++j) {
        frequency[j] = f;
        f = f + plan.step;
    }
    fast_block(*plan.fast, frequency, b.lines, work, slot.real.data(), slot.imaginary.data(), 1);
}

struct chunk_slot {
    std::vector<char> text;  // reserved once: chunk_lines whole lines
    std::size_t size = 0;
    std::int32_t lines = 0;
    bool ready = false;
};

// Formats chunk `index` of the block in `from` into `to`: the exact
// evaluation evaluates its lines here, the fast one has summed them already.
void fill_chunk(const sweep_plan& plan, const block_slot& from, std::int64_t index, worker_state& worker,
                chunk_slot& to) {
    const block& b = from.b;
    const std::int64_t first_printed = (index - b.first_chunk) * chunk_lines;
    const auto lines = static_cast<std::int32_t>(std::min<std::int64_t>(chunk_lines, b.printed - first_printed));
    const auto first = static_cast<std::int32_t>(b.skip + first_printed);
    // An exact block is a single chunk from the slice's own lines (no skip).
    double frequency = plan.fast == nullptr ? b.first_frequency : from.frequency[static_cast<std::size_t>(first)];
    char* text = to.text.data();
    for (std::int32_t j = first; j < first + lines; ++j) {
        spectrum_point point;
        // A frequency that is not finite has no phases to reduce: such lines
        // are the exact evaluation's, whatever it makes of them.
        if (plan.fast == nullptr || !std::isfinite(frequency)) {
            point = evaluate_spectrum(*plan.samples, frequency, worker.work);
        } else {
            const double real = from.real[static_cast<std::size_t>(j)];
            const double imaginary = from.imaginary[static_cast<std::size_t>(j)];
            point = {frequency, real, imaginary, std::sqrt((real * real) + (imaginary * imaginary))};
        }
        text = write_result_line(text, point);
        frequency = frequency + plan.step;
    }
    to.size = static_cast<std::size_t>(text - to.text.data());
    to.lines = lines;
}

bool write_chunk(const chunk_slot& slot, std::FILE* out) {
    return fwrite_unlocked(slot.text.data(), 1, slot.size, out) == slot.size;
}

// Takes the next block of the slice into `slot`; false when the slice is done.
bool take_block(const sweep_plan& plan, block_source& source, block_slot& slot) {
    if (!next_block(plan, source, slot.b)) return false;
    slot.in_use = true;
    slot.evaluated = plan.fast == nullptr;
    slot.next_chunk = slot.b.first_chunk;
    slot.chunks_end = source.next_chunk;
    slot.unfinished = slot.chunks_end - slot.next_chunk;
    return true;
}

// Everything a sweep holds, reserved before its first line.
struct sweep_state {
    const sweep_plan* plan = nullptr;
    block_source source;
    std::vector<block_slot> blocks;
    std::vector<chunk_slot> chunks;
    std::vector<std::unique_ptr<worker_state>> workers;
};

// One thread: evaluate a block, format and write its chunks, next block.
sweep_status sweep_alone(sweep_state& state, progress_line& progress, std::FILE* out) {
    const sweep_plan& plan = *state.plan;
    block_slot& slot = state.blocks.front();
    worker_state& worker = *state.workers.front();
    std::int64_t done = 0;
    while (take_block(plan, state.source, slot)) {
        if (plan.fast != nullptr) evaluate_fast_block(plan, slot, *worker.fast_work);
        for (std::int64_t index = slot.next_chunk; index < slot.chunks_end; ++index) {
            fill_chunk(plan, slot, index, worker, state.chunks.front());
            if (!write_chunk(state.chunks.front(), out)) return sweep_status::write_failed;
            done += state.chunks.front().lines;
            progress_update(progress, done);
        }
    }
    return sweep_status::ok;
}

// Several threads. Workers take blocks in grid order into a few block slots
// and, in the fast evaluation, sum them; any worker formats any summed
// block's next chunk, chunk i into chunk slot i mod slots once the writer has
// written chunk i − slots; the calling thread writes the chunks in order.
// The lowest chunk not yet written can always go on (its block is taken, or
// every block slot is free), so the bounded queues cannot stall.
struct shared_sweep {
    sweep_state* state = nullptr;
    bool source_done = false;
    std::int64_t written = 0;  // chunks written
    bool stopped = false;
    std::mutex mutex;
    std::condition_variable changed;      // for workers: a chunk written, a block summed or freed
    std::condition_variable chunk_ready;  // for the writer
};

// The block slot whose next chunk is the lowest one that may be formatted now.
block_slot* formattable(shared_sweep& shared) {
    const auto window = static_cast<std::int64_t>(shared.state->chunks.size());
    block_slot* best = nullptr;
    for (block_slot& slot : shared.state->blocks) {
        if (!slot.in_use || !slot.evaluated || slot.next_chunk == slot.chunks_end) continue;
        if (slot.next_chunk >= shared.written + window) continue;
        if (best == nullptr || slot.next_chunk < best->next_chunk) best = &slot;
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
        if (slot.in_use && slot.next_chunk < slot.chunks_end) return true;
    return false;
}

void sweep_worker(shared_sweep& shared, worker_state& worker) {
    const sweep_plan& plan = *shared.state->plan;
    std::vector<chunk_slot>& chunks = shared.state->chunks;
    const auto window = static_cast<std::int64_t>(chunks.size());
    std::unique_lock<std::mutex> lock(shared.mutex);
    while (!shared.stopped && work_left(shared)) {
        if (block_slot* const from = formattable(shared)) {
            const std::int64_t index = from->next_chunk++;
            chunk_slot& to = chunks[static_cast<std::size_t>(index % window)];
            lock.unlock();
            fill_chunk(plan, *from, index, worker, to);  // both slots are this thread's meanwhile
            lock.lock();
            to.ready = true;
            shared.chunk_ready.notify_one();
            if (--from->unfinished == 0) {
                from->in_use = false;
                shared.changed.notify_all();
            }
            continue;
        }
        block_slot* const slot = shared.source_done ? nullptr : free_block_slot(shared);
        if (slot != nullptr) {
            if (!take_block(plan, shared.state->source, *slot)) {
                shared.source_done = true;
                shared.changed.notify_all();
                continue;
            }
            if (plan.fast != nullptr) {
                lock.unlock();
                evaluate_fast_block(plan, *slot, *worker.fast_work);
                lock.lock();
                slot->evaluated = true;
            }
            shared.changed.notify_all();
            continue;
        }
        shared.changed.wait(lock);
    }
}

sweep_status write_in_order(shared_sweep& shared, progress_line& progress, std::FILE* out) {
    const sweep_plan& plan = *shared.state->plan;
    std::vector<chunk_slot>& chunks = shared.state->chunks;
    const std::int64_t lines = plan.slice_end - plan.slice_first;
    std::int64_t done = 0;
    while (done < lines) {
        chunk_slot& chunk = chunks[static_cast<std::size_t>(shared.written % static_cast<std::int64_t>(chunks.size()))];
        {
            std::unique_lock<std::mutex> lock(shared.mutex);
            shared.chunk_ready.wait(lock, [&] { return chunk.ready; });
        }
        if (!write_chunk(chunk, out)) return sweep_status::write_failed;
        done += chunk.lines;
        {
            std::lock_guard<std::mutex> lock(shared.mutex);
            chunk.ready = false;
            ++shared.written;
        }
        shared.changed.notify_all();
        progress_update(progress, done);
    }
    return sweep_status::ok;
}

sweep_status sweep_together(sweep_state& state, progress_line& progress, std::FILE* out) {
    shared_sweep shared;
    shared.state = &state;
    std::vector<std::thread> pool;
    sweep_status status = sweep_status::ok;
    try {
        for (const std::unique_ptr<worker_state>& worker : state.workers)
            pool.emplace_back(sweep_worker, std::ref(shared), std::ref(*worker));
    } catch (const std::system_error&) {
        status = sweep_status::threads_failed;
    }
    if (status == sweep_status::ok) status = write_in_order(shared, progress, out);
    {
        std::lock_guard<std::mutex> lock(shared.mutex);
        shared.stopped = true;
    }
    shared.changed.notify_all();
    for (std::thread& thread : pool) thread.join();
    return status;
}

// Blocks a worker should see at least, so that uneven finishing costs little.
constexpr std::int64_t blocks_per_worker = 8;

// Lines per block of the exact evaluation: about 0.2 ms of work, so that
// handing out blocks costs nothing beside them, yet many blocks per thread.
std::int32_t exact_block_lines(std::int32_t samples, std::int64_t slice_lines, int jobs) {
    const double line_ns = 15.0 * samples + 250.0;
    auto lines = static_cast<std::int64_t>(200000.0 / line_ns);
    if (jobs > 1) lines = std::min(lines, slice_lines / (blocks_per_worker * jobs));
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(lines, 1, chunk_lines));
}

sweep_status sweep_with(const sweep_plan& plan, double start, const sweep_options& options, std::FILE* out) {
    const std::int64_t slice_lines = plan.slice_end - plan.slice_first;
    // A slice that starts or ends inside a block counts it.
    const std::int64_t blocks = (slice_lines + plan.block_lines - 1) / plan.block_lines + (plan.fast ? 1 : 0);
    const int threads = static_cast<int>(std::min<std::int64_t>(options.jobs, blocks));

    sweep_state state;
    state.plan = &plan;
    state.source = start_blocks(plan, start);
    try {
        // Alone: one block and one chunk at a time. Together: a block slot
        // more than threads, and two chunk slots per thread and two more.
        state.blocks.resize(threads > 1 ? static_cast<std::size_t>(threads) + 1 : 1);
        state.chunks.resize(threads > 1 ? 2 * static_cast<std::size_t>(threads) + 2 : 1);
        for (chunk_slot& chunk : state.chunks) chunk.text.resize(chunk_lines * max_line_length);
        if (plan.fast != nullptr) {
            for (block_slot& slot : state.blocks) {
                slot.real.resize(static_cast<std::size_t>(plan.block_lines));
                slot.imaginary.resize(static_cast<std::size_t>(plan.block_lines));
                slot.frequency.resize(static_cast<std::size_t>(plan.block_lines));
            }
        }
        for (int k = 0; k < threads; ++k) {
            state.workers.push_back(make_worker(plan));
            if (state.workers.back() == nullptr) return sweep_status::out_of_memory;
        }
    } catch (const std::bad_alloc&) {
        return sweep_status::out_of_memory;
    }

    progress_line progress;
    progress_start(progress, slice_lines, options.progress ? stderr : nullptr);
    const sweep_status status = threads > 1 ? sweep_together(state, progress, out) : sweep_alone(state, progress, out);
    progress_end(progress);
    return status;
}

}  // namespace

sweep_status run_sweep(const sample_set& samples, double start, double end, std::int32_t count,
                       const sweep_options& options, std::FILE* out) {
    if (count <= 0) return sweep_status::ok;
    sweep_plan plan;
    plan.samples = &samples;
    // The step only matters between lines; forming count − 1 only when count > 1
    // also keeps it clear of overflow at the lowest count.
    plan.step = count > 1 ? (end - start) / static_cast<double>(count - 1) : 0.0;
    plan.count = count;
    // Slice k of p: sizes differ by at most one, the earlier slices the longer.
    const std::int64_t base = plan.count / options.parts;
    const std::int64_t extra = plan.count % options.parts;
    const std::int64_t k = options.part - 1;
    plan.slice_first = k * base + std::min(k, extra);
    plan.slice_end = plan.slice_first + base + (k < extra ? 1 : 0);
    if (plan.slice_first == plan.slice_end) return sweep_status::ok;

    fast_plan_owner fast;
    if (options.tolerance > 0.0) {
        const fast_status prepared = prepare_fast(samples, options.tolerance, plan.count, fast);
        if (prepared == fast_status::out_of_memory) return sweep_status::out_of_memory;
    }
    if (fast != nullptr) {
        plan.fast = fast.get();
        plan.block_lines = fast_block_lines(*fast);
    } else {
        plan.block_lines = exact_block_lines(static_cast<std::int32_t>(samples.times.size()), plan.slice_end - plan.slice_first, options.jobs);
    }
    return sweep_with(plan, start, options, out);
}

}  // namespace trapft
