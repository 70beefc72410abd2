// Evaluates a sweep into arrays through trapft's library, as another front end would, and prints them.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "trapft/reader.hpp"
#include "trapft/array_sink.hpp"
#include "trapft/sweep.hpp"

// Usage: spectrum_arrays SAMPLE_FILE START END COUNT [TOLERANCE]
int main(int argc, char** argv) {
    if (argc < 5) {
        std::fputs("Usage: spectrum_arrays SAMPLE_FILE START END COUNT [TOLERANCE]\n", stderr);
        return 2;
    }
    std::FILE* file = std::fopen(argv[1], "r");
    if (file == nullptr) {
        std::fputs("Error opening file.\n", stderr);
        return 1;
    }
    trapft::sample_set samples;
    const trapft::load_result loaded = trapft::load_samples(file, samples);
    std::fclose(file);
    if (loaded.status != trapft::load_status::ok) {
        std::fputs("Error reading file.\n", stderr);
        return 1;
    }

    trapft::sweep_options options;
    options.jobs = 0;  // every processor
    if (argc > 5) options.tolerance = std::strtod(argv[5], nullptr);
    const auto count = static_cast<std::int32_t>(std::strtol(argv[4], nullptr, 10));
    const std::int64_t lines = trapft::sweep_lines(count, options);
    std::vector<double> frequency(static_cast<std::size_t>(lines)), real(frequency.size()), imaginary(frequency.size()),
        magnitude(frequency.size());
    trapft::array_sink sink({frequency.data(), real.data(), imaginary.data(), magnitude.data(), 1, lines});
    // The frequencies as the tool reads them: through single precision.
    const double start = static_cast<float>(std::strtod(argv[2], nullptr));
    const double end = static_cast<float>(std::strtod(argv[3], nullptr));
    const trapft::sweep_status status = trapft::run_sweep(samples, start, end, count, options, sink);
    if (status != trapft::sweep_status::ok) {
        std::fprintf(stderr, "%s\n", trapft::sweep_message(status));
        return 1;
    }
    for (std::size_t j = 0; j < frequency.size(); ++j)
        std::printf("%.15g %.15g %.15g %.15g\n", frequency[j], real[j], imaginary[j], magnitude[j]);
    return 0;
}
