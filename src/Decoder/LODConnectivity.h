// LODConnectivity: the layered decomposition of the connectivity into nSL
// nested spatial layers, with each layer's coding order and predictor terms.
// Encoder and decoder compute it independently from the same faces, so every
// order rule in it is part of the stream format.
#pragma once

#include <vector>

#include "Common/Types.h"

namespace orv {

class LODConnectivity {
public:
    // nSL >= 1; every face index must lie in 0..V-1 (checked by the caller
    // with a clear message; the graph's own check is the last line of defence).
    LODConnectivity(int _nSL, const FaceList& _faces, int _V);

    int nSL;
    int V;
    std::vector<std::vector<int>> vertexOrder_;
    std::vector<std::vector<Predictor>> vertexPredictor_;
    std::vector<std::vector<bool>> isOrientable_;
};

}  // namespace orv
