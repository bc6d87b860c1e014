// OrvEnc, the encoder program: animated OBJ frames in, a scalable stream out.
#include "EncoderApp/EncoderApp.h"

int main(int argc, char** argv) { return orv::runOrvEnc(argc, argv); }
