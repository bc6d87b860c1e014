// Argument helpers shared by the two programs.
#pragma once

#include <climits>
#include <cstdint>

namespace orv {

// A layer count as the programs read it: leading white space, an optional
// sign, then the digits up to the first other character; no digits gives 0.
// Values beyond the int range saturate instead of wrapping.
inline int parseCount(const char* _text) {
    const char* p = _text;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r') ++p;
    const bool negative = *p == '-';
    if (*p == '+' || *p == '-') ++p;
    int64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        if (value <= INT_MAX) value = value * 10 + (*p - '0');
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

}  // namespace orv
