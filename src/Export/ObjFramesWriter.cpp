// OBJ frame writing for OrvExport (OrvDec's own writer keeps its fixed form).
// Each frame goes through an AtomicFile: an interrupted export leaves whole
// frames only.
#include "Export/ObjFramesWriter.h"

#include <charconv>
#include <filesystem>

#include "Common/AtomicFile.h"
#include "Common/Check.h"

namespace orv {

void appendReal(std::string& _out, double _value, int _digits) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, _value, std::chars_format::general, _digits);
    _out.append(buf, r.ptr);
}

namespace {

void appendInt(std::string& _out, int64_t _v) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, _v);
    _out.append(buf, r.ptr);
}

}  // namespace

ObjFramesWriter::ObjFramesWriter(std::string _folder, int _digits) : folder_(std::move(_folder)), digits_(_digits) {
    if (_digits < 1 || _digits > 17) throw Error("--digits must be 1 to 17");
}

std::string ObjFramesWriter::frameName(int _frame, int _last) {
    const int width = static_cast<int>(std::to_string(_last).size());
    std::string n = std::to_string(_frame);
    return "frame" + std::string(static_cast<size_t>(width) - std::min(n.size(), static_cast<size_t>(width)), '0') + n +
           ".obj";
}

void ObjFramesWriter::begin(const AnimationInfo& _info) {
    info_ = &_info;
    std::error_code ec;
    std::filesystem::create_directories(folder_, ec);
    if (!std::filesystem::is_directory(folder_)) throw Error("Creating folder " + folder_ + " failed!");
    const bool uv = !_info.texFaces.empty();
    for (size_t i = 0; uv && i + 1 < _info.texCoords.size(); i += 2) {
        tail_ += "vt ";
        appendReal(tail_, _info.texCoords[i], 17);
        tail_ += ' ';
        appendReal(tail_, _info.texCoords[i + 1], 17);
        tail_ += '\n';
    }
    for (size_t f = 0; f < _info.faces.size(); f += 3) {
        tail_ += 'f';
        for (size_t k = 0; k < 3; ++k) {
            tail_ += ' ';
            appendInt(tail_, int64_t{_info.faces[f + k]} + 1);
            if (uv) {
                tail_ += '/';
                appendInt(tail_, int64_t{_info.texFaces[f + k]} + 1);
            }
        }
        tail_ += '\n';
    }
}

void ObjFramesWriter::frame(int _index, const double* _p) {
    const int frame = info_->firstFrame + _index;
    const std::string path =
        (std::filesystem::path(folder_) / frameName(frame, info_->firstFrame + info_->frameCount - 1)).string();
    text_.clear();
    text_ += "# frame " + std::to_string(frame) + (info_->name.empty() ? "" : " of " + info_->name) + "\n";
    for (int32_t v = 0; v < info_->vertexCount; ++v) {
        text_ += "v ";
        appendReal(text_, _p[3 * v], digits_);
        text_ += ' ';
        appendReal(text_, _p[3 * v + 1], digits_);
        text_ += ' ';
        appendReal(text_, _p[3 * v + 2], digits_);
        text_ += '\n';
    }
    AtomicFile file(path);
    file.write(text_);
    file.write(tail_);
    file.commit();
}

}  // namespace orv
