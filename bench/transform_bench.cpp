// Per-pair cost of the transform beside the bare sin and cos calls on the same
// phases, and per-line cost of the result lines beside snprintf.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <vector>

#include "trapft/reader.hpp"
#include "output/result_line.hpp"
#include "spectrum/spectrum.hpp"

namespace {

using trapft::max_samples;

constexpr double two_pi = 6.283185307179586;
constexpr int grid_size = 401;  // frequencies 0, 1, …, 400, as in compare.sh's run (a)

// n samples at uneven times a millisecond apart (about 16 time units at 16384),
// values in [−1, 1], all single-precision numbers as the reader makes them.
std::unique_ptr<trapft::sample_set> make_samples(int n) {
    auto samples = std::make_unique<trapft::sample_set>();
    std::mt19937_64 rng(4);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    samples->times.resize(static_cast<std::size_t>(n));
    samples->values.resize(static_cast<std::size_t>(n));
    for (int k = 0; k < n; ++k) {
        samples->times[k] = static_cast<float>(k * 0.001 + unit(rng) * 0.0005);
        samples->values[k] = static_cast<float>(unit(rng) * 2 - 1);
    }
    return samples;
}

void per_pair(benchmark::State& state) {
    state.counters["per_pair"] = benchmark::Counter(static_cast<double>(state.range(0)),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void evaluate_spectrum(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const auto samples = make_samples(n);
    const auto work = std::make_unique<trapft::spectrum_work>();
    int j = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(trapft::evaluate_spectrum(*samples, j, *work));
        j = j + 1 == grid_size ? 0 : j + 1;
    }
    per_pair(state);
}

// The floor: the cosine and sine of each phase (paired into sincos by the
// compiler, as in the tool), nothing else.
struct paired_calls {
    static double cosine(double x) { return std::cos(x); }
    static double sine(double x) { return std::sin(x); }
};

// The same with two separate calls, which the compiler cannot pair.
double (*volatile separate_cos)(double) = static_cast<double (*)(double)>(std::cos);
double (*volatile separate_sin)(double) = static_cast<double (*)(double)>(std::sin);

struct separate_calls {
    static double cosine(double x) { return separate_cos(x); }
    static double sine(double x) { return separate_sin(x); }
};

template <typename calls>
void sin_cos_only(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const auto samples = make_samples(n);
    int j = 0;
    for (auto _ : state) {
        const double omega = j * two_pi;
        for (int k = 0; k < n; ++k) {
            const double phase = omega * samples->times[k];
            double cosine = calls::cosine(phase);
            double sine = calls::sine(phase);
            benchmark::DoNotOptimize(cosine);
            benchmark::DoNotOptimize(sine);
        }
        j = j + 1 == grid_size ? 0 : j + 1;
    }
    per_pair(state);
}

void sin_cos_floor(benchmark::State& state) { sin_cos_only<paired_calls>(state); }
void sin_cos_unpaired(benchmark::State& state) { sin_cos_only<separate_calls>(state); }

// Result points as the tool prints them: a sweep's own lines, and random doubles.
std::vector<trapft::spectrum_point> make_points() {
    const auto samples = make_samples(1024);
    const auto work = std::make_unique<trapft::spectrum_work>();
    std::vector<trapft::spectrum_point> points;
    for (int j = 0; j < 2048; ++j) points.push_back(trapft::evaluate_spectrum(*samples, j * 0.37, *work));
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> exponent(-20.0, 20.0);
    for (int j = 0; j < 2048; ++j) {
        double v[4];
        for (double& value : v) value = (rng() % 2 ? 1 : -1) * std::pow(10.0, exponent(rng));
        points.push_back({v[0], v[1], v[2], std::abs(v[3])});
    }
    return points;
}

void per_line(benchmark::State& state) {
    state.counters["per_line"] = benchmark::Counter(1.0,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void format_result_line(benchmark::State& state) {
    const std::vector<trapft::spectrum_point> points = make_points();
    std::size_t j = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(trapft::format_result_line(points[j]));
        j = j + 1 == points.size() ? 0 : j + 1;
    }
    per_line(state);
}

void snprintf_line(benchmark::State& state) {
    const std::vector<trapft::spectrum_point> points = make_points();
    std::size_t j = 0;
    char text[trapft::max_line_length + 1];
    for (auto _ : state) {
        const trapft::spectrum_point& p = points[j];
        benchmark::DoNotOptimize(std::snprintf(text, sizeof text, "%.15g %.15g %.15g %.15g\n",
                                               p.frequency, p.real, p.imaginary, p.magnitude));
        benchmark::ClobberMemory();
        j = j + 1 == points.size() ? 0 : j + 1;
    }
    per_line(state);
}

BENCHMARK(evaluate_spectrum)->Arg(2)->Arg(1024)->Arg(max_samples);
BENCHMARK(sin_cos_floor)->Arg(2)->Arg(1024)->Arg(max_samples);
BENCHMARK(sin_cos_unpaired)->Arg(2)->Arg(1024)->Arg(max_samples);
BENCHMARK(format_result_line);
BENCHMARK(snprintf_line);

}  // namespace

BENCHMARK_MAIN();
