// The glTF reader (see GltfReader.h). Every index, offset, stride and count
// from the JSON is checked against the arrays and bytes it points into before
// it is used, and sizes are derived from bytes actually present, so a lying
// file gives a message rather than a wild read or a huge allocation.
#include "Import/GltfReader.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>

#include "Common/Check.h"
#include "Common/InputFile.h"
#include "Common/StreamRules.h"
#include "Import/Json.h"

namespace fs = std::filesystem;

namespace orv {

namespace {

constexpr uint32_t kGlbMagic = 0x46546C67, kJsonChunk = 0x4E4F534A, kBinChunk = 0x004E4942;

class Reader {
public:
    Reader(const std::string& _path, const GltfFileLoader& _load) : path_(_path), load_(_load) {}

    GltfAnimation read(const std::vector<uint8_t>& _bytes);

private:
    [[noreturn]] void fail(const std::string& _what) const { throw Error(path_ + ": " + _what); }

    const JsonValue& member(const JsonValue& _o, const char* _key, const std::string& _where) const {
        const JsonValue* v = _o.isObject() ? _o.find(_key) : nullptr;
        if (!v) fail(_where + " has no \"" + _key + "\"");
        return *v;
    }
    // A whole number in [0, _limit) (or up to 2^53 when _limit is 0).
    uint64_t whole(const JsonValue& _v, const std::string& _what, uint64_t _limit = 0) const {
        const double lim = _limit ? static_cast<double>(_limit) : 9007199254740992.0;
        if (!_v.isNumber() || !(_v.number >= 0) || !(_v.number < lim) || std::floor(_v.number) != _v.number)
            fail(_what + " is not a whole number" + (_limit ? " below " + std::to_string(_limit) : std::string()));
        return static_cast<uint64_t>(_v.number);
    }
    uint64_t wholeOr(const JsonValue& _o, const char* _key, uint64_t _default, const std::string& _where) const {
        const JsonValue* v = _o.find(_key);
        return v ? whole(*v, _where + " \"" + _key + "\"") : _default;
    }
    // The element _index of the top-level array _name.
    const JsonValue& item(const char* _name, const JsonValue& _index, const std::string& _what) const {
        const JsonValue* a = root_.find(_name);
        if (!a || !a->isArray() || a->items.empty()) fail(_what + " refers to \"" + _name + "\", which is missing");
        return a->items[whole(_index, _what, a->items.size())];
    }

    const std::vector<uint8_t>& buffer(uint64_t _i);
    std::vector<double> accessor(const JsonValue& _index, const std::string& _what, int _components, bool _indices);
    void worldTransform(size_t _node, double _m[16]);

