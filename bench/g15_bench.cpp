// Per-line cost of "%.15g %.15g %.15g %.15g\n" through each candidate printer,
// on the lines of a real sweep and on random magnitudes.
#include <benchmark/benchmark.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "output/g15.hpp"
#include "spectrum/spectrum.hpp"

#ifdef TRAPFT_BENCH_DRAGONBOX
#include <dragonbox/dragonbox_to_chars.h>
#endif
#ifdef TRAPFT_BENCH_FMT
#include <fmt/format.h>
#endif
#ifdef TRAPFT_BENCH_DOUBLE_CONVERSION
#include <double-conversion/double-conversion.h>
#endif

namespace {

using trapft::spectrum_point;

// The lines of `trapft two_samples 0 1000 1500000` (two samples (0.25, 1) and
// (1.75, −0.5)): frequencies from the running sum, spectra in [0, 1.5].
std::vector<spectrum_point> sweep_lines() {
    trapft::sample_set samples;
    samples.times = {0.25, 1.75};
    samples.values = {1.0, -0.5};
    trapft::spectrum_work work;
    std::vector<spectrum_point> points;
    const double step = (1000.0 - 0.0) / (1500000 - 1);
    double frequency = 0.0;
    for (int j = 0; j < 4096; ++j) {
        points.push_back(trapft::evaluate_spectrum(samples, frequency, work));
        frequency = frequency + step * 97;  // every 97th line of the sweep
    }
    return points;
}

// Four random magnitudes 10^−20 to 10^20 of either sign per line.
std::vector<spectrum_point> random_lines() {
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> exponent(-20.0, 20.0);
    std::vector<spectrum_point> points;
    for (int j = 0; j < 4096; ++j) {
        double v[4];
        for (double& value : v) value = (rng() % 2 ? 1 : -1) * std::pow(10.0, exponent(rng));
        points.push_back({std::abs(v[0]), v[1], v[2], std::abs(v[3])});
    }
    return points;
}

void per_line(benchmark::State& state) {
    state.counters["per_line"] = benchmark::Counter(1.0,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Runs `print(text, point)` over the lines of `points` in turn.
template <typename Print>
void run_lines(benchmark::State& state, const std::vector<spectrum_point>& points, Print print) {
    char text[256];
    std::size_t j = 0;
    for (auto _ : state) {
        char* end = print(text, points[j]);
        benchmark::DoNotOptimize(end);
        benchmark::ClobberMemory();
        j = j + 1 == points.size() ? 0 : j + 1;
    }
    per_line(state);
}

// A line of four numbers by a printer of one number.
template <typename Put>
char* line_of(char* p, const spectrum_point& point, Put put) {
    p = put(p, point.frequency);
    *p++ = ' ';
    p = put(p, point.real);
    *p++ = ' ';
    p = put(p, point.imaginary);
    *p++ = ' ';
    p = put(p, point.magnitude);
    *p++ = '\n';
    return p;
}

const std::vector<spectrum_point>& lines(int which) {
    static const std::vector<spectrum_point> sweep = sweep_lines();
    static const std::vector<spectrum_point> random = random_lines();
    return which == 0 ? sweep : random;
}

void g15_line(benchmark::State& state) {
    run_lines(state, lines(static_cast<int>(state.range(0))), [](char* p, const spectrum_point& point) {
        return line_of(p, point, trapft::write_g15);
    });
}

void to_chars_line(benchmark::State& state) {
    run_lines(state, lines(static_cast<int>(state.range(0))), [](char* p, const spectrum_point& point) {
        return line_of(p, point, [](char* q, double v) {
            return std::to_chars(q, q + 32, v, std::chars_format::general, 15).ptr;
        });
    });
}

void snprintf_line(benchmark::State& state) {
    run_lines(state, lines(static_cast<int>(state.range(0))), [](char* p, const spectrum_point& point) {
        return p + std::snprintf(p, 128, "%.15g %.15g %.15g %.15g\n", point.frequency, point.real,
                                 point.imaginary, point.magnitude);
    });
}

// Shortest round-trip digits alone, not %.15g: what a printer built on them
// would cost before rounding them to 15 digits.
void to_chars_shortest_line(benchmark::State& state) {
    run_lines(state, lines(static_cast<int>(state.range(0))), [](char* p, const spectrum_point& point) {
        return line_of(p, point, [](char* q, double v) { return std::to_chars(q, q + 32, v).ptr; });
    });
}

BENCHMARK(g15_line)->Arg(0)->Arg(1);
BENCHMARK(to_chars_line)->Arg(0)->Arg(1);
BENCHMARK(snprintf_line)->Arg(0)->Arg(1);
BENCHMARK(to_chars_shortest_line)->Arg(0)->Arg(1);

#ifdef TRAPFT_BENCH_DRAGONBOX
// Dragonbox's shortest digits, as to_chars_shortest_line.
void dragonbox_shortest_line(benchmark::State& state) {
    run_lines(state, lines(static_cast<int>(state.range(0))), [](char* p, const spectrum_point& point) {
        return line_of(p, point, [](char* q, double v) { return jkj::dragonbox::to_chars_n(v, q); });
    });
}
BENCHMARK(dragonbox_shortest_line)->Arg(0)->Arg(1);
#endif

#ifdef TRAPFT_BENCH_FMT
void fmt_line(benchmark::State& state) {
    run_lines(state, lines(static_cast<int>(state.range(0))), [](char* p, const spectrum_point& point) {
        return fmt::format_to(p, "{:.15g} {:.15g} {:.15g} {:.15g}\n", point.frequency, point.real,
                              point.imaginary, point.magnitude);
    });
}
BENCHMARK(fmt_line)->Arg(0)->Arg(1);
#endif

#ifdef TRAPFT_BENCH_DOUBLE_CONVERSION
// ToPrecision keeps trailing zeros (not %.15g's text): its cost only.
void double_conversion_line(benchmark::State& state) {
    static const double_conversion::DoubleToStringConverter converter(
        double_conversion::DoubleToStringConverter::NO_FLAGS, "inf", "nan", 'e', -4, 15, 0, 0);
    run_lines(state, lines(static_cast<int>(state.range(0))), [](char* p, const spectrum_point& point) {
        return line_of(p, point, [](char* q, double v) {
            double_conversion::StringBuilder builder(q, 32);
            converter.ToPrecision(v, 15, &builder);
            const int size = builder.position();
            builder.Finalize();
            return q + size;
        });
    });
}
BENCHMARK(double_conversion_line)->Arg(0)->Arg(1);
#endif

}  // namespace

BENCHMARK_MAIN();
