// The vector build's table filling, one function per instruction-set width.
#pragma once

#include <cstdint>

namespace trapft {

// As fill_phase_tables, with SLEEF's sincos (within 1 ULP) on 2, 4 or 8
// lanes. The 4- and 8-lane ones need AVX and AVX-512F on the running CPU.
void fill_phase_tables_sleef2(const double* times, const double* values, std::int32_t count,
                              double omega, double* cosines, double* sines);
void fill_phase_tables_sleef4(const double* times, const double* values, std::int32_t count,
                              double omega, double* cosines, double* sines);
void fill_phase_tables_sleef8(const double* times, const double* values, std::int32_t count,
                              double omega, double* cosines, double* sines);

// Lanes of the widest of them that the running CPU has: 8, 4 or 2.
int sleef_lanes();

}  // namespace trapft
