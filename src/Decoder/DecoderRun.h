// The decoder program's run, as a library function so that tests can drive it
// in-process and the program's entry stays a one-liner.
#pragma once

namespace orv {

// OrvDec orvfile confile [nSL] [nTL]. Returns the exit status: 0 on success,
// -1 (status 255) after the usage text or a one-line error message.
int runOrvDec(int argc, char** argv);

}  // namespace orv
