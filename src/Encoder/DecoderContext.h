// DecoderContext: everything the geometry decoder reads and writes across
// frames: step sizes, decoded positions, details, residuals, local frames, the
// spatial layering, temporal filter weights and the coding order tables. The
// encoder keeps one too: its reconstruction is the decoder's, bit for bit.
#pragma once

#include <cstdint>
#include <vector>

#include "Common/Types.h"
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

    // GQuant at frame _f, and axis _axis (0: t1, 1: t2, 2: n) of GFrames at
    // frame _f, wherever the context keeps them.
    int* quantFrame(int _f) { return GQuant.frame(slot(_f)); }
    const int* quantFrame(int _f) const { return GQuant.frame(slot(_f)); }
    double* axisFrame(int _f, int _axis) { return GFrames.frame(3 * slot(_f) + _axis); }
    const double* axisFrame(int _f, int _axis) const { return GFrames.frame(3 * slot(_f) + _axis); }

private:
    // Frame numbers are checked against F either way.
    int slot(int _f) const;
    bool codedFrameOnly_;
};

}  // namespace orv
