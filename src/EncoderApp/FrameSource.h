// FrameSource: turns OrvEnc's FRAME arguments into an ordered list of OBJ files
// and loads them into one animation (connectivity of the first frame, the
// positions of every frame), refusing frames that do not fit together.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "Import/LoadedAnimation.h"

namespace orv {

// True when _a sorts before _b with digit runs compared as numbers, so that
// "2.obj" comes before "10.obj"; equal numbers fall back to plain text order.
bool naturalLess(const std::string& _a, const std::string& _b);

// True when _arg holds a printf-style frame number such as "%04d".
bool isFramePattern(const std::string& _arg);

// _pattern with its one %d-style conversion replaced by _n. Throws orv::Error
// for anything but a single %d / %i / %u with an optional 0 flag and width.
std::string formatFramePattern(const std::string& _pattern, int _n);

// Expands each argument in order: a directory gives its *.obj files in natural
// order, a pattern the files numbered from 0 (or 1 when 0 is absent) up to the
// first missing number, any other argument itself. Throws orv::Error for a
// missing file, an empty directory, a pattern matching nothing, or more than
// stream_rules::kMaxFrames frames.
std::vector<std::string> expandFrameArguments(const std::vector<std::string>& _args);

// Called after each frame file: (frames loaded, frames in all).
using LoadProgress = std::function<void(int, int)>;

// Reads every file; the first gives the faces. Throws orv::Error naming the
// file and the first difference when a frame's vertex count or faces differ
// from the first frame's, and for unreadable files, frames without vertices, a
// first frame without faces, face ids out of range and non-finite coordinates.
// The first frame's texture coordinates are kept (malformed ones throw); the
// other frames' are not read.
// Frames after the first are read by _threads threads; the result, and the
// error for a bad frame, are the same for every count. _firstFaces, when
// set, sees the checked faces and vertex count of the first frame before
// the later frames are read (work that needs only the mesh can start then).
LoadedAnimation loadAnimation(const std::vector<std::string>& _paths, const LoadProgress& _progress = {},
                              int _threads = 1,
                              const std::function<void(const FaceList&, int)>& _firstFaces = {});

// True when the frame arguments are one PC2 or MDD file.
bool isPointCacheInput(const std::vector<std::string>& _args);

// A point cache (.pc2 or .mdd) with the faces of _meshPath, an OBJ file (its
// polygons triangulated) or a package. Throws orv::Error naming the file when
// either cannot be read, the vertex counts differ or a face is out of range.
// The mesh's texture coordinates are kept as loadAnimation keeps them.
LoadedAnimation loadPointCacheAnimation(const std::string& _cachePath, const std::string& _meshPath,
                                        const LoadProgress& _progress = {});

}  // namespace orv
