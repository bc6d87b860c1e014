// The glb writer: a JSON chunk and one binary chunk holding, in order, the
// indices, the base positions, the texture coordinates (when the package has
// them), the morph offsets, the key times and the weights (little-endian, as
// the machines orv builds on are). Accessor bounds are written from the
// stored (float or integer) values themselves, so that validators find them
// exact. Vertices split for their texture coordinates (CornerVertices.h)
// repeat their stream vertex's position and offsets.
#include "Export/GlbWriter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "Common/Check.h"
#include "Export/CornerVertices.h"
#include "Export/ObjFramesWriter.h"

namespace orv {

namespace {

constexpr int kFloat = 5126, kShort = 5122, kUnsignedInt = 5125, kUnsignedShort = 5123;

std::string jsonString(const std::string& _s) {
    std::string out = "\"";
    for (unsigned char c : _s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string num(double _v) {
    std::string s;
    appendReal(s, _v, 17);
    return s;
}

class Binary {
public:
    size_t align4() {
        while (bytes_.size() % 4 != 0) bytes_.push_back(0);
        return bytes_.size();
    }
    template <class T>
    void put(T _v) {
        const size_t at = bytes_.size();
        bytes_.resize(at + sizeof(T));
        std::memcpy(bytes_.data() + at, &_v, sizeof(T));
    }
    // _stride values per stream vertex, once for every split vertex.
    template <class T>
    void putVertices(const T* _v, size_t _stride, const std::vector<int32_t>& _position) {
        for (int32_t p : _position)
            for (size_t c = 0; c < _stride; ++c) put(_v[static_cast<size_t>(p) * _stride + c]);
    }
    size_t size() const { return bytes_.size(); }
    std::vector<uint8_t>& bytes() { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
};

struct Views {
    std::string views, accessors;
    int viewCount = 0, accessorCount = 0;
    int view(size_t _offset, size_t _length, int _target, int _stride) {
        if (!views.empty()) views += ',';
        views += "{\"buffer\":0,\"byteOffset\":" + std::to_string(_offset) + ",\"byteLength\":" + std::to_string(_length);
        if (_stride > 0) views += ",\"byteStride\":" + std::to_string(_stride);
        if (_target > 0) views += ",\"target\":" + std::to_string(_target);
        views += '}';
        return viewCount++;
    }
    int accessor(int _view, size_t _offset, int _type, size_t _count, const char* _kind, const std::string& _minMax) {
        if (!accessors.empty()) accessors += ',';
        accessors += "{\"bufferView\":" + std::to_string(_view) + ",\"byteOffset\":" + std::to_string(_offset) +
                     ",\"componentType\":" + std::to_string(_type) + ",\"count\":" + std::to_string(_count) +
                     ",\"type\":\"" + _kind + "\"" + _minMax + '}';
        return accessorCount++;
    }
};

template <class T>
std::string minMax(const T* _v, size_t _count, size_t _stride, int _components) {
    std::string mn = ",\"min\":[", mx = "],\"max\":[";
    for (int c = 0; c < _components; ++c) {
        T lo = std::numeric_limits<T>::max(), hi = std::numeric_limits<T>::lowest();
        for (size_t i = 0; i < _count; ++i) {
            lo = std::min(lo, _v[i * _stride + static_cast<size_t>(c)]);
            hi = std::max(hi, _v[i * _stride + static_cast<size_t>(c)]);
        }
        if (c > 0) {
            mn += ',';
            mx += ',';
        }
        mn += num(static_cast<double>(lo));
        mx += num(static_cast<double>(hi));
    }
    return mn + mx + "]";
}

}  // namespace

void GlbWriter::begin(const AnimationInfo& _info) {
    info_ = &_info;
    if (_info.vertexCount <= 0 || _info.faces.empty()) throw Error(path_ + ": nothing to write (no vertices or faces)");
    file_.emplace(path_);
}

void GlbWriter::frame(int, const double* _p) {
    const size_t n = 3 * static_cast<size_t>(info_->vertexCount);
    if (quantize_) {
        exact_.emplace_back(_p, _p + n);
        return;
    }
    std::vector<float> f(n);
    for (size_t i = 0; i < n; ++i) f[i] = static_cast<float>(_p[i]);
    frames_.push_back(std::move(f));
}

void GlbWriter::finish() {
    const AnimationInfo& info = *info_;
    const size_t V = static_cast<size_t>(info.vertexCount);
    const size_t F = quantize_ ? exact_.size() : frames_.size();
    if (F == 0) throw Error(path_ + ": no frames to write");
    Binary bin;
    Views v;
    const CornerVertices split = splitCornerVertices(info.faces, info.texFaces, info.vertexCount);
    // N vertices in the file; the bounds of the V stream vertices are theirs too.
    const size_t N = split.position.size();

    // Indices: 16 bits when every id fits.
    const bool shortIds = N <= 65535;
    const size_t idOffset = bin.align4();
    for (int32_t id : split.indices) {
        if (shortIds) bin.put(static_cast<uint16_t>(id));
        else bin.put(static_cast<uint32_t>(id));
    }
    const int idView = v.view(idOffset, bin.size() - idOffset, 34963, 0);
    const int idAccessor = v.accessor(idView, 0, shortIds ? kUnsignedShort : kUnsignedInt, split.indices.size(), "SCALAR", "");

    // glTF's texture space starts at the image's top left, OBJ's at its bottom left.
    auto putTexCoords = [&]() {
        if (split.texture.empty()) return -1;
        const size_t offset = bin.align4();
        std::vector<float> uv(2 * N, 0.0f);
        for (size_t i = 0; i < N; ++i) {
            const int32_t t = split.texture[i];
            if (t < 0) continue;
            ORV_CHECK(2 * static_cast<size_t>(t) + 1 < info.texCoords.size(), "Export/GlbWriter");
            uv[2 * i] = static_cast<float>(info.texCoords[2 * static_cast<size_t>(t)]);
            uv[2 * i + 1] = static_cast<float>(1.0 - info.texCoords[2 * static_cast<size_t>(t) + 1]);
        }
        for (float x : uv) bin.put(x);
        const int view = v.view(offset, bin.size() - offset, 34962, 0);
        return v.accessor(view, 0, kFloat, N, "VEC2", minMax(uv.data(), N, 2, 2));
    };

    std::string nodeTransform;
    int baseAccessor = -1, uvAccessor = -1;
    std::vector<int> targets;
    if (!quantize_) {
        const size_t baseOffset = bin.align4();
        bin.putVertices(frames_[0].data(), 3, split.position);
        const int baseView = v.view(baseOffset, bin.size() - baseOffset, 34962, 0);
        baseAccessor = v.accessor(baseView, 0, kFloat, N, "VEC3", minMax(frames_[0].data(), V, 3, 3));
        uvAccessor = putTexCoords();
        if (F > 1) {
            const size_t offset = bin.align4();
            std::vector<float> d(3 * V);
            for (size_t f = 1; f < F; ++f) {
                for (size_t i = 0; i < 3 * V; ++i) d[i] = frames_[f][i] - frames_[0][i];
                bin.putVertices(d.data(), 3, split.position);
                targets.push_back(-1 - static_cast<int>(f));  // placeholder: accessor made below
                std::vector<float>().swap(frames_[f]);
                frames_[f] = d;  // kept for the bounds
            }
            const int view = v.view(offset, bin.size() - offset, 34962, 12);
            for (size_t f = 1; f < F; ++f)
                targets[f - 1] = v.accessor(view, (f - 1) * 12 * N, kFloat, N, "VEC3", minMax(frames_[f].data(), V, 3, 3));
        }
    } else {
        // Bounds over every frame; 16-bit steps of u = half extent / 16383
        // keep offsets from the first frame within the 16-bit range.
        double lo[3], hi[3];
        for (int c = 0; c < 3; ++c) {
            lo[c] = std::numeric_limits<double>::max();
            hi[c] = std::numeric_limits<double>::lowest();
        }
        for (const auto& fr : exact_)
            for (size_t i = 0; i < V; ++i)
                for (int c = 0; c < 3; ++c) {
                    lo[c] = std::min(lo[c], fr[3 * i + static_cast<size_t>(c)]);
                    hi[c] = std::max(hi[c], fr[3 * i + static_cast<size_t>(c)]);
                }
        double half = 0;
        double centre[3];
        for (int c = 0; c < 3; ++c) {
            centre[c] = 0.5 * (lo[c] + hi[c]);
            half = std::max(half, 0.5 * (hi[c] - lo[c]));
        }
        const double unit = half > 0 ? half / 16383.0 : 1.0;
        auto q = [&](double _x, int _c) {
            return static_cast<int16_t>(std::clamp(std::lround((_x - centre[_c]) / unit), -16383L, 16383L));
        };
        std::vector<int16_t> base(4 * V, 0), cur(4 * V, 0);
        for (size_t i = 0; i < V; ++i)
            for (int c = 0; c < 3; ++c) base[4 * i + static_cast<size_t>(c)] = q(exact_[0][3 * i + static_cast<size_t>(c)], c);
        const size_t baseOffset = bin.align4();
        bin.putVertices(base.data(), 4, split.position);
        const int baseView = v.view(baseOffset, bin.size() - baseOffset, 34962, 8);
        baseAccessor = v.accessor(baseView, 0, kShort, N, "VEC3", minMax(base.data(), V, 4, 3));
        uvAccessor = putTexCoords();
        if (F > 1) {
            const size_t offset = bin.align4();
            std::vector<std::string> bounds;
            for (size_t f = 1; f < F; ++f) {
                for (size_t i = 0; i < V; ++i)
                    for (int c = 0; c < 3; ++c) {
                        const size_t k = 4 * i + static_cast<size_t>(c);
                        cur[k] = static_cast<int16_t>(q(exact_[f][3 * i + static_cast<size_t>(c)], c) - base[k]);
                    }
                bin.putVertices(cur.data(), 4, split.position);
                bounds.push_back(minMax(cur.data(), V, 4, 3));
                std::vector<double>().swap(exact_[f]);
            }
            const int view = v.view(offset, bin.size() - offset, 34962, 8);
            for (size_t f = 1; f < F; ++f)
                targets.push_back(v.accessor(view, (f - 1) * 8 * N, kShort, N, "VEC3", bounds[f - 1]));
        }
        nodeTransform = ",\"translation\":[" + num(centre[0]) + "," + num(centre[1]) + "," + num(centre[2]) +
                        "],\"scale\":[" + num(unit) + "," + num(unit) + "," + num(unit) + "]";
    }

    // The animation: at key k (time k / rate) target k-1 weighs 1, the rest 0.
    std::string animation;
    if (F > 1) {
        const size_t tOffset = bin.align4();
        std::vector<float> times(F);
        for (size_t k = 0; k < F; ++k) times[k] = static_cast<float>(static_cast<double>(k) / info.frameRate);
        for (float t : times) bin.put(t);
        const int tView = v.view(tOffset, bin.size() - tOffset, 0, 0);
        const int tAcc = v.accessor(tView, 0, kFloat, F, "SCALAR", minMax(times.data(), F, 1, 1));
        const size_t wOffset = bin.align4();
        for (size_t k = 0; k < F; ++k)
            for (size_t t = 0; t + 1 < F; ++t) bin.put(k >= 1 && t == k - 1 ? 1.0f : 0.0f);
        const int wView = v.view(wOffset, bin.size() - wOffset, 0, 0);
        const int wAcc = v.accessor(wView, 0, kFloat, F * (F - 1), "SCALAR", "");
        animation = ",\"animations\":[{\"name\":" + jsonString(info.name.empty() ? "frames" : info.name) +
                    ",\"samplers\":[{\"input\":" + std::to_string(tAcc) + ",\"output\":" + std::to_string(wAcc) +
                    ",\"interpolation\":\"STEP\"}],\"channels\":[{\"sampler\":0,\"target\":{\"node\":0,\"path\":\"weights\"}}]}]";
    }
    bin.align4();

    std::string targetList, weights, names;
    for (size_t t = 0; t < targets.size(); ++t) {
        const std::string sep = t ? "," : "";
        targetList += sep + "{\"POSITION\":" + std::to_string(targets[t]) + "}";
        weights += sep + "0";
        names += sep + jsonString("frame" + std::to_string(info.firstFrame + static_cast<int>(t) + 1));
    }
    const std::string meshName = jsonString(info.name.empty() ? "orv" : info.name);
    std::string json = "{\"asset\":{\"version\":\"2.0\",\"generator\":\"orv OrvExport\"}";
    if (quantize_) json += ",\"extensionsUsed\":[\"KHR_mesh_quantization\"],\"extensionsRequired\":[\"KHR_mesh_quantization\"]";
    json += ",\"scene\":0,\"scenes\":[{\"nodes\":[0]}],\"nodes\":[{\"name\":" + meshName + ",\"mesh\":0" + nodeTransform + "}]";
    json += ",\"meshes\":[{\"name\":" + meshName + ",\"primitives\":[{\"attributes\":{\"POSITION\":" +
            std::to_string(baseAccessor);
    if (uvAccessor >= 0) json += ",\"TEXCOORD_0\":" + std::to_string(uvAccessor);
    json += "},\"indices\":" + std::to_string(idAccessor) + ",\"mode\":4";
    if (!targets.empty()) json += ",\"targets\":[" + targetList + "]";
    json += "}]";
    if (!targets.empty()) json += ",\"weights\":[" + weights + "],\"extras\":{\"targetNames\":[" + names + "]}";
    json += "}]" + animation;
    json += ",\"buffers\":[{\"byteLength\":" + std::to_string(bin.size()) + "}]";
    json += ",\"bufferViews\":[" + v.views + "],\"accessors\":[" + v.accessors + "]}";
    while (json.size() % 4 != 0) json += ' ';

    const uint64_t total = 12 + 8 + json.size() + 8 + bin.size();
    if (total > 0xFFFFFFFFull) throw Error(path_ + ": the animation is too large for one glb file (4 GiB)");
    std::vector<uint8_t> out(static_cast<size_t>(total));
    const uint32_t head[5] = {0x46546C67, 2, static_cast<uint32_t>(total), static_cast<uint32_t>(json.size()), 0x4E4F534A};
    std::memcpy(out.data(), head, sizeof head);
    std::memcpy(out.data() + 20, json.data(), json.size());
    const uint32_t binHead[2] = {static_cast<uint32_t>(bin.size()), 0x004E4942};
    std::memcpy(out.data() + 20 + json.size(), binHead, sizeof binHead);
    if (bin.size() > 0) std::memcpy(out.data() + 28 + json.size(), bin.bytes().data(), bin.size());

    file_->write(out.data(), out.size());
    file_->commit();
}

}  // namespace orv
