// The texture coordinates of an OBJ file: its vt lines and the texture id of
// every face corner ("v/vt" and "v/vt/vn"), split into triangles exactly as
// MeshIO's reader splits the positions, so that texture face k belongs to
// face k. MeshIO's parser feeds an ObjTextureReader when its options ask for
// the texture (OrvEnc's first frame); without one, vt lines are skipped.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Common/Types.h"

namespace orv {

struct ObjTexture {
    std::vector<double> uv;        // u, v per vt line (a third coordinate is dropped)
    std::vector<int32_t> corners;  // 3 zero-based vt ids per triangle, or empty when no face names any
};

// Each call returns "" or the problem (the parser adds the file and line).
class ObjTextureReader {
public:
    explicit ObjTextureReader(ObjTexture& _out) : out_(_out) {}

    // The text of one vt line after its keyword: u, and optionally v and w.
    std::string coordinates(const char* _s, const char* _e);
    // One face corner's token from its first '/' (or its end, when it has
    // none) to its end; _line marks the line for a later range error.
    std::string corner(const char* _slash, const char* _end, const char* _line);
    // After the corners of a face with these position ids: stores its texture
    // triangles, or checks that no corner of it named a texture id.
    std::string endFace(const Face& _positions);
    // After the whole file: every texture id must name a vt line. On a
    // problem _line is set to the line of the largest id.
    std::string finish(const char*& _line);

private:
    ObjTexture& out_;
    Face pending_;             // texture ids of the face being read
    int cornersWithout_ = 0;   // its corners that name none
    int facesWithout_ = 0;     // faces read without texture ids
    int64_t largest_ = 0;      // the largest one-based id named, and where
    const char* largestLine_ = nullptr;
};

}  // namespace orv
