// Lines over samples that hold numbers that are not finite, from the runs of samples around those numbers.
#include "spectrum/non_finite.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

namespace trapft {
namespace {

bool finite_sample(const double* t, const double* x, std::size_t k) { return std::isfinite(t[k]) && std::isfinite(x[k]); }

// Whether the trapezoids between finite neighbours, summed in any order, stay
// far from overflow: each is at most (|x_k| + |x_k+1|) × |Δt| before halving.
bool finite_part_bounded(sample_view samples) {
    const double* const t = samples.times.data();
    const double* const x = samples.values.data();
    double bound = 0.0;
    for (std::size_t k = 0; k + 1 < samples.size(); ++k)
        if (finite_sample(t, x, k) && finite_sample(t, x, k + 1))
            bound += (std::fabs(x[k]) + std::fabs(x[k + 1])) * std::fabs(t[k + 1] - t[k]);
    return bound < std::numeric_limits<double>::max() / 4;
}

double largest_finite_time(sample_view samples) {
    double largest = 0.0;
    for (std::size_t k = 0; k < samples.size(); ++k)
        if (finite_sample(samples.times.data(), samples.values.data(), k))
            largest = std::fmax(largest, std::fabs(samples.times[k]));
    return largest;
}

// Whether every finite sample's phase ω·t at `frequency` is finite, so that
// its trapezoids are (8 > 2π covers ω's rounding).
bool phases_finite(double frequency, double largest_time) {
    return std::fabs(frequency) * 8.0 * largest_time < std::numeric_limits<double>::max();
}

// Sums two runs' sums as the exact evaluation's running sum would meet them;
// false when both are NaN with different bits, whose order of meeting the
// compiled code decides.
bool combine(double& total, double run) {
    if (std::isnan(total) && std::isnan(run) && std::bit_cast<std::uint64_t>(total) != std::bit_cast<std::uint64_t>(run))
        return false;
    total = total + run;
    return true;
}

}  // namespace

bool find_non_finite_runs(sample_view samples, non_finite_runs& out) {
    out.runs.clear();
    out.samples = 0;
    const auto n = static_cast<std::int32_t>(samples.size());
    const double* const t = samples.times.data();
    const double* const x = samples.values.data();
    for (std::int32_t k = 0; k < n; ++k) {
        if (finite_sample(t, x, static_cast<std::size_t>(k))) continue;
        const std::int32_t first = k > 0 ? k - 1 : 0;
        const std::int32_t end = k + 2 < n ? k + 2 : n;
        // Runs that overlap or touch share a trapezoid: they are one.
        if (!out.runs.empty() && out.runs.back().end >= first) {
            out.runs.back().end = end;
        } else {
            out.runs.push_back({first, end});
        }
    }
    if (out.runs.empty() || !finite_part_bounded(samples)) {
        out.runs.clear();
        return false;
    }
    for (const non_finite_runs::run& r : out.runs) out.samples += r.end - r.first;
    out.largest_time = largest_finite_time(samples);
    return true;
}

spectrum_point evaluate_non_finite(sample_view samples, const non_finite_runs& runs, double frequency,
                                   spectrum_work& work) {
    if (!phases_finite(frequency, runs.largest_time)) return evaluate_spectrum(samples, frequency, work);
    // Each run's trapezoids summed by the exact evaluation itself; the finite
    // ones between runs only add finite amounts to sums that are not finite.
    spectrum_sums sums;
    for (const non_finite_runs::run& r : runs.runs) {
        const auto first = static_cast<std::size_t>(r.first);
        const auto size = static_cast<std::size_t>(r.end - r.first);
        const spectrum_sums part =
            evaluate_sums({samples.times.subspan(first, size), samples.values.subspan(first, size)}, frequency, work);
        if (!combine(sums.cosine, part.cosine) || !combine(sums.sine, part.sine))
            return evaluate_spectrum(samples, frequency, work);
    }
    if (std::isfinite(sums.cosine) || std::isfinite(sums.sine)) return evaluate_spectrum(samples, frequency, work);
    return spectrum_line(frequency, sums);
}

}  // namespace trapft
