// Fuzz body: small random animations through encodeSequence at every effort,
// on both geometry paths (see FuzzTargets.h).
#include <memory>

#include "Common/Check.h"
#include "Encoder/GeometryCoder.h"
#include "EncoderApp/EncoderOptions.h"
#include "FuzzInput.h"
#include "FuzzTargets.h"
#include "SequenceEncoder/RateDistortionOptions.h"
#include "SequenceEncoder/SequenceEncoder.h"

namespace orvfuzz {

void encoderFrontEndOne(const uint8_t* _data, size_t _size) {
    ByteReader in(_data, _size);
    const Animation a = animationFrom(in);
    orv::Settings s;
    s.nSL = in.pick(1, 12);
    s.refFirstFrame = in.pick(0, 1) == 1;
    s.baseLayerPred = in.pick(0, 1);
    s.nTL = in.pick(1, std::max(1, orv::maxTemporalLayers(a.positions.F, s.refFirstFrame)));
    const int effort = in.pick(0, orv::kMaxEffort);
    orv::RdOptions rd = orv::RdOptions::forEffort(effort);
    rd.spatialLayers = 0;
    const double q = std::ldexp(1.0, in.pick(-20, 2));

    std::unique_ptr<orv::EncodedSequence> encoded[2];
    const bool before = orv::geometrySimd();
    for (int simd = 0; simd < 2; ++simd) {
        orv::setGeometrySimd(simd == 1);
        try {
            encoded[simd] = std::make_unique<orv::EncodedSequence>(
                orv::encodeSequence(a.positions, a.mesh.faces, s, q, rd));
        } catch (const orv::Error&) {
            // A step too fine for 32-bit residuals and the like: a message, fine.
        } catch (const orv::CheckFailure& e) {
            orv::setGeometrySimd(before);
            throw Finding(std::string("the encoder stopped on an internal check: ") + e.what());
        }
    }
    orv::setGeometrySimd(before);
    if (!encoded[0] || !encoded[1]) {
        if (encoded[0] || encoded[1]) throw Finding("only one geometry path encoded the animation");
        return;
    }
    if (encoded[0]->streamFile != encoded[1]->streamFile) throw Finding("the geometry paths wrote different streams");
    if (!sameBits(encoded[0]->reconstruction, encoded[1]->reconstruction))
        throw Finding("the geometry paths reconstructed differently");
    std::unique_ptr<orv::DecoderContext> decoded;
    try {
        decoded = decodeStream(encoded[1]->streamFile, a.mesh.faces);
    } catch (const std::exception& e) {
        throw Finding(std::string("the encoder's stream does not decode: ") + e.what());
    }
    if (!sameBits(decoded->GDec, encoded[1]->reconstruction))
        throw Finding("the decoded frames differ from the encoder's reconstruction");
}

}  // namespace orvfuzz
