// Argument and console helpers shared by the two programs.
#pragma once

#include <climits>
#include <cstdint>
#include <cstdio>
#include <string>

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

// Prints a usage text verbatim; returns the exit status -1.
inline int printUsage(const char* _usage) {
    std::printf("%s", _usage);
    std::fflush(stdout);
    return -1;
}

// One error line (it also overwrites a progress line left open); returns -1.
inline int printFailure(const std::string& _message) {
    std::printf("Error: %s\n", _message.c_str());
    std::fflush(stdout);
    return -1;
}

}  // namespace orv
