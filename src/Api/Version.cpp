// The library's version and the release of buffers it hands to callers.
#include <cstdlib>

#include "orv/orv.h"

extern "C" const char* orv_version(void) { return ORV_VERSION; }

extern "C" void orv_free(void* p) { std::free(p); }
