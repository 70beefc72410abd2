// Per-frequency cost of the fast evaluation's stages and of whole blocks, at
// 16384 samples and blocks of 65536 frequencies (tolerance 1e-12 by default).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "trapft/reader.hpp"
#include "nufft_hooks.hpp"

namespace {

constexpr std::int32_t samples = 16384;
constexpr std::int64_t lines = 1000000;
constexpr double first = 0.0;
constexpr double increment = 1.0 / 1024;

// Uneven times about a millisecond apart, values in [−1, 1], single precision
// as the reader makes them.
trapft::sample_set make_samples(std::int32_t n) {
    trapft::sample_set s;
    std::mt19937_64 rng(4);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (std::int32_t k = 0; k < n; ++k) {
        s.times.push_back(static_cast<float>(k * 0.001 + unit(rng) * 0.0005));
        s.values.push_back(static_cast<float>(unit(rng) * 2 - 1));
    }
    return s;
}

// A plan and one thread's storage, or the end of the run.
struct prepared {
    trapft::nufft_plan_owner plan;
    trapft::nufft_work_owner work;

    prepared(const trapft::sample_set& s, double tolerance, std::int64_t sweep, int upsampling = -1) {
        const trapft::nufft_status status =
            trapft::nufft_prepare(trapft::sample_rows(s), tolerance, sweep, upsampling, plan);
        if (status != trapft::nufft_status::ok) std::abort();
        work = trapft::make_nufft_work(*plan, 1);
        if (work == nullptr) std::abort();
    }
};

struct fixture {
    trapft::sample_set s = make_samples(samples);
    prepared p;
    const trapft::nufft_plan& setup;
    trapft::nufft_work& work;
    int set;
    std::int32_t block = 0;
    std::int32_t points = 0;

