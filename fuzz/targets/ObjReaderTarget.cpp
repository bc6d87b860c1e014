// Fuzz body: bytes as OBJ text through the reader (see FuzzTargets.h).
#include <cstring>
#include <string>
#include <vector>

#include "Common/Check.h"
#include "Decoder/MeshIO.h"
#include "FuzzTargets.h"

namespace orvfuzz {

namespace {

struct Parsed {
    bool ok = false;
    std::string error;
    std::vector<double> xyz;
    orv::FaceList faces;
};

Parsed parse(const std::string& _text) {
    Parsed p;
    try {
        auto g = orv::parseOBJ("fuzz.obj", _text, p.faces);
        if (g)
            for (int v = 0; v < g->V; ++v) {
                const orv::Vector3d x = g->position(v, 0);
                p.xyz.insert(p.xyz.end(), {x.x, x.y, x.z});
            }
        p.ok = true;
    } catch (const orv::Error& e) {
        p.error = e.what();
    }
    return p;
}

bool sameResult(const Parsed& _a, const Parsed& _b) {
    if (_a.ok != _b.ok || _a.faces != _b.faces || _a.xyz.size() != _b.xyz.size()) return false;
    for (size_t i = 0; i < _a.xyz.size(); ++i)
        if (std::memcmp(&_a.xyz[i], &_b.xyz[i], sizeof(double)) != 0) return false;
    return true;
}

}  // namespace

void objReaderOne(const uint8_t* _data, size_t _size) {
    const std::string text(reinterpret_cast<const char*>(_data), _size);
    const Parsed plain = parse(text);
    if (plain.ok) {
        for (const orv::Face& face : plain.faces) {
            if (face.size() != 3) throw Finding("a face without three indices was accepted");
            for (int index : face)
                if (index < 0) throw Finding("a negative face index was accepted");
        }
        if (plain.xyz.size() % 3 != 0) throw Finding("a vertex without three coordinates");
    } else if (plain.error.rfind("fuzz.obj", 0) != 0) {
        throw Finding("an error that does not name the file: " + plain.error);
    }
    // A byte-order mark before the text and a long comment line before it
    // change nothing (line numbers in errors shift, so only success is compared).
    const Parsed marked = parse("\xEF\xBB\xBF" + text);
    const Parsed commented = parse("#" + std::string(1500, 'f') + " 1 2 3\n" + text);
    if (text.rfind("\xEF\xBB\xBF", 0) != 0 && !sameResult(plain, marked))
        throw Finding("a byte-order mark changed what was read");
    if (text.rfind("\xEF\xBB\xBF", 0) != 0 && !sameResult(plain, commented))
        throw Finding("a long comment line changed what was read");
}

}  // namespace orvfuzz
