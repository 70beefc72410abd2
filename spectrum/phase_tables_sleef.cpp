#include "spectrum/phase_tables_sleef.hpp"

#include "spectrum/instruction_set.hpp"
#include "spectrum/phase_tables.hpp"

namespace trapft {
namespace {

using fill_function = void (*)(const double*, const double*, std::int32_t, double, double*, double*);

fill_function widest_fill() {
    switch (sleef_lanes()) {
    case 8: return fill_phase_tables_sleef8;
    case 4: return fill_phase_tables_sleef4;
    default: return fill_phase_tables_sleef2;
    }
}

}  // namespace

int sleef_lanes() {
    switch (best_instruction_set()) {
    case instruction_set::avx512: return 8;
    case instruction_set::avx2: return 4;
    default: return 2;
    }
}

void fill_phase_tables(const double* times, const double* values, std::int32_t count, double omega,
                       double* cosines, double* sines) {
    static const fill_function fill = widest_fill();
    fill(times, values, count, omega, cosines, sines);
}

}  // namespace trapft
