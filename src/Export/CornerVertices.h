// glTF gives every vertex one texture coordinate, while the package (like
// OBJ) gives one per face corner. A vertex whose corners carry different
// texture ids therefore becomes several vertices: the first V keep the
// stream's order and take the texture id of their first corner in face
// order, and every further (vertex, texture id) pair is appended in the order
// of its first corner. Without texture faces nothing is split.
#pragma once

#include <cstdint>
#include <vector>

namespace orv {

struct CornerVertices {
    std::vector<int32_t> indices;   // 3 per face, into the split vertices
    std::vector<int32_t> position;  // per split vertex: the stream vertex whose positions it takes
    std::vector<int32_t> texture;   // per split vertex: its texture id (-1: in no face), or empty
};

// _texFaces is empty or parallel to _faces; every id is in range (the
// package reader saw to it).
CornerVertices splitCornerVertices(const std::vector<int32_t>& _faces, const std::vector<int32_t>& _texFaces,
                                   int32_t _vertexCount);

}  // namespace orv
