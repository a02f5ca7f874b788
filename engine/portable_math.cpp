// Portable cosine in double-double arithmetic.
// In: a double argument. Out: its cosine rounded to double, identical in every IEEE build.
//
// A double-double value is an unevaluated sum hi + lo with |lo| <= ulp(hi) / 2, good for
// about 106 bits. The products are exact through Dekker's splitting (no fused multiply-add,
// which the build flags forbid anyway), so every step is a fixed sequence of IEEE operations.
#include "engine/portable_math.h"

#include <cmath>

namespace mendora {

namespace {

struct DoubleDouble {
    double hi;
    double lo;
};

DoubleDouble quickTwoSum(double a, double b) {
    const double s = a + b;
    return {s, b - (s - a)};
}

DoubleDouble twoSum(double a, double b) {
    const double s = a + b;
    const double bb = s - a;
    return {s, (a - (s - bb)) + (b - bb)};
}

// Dekker's split: a = hi + lo with each half holding at most 26 significant bits.
void split(double a, double& hi, double& lo) {
    const double t = 134217729.0 * a; // 2^27 + 1
    hi = t - (t - a);
    lo = a - hi;
}

DoubleDouble twoProduct(double a, double b) {
    const double p = a * b;
    double ah, al, bh, bl;
    split(a, ah, al);
    split(b, bh, bl);
    return {p, ((ah * bh - p) + ah * bl + al * bh) + al * bl};
}

DoubleDouble add(DoubleDouble a, DoubleDouble b) {
    DoubleDouble s = twoSum(a.hi, b.hi);
    const DoubleDouble t = twoSum(a.lo, b.lo);
    s.lo += t.hi;
    s = quickTwoSum(s.hi, s.lo);
    s.lo += t.lo;
    return quickTwoSum(s.hi, s.lo);
}

DoubleDouble multiply(DoubleDouble a, DoubleDouble b) {
    DoubleDouble p = twoProduct(a.hi, b.hi);
    p.lo += a.hi * b.lo + a.lo * b.hi;
    return quickTwoSum(p.hi, p.lo);
}

DoubleDouble multiply(DoubleDouble a, double b) {
    DoubleDouble p = twoProduct(a.hi, b);
    p.lo += a.lo * b;
    return quickTwoSum(p.hi, p.lo);
}

DoubleDouble divide(DoubleDouble a, double b) {
    const double q1 = a.hi / b;
    DoubleDouble r = add(a, multiply(DoubleDouble{-q1, 0.0}, DoubleDouble{b, 0.0}));
    const double q2 = r.hi / b;
    r = add(r, multiply(DoubleDouble{-q2, 0.0}, DoubleDouble{b, 0.0}));
    const double q3 = r.hi / b;
    DoubleDouble q = quickTwoSum(q1, q2);
    return add(q, DoubleDouble{q3, 0.0});
}

// pi / 2 in three parts (bits of 1.5707963267948966192313216916397514...), each part the
// rounding of the remainder of the previous ones.
constexpr double kHalfPi1 = 1.5707963267948966;
constexpr double kHalfPi2 = 6.123233995736766e-17;
constexpr double kHalfPi3 = -1.4973849048591698e-33;

// Taylor series of cos (offset 0) or sin (offset 1) for |r| <= pi / 4, summed until the
// terms fall below 2^-110 of the leading one.
DoubleDouble series(DoubleDouble r, int offset) {
    const DoubleDouble minusSquare = multiply(multiply(r, r), -1.0);
    DoubleDouble term = offset == 0 ? DoubleDouble{1.0, 0.0} : r;
    DoubleDouble sum = term;
    for (int n = 1; n < 40; n++) {
        const double k = 2.0 * n + offset;
        term = divide(multiply(term, minusSquare), (k - 1.0) * k);
        sum = add(sum, term);
        if (std::fabs(term.hi) < 1e-33 * std::fabs(sum.hi) || term.hi == 0.0)
            break;
    }
    return sum;
}

} // namespace

double portableCos(double x) {
    x = std::fabs(x);
    // Quadrant: the nearest multiple of pi / 2. k stays small (the basis needs k <= 2h), so
    // k times each part of pi / 2 is exact in double-double and the reduction loses nothing.
    const double k = std::floor(x / kHalfPi1 + 0.5);
    DoubleDouble r = twoSum(x, 0.0);
    r = add(r, multiply(twoProduct(k, kHalfPi1), -1.0));
    r = add(r, multiply(twoProduct(k, kHalfPi2), -1.0));
    r = add(r, multiply(twoProduct(k, kHalfPi3), -1.0));
    const int quadrant = static_cast<int>(std::fmod(k, 4.0));
    DoubleDouble value;
    switch (quadrant) {
    case 0:
        value = series(r, 0);
        break;
    case 1:
        value = multiply(series(r, 1), -1.0);
        break;
    case 2:
        value = multiply(series(r, 0), -1.0);
        break;
    default:
        value = series(r, 1);
        break;
    }
    return value.hi + value.lo;
}

} // namespace mendora
