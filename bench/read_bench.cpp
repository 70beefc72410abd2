// Reading a million samples from a file: the whole reader, per number format
// and thread count, beside the bare cost of getting the file's bytes.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "trapft/reader.hpp"

namespace {

constexpr int lines = 1000000;

// The three kinds of file: 9 decimals, 17 significant digits, integer times.
enum kind { nine_digits, seventeen_digits, integer_times };

std::string directory() {
    static const std::string path = [] {
        char name[] = "/tmp/trapft_read_bench_XXXXXX";
        if (mkdtemp(name) == nullptr) std::abort();
        return std::string(name);
    }();
    return path;
}

// Writes the file of that kind once and returns its path.
const std::string& sample_file(int which) {
    static std::string paths[3];
    std::string& path = paths[which];
    if (!path.empty()) return path;
    path = directory() + "/samples" + std::to_string(which) + ".txt";
    std::FILE* out = std::fopen(path.c_str(), "w");
    if (out == nullptr) std::abort();
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    double time = 0.0;
    for (int k = 0; k < lines; ++k) {
        const double value = unit(rng) * 2 - 1;
        time += 0.0005 + unit(rng) * 0.001;
        if (which == nine_digits) std::fprintf(out, "%.9f %.9f\n", unit(rng), value);
        else if (which == seventeen_digits) std::fprintf(out, "%.17g %.17g\n", time, value);
        else std::fprintf(out, "%d %.6g\n", k, value);
    }
    if (std::fclose(out) != 0) std::abort();
    return path;
}

void set_counters(benchmark::State& state) {
    state.counters["per_sample"] = benchmark::Counter(static_cast<double>(lines),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// The file's bytes through fread, as the reader takes them: the floor.
void read_bytes(benchmark::State& state) {
    const std::string& path = sample_file(static_cast<int>(state.range(0)));
    std::vector<char> buffer(1 << 14);
    for (auto _ : state) {
        std::FILE* in = std::fopen(path.c_str(), "r");
        std::size_t total = 0;
        for (std::size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), in)) != 0;) total += n;
        std::fclose(in);
        benchmark::DoNotOptimize(total);
    }
    set_counters(state);
}

// load_samples on the open file; the second argument asks for double
// precision, the third gives the threads.
void read_file(benchmark::State& state) {
    const std::string& path = sample_file(static_cast<int>(state.range(0)));
    const trapft::read_options options{.capacity = lines, .double_precision = state.range(1) != 0,
                                       .threads = static_cast<int>(state.range(2))};
    for (auto _ : state) {
        trapft::sample_set samples;
        std::FILE* in = std::fopen(path.c_str(), "r");
        if (trapft::load_samples(in, samples, options).status != trapft::load_status::ok) std::abort();
        std::fclose(in);
        benchmark::DoNotOptimize(samples.times.data());
    }
    set_counters(state);
}

}  // namespace

BENCHMARK(read_bytes)->ArgName("kind")->DenseRange(0, 2)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(read_file)->ArgNames({"kind", "double", "threads"})->ArgsProduct({{0, 1, 2}, {0, 1}, {1, 2}})
    ->UseRealTime()->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    for (const std::string& path : {sample_file(0), sample_file(1), sample_file(2)}) std::remove(path.c_str());
    rmdir(directory().c_str());
    return 0;
}
