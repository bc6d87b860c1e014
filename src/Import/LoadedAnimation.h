// LoadedAnimation: an animation as every input reader hands it to the
// encoder (OBJ frames, point caches, glTF): the positions of every frame, the
// first frame's faces and what the source said about timing and texture.
// It lives with the readers so that they need nothing from the encoder
// application that calls them.
#pragma once

#include <cstdint>
#include <vector>

#include "Common/Types.h"
#include "Mesh/GeometryT.h"

namespace orv {

struct LoadedAnimation {
    GeometryT<double> positions{0, 0};  // V x F
    FaceList faces;                     // from the first frame
    int polygonsSplit = 0;              // faces of more than three vertices in the source
    double frameRate = 0;               // 0: the input does not say
    double startTime = 0;               // seconds of the first frame, where the input says
    std::vector<double> texCoords{};    // the first frame's u, v pairs (with texFaces, or empty)
    std::vector<int32_t> texFaces{};    // 3 texture ids per face of faces, or empty
};

}  // namespace orv
