// The phase reduction and the sine and cosine of phase_reduction.hpp, a vector of lanes at a time.
#pragma once

#include <bit>
#include <cstdint>
#include <limits>

#include "spectrum/nufft/vectors.hpp"
#include "spectrum/phase_reduction.hpp"

namespace trapft::nufft {

// Each function here does, lane by lane, the operations of its namesake for
// one double, so that a lane's bits are the same on every instruction set.

template <typename vector>
[[gnu::always_inline]] inline mask_of<vector> bits_of(const vector& x) {
    return std::bit_cast<mask_of<vector>>(x);
}

template <typename vector>
[[gnu::always_inline]] inline vector sign_bits(const vector& x) {
    return std::bit_cast<vector>(bits_of(x) & std::numeric_limits<std::int64_t>::min());
}

template <typename vector>
[[gnu::always_inline]] inline vector magnitude(const vector& x) {
    return std::bit_cast<vector>(bits_of(x) & std::numeric_limits<std::int64_t>::max());
}

// a·b + c, rounded once.
struct fused_lanes {
    template <typename vector>
    [[gnu::always_inline]] vector operator()(const vector& a, const vector& b, const vector& c) const {
        vector r;
        multiply_add(r, a, b, c);
        return r;
    }
    template <typename vector>
    [[gnu::always_inline]] vector operator()(const vector& a, const vector& b, double c) const {
        return (*this)(a, b, vector{} + c);
    }
};

template <typename vector>
[[gnu::always_inline]] inline vector nearest_integers(const vector& x) {
    return (x + 0x1.8p52) - 0x1.8p52;
}

// floor(x) for |x| < 2^51 (but +0 for −0).
template <typename vector>
[[gnu::always_inline]] inline vector floors(const vector& x) {
    const vector nearest = nearest_integers(x);
    return choose(less(x, nearest), nearest - 1.0, nearest);
}

template <typename vector>
[[gnu::always_inline]] inline vector reduce_units(const vector& x) {
    const vector magic = std::bit_cast<vector>(bits_of(sign_bits(x)) | bits_of(vector{} + 0x1.8p52));
    const vector r = x - ((x + magic) - magic);
    return choose(less(magnitude(x), vector{} + 0x1p52), r, vector{});
}

template <typename vector>
struct unit_pairs {
    vector hi;
    vector lo;
};

template <typename vector>
[[gnu::always_inline]] inline unit_pairs<vector> fractions_of_products(const vector& a, const vector& b) {
    const vector p = a * b;
    const vector e = fused_lanes{}(a, b, -p);
    const vector r1 = reduce_units(p);
    const vector r2 = reduce_units(e);
    const vector s = r1 + r2;
    const vector back = s - r1;
    const vector error = (r1 - (s - back)) + (r2 - back);
    const auto finite = less_equal(magnitude(p), vector{} + std::numeric_limits<double>::max());
    return {choose(finite, reduce_units(s), vector{}), choose(finite, error, vector{})};
}

template <typename vector>
[[gnu::always_inline]] inline vector phases_at(const unit_pairs<vector>& v, const unit_pairs<vector>& u,
                                               const vector& steps) {
    const unit_pairs<vector> su = fractions_of_products(steps, u.hi);
    return reduce_units((su.hi + v.hi) + ((su.lo + steps * u.lo) + v.lo));
}

// One pair in every lane.
template <typename vector>
[[gnu::always_inline]] inline unit_pairs<vector> every_lane(unit_pair p) {
    return {vector{} + p.hi, vector{} + p.lo};
}

// The quadrant's choices made from q in {−2, …, 2} with comparisons where
// sin_cos_cycles takes q's last two bits.
template <typename vector>
[[gnu::always_inline]] inline void sin_cos_lanes(const vector& r, vector& sine, vector& cosine) {
    const vector q = nearest_integers(4.0 * r);
    const vector x = (r - 0.25 * q) * two_pi;
    const vector x2 = x * x;
    vector sp, cp;
    quarter_polynomials(x2, sp, cp, fused_lanes{});
    const vector s = fused_lanes{}(x * x2, sp, x);
    const vector c = fused_lanes{}(x2, cp, 1.0);
    const vector one = vector{} + 1.0, two = vector{} + 2.0;
    const auto odd = equal(q, one) | equal(q, -one);                 // quadrant & 1
    const auto negate_a = equal(q, two) | less_equal(q, -one);       // quadrant & 2: quadrants 2 and 3
    const auto negate_b = equal(q, one) | equal(magnitude(q), two);  // (quadrant + 1) & 2: quadrants 1 and 2
    const vector a = choose(odd, c, s);
    const vector b = choose(odd, s, c);
    sine = choose(negate_a, -a, a);
    cosine = choose(negate_b, -b, b);
}

}  // namespace trapft::nufft
