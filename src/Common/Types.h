// Small shared types: the face list read from OBJ files and the predictor term
// (vertex id, weight) that the layering produces and the geometry coder uses.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace orv {

// One face: exactly three zero-based vertex ids, in the file's winding order.
using Face = std::vector<int>;
using FaceList = std::vector<Face>;

// A predictor term: (vertex id, weight). A vertex's terms all weigh 1/n.
using PredictorTerm = std::pair<int32_t, double>;
using Predictor = std::vector<PredictorTerm>;

}  // namespace orv
