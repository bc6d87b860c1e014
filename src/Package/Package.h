// Package: one self-contained .orvp file holding an animated mesh: metadata
// (frame rate, start time, names, the source's vertex count), the coded
// connectivity, optionally the first frame's texture coordinates with their
// face indices, and the stream file unchanged. docs/package-format.md gives
// the byte layout; PackageReader.cpp and PackageWriter.cpp implement it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Connectivity/ConnectivityCodec.h"

namespace orv {

constexpr uint16_t kPackageVersionMajor = 1;
constexpr uint16_t kPackageVersionMinor = 4;

struct Package {
    double frameRate = 25.0;  // frames per second, > 0
    double startTime = 0.0;   // seconds of the first frame
    int32_t sourceVertexCount = 0;
    std::string name;                     // the animation's name ("" when none)
    std::vector<std::string> frameNames;  // the source frames' names (may be empty)
    Connectivity connectivity;            // the triangles the stream was coded on
    std::vector<double> texCoords;        // u, v per texture vertex (may be empty)
    std::vector<int32_t> texFaces;        // 3 texture-vertex ids per face, or empty
    std::vector<uint8_t> stream;          // the whole stream file: 4-byte length, bit stream
};

// The file's bytes. Throws orv::Error when the package is inconsistent
// (texture faces not matching the faces or naming a coordinate that does not
// exist, coordinates without faces, a stream without a header).
std::vector<uint8_t> packageBytes(const Package& _package);
// Writes through AtomicFile, so a failed run leaves no partial file.
void writePackageFile(const std::string& _path, const Package& _package);

// Parses a package; every fault is an orv::Error "<_label>: <reason>".
// Nothing is allocated beyond a fixed multiple of _size.
Package parsePackage(const uint8_t* _data, size_t _size, const std::string& _label);
Package readPackageFile(const std::string& _path);

// True when the file starts with the package magic (false when unreadable).
bool isPackageFile(const std::string& _path);

// The bit stream of a package's stream file (without its length field).
std::vector<uint8_t> packageBitStream(const Package& _package);

}  // namespace orv
