// Stream files on disk: a 4-byte little-endian length N followed by N bytes of
// bit stream. Reading checks the length against the file's real size.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orv {

// Returns the N bytes of bit stream. Throws orv::Error("cannot open"/"is
// shorter than its length field promises"...) with a message naming the file.
std::vector<uint8_t> readStreamFile(const std::string& _path);

// Writes length and bytes to a temporary name beside _path, then renames it,
// so a failed run never leaves a truncated stream. Throws orv::Error.
void writeStreamFile(const std::string& _path, const uint8_t* _bitStream, uint64_t _nBytes);

}  // namespace orv
