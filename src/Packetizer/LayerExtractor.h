// Layer extraction: copies every frame record of a stream, keeping or emptying
// each layer chunk by the same rule by which the decoder decides which layers
// it decodes, so a packetized stream still holds everything the decoder reads
// for the same layer counts.
#pragma once

#include "Entropy/BitBuffer.h"

namespace orv {

// _in stands just after the stream header, _out just after the re-written
// one. The first record is copied whole; every later record keeps a chunk of
// layer l in a frame of temporal layer t when isLayerDecoded(t, l, ...) holds,
// and is emptied (byte count 0) otherwise. Prints "  Packetizing frame %d\r"
// per record after the first. A truncated or corrupt stream throws orv::Error.
void extractLayers(BitBuffer& _in, int _nSL, int _F, int _nSLreq, int _nTLreq, BitBuffer& _out);

}  // namespace orv
