// Always-active internal checks and the error type that carries them.
//
// A failed check never aborts: it throws CheckFailure with the text
// "Assertion failed: <condition>, file <module>, line <n>", so the programs can
// turn a malformed input file into a one-line error and exit status -1 instead
// of a core dump. The checks are plain code, never compiled out by NDEBUG.
#pragma once

#include <stdexcept>
#include <string>

namespace orv {

// An internal consistency check failed (often because an input file lied).
class CheckFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A user-facing failure with a plain message (bad argument, corrupt file, ...).
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

[[noreturn]] void checkFailed(const char* condition, const char* module, int line);

}  // namespace orv

// ORV_CHECK(cond, "Mesh/GeometryT"): the condition text is reported verbatim.
#define ORV_CHECK(cond, module)                                 \
    do {                                                        \
        if (!(cond)) [[unlikely]]                               \
            ::orv::checkFailed(#cond, module, __LINE__);        \
    } while (0)
