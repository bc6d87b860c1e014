// Formats the report of a failed check; see Check.h for why it throws.
#include "Common/Check.h"

#include <cstdio>

namespace orv {

void checkFailed(const char* condition, const char* module, int line) {
    char text[1024];
    std::snprintf(text, sizeof text, "Assertion failed: %s, file %s, line %d", condition, module, line);
    throw CheckFailure(text);
}

}  // namespace orv
