// OrvEnc, the encoder program: animated OBJ frames in, a scalable stream out.
#include "Encoder/EncoderApp.h"

int main(int argc, char** argv) { return orv::runOrvEnc(argc, argv); }
