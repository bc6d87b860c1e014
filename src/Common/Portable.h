// Stand-ins for the few C++ standard library pieces that some toolchains
// still lack (the libc++ of the WebAssembly build has neither floating-point
// std::from_chars/std::to_chars nor std::bit_cast). Where the standard piece
// exists it is used, so native results stay exactly as they were; the
// stand-ins give the same results through the C library.
#pragma once

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>

namespace orv {

// std::bit_cast for trivially copyable types of one size.
template <class To, class From>
To bitCast(const From& _from) {
    static_assert(sizeof(To) == sizeof(From) && std::is_trivially_copyable_v<To> &&
                  std::is_trivially_copyable_v<From>);
    To to;
    std::memcpy(&to, &_from, sizeof(To));
    return to;
}

// The C library's conversions, the stand-ins (always compiled, so the
// tests can hold them against the standard library's).
inline bool parseDoubleWithC(const char* _first, const char* _last, double& _value) {
    const std::string copy(_first, _last);
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(copy.c_str(), &end);
    if (copy.empty() || end != copy.c_str() + copy.size()) return false;
    // Some C libraries flag subnormal results as range errors too; from_chars
    // refuses only overflow and underflow to zero.
    if (errno == ERANGE && (v == 0.0 || v == HUGE_VAL || v == -HUGE_VAL)) return false;
    _value = v;
    return true;
}

inline char* formatGeneral6WithC(char* _first, char* _last, double _value) {
    char text[32];
    const int n = std::snprintf(text, sizeof text, "%.6g", _value);
    const size_t count = n > 0 ? static_cast<size_t>(n) : 0;
    if (count > static_cast<size_t>(_last - _first)) return _first;
    std::memcpy(_first, text, count);
    return _first + count;
}

// Reads the decimal number [_first, _last) (no leading '+', no white space)
// into _value, correctly rounded. Returns false if the characters are not
// all one number or its magnitude is out of range (then _value is unset).
inline bool parseDouble(const char* _first, const char* _last, double& _value) {
#if defined(__cpp_lib_to_chars)
    const auto r = std::from_chars(_first, _last, _value);
    return r.ec == std::errc() && r.ptr == _last;
#else
    return parseDoubleWithC(_first, _last, _value);
#endif
}

// Writes _value as "%.6g" would, into [_first, _last) (room for 16
// characters is enough); returns the end of what was written.
inline char* formatGeneral6(char* _first, char* _last, double _value) {
#if defined(__cpp_lib_to_chars)
    return std::to_chars(_first, _last, _value, std::chars_format::general, 6).ptr;
#else
    return formatGeneral6WithC(_first, _last, _value);
#endif
}

}  // namespace orv
