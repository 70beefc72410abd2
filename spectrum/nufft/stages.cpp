// The table of stages for each instruction set: the one place that picks vector code.
#include "spectrum/nufft/stages.hpp"

namespace trapft::nufft {

extern const nufft_stages portable_stages;
#if defined(__x86_64__)
extern const nufft_stages avx2_stages;
extern const nufft_stages avx512_stages;
#endif

const nufft_stages& stages_for(instruction_set set) {
    switch (set) {
#if defined(__x86_64__)
    case instruction_set::avx512: return avx512_stages;
    case instruction_set::avx2: return avx2_stages;
#endif
    default: return portable_stages;
    }
}

}  // namespace trapft::nufft
