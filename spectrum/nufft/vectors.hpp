// Vectors of doubles for the stages' loops, and the few operations on them that differ by instruction set.
#pragma once

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <cmath>
#include <cstring>

namespace trapft::nufft {

// Vectors of doubles (GCC and Clang vector extensions), for the loops that
// compilers do not vectorize well on their own (the spreading, the weights).
typedef double vector2 __attribute__((vector_size(2 * sizeof(double))));
typedef double vector4 __attribute__((vector_size(4 * sizeof(double))));
typedef double vector8 __attribute__((vector_size(8 * sizeof(double))));

template <typename vector>
[[gnu::always_inline]] inline void load(vector& v, const double* p) {
    std::memcpy(&v, p, sizeof v);
}

template <typename vector>
[[gnu::always_inline]] inline void store(double* p, const vector& v) {
    std::memcpy(p, &v, sizeof v);
}


// Each lane twice: (a, b, …) gives (a, a, b, b, …) in `low` and `high`.
[[gnu::always_inline]] inline void pair_up(const vector2& v, vector2& low, vector2& high) {
    low = __builtin_shufflevector(v, v, 0, 0);
    high = __builtin_shufflevector(v, v, 1, 1);
}
[[gnu::always_inline]] inline void pair_up(const vector4& v, vector4& low, vector4& high) {
    low = __builtin_shufflevector(v, v, 0, 0, 1, 1);
    high = __builtin_shufflevector(v, v, 2, 2, 3, 3);
}
[[gnu::always_inline]] inline void pair_up(const vector8& v, vector8& low, vector8& high) {
    low = __builtin_shufflevector(v, v, 0, 0, 1, 1, 2, 2, 3, 3);
    high = __builtin_shufflevector(v, v, 4, 4, 5, 5, 6, 6, 7, 7);
}

// (re, im, re, im, …) from the pair at p, without a detour through memory.
[[gnu::always_inline]] inline void repeat_pair(vector2& v, const double* p) { load(v, p); }
#if defined(__x86_64__)
[[gnu::target("avx2,fma")]] inline void repeat_pair(vector4& v, const double* p) {
    v = static_cast<vector4>(_mm256_broadcast_pd(reinterpret_cast<const __m128d*>(p)));
}
[[gnu::target("avx512f,avx2,fma")]] inline void repeat_pair(vector8& v, const double* p) {
    const __m128 two = _mm_loadu_ps(reinterpret_cast<const float*>(p));  // the 16 bytes of (re, im)
    v = static_cast<vector8>(_mm512_castps_pd(_mm512_maskz_broadcast_f32x4(0xffff, two)));
}
#endif

// a·b + c, fused on every instruction set, so that every set gives the same
// bits: std::fma lane by lane for the portable vectors (an instruction on
// ARM64 and on x86-64 processors since 2013, a library call before them).
// The wider forms carry their instruction set and are inlined into the
// flattened spreading of that set only.
// (Vectors pass by reference: their passing by value depends on the set.)
inline void multiply_add(vector2& r, const vector2& a, const vector2& b, const vector2& c) {
    r = vector2{std::fma(a[0], b[0], c[0]), std::fma(a[1], b[1], c[1])};
}
#if defined(__x86_64__)
[[gnu::target("avx2,fma")]] inline void multiply_add(vector4& r, const vector4& a, const vector4& b, const vector4& c) {
    r = __builtin_ia32_vfmaddpd256(a, b, c);
}
[[gnu::target("avx512f,avx2,fma")]] inline void multiply_add(vector8& r, const vector8& a, const vector8& b,
                                                             const vector8& c) {
    r = __builtin_ia32_vfmaddpd512_mask(a, b, c, 0xff, 4);
}
#endif

// Lane by lane comparisons (masks of all ones or zeros) and choices. The
// *_into forms carry their instruction set, as multiply_add does: written in
// a template compiled without it, GCC takes a 512-bit comparison or choice
// lane by lane, with a branch for each. (Results by reference, as for
// multiply_add; the templates below return them.)
template <typename vector>
using mask_of = decltype(vector{} < vector{});
#define TRAPFT_LANE_CHOICES(vector, attributes)                                                                  \
    attributes inline void less_into(mask_of<vector>& r, const vector& a, const vector& b) { r = a < b; }        \
    attributes inline void less_equal_into(mask_of<vector>& r, const vector& a, const vector& b) { r = a <= b; } \
    attributes inline void choose_into(vector& r, const mask_of<vector>& m, const vector& a, const vector& b) {  \
        r = m ? a : b;                                                                                           \
    }
TRAPFT_LANE_CHOICES(vector2, [[gnu::always_inline]])
#if defined(__x86_64__)
TRAPFT_LANE_CHOICES(vector4, [[gnu::target("avx2,fma")]])
TRAPFT_LANE_CHOICES(vector8, [[gnu::target("avx512f,avx2,fma")]])
#endif
#undef TRAPFT_LANE_CHOICES

template <typename vector>
[[gnu::always_inline]] inline mask_of<vector> less(const vector& a, const vector& b) {
    mask_of<vector> r;
    less_into(r, a, b);
    return r;
}
template <typename vector>
[[gnu::always_inline]] inline mask_of<vector> less_equal(const vector& a, const vector& b) {
    mask_of<vector> r;
    less_equal_into(r, a, b);
    return r;
}
// a == b, as a ≤ b and b ≤ a (both false where either is NaN).
template <typename vector>
[[gnu::always_inline]] inline mask_of<vector> equal(const vector& a, const vector& b) {
    return less_equal(a, b) & less_equal(b, a);
}
template <typename vector>
[[gnu::always_inline]] inline vector choose(const mask_of<vector>& m, const vector& a, const vector& b) {
    vector r;
    choose_into(r, m, a, b);
    return r;
}

// The real and the imaginary parts of a vector's worth of (re, im) pairs at p.
template <typename vector>
[[gnu::always_inline]] inline void split_pairs(const double* p, vector& re, vector& im) {
    vector low, high;
    load(low, p);
    load(high, p + sizeof(vector) / sizeof(double));
    if constexpr (sizeof(vector) == 2 * sizeof(double)) {
        re = __builtin_shufflevector(low, high, 0, 2);
        im = __builtin_shufflevector(low, high, 1, 3);
    } else if constexpr (sizeof(vector) == 4 * sizeof(double)) {
        re = __builtin_shufflevector(low, high, 0, 2, 4, 6);
        im = __builtin_shufflevector(low, high, 1, 3, 5, 7);
    } else {
        re = __builtin_shufflevector(low, high, 0, 2, 4, 6, 8, 10, 12, 14);
        im = __builtin_shufflevector(low, high, 1, 3, 5, 7, 9, 11, 13, 15);
    }
}

}  // namespace trapft::nufft
