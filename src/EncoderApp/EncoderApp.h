// EncoderApp: the OrvEnc program (command line, loading, encoding, writing
// the stream and the connectivity, the closing report). MainOrvEnc.cpp only
// calls runOrvEnc, so tests and tools can run the whole program in-process.
#pragma once

namespace orv {

// Returns the exit status: 0 on success, -1 on any error (reported as one
// line on standard error).
int runOrvEnc(int argc, char** argv);

}  // namespace orv
