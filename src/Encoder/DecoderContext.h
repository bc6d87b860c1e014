// DecoderContext: everything the geometry decoder reads and writes across
// frames: step sizes, decoded positions, details, residuals, local frames, the
// spatial layering, temporal filter weights and the coding order tables. The
// encoder keeps one too: its reconstruction is the decoder's, bit for bit.
#pragma once

#include <cstdint>
#include <vector>

#include "Common/Types.h"
#include "Encoder/FrameSlots.h"
#include "Mesh/GeometryT.h"

namespace orv {

struct DecoderContext {
    // Which frames the residuals (GQuant) and local frames (GFrames) are kept
    // for. The decoder keeps all F. An encoder needs them only while it codes
    // a frame (later frames predict from positions and details alone), so it
    // can keep one: GQuant then has 1 frame and GFrames 3, and every frame
    // number maps to that one. Read them through quantFrame and axisFrame.
    enum class Keep { AllFrames, CodedFrameOnly };

    DecoderContext(int V, int F, int nSL, Keep _keep = Keep::AllFrames);

    // A streaming decoder's context: residuals and local frames for the coded
    // frame only, details in slots that the decoder takes and gives back per
    // frame (takeFrame, releaseDetail), and positions too unless
    // _allPositions (then GDec holds every frame, as in a full context).
    // GDetail (and GDec without _allPositions) then hold no frames: read them
    // through detailFrame and decFrame. filterDec[f] is filled only while
    // frame f is decoded.
    static DecoderContext windowed(int V, int F, int nSL, bool _allPositions);

    // Bytes the per-frame geometries of a (V, F) context take, to refuse
    // impossible headers before allocating.
    static uint64_t bytesNeeded(uint64_t V, uint64_t F);

    double qStep[3] = {1.0, 1.0, 1.0};
    GeometryT<double> GDec;     // decoded positions, V x F
    GeometryT<double> GDetail;  // decoded details (spatial prediction errors), V x F
    GeometryT<int> GQuant;      // integer residuals, V x F
    GeometryT<double> GFrames;  // local frames t1, t2, n at 3f, 3f+1, 3f+2: V x 3F
    std::vector<std::vector<int>> allLayerVertexOrders;
    std::vector<std::vector<Predictor>> allLayerPredictors;
    std::vector<std::vector<std::vector<double>>> filterDec;  // [f][l] -> one weight per reference
    std::vector<int> codingOrder;
    std::vector<std::vector<int>> codingRefs;
    std::vector<int> codingLayers;

    int vertexCount() const { return V_; }
    int frameCount() const { return F_; }

    // Positions and details of frame _f, wherever the context keeps them. A
    // reference whose detail reads as zeros (a frame that the stream decodes
    // only later) is named kZeroDetail, in windowed contexts only.
    static constexpr int kZeroDetail = -1;
    double* decFrame(int _f) { return windowed_ && !allPositions_ ? positionSlots_.at(_f) : GDec.frame(_f); }
    const double* decFrame(int _f) const {
        return windowed_ && !allPositions_ ? positionSlots_.at(_f) : GDec.frame(_f);
    }
    double* detailFrame(int _f);
    const double* detailFrame(int _f) const { return const_cast<DecoderContext*>(this)->detailFrame(_f); }

    // Windowed contexts: frame _f gets zeroed detail and position slots
    // before it is decoded, and gives them back when no later record reads
    // its detail and its positions were delivered.
    bool windowed() const { return windowed_; }
    bool holdsDetail(int _f) const { return detailSlots_.holds(_f); }
    bool holdsPositions(int _f) const { return allPositions_ || positionSlots_.holds(_f); }
    // _zeroed false: the caller writes every vertex's detail (and position)
    // of the frame before reading any, so the slots need no zero fill.
    void takeFrame(int _f, bool _zeroed = true);
    void releaseDetail(int _f) { detailSlots_.release(_f); }
    void releasePositions(int _f) { positionSlots_.release(_f); }
    void releaseAll();
    // The most frames whose details (positions) were held at once.
    size_t peakDetailFrames() const { return detailSlots_.peak(); }
    size_t peakPositionFrames() const { return allPositions_ ? static_cast<size_t>(F_) : positionSlots_.peak(); }

    // Contexts that keep the coded frame only (windowed ones too) coding or
    // decoding several records at once: _n working frames of residuals and
    // local frames (1, the default, is the one every frame maps to).
    // useWorkingFrame points frame _f at working frame _w; frames coded
    // together must use different ones.
    void setWorkingFrames(int _n);
    void useWorkingFrame(int _f, int _w);
    int workingFrames() const { return GQuant.F; }

    // GQuant at frame _f, and axis _axis (0: t1, 1: t2, 2: n) of GFrames at
    // frame _f, wherever the context keeps them.
    int* quantFrame(int _f) { return GQuant.frame(slot(_f)); }
    const int* quantFrame(int _f) const { return GQuant.frame(slot(_f)); }
    double* axisFrame(int _f, int _axis) { return GFrames.frame(3 * slot(_f) + _axis); }
    const double* axisFrame(int _f, int _axis) const { return GFrames.frame(3 * slot(_f) + _axis); }

private:
    // Frame numbers are checked against F either way.
    int slot(int _f) const;
    int V_, F_;
    bool codedFrameOnly_;
    bool windowed_ = false, allPositions_ = true;
    FrameSlots detailSlots_, positionSlots_;
    std::vector<double> zeroDetail_;
    std::vector<int32_t> workingOf_;  // frame -> working frame; empty: all use 0
};

}  // namespace orv
