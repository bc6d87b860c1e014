// OrvExport's run as a library function, so tests can drive it in-process.
#pragma once

namespace orv {

// OrvExport IN OUT [options]. Returns 0, or -1 after the usage text or one
// error line.
int runOrvExport(int argc, char** argv);

}  // namespace orv
