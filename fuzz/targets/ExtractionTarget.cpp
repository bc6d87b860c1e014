// Fuzz body: the packetizer's layer extraction against the decoder's own
// choice of layers (see FuzzTargets.h).
#include <memory>

#include "Common/Check.h"
#include "FuzzInput.h"
#include "FuzzTargets.h"
#include "Packetizer/LayerExtractor.h"
#include "SequenceEncoder/SequenceEncoder.h"

namespace orvfuzz {

namespace {

// The stream file of _file with only the layers (_nSL, _nTL) kept.
std::vector<uint8_t> extracted(const std::vector<uint8_t>& _file, int _nSLreq, int _nTLreq) {
    orv::BitBuffer in(std::vector<uint8_t>(_file.begin() + 4, _file.end()));
    orv::Settings settings;
    const orv::StreamHeader header = orv::RedundancyMinCoder::readStreamHeaderFields(in, settings);
    orv::RedundancyMinCoder::checkRecordsFit(header, settings, in.bytesLeft());
    orv::BitBuffer out(in.size());
    orv::RedundancyMinCoder::writeStreamHeader(out, settings, static_cast<int>(header.V), header.F, header.qStep);
    orv::extractLayers(in, settings.nSL, header.F, _nSLreq, _nTLreq, out);
    const int64_t n = out.padToByte();
    std::vector<uint8_t> file = {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n >> 16),
                                 static_cast<uint8_t>(n >> 24)};
    file.insert(file.end(), out.data(), out.data() + n);
    return file;
}

}  // namespace

void extractionOne(const uint8_t* _data, size_t _size) {
    ByteReader in(_data, _size);
    const Animation a = animationFrom(in);
    orv::Settings s;
    s.nSL = in.pick(1, 6);
    s.nTL = in.pick(1, 3);
    s.refFirstFrame = in.pick(0, 1) == 1;
    const double q[3] = {1e-3, 2e-3, 4e-3};
    orv::EncodedSequence encoded;
    try {
        encoded = orv::encodeSequence(a.positions, a.mesh.faces, s, q);
    } catch (const orv::Error&) {
        return;  // settings the frame count cannot carry
    }
    const int nSLreq = in.pick(1, s.nSL + 1), nTLreq = in.pick(1, s.nTL + 1);
    // Optionally a damaged stream: then both sides may refuse it, but
    // neither may crash, and when both decode they must still agree.
    std::vector<uint8_t> file = encoded.streamFile;
    // The header is left alone: a lying vertex count is the stream decoder
    // target's subject, and here it would only make the runs slow.
    constexpr size_t kHeader = 4 + orv::RedundancyMinCoder::kStreamHeaderBytes;
    if (in.pick(0, 3) == 0 && file.size() > kHeader)
        file[kHeader + in.byte() * 7 % (file.size() - kHeader)] ^= static_cast<uint8_t>(in.pick(1, 255));
    const bool damaged = file != encoded.streamFile;

    std::unique_ptr<orv::DecoderContext> direct, viaPacket;
    try {
        direct = decodeStream(file, a.mesh.faces, nSLreq, nTLreq);
    } catch (const orv::Error&) {
    } catch (const orv::CheckFailure&) {
    }
    std::vector<uint8_t> packed;
    try {
        packed = extracted(file, nSLreq, nTLreq);
        viaPacket = decodeStream(packed, a.mesh.faces, nSLreq, nTLreq);
    } catch (const orv::Error&) {
    } catch (const orv::CheckFailure&) {
    }
    if (!damaged && (!direct || !viaPacket)) throw Finding("a valid stream failed to decode or to packetize");
    if (direct && viaPacket && !sameBits(direct->GDec, viaPacket->GDec))
        throw Finding("decoding the packetized stream differs from decoding the original with the same counts");
    if (!damaged && nSLreq >= s.nSL && nTLreq >= s.nTL && packed != file)
        throw Finding("packetizing with every layer changed the stream");
}

}  // namespace orvfuzz
