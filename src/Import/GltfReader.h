// GltfReader: a glTF 2.0 file (.gltf with an external .bin or data: URIs, or
// .glb) whose one triangle mesh is animated by morph targets, read as a
// sequence of frames for OrvEnc. This is the form OrvExport's glb has and
// three.js and Blender play: with a weights animation on the mesh's node, one
// frame per key time (base + the weighted targets); without one, the base and
// then each target at full weight. Positions are put through the world
// transform of the node that shows the mesh (which is how quantized files
// scale their integers back), and summed in double.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Import/LoadedAnimation.h"

namespace orv {

// True when the frame arguments are one .gltf or .glb file.
bool isGltfInput(const std::vector<std::string>& _args);

struct GltfAnimation {
    LoadedAnimation anim;             // frameRate 0 when the key times are not evenly spaced
    std::vector<std::string> notes;   // what the reader chose for the user to know, one line each
};

// The bytes of an external buffer named by a relative URI, or false when it
// cannot be read.
using GltfFileLoader = std::function<bool(const std::string& _uri, std::vector<uint8_t>& _out)>;

// Reads _bytes (a .glb or the JSON of a .gltf) named _path in messages.
// Throws orv::Error "<path>: <problem>" for anything malformed or unsupported.
GltfAnimation parseGltf(const std::string& _path, const std::vector<uint8_t>& _bytes, const GltfFileLoader& _load);

// Reads the file _path, its external buffers from beside it.
GltfAnimation readGltf(const std::string& _path);

}  // namespace orv