    explicit fixture(const benchmark::State& state)
        : p(s, state.range(0) == 0 ? 1e-12 : std::pow(10.0, -static_cast<double>(state.range(0))), lines),
          setup(*p.plan), work(*p.work) {
        // The second argument, where given, lowers the instruction set (0 SSE2, 1 AVX2, 2 AVX-512).
        set = state.range(1) >= 0 ? std::min(trapft::nufft_widest_set(setup), static_cast<std::int32_t>(state.range(1)))
                                  : trapft::nufft_widest_set(setup);
        block = trapft::nufft_block_lines(setup);
        points = trapft::nufft_grid_points(setup, block);
    }
};

void per_frequency(benchmark::State& state, std::int32_t frequencies) {
    state.counters["per_frequency"] = benchmark::Counter(static_cast<double>(frequencies),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void rotation(benchmark::State& state) {
    fixture f(state);
    for (auto _ : state) {
        for (std::int32_t begin = 0; begin < samples; begin += trapft::nufft_chunk)
            trapft::nufft_rotate(f.setup, first, increment, f.points, 1, begin,
                                 std::min(samples, begin + trapft::nufft_chunk), f.work);
        benchmark::ClobberMemory();
    }
    per_frequency(state, f.block);
}

// Every chunk placed once beforehand; each is swapped into the work storage
// (no copy) and spread.
void spreading(benchmark::State& state) {
    fixture f(state);
    std::vector<trapft::nufft_scratch> chunks;
    std::vector<std::int32_t> sizes;
    for (std::int32_t begin = 0; begin < samples; begin += trapft::nufft_chunk) {
        const std::int32_t end = std::min(samples, begin + trapft::nufft_chunk);
        trapft::nufft_rotate(f.setup, first, increment, f.points, 1, begin, end, f.work);
        chunks.push_back(f.work.scratch[0]);
        sizes.push_back(end - begin);
    }
    for (auto _ : state) {
        for (std::size_t c = 0; c < chunks.size(); ++c) {
            std::swap(f.work.scratch[0], chunks[c]);
            trapft::nufft_spread(f.setup, f.points, 1, sizes[c], f.work);
            std::swap(f.work.scratch[0], chunks[c]);
        }
        benchmark::ClobberMemory();
    }
    per_frequency(state, f.block);
}

void fft(benchmark::State& state) {
    fixture f(state);
    std::fill(f.work.grid(0, 0, 0), f.work.grid(0, 0, 0) + 2 * f.points, 0.0);
    for (auto _ : state) {
        trapft::nufft_transform(f.setup, f.points, f.work.grid(0, 0, 0));
        benchmark::ClobberMemory();
    }
    per_frequency(state, f.block);
}

void deconvolution(benchmark::State& state) {
    fixture f(state);
    std::fill(f.work.grid(0, 0, 0), f.work.grid(0, 0, 0) + 2 * f.points, 1.0);
    std::vector<double> real(static_cast<std::size_t>(f.block)), imaginary(real.size());
    for (auto _ : state) {
        trapft::nufft_deconvolve(f.setup, f.set, f.points, f.block, 1, nullptr, nullptr, 0.0, 0.0, f.work, real.data(),
                                 imaginary.data());
        benchmark::ClobberMemory();
    }
    per_frequency(state, f.block);
}

void block(benchmark::State& state) {
    fixture f(state);
    std::vector<double> real(static_cast<std::size_t>(f.block)), imaginary(real.size());
    double start = first;
    for (auto _ : state) {
        trapft::nufft_progression(f.setup, f.set, start, increment, f.block, f.work, real.data(), imaginary.data());
        benchmark::ClobberMemory();
        start += f.block * increment;
    }
    per_frequency(state, f.block);
}

// Preparation for a sweep of a million lines (weights, kernel, correction
// table, FFT plans) and one thread's working storage, per frequency of the sweep.
void setup(benchmark::State& state) {
    const trapft::sample_set s = make_samples(samples);
    for (auto _ : state) {
        prepared p(s, 1e-12, lines);
        benchmark::DoNotOptimize(p.plan->correction.data());
    }
    per_frequency(state, static_cast<std::int32_t>(lines));
}

// A whole sweep of many samples over fewer lines, preparation included: one
// pass over the samples (make_samples(1000000) is built once, outside the timing).
void many_samples(benchmark::State& state) {
    const trapft::sample_set s = make_samples(static_cast<std::int32_t>(state.range(0)));
    const std::int32_t sweep = static_cast<std::int32_t>(state.range(1));
    std::vector<double> real(static_cast<std::size_t>(sweep)), imaginary(real.size());
    for (auto _ : state) {
        prepared p(s, 1e-12, sweep);
        const std::int32_t block = trapft::nufft_block_lines(*p.plan);
        for (std::int32_t b = 0; b < sweep; b += block)
            trapft::nufft_progression(*p.plan, trapft::nufft_widest_set(*p.plan), first + b * 1e-3, 1e-3,
                                      std::min(block, sweep - b), *p.work, real.data() + b, imaginary.data() + b);
        benchmark::ClobberMemory();
    }
}

// The sweep's blocks against one pass: shapes (c) 16384 samples × 10^6
// lines from 0 to 400, (d) 10^6 samples two milliseconds apart on average ×
// 10^5 lines from 0 to 400, (e) 16384 samples × 65536 lines from 0 to 400,
// each a plan for the whole sweep (preparation not timed). `sweep`: the
// running-sum grid in blocks at fixed lines through nufft_evaluate, as the sweep
// hands them over (with `threads` threads in each block); `pass`: the same
// lines as exact progressions of one increment, block by block.
struct shape {
    std::int32_t samples;
    std::int64_t lines;
};
const shape shapes[] = {{16384, 1000000}, {1000000, 100000}, {16384, 65536}};

trapft::sample_set make_spread_samples(std::int32_t n) {
    if (n == samples) return make_samples(n);
    trapft::sample_set s;
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    double t = 0.0;
    for (std::int32_t k = 0; k < n; ++k) {
        t += unit(rng) * 0.002;
        s.times.push_back(static_cast<float>(t));
        s.values.push_back(static_cast<float>(unit(rng) * 2 - 1));
    }
    return s;
}

void sweep_or_pass(benchmark::State& state, bool sweep, int upsampling = -1) {
    const shape& sh = shapes[state.range(0)];
    const double tolerance = std::pow(10.0, -static_cast<double>(state.range(1)));
    const int threads = static_cast<int>(state.range(2));
    static trapft::sample_set s;
    static std::int32_t made = 0;
    if (made != sh.samples) {
        s = make_spread_samples(sh.samples);
        made = sh.samples;
    }
    prepared p(s, tolerance, sh.lines, upsampling);
    if (upsampling >= 0) {
        if (p.plan->upsampling != upsampling) return state.SkipWithError("kernel short of tolerance");
        state.counters["chosen"] = prepared(s, tolerance, sh.lines).plan->upsampling == upsampling ? 1 : 0;
    }
    trapft::nufft_work_owner work = trapft::make_nufft_work(*p.plan, threads);
    const std::int32_t block = trapft::nufft_block_lines(*p.plan);
    std::vector<double> frequency(static_cast<std::size_t>(block)), real(frequency.size()), imaginary(frequency.size());
    const double step = 400.0 / static_cast<double>(sh.lines - 1);
    for (auto _ : state) {
        double f = 0.0;
        for (std::int64_t done = 0; done < sh.lines; done += block) {
            const auto count = static_cast<std::int32_t>(std::min<std::int64_t>(block, sh.lines - done));
            if (sweep) {
                for (std::int32_t j = 0; j < count; ++j) {
                    frequency[static_cast<std::size_t>(j)] = f;
                    f = f + step;
                }
                trapft::nufft_evaluate(*p.plan, frequency.data(), count, *work, real.data(), imaginary.data(), threads);
            } else {
                const double dyadic = std::exp2(std::round(std::log2(step)));  // the nearest power of two
                trapft::nufft_progression(*p.plan, trapft::nufft_widest_set(*p.plan), static_cast<double>(done) * dyadic,
                                          dyadic, count, *work, real.data(), imaginary.data(), threads);
            }
        }
        benchmark::ClobberMemory();
    }
}
void sweep(benchmark::State& state) { sweep_or_pass(state, true); }
void pass(benchmark::State& state) { sweep_or_pass(state, false); }

// One pass with the kernel of each upsampling (the fourth argument), against
// the costs' choice (the counter `chosen`, 1 for the kernel they choose):
// the measurements behind the cost model.
void upsampled(benchmark::State& state) { sweep_or_pass(state, false, static_cast<int>(state.range(3))); }

// Preparation of shape d (weights, kernel, correction table, FFT plans) and
// one thread's working storage.
void setup_d(benchmark::State& state) {
    const trapft::sample_set s = make_spread_samples(1000000);
    for (auto _ : state) {
        prepared p(s, std::pow(10.0, -static_cast<double>(state.range(0))), 100000);
        benchmark::DoNotOptimize(p.plan->correction.data());
    }
}

// Arguments: the tolerance (0 for 1e-12, else its negative decimal exponent)
// and the instruction set (−1 for the best the CPU has).
BENCHMARK(rotation)->Args({0, -1});
BENCHMARK(spreading)->ArgsProduct({{0, 3, 6, 9, 14}, {-1}});
BENCHMARK(fft)->Args({0, -1});
BENCHMARK(deconvolution)->Args({0, -1});
BENCHMARK(block)->ArgsProduct({{0, 3, 6, 9, 14}, {-1}})->Args({0, 0});
BENCHMARK(setup)->Unit(benchmark::kMillisecond);
BENCHMARK(setup_d)->Arg(12)->Arg(6)->Unit(benchmark::kMillisecond);
BENCHMARK(many_samples)->Args({1000000, 100000})->Unit(benchmark::kMillisecond)->Iterations(3);
// Shape (0 c, 1 d, 2 e), tolerance exponent, threads.
BENCHMARK(sweep)->ArgsProduct({{0, 1, 2}, {12, 6}, {1}})->Args({1, 12, 2})->Args({1, 6, 2})->Unit(benchmark::kMillisecond);
BENCHMARK(pass)->ArgsProduct({{0, 1, 2}, {12, 6}, {1}})->Unit(benchmark::kMillisecond);
// … and upsampling (0 for 2, 1 for 1.6, 2 for 4/3).
BENCHMARK(upsampled)->ArgsProduct({{0, 1, 2}, {12, 9, 6}, {1}, {0, 1, 2}})->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
