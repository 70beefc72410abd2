// Uneven random samples for the sweep's tests: times about 5 ms apart, values in [−0.5, 0.5).
#pragma once

#include <cstdint>
#include <random>

#include "trapft/reader.hpp"

inline trapft::sample_set random_samples(std::int32_t n, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    trapft::sample_set samples;
    double time = 0.0;
    for (std::int32_t k = 0; k < n; ++k) {
        time += unit(rng) * 0.01;
        samples.times.push_back(time);
        samples.values.push_back(unit(rng) - 0.5);
    }
    return samples;
}
