// The instruction sets the vector code is built for, the processor's best, and the one TRAPFT_ISA pins.
#include "spectrum/instruction_set.hpp"

#include <cstdlib>
#include <cstring>

namespace trapft {
namespace {

constexpr const char* names[instruction_set_count] = {"portable", "avx2", "avx512"};

struct choice {
    bool ok = true;
    instruction_set set = instruction_set::portable;
};

choice choose() {
    const char* const wanted = std::getenv("TRAPFT_ISA");
    if (wanted == nullptr || *wanted == '\0') return {true, best_instruction_set()};
    for (int k = 0; k < instruction_set_count; ++k) {
        const auto set = static_cast<instruction_set>(k);
        if (std::strcmp(wanted, names[k]) == 0) return {runs(set), set};
    }
    return {false, instruction_set::portable};
}

}  // namespace

const char* instruction_set_name(instruction_set set) { return names[static_cast<int>(set)]; }

bool runs(instruction_set set) {
#if defined(__x86_64__)
    __builtin_cpu_init();  // (a no-op once done; needed before constructors run)
#endif
    switch (set) {
    case instruction_set::portable: return true;
#if defined(__x86_64__)
    case instruction_set::avx2: return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    case instruction_set::avx512: return runs(instruction_set::avx2) && __builtin_cpu_supports("avx512f");
#endif
    default: return false;
    }
}

instruction_set best_instruction_set() {
    if (runs(instruction_set::avx512)) return instruction_set::avx512;
    if (runs(instruction_set::avx2)) return instruction_set::avx2;
    return instruction_set::portable;
}

bool chosen_instruction_set(instruction_set& set) {
    static const choice chosen = choose();
    set = chosen.set;
    return chosen.ok;
}

}  // namespace trapft
