// OrvDec: decodes a stream file with the connectivity into one OBJ file per
// frame. The run itself is runOrvDec (DecoderRun.cpp).
#include "Common/CConsole.h"
#include "Decoder/DecoderRun.h"

namespace {
// No log file: see CConsole.cpp.
orv::CConsole console("");
}  // namespace

int main(int argc, char** argv) { return orv::runOrvDec(argc, argv); }
