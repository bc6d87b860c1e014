// PC2 and MDD reading and writing. Both store float32; MDD is big-endian.
#include "PointCache/PointCache.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "Common/Check.h"

namespace orv {

namespace {

constexpr char kPc2Magic[12] = {'P', 'O', 'I', 'N', 'T', 'C', 'A', 'C', 'H', 'E', '2', '\0'};

uint32_t loadU32(const uint8_t* _p, bool _bigEndian) {
    return _bigEndian ? (uint32_t(_p[0]) << 24) | (uint32_t(_p[1]) << 16) | (uint32_t(_p[2]) << 8) | _p[3]
                      : (uint32_t(_p[3]) << 24) | (uint32_t(_p[2]) << 16) | (uint32_t(_p[1]) << 8) | _p[0];
}
float loadF32(const uint8_t* _p, bool _bigEndian) { return std::bit_cast<float>(loadU32(_p, _bigEndian)); }
void storeU32(uint8_t* _p, uint32_t _v, bool _bigEndian) {
    for (int i = 0; i < 4; ++i) _p[_bigEndian ? 3 - i : i] = static_cast<uint8_t>(_v >> (8 * i));
}
void storeF32(uint8_t* _p, float _v, bool _bigEndian) { storeU32(_p, std::bit_cast<uint32_t>(_v), _bigEndian); }

// Opens _path and checks that it holds at least _minimum bytes; returns its size.
uint64_t openSized(std::ifstream& _f, const std::string& _path) {
    std::error_code ec;
    const uint64_t size = std::filesystem::file_size(_path, ec);
    _f.open(_path, std::ios::binary);
    if (ec || !_f) throw Error("Opening file " + _path + " failed!");
    return size;
}

void readExactly(std::ifstream& _f, uint8_t* _to, uint64_t _n, const std::string& _path) {
    if (!_f.read(reinterpret_cast<char*>(_to), static_cast<std::streamsize>(_n)))
        throw Error(_path + ": the file ends early");
}

// Reads _frames blocks of _points x y z after the current position.
void readFrames(std::ifstream& _f, PointCache& _c, bool _bigEndian, const std::string& _path) {
    const size_t n = 3 * static_cast<size_t>(_c.header.pointCount);
    std::vector<uint8_t> raw(4 * n);
    _c.frames.reserve(static_cast<size_t>(_c.header.frameCount));
    for (int32_t fr = 0; fr < _c.header.frameCount; ++fr) {
        readExactly(_f, raw.data(), raw.size(), _path);
        std::vector<double> frame(n);
        for (size_t i = 0; i < n; ++i) {
            const float v = loadF32(&raw[4 * i], _bigEndian);
            if (!std::isfinite(v))
                throw Error(_path + ": frame " + std::to_string(fr) + " has a coordinate that is not a finite number");
            frame[i] = v;
        }
        _c.frames.push_back(std::move(frame));
    }
}

}  // namespace

PointCache readPc2(const std::string& _path) {
    std::ifstream f;
    const uint64_t size = openSized(f, _path);
    uint8_t head[32];
    if (size < 32) throw Error(_path + ": too short for a PC2 header");
    readExactly(f, head, 32, _path);
    if (std::memcmp(head, kPc2Magic, 12) != 0) throw Error(_path + ": not a PC2 file (no POINTCACHE2 signature)");
    const uint32_t version = loadU32(head + 12, false);
    if (version != 1) throw Error(_path + ": PC2 version " + std::to_string(version) + " is not supported");
    PointCache c;
    const int64_t points = static_cast<int32_t>(loadU32(head + 16, false));
    c.header.startFrame = loadF32(head + 20, false);
    c.header.sampleRate = loadF32(head + 24, false);
    const int64_t samples = static_cast<int32_t>(loadU32(head + 28, false));
    if (points <= 0 || samples <= 0) throw Error(_path + ": the PC2 header gives no points or no samples");
    if (!std::isfinite(c.header.startFrame) || !(c.header.sampleRate > 0) || !std::isfinite(c.header.sampleRate))
        throw Error(_path + ": the PC2 header's start frame or sample rate is not usable");
    const uint64_t expected = 32 + 12ull * static_cast<uint64_t>(points) * static_cast<uint64_t>(samples);
    if (size != expected)
        throw Error(_path + ": " + std::to_string(points) + " points x " + std::to_string(samples) + " samples need " +
                    std::to_string(expected) + " bytes, the file has " + std::to_string(size));
    c.header.pointCount = static_cast<int32_t>(points);
    c.header.frameCount = static_cast<int32_t>(samples);
    readFrames(f, c, false, _path);
    return c;
}

PointCache readMdd(const std::string& _path) {
    std::ifstream f;
    const uint64_t size = openSized(f, _path);
    uint8_t head[8];
    if (size < 8) throw Error(_path + ": too short for an MDD header");
    readExactly(f, head, 8, _path);
    const int64_t frames = static_cast<int32_t>(loadU32(head, true));
    const int64_t points = static_cast<int32_t>(loadU32(head + 4, true));
    if (frames <= 0 || points <= 0) throw Error(_path + ": the MDD header gives no frames or no points");
    const uint64_t block = 12ull * static_cast<uint64_t>(points);
    const uint64_t plain = 8 + 4ull * static_cast<uint64_t>(frames) + block * static_cast<uint64_t>(frames);
    PointCache c;
    if (size == plain + block)
        c.header.restBlock = true;  // as Blender writes it
    else if (size != plain)
        throw Error(_path + ": " + std::to_string(frames) + " frames of " + std::to_string(points) + " points need " +
                    std::to_string(plain) + " bytes (or " + std::to_string(plain + block) +
                    " with a rest block), the file has " + std::to_string(size));
    c.header.pointCount = static_cast<int32_t>(points);
    c.header.frameCount = static_cast<int32_t>(frames);
    std::vector<uint8_t> times(4 * static_cast<size_t>(frames));
    readExactly(f, times.data(), times.size(), _path);
    const double t0 = loadF32(times.data(), true);
    c.header.startTime = std::isfinite(t0) ? t0 : 0.0;
    if (frames > 1) {
        // The mean step over all times, to the nearest thousandth of a frame
        // per second: float32 times of 30 fps give 29.999998 from one step.
        const double tn = loadF32(times.data() + 4 * static_cast<size_t>(frames - 1), true);
        if (std::isfinite(tn) && tn > t0) {
            const double rate = static_cast<double>(frames - 1) / (tn - t0);
            c.header.frameRate = std::round(rate * 1000.0) / 1000.0;
        }
    }
    if (c.header.restBlock) f.seekg(static_cast<std::streamoff>(block), std::ios::cur);
    readFrames(f, c, true, _path);
    return c;
}

PointCacheWriter::PointCacheWriter(Kind _kind, const std::string& _path, const PointCacheHeader& _header)
    : kind_(_kind), header_(_header), file_(_path) {
    std::vector<uint8_t> head;
    if (kind_ == Kind::Pc2) {
        head.resize(32);
        std::memcpy(head.data(), kPc2Magic, 12);
        storeU32(&head[12], 1, false);
        storeU32(&head[16], static_cast<uint32_t>(header_.pointCount), false);
        storeF32(&head[20], static_cast<float>(header_.startFrame), false);
        storeF32(&head[24], static_cast<float>(header_.sampleRate), false);
        storeU32(&head[28], static_cast<uint32_t>(header_.frameCount), false);
    } else {
        head.resize(8 + 4 * static_cast<size_t>(header_.frameCount));
        storeU32(&head[0], static_cast<uint32_t>(header_.frameCount), true);
        storeU32(&head[4], static_cast<uint32_t>(header_.pointCount), true);
        for (int32_t i = 0; i < header_.frameCount; ++i)
            storeF32(&head[8 + 4 * static_cast<size_t>(i)], static_cast<float>(header_.startTime + i / header_.frameRate),
                     true);
    }
    file_.write(head.data(), head.size());
    buffer_.resize(12 * static_cast<size_t>(header_.pointCount));
}

void PointCacheWriter::frame(const double* _positions) {
    ORV_CHECK(written_ < header_.frameCount, "PointCache");
    const bool be = kind_ == Kind::Mdd;
    const size_t n = 3 * static_cast<size_t>(header_.pointCount);
    for (size_t i = 0; i < n; ++i) storeF32(&buffer_[4 * i], static_cast<float>(_positions[i]), be);
    file_.write(buffer_.data(), buffer_.size());
    ++written_;
}

void PointCacheWriter::finish() {
    ORV_CHECK(written_ == header_.frameCount, "PointCache");
    file_.commit();
}

}  // namespace orv
