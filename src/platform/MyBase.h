// Numeric ground rules shared by every unit: the 80-bit extended type used for time,
// round-half-to-even rounding, and overflow-checked integer arithmetic.
#pragma once

#include <cfenv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <type_traits>
#include <utility>

#include "MyExceptions.h"

using Extended = long double;
static_assert(std::numeric_limits<Extended>::digits == 64,
              "Extended must be the 80-bit x87 format (64-bit mantissa)");

// Round to the nearest integer, halves to even (banker's rounding), as a 64-bit value.
// Raises EIntOverflow when the value is not finite or does not fit.
inline int64_t Round64(Extended x) {
    if (!std::isfinite(x) || x >= 9223372036854775807.0L || x < -9223372036854775808.0L)
        throw EIntOverflow("Round: value out of range");
    // nearbyintl follows the current rounding mode, which this program never changes
    // from round-to-nearest-even.
    return static_cast<int64_t>(std::nearbyintl(x));
}

// Round to a 32-bit integer, halves to even; EIntOverflow when it does not fit.
inline int32_t Round(Extended x) {
    int64_t r = Round64(x);
    if (r > std::numeric_limits<int32_t>::max() || r < std::numeric_limits<int32_t>::min())
        throw EIntOverflow("Round: value out of range");
    return static_cast<int32_t>(r);
}

// Round down toward zero, as the 32-bit integer part; EIntOverflow when it does not fit.
inline int32_t Trunc(Extended x) {
    if (!std::isfinite(x) || x >= 2147483648.0L || x <= -2147483649.0L)
        throw EIntOverflow("Trunc: value out of range");
    return static_cast<int32_t>(x);
}

template <typename T> inline T CheckedAdd(T a, T b) {
    static_assert(std::is_integral_v<T>);
    T r;
    if (__builtin_add_overflow(a, b, &r))
        throw EIntOverflow();
    return r;
}

template <typename T> inline T CheckedSub(T a, T b) {
    static_assert(std::is_integral_v<T>);
    T r;
    if (__builtin_sub_overflow(a, b, &r))
        throw EIntOverflow();
    return r;
}

template <typename T> inline T CheckedMul(T a, T b) {
    static_assert(std::is_integral_v<T>);
    T r;
    if (__builtin_mul_overflow(a, b, &r))
        throw EIntOverflow();
    return r;
}

// Converts between integer types, raising EIntOverflow when the value does not fit.
template <typename To, typename From> inline To CheckedCast(From v) {
    static_assert(std::is_integral_v<To> && std::is_integral_v<From>);
    To r;
    if (__builtin_add_overflow(v, From(0), &r))
        throw EIntOverflow();
    return r;
}

// Runs a cleanup when the scope ends, on every way out.
template <typename F> class TScopeExit {
public:
    explicit TScopeExit(F f) : Fn(std::move(f)) {}
    ~TScopeExit() { Fn(); }
    TScopeExit(const TScopeExit&) = delete;
    TScopeExit& operator=(const TScopeExit&) = delete;

private:
    F Fn;
};
template <typename F> TScopeExit<F> MakeScopeExit(F f) {
    return TScopeExit<F>(std::move(f));
}
