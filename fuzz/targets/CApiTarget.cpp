// Fuzz body: the C API as a caller drives it (see FuzzTargets.h). The input
// picks one of three sessions: a small animation encoded with fuzzed options
// and decoded with fuzzed layer counts; the same stream damaged (bytes,
// length field, truncation, faces); or raw bytes as the bit stream. Every
// decoder session runs twice, on one thread and on several, with the same
// calls; the two must answer alike, status for status and bit for bit.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "FuzzTargets.h"
#include "orv/orv.h"

namespace orvfuzz {

namespace {

void require(bool _ok, const std::string& _what) {
    if (!_ok) throw Finding(_what);
}

// Failures name themselves; an internal check failing is always a finding.
void requireStatus(int _status, const char* _call, const char* _message) {
    require(_status != ORV_E_INTERNAL, std::string(_call) + " failed an internal check: " + _message);
    require(_status >= ORV_E_ENCODE, std::string(_call) + " returned an undocumented status");
    if (_status < 0) require(_message && _message[0], std::string(_call) + " failed without a message");
}

// What a decoder session answered, call by call.
struct Trace {
    std::vector<int> statuses;
    std::vector<int32_t> frames;
    std::vector<uint64_t> positions;  // the doubles' bits: NaN equals NaN
    std::vector<std::string> messages;
    bool operator==(const Trace&) const = default;
};

struct Session {
    std::vector<uint8_t> stream;
    std::vector<int32_t> faces;
    int nsl = 0, ntl = 0;
    std::vector<uint8_t> calls;  // per byte: a seek (to byte / 4 - 1) or a read
};

// Creates a decoder on _threads threads and makes the session's calls, then
// reads on to the end. Also checks what one session can check alone.
Trace run(const Session& _s, int _threads, orv_stream_info& _info) {
    Trace t;
    orv_decoder* d = nullptr;
    char err[256];
    const int created = orv_decoder_create(_s.stream.data(), _s.stream.size(), _s.faces.data(), _s.faces.size() / 3,
                                           _s.nsl, _s.ntl, &d, err, sizeof err);
    requireStatus(created, "orv_decoder_create", err);
    t.statuses.push_back(created);
    if (created < 0) {
        require(d == nullptr, "a failed orv_decoder_create left a handle");
        t.messages.push_back(err);
        return t;
    }
    require(orv_decoder_info(d, &_info) == ORV_OK, "orv_decoder_info failed on an open decoder");
    const int F = _info.frame_count, V = _info.vertex_count;
    require(orv_decoder_set_threads(d, 0) == ORV_E_ARGUMENT, "orv_decoder_set_threads accepted 0 threads");
    const int set = orv_decoder_set_threads(d, _threads);
    requireStatus(set, "orv_decoder_set_threads", orv_decoder_error(d));
    std::vector<double> p(3 * static_cast<size_t>(V));
    int expected = 0, reads = 0;
    auto read = [&] {
        int32_t frame = -1;
        const int s = orv_decoder_read_frame(d, &frame, p.data());
        requireStatus(s, "orv_decoder_read_frame", orv_decoder_error(d));
        t.statuses.push_back(s);
        ++reads;
        if (s == 1) {
            require(frame == expected, "orv_decoder_read_frame gave frames out of order");
            t.frames.push_back(frame);
            const size_t at = t.positions.size();
            t.positions.resize(at + p.size());
            std::memcpy(t.positions.data() + at, p.data(), p.size() * sizeof(double));
            ++expected;
        } else if (s == 0) {
            require(expected == F, "orv_decoder_read_frame ended before the last frame");
        } else {
            t.messages.push_back(orv_decoder_error(d));
        }
        return s;
    };
    for (uint8_t c : _s.calls) {
        if (c % 4 == 0) {
            const int target = c / 4 - 1;
            const int s = orv_decoder_seek(d, target);
            requireStatus(s, "orv_decoder_seek", orv_decoder_error(d));
            t.statuses.push_back(s);
            if (target < 0 || target >= F) require(s == ORV_E_ARGUMENT, "a seek out of range was accepted");
            if (s == ORV_OK) expected = target;
        } else if (read() < 0) {
            break;
        }
    }
    while (reads < 2 * F + 2 && read() == 1) {
    }
    orv_decoder_destroy(d);
    return t;
}

// Runs _s on one thread and on _threads, which must agree.
Trace runBoth(const Session& _s, int _threads, orv_stream_info& _info) {
    const Trace one = run(_s, 1, _info);
    orv_stream_info again{};
    const Trace many = run(_s, _threads, again);
    require(one == many, "decoding on " + std::to_string(_threads) + " threads answered differently from 1 thread");
    return one;
}

std::vector<int32_t> flatFaces(const orv::FaceList& _faces) {
    std::vector<int32_t> out;
    for (const orv::Face& f : _faces) out.insert(out.end(), f.begin(), f.end());
    return out;
}

// Encodes _a through orv_encoder_*; false when the options are refused.
bool encode(const Animation& _a, ByteReader& _in, std::vector<uint8_t>& _stream, orv_encoder_options& _o,
            std::vector<double>& _reconstruction) {
    orv_encoder_options_default(&_o);
    // Mostly options in range, now and then anything near it.
    const bool wild = _in.pick(0, 15) == 15;
    _o.spatial_layers = wild ? _in.pick(-1, 12) : _in.pick(0, 6);
    _o.temporal_layers = wild ? _in.pick(-1, 9) : _in.pick(1, 4);
    _o.effort = wild ? _in.pick(-1, 3) : _in.pick(0, 2);
    _o.precision_bits = wild ? _in.pick(-1, 40) : _in.pick(4, 16);
    _o.ref_first_frame = wild ? _in.pick(-1, 2) : _in.pick(0, 1);
    _o.base_layer_pred = wild ? _in.pick(-1, 2) : _in.pick(0, 1);
    if (_in.pick(0, 7) == 7)
        for (double& q : _o.steps) q = std::ldexp(1.0, _in.pick(-20, 2)) * (_in.pick(0, 9) == 0 ? -1 : 1);
    if (_in.pick(0, 15) == 15) {
        _o.target = _in.pick(0, 4);
        _o.target_value = std::ldexp(1.0, _in.pick(-12, 4));
    }
    const std::vector<int32_t> faces = flatFaces(_a.mesh.faces);
    const int V = _a.mesh.V, F = _a.positions.F;
    orv_encoder* e = nullptr;
    char err[256];
    const int created = orv_encoder_create(V, faces.data(), faces.size() / 3, &_o, &e, err, sizeof err);
    requireStatus(created, "orv_encoder_create", err);
    if (created < 0) return false;
    for (int f = 0; f < F; ++f) {
        const int s = orv_encoder_add_frame(e, _a.positions.frame(f));
        requireStatus(s, "orv_encoder_add_frame", orv_encoder_error(e));
        require(s == ORV_OK, "orv_encoder_add_frame refused a finite frame");
    }
    uint8_t* bytes = nullptr;
    size_t size = 0;
    const int finished = orv_encoder_finish(e, &bytes, &size);
    requireStatus(finished, "orv_encoder_finish", orv_encoder_error(e));
    const bool ok = finished == ORV_OK;
    if (ok) {
        _stream.assign(bytes, bytes + size);
        orv_free(bytes);
        orv_encoder_quality q{};
        require(orv_encoder_quality_get(e, &q) == ORV_OK, "no quality after a finished encode");
        require(q.stream_bytes == size && q.frame_count == F, "the quality figures do not match the stream");
        _reconstruction.resize(3 * static_cast<size_t>(V) * F);
        for (int f = 0; f < F; ++f)
            require(orv_encoder_reconstruction(e, f, _reconstruction.data() + 3 * static_cast<size_t>(V) * f) ==
                        ORV_OK,
                    "no reconstruction after a finished encode");
        require(orv_encoder_reconstruction(e, F, _reconstruction.data()) == ORV_E_ARGUMENT,
                "a reconstruction beyond the last frame was given");
    }
    orv_encoder_destroy(e);
    return ok;
}

void fillCalls(ByteReader& _in, Session& _s) {
    for (int i = 0, n = _in.pick(0, 24); i < n; ++i) _s.calls.push_back(_in.byte());
}

}  // namespace

void capiOne(const uint8_t* _data, size_t _size) {
    ByteReader in(_data, _size);
    const int mode = in.pick(0, 2);
    const int threads = in.pick(2, 4);
    Session s;
    Animation a = animationFrom(in);
    s.faces = flatFaces(a.mesh.faces);
    orv_stream_info info{};
    if (mode == 2) {
        // Raw bytes as the bit stream, its vertex count that of the faces
        // (a lying count is refused by the memory check, which is not what
        // this session is about).
        std::vector<uint8_t> bits;
        while (in.left() && bits.size() < 4096) bits.push_back(in.byte());
        if (bits.size() < 4) return;
        const uint32_t V = static_cast<uint32_t>(a.mesh.V);
        for (int i = 0; i < 4; ++i) bits[static_cast<size_t>(i)] = static_cast<uint8_t>(V >> (24 - 8 * i));
        const uint32_t n = static_cast<uint32_t>(bits.size());
        s.stream = {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n >> 16),
                    static_cast<uint8_t>(n >> 24)};
        s.stream.insert(s.stream.end(), bits.begin(), bits.end());
        s.nsl = in.pick(0, 3);
        s.ntl = in.pick(0, 3);
        runBoth(s, threads, info);
        return;
    }
    orv_encoder_options o;
    std::vector<double> reconstruction;
    if (!encode(a, in, s.stream, o, reconstruction)) return;
    // The stream holds these layers; asking for more decodes them all.
    const int nSL = s.stream.size() > 14 ? s.stream[4 + 6] : 0, nTL = s.stream.size() > 14 ? s.stream[4 + 7] : 0;
    s.nsl = in.pick(0, nSL + 2);
    s.ntl = in.pick(0, nTL + 2);
    bool damaged = false;
    if (mode == 1) {
        for (int k = 0, n = in.pick(1, 3); k < n; ++k) {
            switch (in.pick(0, 4)) {
                case 0: s.stream.resize(in.byte() * s.stream.size() / 256); break;
                case 1: s.stream[in.byte() % 4] ^= static_cast<uint8_t>(in.pick(1, 255)); break;
                case 2:
                    if (!s.faces.empty()) s.faces[in.byte() * 7 % s.faces.size()] = in.pick(-2, a.mesh.V + 1);
                    break;
                default:
                    if (s.stream.size() > 4) {
                        const size_t at = 4 + (in.byte() * 251u + in.byte()) % (s.stream.size() - 4);
                        // The header's sizes stay: a lying V or F only makes the runs slow.
                        if (at >= 4 + 8) s.stream[at] ^= static_cast<uint8_t>(in.pick(1, 255));
                    }
                    break;
            }
        }
        damaged = true;
    }
    fillCalls(in, s);
    const Trace t = runBoth(s, threads, info);
    if (damaged) return;
    require(t.statuses.front() == ORV_OK, "the decoder refused the encoder's stream");
    require(info.decoded_spatial_layers == (s.nsl ? std::min(s.nsl, nSL) : nSL) &&
                info.decoded_temporal_layers == (s.ntl ? std::min(s.ntl, nTL) : nTL),
            "orv_decoder_info reports other layer counts than those decoded");
    // Every layer decoded: the frames read are the encoder's reconstruction.
    if (info.decoded_spatial_layers < nSL || info.decoded_temporal_layers < nTL) return;
    const size_t V3 = 3 * static_cast<size_t>(info.vertex_count);
    for (size_t i = 0; i < t.frames.size(); ++i)
        require(std::memcmp(t.positions.data() + V3 * i, reconstruction.data() + V3 * t.frames[i],
                            V3 * sizeof(double)) == 0,
                "a decoded frame differs from the encoder's reconstruction");
}

}  // namespace orvfuzz
