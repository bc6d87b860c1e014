// RateDistortion: the residual decisions of the optimising encoder. A layer
// chunk is coded with two adaptive contexts (significance, magnitude bits) and
// a bit-plane count B, so the cost of one residual is well predicted by the
// chunk's own statistics; this module models that cost and picks, per
// component, the residual with the least distortion plus lambda times bits.
// The layer driver runs GeometryEncoder through its quantizer hook only, so the
// reconstruction stays the decoder's, bit for bit.
#pragma once

#include <cstdint>
#include <vector>

#include "Encoder/DecoderContext.h"
#include "SequenceEncoder/GeometryEncoder.h"
#include "SequenceEncoder/RateDistortionOptions.h"
#include "Encoder/Settings.h"
#include "Mesh/GeometryT.h"

namespace orv {

// Bits of one residual value in a chunk whose statistics are those of the
// values the model was built from.
class ResidualCostModel {
public:
    explicit ResidualCostModel(const std::vector<int>& _values);
    double bits(int _x) const;
    // Payload bits of a whole list under this model, headers included.
    double totalBits(const std::vector<int>& _values) const;
    int planes() const { return B_; }

private:
    double bitsOfMagnitude(uint32_t _m) const;  // of a non-zero value, |x| - 1 = _m

    // The small magnitudes, where nearly every decision falls, looked up.
    static constexpr uint32_t kTabled = 32;
    double tabled_[kTabled];
    double zero_ = 1.0;     // significance bin 0
    double nonZero_ = 1.0;  // significance bin 1 plus the bypass sign bin
    double mag0_ = 1.0, mag1_ = 1.0;
    int B_ = 0;
};

// The cheapest of {R, R - sign(R), 0} for error _error, R the nearest integer
// to _error / _q. Ties keep the larger magnitude.
int rdChoose(double _error, double _q, double _lambda, const ResidualCostModel& _model);

// Decisions for a layer whose predictions do not depend on its own residuals
// (layers 1 and up): errors in GQuant order (3 per vertex). Returns the
// residuals; a vertex whose decided error would exceed maxVertexError * _q
// keeps plain rounding; with _allowEmpty it may return all zeros when that is
// cheaper, unless some vertex would then be farther than
// emptyChunkMaxError * _q from its original position.
struct LayerDecision {
    std::vector<int> residuals;
    bool emptied = false;
};
LayerDecision decideLayer(const std::vector<double>& _errors, double _q, const RdOptions& _options,
                          bool _allowEmpty);

// Runs the quantisation of one layer of a later frame with the options'
// decisions, through GeometryEncoder's operations; the context ends up
// exactly as the decoder will reconstruct it.
class RdLayerEncoder {
public:
    // _enhancementStep scales the options' vertex-error guard in every layer.
    RdLayerEncoder(const Settings& _settings, GeometryEncoder& _coder, const RdOptions& _options,
                   double _enhancementStep);

    // Layer 0 of a later frame (global or local by the Settings).
    void encodeBaseLayer(int _f, const std::vector<int>& _rf, double _q, const GeometryT<double>& _original);
    // Layer _l >= 1 of a later frame; the local frames must be computed and
    // the filter weights set.
    void encodeEnhancementLayer(int _l, int _f, const std::vector<int>& _rf, double _q,
                                const GeometryT<double>& _original);

    uint64_t emptiedChunks() const { return emptied_; }

private:
    void runBase(int _f, const std::vector<int>& _rf, double _q, const GeometryT<double>& _original);

    const Settings& settings_;
    GeometryEncoder& coder_;
    RdOptions options_;
    double componentLimit_;  // largest error per base-layer component; +inf without a guard
    std::vector<double> errors_;

    // Plain rounding that keeps every prediction error in errors_ for the cost model.
    Quantizer recordingQuantizer() {
        return [this](double _e, double _step, const ResidualSite&) {
            errors_.push_back(_e);
            return roundToNearest(_e, _step);
        };
    }
    uint64_t emptied_ = 0;
};

}  // namespace orv
