// A canonical text form of a layered decomposition, for comparing readings of
// the layering across builds and implementations: per layer a line
// "L <l> <count>", then one line per vertex of the layer's order with the
// vertex id and, per predictor term, " <id> <weight as %.17g>".
#pragma once

#include <string>

#include "Decoder/LODConnectivity.h"

namespace orv {

std::string layeringDump(const LODConnectivity& _lod);

}  // namespace orv
