// The plain program: the same formulas as trapft, read with fscanf and written
// with printf, as one would first write them. The speed yardstick of
// compare.sh; it checks nothing, so it is only fed well-formed files.
#include <cmath>
#include <cstdio>

namespace {

constexpr int max_samples = 16384;
float time_in[max_samples], value_in[max_samples];
double t[max_samples], x[max_samples], c[max_samples], s[max_samples];

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) return 2;
    float start_in = 0, end_in = 0;
    int count = 0;
    std::sscanf(argv[2], "%f", &start_in);
    std::sscanf(argv[3], "%f", &end_in);
    std::sscanf(argv[4], "%d", &count);
    std::FILE* file = std::fopen(argv[1], "r");
    if (file == nullptr) {
        std::fputs("Error opening file.\n", stderr);
        return 1;
    }
    int n = 0;
    while (n < max_samples && std::fscanf(file, "%f %f\n", &time_in[n], &value_in[n]) == 2) {
        t[n] = time_in[n];
        x[n] = value_in[n];
        ++n;
    }
    const double start = start_in;
    const double step = count > 1 ? (static_cast<double>(end_in) - start) / (count - 1) : 0.0;
    double f = start;
    for (int j = 0; j < count; ++j) {
        const double omega = f * 6.283185307179586;
        for (int k = 0; k < n; ++k) {
            c[k] = std::cos(omega * t[k]);
            s[k] = std::sin(omega * t[k]);
        }
        double cs = 0.0, ss = 0.0;
        for (int k = 0; k + 1 < n; ++k) {
            const double delta = t[k + 1] - t[k];
            ss = ss + (((x[k] * s[k]) + (x[k + 1] * s[k + 1])) * delta) * 0.5;
            cs = cs + (((x[k] * c[k]) + (x[k + 1] * c[k + 1])) * delta) * 0.5;
        }
        std::printf("%.15g %.15g %.15g %.15g\n", f, cs, -ss, std::sqrt((cs * cs) + (ss * ss)));
        f = f + step;
    }
    return 0;
}
