// Stream files on disk: a 4-byte little-endian length N followed by N bytes of
// bit stream. Reading checks the length against the file's real size.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "Common/AtomicFile.h"

namespace orv {

// Returns the N bytes of bit stream. Throws orv::Error("cannot open"/"is
// shorter than its length field promises"...) with a message naming the file.
// An unopenable file gives exactly "Opening file <path> failed!".
std::vector<uint8_t> readStreamFile(const std::string& _path);
// The same, calling _afterOpen once the file is open and before anything is
// read (the programs report "Reading data from file" between the two).
std::vector<uint8_t> readStreamFile(const std::string& _path, const std::function<void()>& _afterOpen);

// Writes length and bytes through an AtomicFile (a temporary name beside
// _path, renamed into place once all was written), so a failed run never
// leaves a truncated stream. Throws orv::Error.
void writeStreamFile(const std::string& _path, const uint8_t* _bitStream, uint64_t _nBytes);

// The steps of writeStreamFile one by one, for programs that report between
// creating the file and writing it. Construction creates the temporary file
// (orv::Error "Creating file <path> failed!" when it cannot); commit() writes
// and renames it into place; without commit() the temporary file is removed.
class StreamFileWriter {
public:
    explicit StreamFileWriter(std::string _path);

    void commit(const uint8_t* _bitStream, uint64_t _nBytes);

private:
    AtomicFile file_;
};

}  // namespace orv
