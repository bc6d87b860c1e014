// The lossless connectivity codec: a triangle list (three zero-based vertex
// ids per face) to a compact byte string and back, keeping the exact face
// order and the rotation of every face, which the spatial layering of a
// stream depends on. The encoder is ConnectivityEncoder.cpp, the decoder
// ConnectivityDecoder.cpp; both share the model of ConnectivityModel.h.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "Common/Types.h"

namespace orv {

struct Connectivity {
    int32_t vertexCount = 0;
    std::vector<int32_t> indices;  // 3 per face
    size_t faceCount() const { return indices.size() / 3; }
};

// Largest vertex count the codec accepts.
constexpr int32_t kMaxCodedVertices = 1 << 28;

// Where the bits of a coded list go, by kind of decision (for figures).
enum TallyCategory : int {
    kTallyEdge,       // a recent edge shared, which one, the rotation
    kTallyShared,     // an older open edge continued
    kTallyIsNew,      // new vertex or not
    kTallyNew,        // which new vertex
    kTallyNeighbour,  // an old vertex among the face's candidates
    kTallyFifo,       // an old vertex among the recent ones
    kTallyFar,        // an old vertex named explicitly
    kTallyCategories
};
struct ConnectivityTally {
    std::array<double, kTallyCategories> bits{};
    int mode = 0;  // the coding mode of the list
    static const char* name(int _category);
};

// Throws orv::Error when an index lies outside 0.._vertexCount-1, the list is
// not a whole number of triangles, or the counts exceed the codec's limits.
// _tally, when given, receives where the bits of the returned list went.
std::vector<uint8_t> encodeConnectivity(const std::vector<int32_t>& _indices, int32_t _vertexCount,
                                        ConnectivityTally* _tally = nullptr);

// The list in one given coding mode (ConnectivityModel.h), including the
// modes of earlier versions that decoders still read: for tests.
std::vector<uint8_t> encodeConnectivityInMode(const std::vector<int32_t>& _indices, int32_t _vertexCount, uint8_t _mode,
                                              ConnectivityTally* _tally = nullptr);

// Throws orv::Error with a one-line reason (no file name; the caller adds it)
// for a truncated or corrupt payload, a count the payload cannot hold or an
// index out of range. Memory stays proportional to _size whatever the counts
// in the payload claim.
Connectivity decodeConnectivity(const uint8_t* _data, size_t _size);

// Conversions between the OBJ face list and the flat list. toFlatIndices
// throws orv::Error for a face that is not a triangle.
std::vector<int32_t> toFlatIndices(const FaceList& _faces);
FaceList toFaceList(const std::vector<int32_t>& _indices);

}  // namespace orv
