// Reading the texture part of OBJ text (see ObjTexture.h). Texture ids follow
// the rules of position ids: one-based, negative ones count back from the
// last vt line read so far, and positive ones may name a vt line further
// down, so their range is checked once the whole file is read.
#include "Decoder/ObjTexture.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "Common/Portable.h"
#include "Decoder/MeshIO.h"

namespace orv {

namespace {

bool isBlank(char _c) { return _c == ' ' || _c == '\t' || _c == '\r' || _c == '\v' || _c == '\f'; }

std::string quoted(const char* _s, const char* _e) {
    constexpr long kShown = 40;
    const std::string t(_s, static_cast<size_t>(std::min<long>(_e - _s, kShown)));
    return "\"" + t + (_e - _s > kShown ? "...\"" : "\"");
}

}  // namespace

std::string ObjTextureReader::coordinates(const char* _s, const char* _e) {
    double uv[2] = {0.0, 0.0};
    int n = 0;
    for (const char* p = _s;;) {
        while (p < _e && isBlank(*p)) ++p;
        if (p == _e) break;
        const char* t = p;
        while (p < _e && !isBlank(*p)) ++p;
        if (n == 3) return "a vt line has more than three coordinates";
        double value = 0.0;
        const char* digits = *t == '+' ? t + 1 : t;
        if (digits == p || !parseDouble(digits, p, value)) return "cannot read the texture coordinate " + quoted(t, p);
        if (!std::isfinite(value)) return "the texture coordinate " + quoted(t, p) + " is not a finite number";
        if (n < 2) uv[n] = value;
        ++n;
    }
    if (n == 0) return "a vt line needs at least one coordinate";
    out_.uv.push_back(uv[0]);
    out_.uv.push_back(uv[1]);
    return "";
}

std::string ObjTextureReader::corner(const char* _slash, const char* _end, const char* _line) {
    const char* s = _slash == _end ? _end : _slash + 1;
    const char* e = std::find(s, _end, '/');
    if (s == e) {
        ++cornersWithout_;
        return "";
    }
    const char* digits = *s == '+' ? s + 1 : s;
    int64_t id = 0;
    const auto r = std::from_chars(digits, e, id);
    if (r.ec != std::errc() || r.ptr != e || digits == e)
        return "cannot read the texture index " + quoted(s, e);
    const int64_t read = static_cast<int64_t>(out_.uv.size() / 2);
    if (id < 0) {
        if (-id > read)
            return "the texture index " + std::to_string(id) + " reaches before the first vt line (" +
                   std::to_string(read) + " read so far)";
        id = read + id + 1;
    }
    if (id < 1) return "the texture index " + std::to_string(id) + " is below 1";
    if (id > INT32_MAX) return "the texture index " + std::to_string(id) + " is out of range";
    if (id > largest_) {
        largest_ = id;
        largestLine_ = _line;
    }
    pending_.push_back(static_cast<int>(id - 1));
    return "";
}

std::string ObjTextureReader::endFace(const Face& _positions) {
    const int without = cornersWithout_;
    const size_t with = pending_.size();
    cornersWithout_ = 0;
    if (with > 0 && without > 0)
        return std::to_string(without) + " of the face's " + std::to_string(with + static_cast<size_t>(without)) +
               " corners have no texture index (all or none must have one)";
    if (with == 0) {
        if (!out_.corners.empty())
            return "the face has no texture indices, but the faces before it have";
        ++facesWithout_;
        return "";
    }
    if (facesWithout_ > 0)
        return "the face has texture indices, but the " + std::to_string(facesWithout_) + " faces before it have none";
    if (pending_.size() == 3) {
        out_.corners.insert(out_.corners.end(), pending_.begin(), pending_.end());
    } else {
        // The same fan as the positions': from the same corner, in the same order.
        const size_t n = pending_.size(), start = triangulationStart(_positions);
        for (size_t k = 1; k + 1 < n; ++k)
            for (size_t c : {start, (start + k) % n, (start + k + 1) % n}) out_.corners.push_back(pending_[c]);
    }
    pending_.clear();
    return "";
}

std::string ObjTextureReader::finish(const char*& _line) {
    const int64_t count = static_cast<int64_t>(out_.uv.size() / 2);
    if (largest_ > count) {
        _line = largestLine_;
        return "the texture index " + std::to_string(largest_) + " names a vt line beyond the " +
               std::to_string(count) + " in the file";
    }
    return "";
}

}  // namespace orv
