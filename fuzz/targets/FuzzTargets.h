// The bodies of the libFuzzer targets, as plain functions: each *Fuzz.cpp
// program calls one of them from LLVMFuzzerTestOneInput, and the GoogleTest
// suite feeds every file of fuzz/corpus/<Target>/ through the same function,
// so the seed corpora stay regression tests. A finding throws Finding (an
// uncaught exception, which libFuzzer reports as a crash).
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace orvfuzz {

struct Finding : std::logic_error {
    using std::logic_error::logic_error;
};

// Bytes as an OBJ file: the reader may only accept or throw orv::Error, and
// what it accepts must not change under a byte-order mark or a long comment.
void objReaderOne(const uint8_t* _data, size_t _size);
// Bytes as a small mesh, its frames and the encoder's settings: encodeSequence
// at the chosen effort on both geometry paths; the streams must agree and
// decode bit-exactly to the encoder's reconstruction.
void encoderFrontEndOne(const uint8_t* _data, size_t _size);
// Bytes as a small animation and requested layer counts: the packetizer's
// extraction followed by a decode must equal decoding the original stream
// with the same counts.
void extractionOne(const uint8_t* _data, size_t _size);
// Bytes as a session of the C API: encoding a small animation with fuzzed
// options, decoding it (or a damaged copy, or raw bytes) with fuzzed layer
// counts, seeks and reads. Statuses must be documented ones with a message,
// one thread and several must answer alike, and an intact stream decodes to
// the encoder's reconstruction.
void capiOne(const uint8_t* _data, size_t _size);
// Bytes as a package file and as a coded triangle list: only orv::Error may
// end them, and a decoded list re-encodes to itself.
void packageOne(const uint8_t* _data, size_t _size);

// A glTF/glb file as OrvEnc reads it.
void gltfReaderOne(const uint8_t* _data, size_t _size);

}  // namespace orvfuzz
