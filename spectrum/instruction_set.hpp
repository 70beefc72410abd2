// The instruction sets the vector code is built for, the processor's best, and the one TRAPFT_ISA pins.
#pragma once

namespace trapft {

// Each set gives the same bits; a wider one only runs faster. `portable`
// builds on any 64-bit target (vectors of two doubles; SSE2 on x86-64, NEON
// on ARM64); avx2 needs AVX2 and FMA, avx512 AVX-512F as well.
enum class instruction_set { portable, avx2, avx512 };
inline constexpr int instruction_set_count = 3;

// The set's name, as TRAPFT_ISA takes it.
const char* instruction_set_name(instruction_set set);

// Whether this build and this processor run `set`.
bool runs(instruction_set set);

// The widest set this processor runs.
instruction_set best_instruction_set();

// The set to run: the one the environment variable TRAPFT_ISA names, when it
// is set and not empty, else the best. False when it names no set, or one
// this processor does not run. Read once, the first time.
bool chosen_instruction_set(instruction_set& set);

}  // namespace trapft
