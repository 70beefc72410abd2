// The trapezoidal transform at one frequency.
#pragma once

#include <cstddef>
#include <cstdint>

#include "trapft/samples.hpp"
#include "trapft/sink.hpp"

namespace trapft {

// Samples the cosine and sine tables hold: the transform fills and
// sums that many at a time, so its memory does not grow with the samples.
inline constexpr std::int32_t table_samples = 512;

// A table's worth of each sample's value times the cosine and sine of its phase at
// the current frequency. Small (8 KiB): one per thread.
struct spectrum_work {
    double cosines[table_samples];  // value × cosine of the phase
    double sines[table_samples];    // value × sine of the phase
};

// The angular frequency ω = f × 2π of the exact evaluation, 2π being the
// double nearest it (0x401921FB54442D18): every exact phase is ω × t.
inline double exact_angular_frequency(double frequency) { return frequency * 6.283185307179586; }

// The two running sums of the transform: Σ of the trapezoids of x·cos and of
// x·sin (the imaginary part is minus the second).
struct spectrum_sums {
    double cosine = 0.0;
    double sine = 0.0;
};

// The trapezoid sums of `samples` at `frequency` (cycles per time unit),
// evaluated in exactly the documented order of double-precision operations;
// the samples' own weights, if any, are not read.
spectrum_sums evaluate_sums(sample_view samples, double frequency, spectrum_work& work);

// The line that the sums make: frequency, cosine sum, minus the sine sum and
// the magnitude, as every exact line is made.
spectrum_point spectrum_line(double frequency, spectrum_sums sums);

// The transform of `samples` at `frequency`: the line of its sums, with the
// trapezoid's weights or, where the samples carry them, their own.
spectrum_point evaluate_spectrum(sample_view samples, double frequency, spectrum_work& work);

}  // namespace trapft
