// OBJ frames into a folder: frame000.obj, ... (the stream's frame numbers,
// padded to the widest), each with its v lines at a chosen number of
// significant digits (17 round-trips every double), the texture coordinates
// when there are any, and the faces.
#pragma once

#include <string>

#include "Export/FrameWriter.h"

namespace orv {

class ObjFramesWriter : public FrameWriter {
public:
    ObjFramesWriter(std::string _folder, int _digits);
    void begin(const AnimationInfo& _info) override;
    void frame(int _index, const double* _positions) override;
    void finish() override {}

    // The file name of stream frame _frame among frames up to _last.
    static std::string frameName(int _frame, int _last);

private:
    std::string folder_;
    int digits_;
    const AnimationInfo* info_ = nullptr;
    std::string tail_;  // vt and f lines, the same in every frame
    std::string text_;
};

// _value as the shortest text of at most _digits significant digits
// (%.*g, "-0" kept, never locale-dependent).
void appendReal(std::string& _out, double _value, int _digits);

}  // namespace orv
