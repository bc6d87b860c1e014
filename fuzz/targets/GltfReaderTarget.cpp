// Body of GltfReaderFuzz: arbitrary bytes as a .glb or as the JSON of a
// .gltf whose external buffers are missing. Malformed input may only end in
// orv::Error; what is read must be a consistent animation.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "Common/Check.h"
#include "FuzzTargets.h"
#include "Import/GltfReader.h"

namespace orvfuzz {

void gltfReaderOne(const uint8_t* _data, size_t _size) {
    const std::vector<uint8_t> bytes(_data, _data + _size);
    try {
        const orv::GltfAnimation g =
            orv::parseGltf("fuzz.glb", bytes, [](const std::string&, std::vector<uint8_t>&) { return false; });
        const int V = g.anim.positions.V;
        for (const auto& face : g.anim.faces)
            for (int i : face)
                if (i < 0 || i >= V) throw Finding("a read face names a vertex outside the mesh");
    } catch (const orv::Error&) {
    }
}

}  // namespace orvfuzz
