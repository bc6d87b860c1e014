// MeshIO: reads the connectivity (and first-frame positions) from OBJ text and
// writes reconstructed frames as OBJ files, one per frame.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Common/Types.h"
#include "Mesh/GeometryT.h"

namespace orv {

struct ObjTexture;

// Appends the faces of the file to _faces and returns its vertices as a
// one-frame geometry, or nullptr when the file has no vertex line or cannot be
// opened (the latter reported as "Error: Opening file <path> failed!").
// Malformed lines throw orv::Error naming the file and the line number.
std::unique_ptr<GeometryT<double>> readOBJ(const std::string& _path, FaceList& _faces);


// How faces that are not plain triangles are read. The connectivity reader's
// default refuses them; frames given to the encoder accept both.
struct ObjFaceOptions {
    // A face of n > 3 vertices becomes n - 2 triangles: a fan from its first
    // vertex, or, when that fan has a triangle naming one vertex twice, from
    // the first vertex whose fan has none. It depends on the ids alone, so
    // every frame of a sequence is split alike.
    bool triangulate = false;
    // Negative ids count back from the last vertex read so far (-1 is it).
    bool relativeIndices = false;
    // When set, receives the vt lines and each triangle's texture ids
    // (ObjTexture.h); malformed texture data is an error naming the line.
    ObjTexture* texture = nullptr;
};
struct ObjReadReport {
    int polygonsSplit = 0;  // faces of more than three vertices
};
std::unique_ptr<GeometryT<double>> readOBJ(const std::string& _path, FaceList& _faces, const ObjFaceOptions& _options,
                                           ObjReadReport* _report = nullptr);

// readOBJ on text already in memory; _path only names it in errors.
std::unique_ptr<GeometryT<double>> parseOBJ(const std::string& _path, const std::string& _text, FaceList& _faces,
                                            const ObjFaceOptions& _options = {}, ObjReadReport* _report = nullptr);

// One frame's text parsed into buffers the caller reuses from frame to frame,
// so that reading a long sequence allocates nothing per frame or per face:
// xyz holds three coordinates per vertex (empty: no vertex line), triangles
// three 0-based ids per triangle, polygons already split. The values and the
// errors are exactly parseOBJ's.
struct ObjFaceTail;
struct ObjFrameBuffers {
    std::string text;
    std::vector<double> xyz;
    std::vector<int> triangles;
    int polygonsSplit = 0;
    // A sequence's frames mostly repeat the first frame's face lines byte
    // for byte. When set (and usable), a frame whose text from its first
    // face line on is knownTail's text, after as many vertices, takes its
    // triangles from knownTail instead of parsing them again: the same
    // bytes parsed from the same state give the same triangles and no error.
    const ObjFaceTail* knownTail = nullptr;
};
// The face part of one frame: the text from the first line whose first word
// is "f" to the end, and what parsing it gave.
struct ObjFaceTail {
    std::string text;
    size_t verticesBefore = 0;
    std::vector<int> triangles;
    int polygonsSplit = 0;
    bool usable = false;  // a face line and no vertex line after it
};
// Reads _path into _buffers.text and parses it; false when it cannot be opened.
bool readOBJFrame(const std::string& _path, const ObjFaceOptions& _options, ObjFrameBuffers& _buffers,
                  ObjFaceTail* _record = nullptr);
// Parses _buffers.text; _path only names it in errors. With _record, its
// face tail is kept there (for the buffers of later frames); without
// texture options only.
void parseOBJFrame(const std::string& _path, const ObjFaceOptions& _options, ObjFrameBuffers& _buffers,
                   ObjFaceTail* _record = nullptr);

// The triangles of one polygon as ObjFaceOptions::triangulate describes:
// (s, s+k, s+k+1) for k = 1..n-2, indices mod n, s = triangulationStart.
void appendTriangulated(const Face& _polygon, FaceList& _out);
size_t triangulationStart(const Face& _polygon);

// The text of one frame as an OBJ file (header comments, v lines, f lines).
std::string objFrameText(const GeometryT<double>& _geometry, int _f, const FaceList& _faces);

// Formats one coordinate as the C++ stream's default does (6 significant digits).
void appendCoordinate(std::string& _out, double _value);

// Refuses a face list that names a vertex outside 0..V-1 (the stream's V),
// with an orv::Error naming the connectivity file.
void checkFaceIndices(const FaceList& _faces, int _V, const std::string& _path);

// Both write through AtomicFile and report a failure as one "Error: ..." line
// on standard output, returning false. writeOBJFrames renames no frame into
// place before every frame was written and closed without error.
bool writeOBJ(const GeometryT<double>& _geometry, const std::string& _name, int _f, const FaceList& _faces);
bool writeOBJFrames(const FaceList& _faces, const std::string& _prefix, const GeometryT<double>& _geometry);

}  // namespace orv
