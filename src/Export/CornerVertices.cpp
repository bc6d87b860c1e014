// Splitting vertices by texture id (see CornerVertices.h). A vertex with one
// texture id, the common case, needs no lookup beyond its first corner.
#include "Export/CornerVertices.h"

#include <numeric>
#include <unordered_map>

#include "Common/Check.h"

namespace orv {

CornerVertices splitCornerVertices(const std::vector<int32_t>& _faces, const std::vector<int32_t>& _texFaces,
                                   int32_t _vertexCount) {
    CornerVertices out;
    const size_t V = static_cast<size_t>(_vertexCount);
    out.position.resize(V);
    std::iota(out.position.begin(), out.position.end(), 0);
    if (_texFaces.empty()) {
        out.indices = _faces;
        return out;
    }
    ORV_CHECK(_texFaces.size() == _faces.size(), "CornerVertices");
    out.texture.assign(V, -1);
    out.indices.resize(_faces.size());
    std::unordered_map<uint64_t, int32_t> copies;  // (vertex, texture id) -> split vertex beyond V
    for (size_t c = 0; c < _faces.size(); ++c) {
        const int32_t v = _faces[c], t = _texFaces[c];
        ORV_CHECK(v >= 0 && static_cast<size_t>(v) < V && t >= 0, "CornerVertices");
        int32_t& first = out.texture[static_cast<size_t>(v)];
        if (first < 0) first = t;
        if (first == t) {
            out.indices[c] = v;
            continue;
        }
        const uint64_t key = static_cast<uint64_t>(v) << 32 | static_cast<uint32_t>(t);
        const auto [it, added] = copies.try_emplace(key, static_cast<int32_t>(out.position.size()));
        if (added) {
            out.position.push_back(v);
            out.texture.push_back(t);
        }
        out.indices[c] = it->second;
    }
    return out;
}

}  // namespace orv
