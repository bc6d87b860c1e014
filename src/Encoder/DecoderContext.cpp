// Construction of the decoder context: all large arrays at full size (or one
// working frame for an encoder, or slots for a streaming decoder), zeroed.
#include "Encoder/DecoderContext.h"

#include "Common/Check.h"

namespace orv {

DecoderContext::DecoderContext(int V, int F, int nSL, Keep _keep)
    : GDec(V, F),
      GDetail(V, F),
      GQuant(V, _keep == Keep::AllFrames ? F : 1),
      GFrames(V, 3 * (_keep == Keep::AllFrames ? F : 1)),
      filterDec(static_cast<size_t>(F), std::vector<std::vector<double>>(static_cast<size_t>(nSL))),
      V_(V),
      F_(F),
      codedFrameOnly_(_keep == Keep::CodedFrameOnly) {}

DecoderContext DecoderContext::windowed(int V, int F, int nSL, bool _allPositions) {
    // A one-working-frame context of no frames, then told its real F.
    DecoderContext c(V, 0, nSL, Keep::CodedFrameOnly);
    c.F_ = F;
    c.GDec = GeometryT<double>(V, _allPositions ? F : 0);
    c.filterDec.assign(static_cast<size_t>(F), {});
    c.windowed_ = true;
    c.allPositions_ = _allPositions;
    c.detailSlots_ = FrameSlots(3 * static_cast<size_t>(V), F);
    if (!_allPositions) c.positionSlots_ = FrameSlots(3 * static_cast<size_t>(V), F);
    c.zeroDetail_.assign(3 * static_cast<size_t>(V), 0.0);
    return c;
}

double* DecoderContext::detailFrame(int _f) {
    if (!windowed_) return GDetail.frame(_f);
    if (_f == kZeroDetail) return zeroDetail_.data();
    return detailSlots_.at(_f);
}

void DecoderContext::takeFrame(int _f, bool _zeroed) {
    ORV_CHECK(windowed_, "Encoder/DecoderContext");
    detailSlots_.take(_f, _zeroed);
    if (!allPositions_) positionSlots_.take(_f, _zeroed);
}

void DecoderContext::releaseAll() {
    detailSlots_.releaseAll();
    positionSlots_.releaseAll();
}

void DecoderContext::setWorkingFrames(int _n) {
    ORV_CHECK(codedFrameOnly_ && _n>=1, "Encoder/DecoderContext");
    if (_n == GQuant.F) return;
    GQuant = GeometryT<int>(V_, _n);
    GFrames = GeometryT<double>(V_, 3 * _n);
    if (_n == 1)
        std::vector<int32_t>().swap(workingOf_);
    else
        workingOf_.assign(static_cast<size_t>(F_), 0);
}

void DecoderContext::useWorkingFrame(int _f, int _w) {
    ORV_CHECK(0<=_f && _f<F_ && 0<=_w && _w<GQuant.F, "Encoder/DecoderContext");
    if (!workingOf_.empty()) workingOf_[static_cast<size_t>(_f)] = _w;
}

int DecoderContext::slot(int _f) const {
    if (!codedFrameOnly_) return _f;
    ORV_CHECK(0<=_f && _f<F_, "Encoder/DecoderContext");
    return workingOf_.empty() ? 0 : workingOf_[static_cast<size_t>(_f)];
}

uint64_t DecoderContext::bytesNeeded(uint64_t V, uint64_t F) {
    // GDec + GDetail (3 doubles each), GQuant (3 ints), GFrames (9 doubles).
    return V * F * (3 * 8 + 3 * 8 + 3 * 4 + 9 * 8);
}

}  // namespace orv