    std::string path_;
    const GltfFileLoader& load_;
    JsonValue root_;
    std::vector<uint8_t> glbBin_;
    bool hasGlbBin_ = false;
    std::vector<std::vector<uint8_t>> buffers_;
    std::vector<bool> loaded_;
};

const std::vector<uint8_t>& Reader::buffer(uint64_t _i) {
    if (loaded_[_i]) return buffers_[_i];
    const JsonValue& b = root_.find("buffers")->items[_i];
    const std::string what = "buffer " + std::to_string(_i);
    const uint64_t length = whole(member(b, "byteLength", what), what + " byteLength");
    const JsonValue* uri = b.find("uri");
    std::vector<uint8_t> bytes;
    if (!uri) {
        if (_i != 0 || !hasGlbBin_) fail(what + " has no uri and there is no glb binary chunk");
        bytes = glbBin_;
    } else if (!uri->isString()) {
        fail(what + " uri is not a string");
    } else if (uri->text.rfind("data:", 0) == 0) {
        const size_t comma = uri->text.find(',');
        if (comma == std::string::npos || comma < 7 || uri->text.compare(comma - 7, 7, ";base64") != 0)
            fail(what + ": only base64 data: URIs are read");
        static const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        uint32_t acc = 0;
        int bits = 0;
        for (size_t k = comma + 1; k < uri->text.size(); ++k) {
            const char c = uri->text[k];
            if (c == '=') break;
            const size_t d = kAlphabet.find(c);
            if (d == std::string::npos) fail(what + ": bad character in its base64 data");
            acc = (acc << 6) | static_cast<uint32_t>(d);
            bits += 6;
            if (bits >= 8) {
                bits -= 8;
                bytes.push_back(static_cast<uint8_t>(acc >> bits));
            }
        }
    } else {
        if (uri->text.find("://") != std::string::npos || uri->text.empty() || uri->text[0] == '/')
            fail(what + ": only a file beside the .gltf is read, not " + uri->text);
        if (!load_ || !load_(uri->text, bytes)) fail(what + ": cannot read " + uri->text);
    }
    if (bytes.size() < length)
        fail(what + " should hold " + std::to_string(length) + " bytes, it has " + std::to_string(bytes.size()));
    bytes.resize(static_cast<size_t>(length));
    buffers_[_i] = std::move(bytes);
    loaded_[_i] = true;
    return buffers_[_i];
}

// The accessor's values as doubles, _components per element (normalized
// integers scaled as glTF defines them).
std::vector<double> Reader::accessor(const JsonValue& _index, const std::string& _what, int _components, bool _indices) {
    const JsonValue& a = item("accessors", _index, _what);
    const std::string what = _what + " (accessor " + std::to_string(static_cast<uint64_t>(_index.number)) + ")";
    if (a.find("sparse")) fail(what + " is sparse, which is not read");
    const JsonValue& type = member(a, "type", what);
    const int want = _components;
    const char* typeName = want == 1 ? "SCALAR" : "VEC3";
    if (!type.isString() || type.text != typeName) fail(what + " is not of type " + typeName);
    const uint64_t ct = whole(member(a, "componentType", what), what + " componentType");
    const JsonValue* normFlag = a.find("normalized");
    const bool normalized = normFlag && normFlag->kind == JsonValue::Kind::Bool && normFlag->boolean;
    if (_indices && normalized) fail(what + ": indices cannot be normalized");
    size_t size = 0;
    switch (ct) {
    case 5120: case 5122:
        // Signed components would give negative vertex numbers.
        if (_indices) fail(what + ": indices must be unsigned integers");
        size = ct == 5120 ? 1 : 2;
        break;
    case 5121: size = 1; break;
    case 5123: size = 2; break;
    case 5125: if (!_indices) fail(what + ": UNSIGNED_INT is only allowed for indices"); size = 4; break;
    case 5126: if (_indices) fail(what + ": indices must be integers"); size = 4; break;
    default: fail(what + " has the unknown componentType " + std::to_string(ct));
    }
    const uint64_t count = whole(member(a, "count", what), what + " count");
    std::vector<double> out;
    if (!a.find("bufferView")) {
        // No view: all zeros (glTF's rule), as many as the count says, but
        // only as many as a real file could hold.
        if (count > (1u << 24)) fail(what + " has no bufferView and a count of " + std::to_string(count));
        out.assign(static_cast<size_t>(count) * static_cast<size_t>(want), 0.0);
        return out;
    }
    const JsonValue& view = item("bufferViews", *a.find("bufferView"), what + " bufferView");
    const std::string vwhat = what + "'s bufferView";
    const uint64_t bufferIndex = whole(member(view, "buffer", vwhat), vwhat + " buffer");
    const JsonValue* buffers = root_.find("buffers");
    if (!buffers || !buffers->isArray() || bufferIndex >= buffers->items.size()) fail(vwhat + " names a missing buffer");
    const std::vector<uint8_t>& bytes = buffer(bufferIndex);
    const uint64_t viewOffset = wholeOr(view, "byteOffset", 0, vwhat);
    const uint64_t viewLength = whole(member(view, "byteLength", vwhat), vwhat + " byteLength");
    if (viewOffset > bytes.size() || viewLength > bytes.size() - viewOffset)
        fail(vwhat + " (bytes " + std::to_string(viewOffset) + " + " + std::to_string(viewLength) +
             ") lies outside its buffer of " + std::to_string(bytes.size()) + " bytes");
    const uint64_t element = size * static_cast<uint64_t>(want);
    const uint64_t stride = wholeOr(view, "byteStride", element, vwhat);
    if (stride < element || stride > 252) fail(vwhat + " byteStride " + std::to_string(stride) + " does not fit its elements");
    const uint64_t offset = wholeOr(a, "byteOffset", 0, what);
    if (offset % size != 0 || (viewOffset + offset) % size != 0) fail(what + " is not aligned to its component size");
    if (count > 0 && (offset > viewLength || count - 1 > (viewLength - offset) / stride ||
                      (count - 1) * stride + element > viewLength - offset))
        fail(what + " (" + std::to_string(count) + " elements from byte " + std::to_string(offset) +
             ") reaches outside its bufferView of " + std::to_string(viewLength) + " bytes");
    out.resize(static_cast<size_t>(count) * static_cast<size_t>(want));
    const uint8_t* base = bytes.data() + viewOffset + offset;
    for (size_t e = 0; e < count; ++e) {
        const uint8_t* p = base + e * stride;
        for (int c = 0; c < want; ++c, p += size) {
            double x = 0;
            switch (ct) {
            case 5120: { int8_t v; std::memcpy(&v, p, 1); x = normalized ? std::max(v / 127.0, -1.0) : v; break; }
            case 5121: { uint8_t v = *p; x = normalized ? v / 255.0 : v; break; }
            case 5122: { int16_t v; std::memcpy(&v, p, 2); x = normalized ? std::max(v / 32767.0, -1.0) : v; break; }
            case 5123: { uint16_t v; std::memcpy(&v, p, 2); x = normalized ? v / 65535.0 : v; break; }
            case 5125: { uint32_t v; std::memcpy(&v, p, 4); x = v; break; }
            default: { float v; std::memcpy(&v, p, 4); x = v; break; }
            }
            if (!std::isfinite(x)) fail(what + " element " + std::to_string(e) + " is not finite");
            out[e * static_cast<size_t>(want) + static_cast<size_t>(c)] = x;
        }
    }
    return out;
}

void multiply(const double _a[16], const double _b[16], double _out[16]) {
    double r[16];
    for (int c = 0; c < 4; ++c)
        for (int row = 0; row < 4; ++row) {
            double s = 0;
            for (int k = 0; k < 4; ++k) s += _a[k * 4 + row] * _b[c * 4 + k];
            r[c * 4 + row] = s;
        }
    std::memcpy(_out, r, sizeof r);
}

// The node's matrix (column-major, as glTF writes it) times its parents'.
void Reader::worldTransform(size_t _node, double _m[16]) {
    const JsonValue& nodes = *root_.find("nodes");
    std::vector<size_t> parent(nodes.items.size(), SIZE_MAX);
    for (size_t n = 0; n < nodes.items.size(); ++n)
        if (const JsonValue* ch = nodes.items[n].find("children"); ch && ch->isArray())
            for (const JsonValue& c : ch->items) {
                const size_t k = whole(c, "node " + std::to_string(n) + " child", nodes.items.size());
                if (parent[k] != SIZE_MAX || k == n) fail("node " + std::to_string(k) + " has more than one parent");
                parent[k] = n;
            }
    for (int k = 0; k < 16; ++k) _m[k] = k % 5 == 0;
    size_t steps = 0;
    for (size_t n = _node; n != SIZE_MAX; n = parent[n]) {
        if (++steps > nodes.items.size()) fail("the node hierarchy has a cycle");
        const JsonValue& node = nodes.items[n];
        const std::string what = "node " + std::to_string(n);
        double local[16];
        for (int k = 0; k < 16; ++k) local[k] = k % 5 == 0;
        auto numbers = [&](const char* _key, size_t _n, double* _out) {
            const JsonValue* v = node.find(_key);
            if (!v) return false;
            if (!v->isArray() || v->items.size() != _n) fail(what + " \"" + _key + "\" does not hold " + std::to_string(_n) + " numbers");
            for (size_t k = 0; k < _n; ++k) {
                if (!v->items[k].isNumber()) fail(what + " \"" + _key + "\" holds something that is not a number");
                _out[k] = v->items[k].number;
            }
            return true;
        };
        if (!numbers("matrix", 16, local)) {
            double t[3] = {0, 0, 0}, r[4] = {0, 0, 0, 1}, s[3] = {1, 1, 1};
            numbers("translation", 3, t);
            numbers("rotation", 4, r);
            numbers("scale", 3, s);
            const double x = r[0], y = r[1], z = r[2], w = r[3];
            const double rot[9] = {1 - 2 * (y * y + z * z), 2 * (x * y + z * w),     2 * (x * z - y * w),
                                   2 * (x * y - z * w),     1 - 2 * (x * x + z * z), 2 * (y * z + x * w),
                                   2 * (x * z + y * w),     2 * (y * z - x * w),     1 - 2 * (x * x + y * y)};
            for (int c = 0; c < 3; ++c)
                for (int row = 0; row < 3; ++row) local[c * 4 + row] = rot[c * 3 + row] * s[c];
            for (int row = 0; row < 3; ++row) local[12 + row] = t[row];
        }
        multiply(local, _m, _m);
    }
}

GltfAnimation Reader::read(const std::vector<uint8_t>& _bytes) {
    std::string_view json;
    if (_bytes.size() >= 4 && std::memcmp(_bytes.data(), &kGlbMagic, 4) == 0) {
        uint32_t head[5] = {};
        if (_bytes.size() < 20) fail("truncated glb header (" + std::to_string(_bytes.size()) + " bytes)");
        std::memcpy(head, _bytes.data(), 20);
        if (head[1] != 2) fail("glb version " + std::to_string(head[1]) + " is not 2");
        if (head[2] != _bytes.size())
            fail("the glb header gives a length of " + std::to_string(head[2]) + " bytes, the file has " +
                 std::to_string(_bytes.size()));
        if (head[4] != kJsonChunk) fail("the first glb chunk is not JSON");
        if (head[3] > _bytes.size() - 20)
            fail("the JSON chunk's length " + std::to_string(head[3]) + " runs past the end of the file");
        json = std::string_view(reinterpret_cast<const char*>(_bytes.data()) + 20, head[3]);
        const size_t at = 20 + static_cast<size_t>(head[3]);
        if (_bytes.size() - at >= 8) {
            uint32_t bh[2];
            std::memcpy(bh, _bytes.data() + at, 8);
            if (bh[1] == kBinChunk) {
                if (bh[0] > _bytes.size() - at - 8)
                    fail("the BIN chunk's length " + std::to_string(bh[0]) + " runs past the end of the file");
                glbBin_.assign(_bytes.begin() + static_cast<std::ptrdiff_t>(at + 8),
                               _bytes.begin() + static_cast<std::ptrdiff_t>(at + 8 + bh[0]));
                hasGlbBin_ = true;
            }
        } else if (_bytes.size() != at) {
            fail("truncated chunk header after the JSON chunk");
        }
    } else {
        json = std::string_view(reinterpret_cast<const char*>(_bytes.data()), _bytes.size());
        if (json.size() >= 3 && json.substr(0, 3) == "\xEF\xBB\xBF") json.remove_prefix(3);
    }
    try {
        root_ = parseJson(json);
    } catch (const Error& e) {
        fail(e.what());
    }
    if (!root_.isObject()) fail("the JSON document is not an object");
    const JsonValue* asset = root_.find("asset");
    const JsonValue* version = asset ? asset->find("version") : nullptr;
    if (!version || !version->isString() || version->text.rfind("2.", 0) != 0) fail("not a glTF 2.x asset");
    if (const JsonValue* req = root_.find("extensionsRequired"); req && req->isArray())
        for (const JsonValue& e : req->items)
            if (!e.isString() || e.text != "KHR_mesh_quantization")
                fail("requires the extension " + (e.isString() ? e.text : std::string("?")) + ", which is not read");
    if (const JsonValue* b = root_.find("buffers"); b && b->isArray()) {
        buffers_.resize(b->items.size());
        loaded_.assign(b->items.size(), false);
    }

    GltfAnimation out;
    const JsonValue* meshes = root_.find("meshes");
    if (!meshes || !meshes->isArray() || meshes->items.empty()) fail("holds no mesh");
    if (meshes->items.size() > 1)
        fail("holds " + std::to_string(meshes->items.size()) + " meshes; only a file of one animated mesh is read");
    const JsonValue& prims = member(meshes->items[0], "primitives", "mesh 0");
    if (!prims.isArray() || prims.items.empty()) fail("mesh 0 has no primitives");
    if (prims.items.size() > 1)
        fail("mesh 0 has " + std::to_string(prims.items.size()) + " primitives; only a mesh of one primitive is read");
    const JsonValue& prim = prims.items[0];
    const uint64_t mode = wholeOr(prim, "mode", 4, "the primitive");
    if (mode < 4 || mode > 6)
        fail("the primitive's mode is " + std::to_string(mode) + " (points or lines); only triangles are read");
    const JsonValue& attributes = member(prim, "attributes", "the primitive");
    const std::vector<double> base = accessor(member(attributes, "POSITION", "the primitive's attributes"), "POSITION", 3, false);
    const size_t V = base.size() / 3;
    if (V == 0) fail("the mesh has no vertices");
    if (V > stream_rules::kMaxVertices) fail("the mesh has " + std::to_string(V) + " vertices, too many for a stream");

    std::vector<double> ids;
    if (const JsonValue* ix = prim.find("indices")) ids = accessor(*ix, "indices", 1, true);
    else
        for (size_t k = 0; k < V; ++k) ids.push_back(static_cast<double>(k));
    for (size_t k = 0; k < ids.size(); ++k)
        if (ids[k] >= static_cast<double>(V))
            fail("index " + std::to_string(k) + " is " + std::to_string(static_cast<uint64_t>(ids[k])) +
                 ", outside the " + std::to_string(V) + " vertices");
    FaceList& faces = out.anim.faces;
    auto id = [&](size_t _k) { return static_cast<int>(ids[_k]); };
    if (mode == 4) {
        if (ids.size() % 3 != 0) fail(std::to_string(ids.size()) + " indices do not make whole triangles");
        for (size_t k = 0; k + 2 < ids.size(); k += 3) faces.push_back({id(k), id(k + 1), id(k + 2)});
    } else {
        // Strips and fans become lists; the triangles a strip repeats a
        // vertex in to turn a corner have no area and are left out.
        for (size_t k = 0; k + 2 < ids.size(); ++k) {
            Face f = mode == 6 ? Face{id(0), id(k + 1), id(k + 2)}
                     : k % 2 ? Face{id(k + 1), id(k), id(k + 2)}
                             : Face{id(k), id(k + 1), id(k + 2)};
            if (f[0] != f[1] && f[1] != f[2] && f[0] != f[2]) faces.push_back(f);
        }
        out.notes.push_back(std::string("the triangle ") + (mode == 5 ? "strip" : "fan") + " was made a triangle list");
    }
    if (faces.empty()) fail("the mesh has no triangles");

    std::vector<std::vector<double>> targets;
    if (const JsonValue* ts = prim.find("targets")) {
        if (!ts->isArray()) fail("the primitive's targets are not an array");
        for (size_t t = 0; t < ts->items.size(); ++t) {
            const std::string what = "morph target " + std::to_string(t);
            const JsonValue* p = ts->items[t].isObject() ? ts->items[t].find("POSITION") : nullptr;
            if (!p) fail(what + " has no POSITION");
            targets.push_back(accessor(*p, what, 3, false));
            if (targets.back().size() != base.size())
                fail(what + " has " + std::to_string(targets.back().size() / 3) + " offsets for " + std::to_string(V) +
                     " vertices");
        }
    }
    const size_t T = targets.size();

    // The node that shows the mesh gives the transform and the animation's target.
    size_t meshNode = SIZE_MAX;
    if (const JsonValue* nodes = root_.find("nodes"); nodes && nodes->isArray())
        for (size_t n = 0; n < nodes->items.size(); ++n)
            if (const JsonValue* m = nodes->items[n].isObject() ? nodes->items[n].find("mesh") : nullptr) {
                whole(*m, "node " + std::to_string(n) + " mesh", 1);
                if (meshNode != SIZE_MAX) fail("the mesh is shown by more than one node; only one is read");
                meshNode = n;
            }
    double world[16];
    for (int k = 0; k < 16; ++k) world[k] = k % 5 == 0;
    if (meshNode != SIZE_MAX) worldTransform(meshNode, world);

    // Frame weights: one row of T per frame.
    std::vector<double> weights, times;
    size_t F = 0;
    const JsonValue* animations = root_.find("animations");
    if (meshNode != SIZE_MAX && animations && animations->isArray())
        for (size_t a = 0; a < animations->items.size() && F == 0; ++a) {
            const JsonValue& anim = animations->items[a];
            const std::string what = "animation " + std::to_string(a);
            const JsonValue* channels = anim.find("channels");
            if (!channels || !channels->isArray()) continue;
            for (const JsonValue& ch : channels->items) {
                const JsonValue* target = ch.isObject() ? ch.find("target") : nullptr;
                const JsonValue* node = target && target->isObject() ? target->find("node") : nullptr;
                const JsonValue* path = target && target->isObject() ? target->find("path") : nullptr;
                if (!node || !path || !path->isString() || path->text != "weights" || !node->isNumber() ||
                    node->number != static_cast<double>(meshNode))
                    continue;
                const JsonValue& samplers = member(anim, "samplers", what);
                if (!samplers.isArray() || samplers.items.empty()) fail(what + " has no samplers");
                const JsonValue& s = samplers.items[whole(member(ch, "sampler", what + " channel"), what + " channel sampler",
                                                          samplers.items.size())];
                const JsonValue* interp = s.find("interpolation");
                const std::string how = interp && interp->isString() ? interp->text : "LINEAR";
                if (how != "STEP" && how != "LINEAR") fail(what + ": " + how + " weights are not read (only STEP and LINEAR)");
                times = accessor(member(s, "input", what + " sampler"), what + " key times", 1, false);
                weights = accessor(member(s, "output", what + " sampler"), what + " weights", 1, false);
                if (T == 0) fail(what + " animates the weights of a mesh without morph targets");
                if (times.empty()) fail(what + " has no key times");
                if (weights.size() != times.size() * T)
                    fail(what + " has " + std::to_string(weights.size()) + " weights for " + std::to_string(times.size()) +
                         " key times of " + std::to_string(T) + " targets");
                for (size_t k = 1; k < times.size(); ++k)
                    if (!(times[k] > times[k - 1])) fail(what + ": key times do not increase at key " + std::to_string(k));
                F = times.size();
                break;
            }
        }
    if (F == 0) {
        F = 1 + T;
        weights.assign(F * T, 0.0);
        for (size_t t = 0; t < T; ++t) weights[(t + 1) * T + t] = 1.0;
        if (T > 0) out.notes.push_back("no weights animation: the frames are the base and then each morph target");
    } else if (F > 1) {
        const double step = (times.back() - times.front()) / static_cast<double>(F - 1);
        bool even = step > 0;
        for (size_t k = 1; k < F && even; ++k) even = std::fabs(times[k] - times[k - 1] - step) <= 1e-3 * step;
        // Key times are float32, so 1/step carries their rounding (30 fps reads
        // as 29.999998): a rate that close to one of three decimals is that one.
        if (even) {
            const double rate = 1.0 / step, snapped = std::round(rate * 1e3) / 1e3;
            out.anim.frameRate = std::fabs(rate - snapped) <= 1e-4 * rate ? snapped : std::round(rate * 1e6) / 1e6;
        }
        else out.notes.push_back("the key times are not evenly spaced: the frame rate is --fps or 25");
        out.anim.startTime = times.front();
    }
    if (F > static_cast<size_t>(stream_rules::kMaxFrames))
        fail(std::to_string(F) + " frames; a stream holds at most " + std::to_string(stream_rules::kMaxFrames));
    const uint64_t need = static_cast<uint64_t>(F) * V * 3 * sizeof(double);
    if (need > physicalMemoryBytes()) fail(std::to_string(F) + " frames of " + std::to_string(V) + " vertices need " +
                                           gibibytesText(need) + ", more than this machine's memory");

    out.anim.positions = GeometryT<double>(static_cast<int>(V), static_cast<int>(F));
    std::vector<double> local(3 * V);
    for (size_t f = 0; f < F; ++f) {
        std::copy(base.begin(), base.end(), local.begin());
        for (size_t t = 0; t < T; ++t) {
            const double w = weights[f * T + t];
            if (w == 0) continue;
            const std::vector<double>& d = targets[t];
            for (size_t k = 0; k < 3 * V; ++k) local[k] += w * d[k];
        }
        double* p = out.anim.positions.frame(static_cast<int>(f));
        for (size_t v = 0; v < V; ++v)
            for (int r = 0; r < 3; ++r) {
                const double x = world[r] * local[3 * v] + world[4 + r] * local[3 * v + 1] + world[8 + r] * local[3 * v + 2] +
                                 world[12 + r];
                if (!std::isfinite(x)) fail("frame " + std::to_string(f) + " has a non-finite position");
                p[3 * v + static_cast<size_t>(r)] = x;
            }
    }
    return out;
}

}  // namespace

bool isGltfInput(const std::vector<std::string>& _args) {
    if (_args.size() != 1) return false;
    std::string ext = fs::path(_args[0]).extension().string();
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".gltf" || ext == ".glb";
}

GltfAnimation parseGltf(const std::string& _path, const std::vector<uint8_t>& _bytes, const GltfFileLoader& _load) {
    return Reader(_path, _load).read(_bytes);
}

GltfAnimation readGltf(const std::string& _path) {
    auto slurp = [](const std::string& _file, std::vector<uint8_t>& _out) {
        InputFile in;
        if (!in.open(_file)) return false;
        in.readAll(_out);
        return true;
    };
    std::vector<uint8_t> bytes;
    try {
        if (!slurp(_path, bytes)) throw Error("cannot read " + _path + ": " + std::strerror(errno));
    } catch (const Error& e) {
        const std::string m = e.what();
        throw Error(m.rfind(_path, 0) == 0 || m.rfind("cannot", 0) == 0 ? m : _path + ": " + m);
    }
    const fs::path dir = fs::path(_path).parent_path();
    return parseGltf(_path, bytes, [&](const std::string& _uri, std::vector<uint8_t>& _out) {
        try {
            return slurp((dir / _uri).string(), _out);
        } catch (const Error&) {
            return false;
        }
    });
}

}  // namespace orv
