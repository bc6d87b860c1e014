// GeometryCoder: reconstructs one spatial layer of one frame from the spatial
// prediction (weighted predictor positions), the temporally predicted detail
// (from the reference frames' details) and the dequantized residual. The
// encoder (SequenceEncoder/GeometryEncoder) derives from it and runs the very
// same per-vertex pass (Encoder/GeometryLayerPass.h) after choosing each
// residual, so the encoder's reconstruction is the decoder's, bit for bit, and
// later vertices and frames predict from it (closed loop). Only the decoding
// instantiations of the pass are compiled into the coding core.
#pragma once

#include <cstdint>
#include <vector>

#include "Encoder/DecoderContext.h"
#include "Encoder/GeometryKernels.h"
#include "Encoder/GeometryMath.h"
#include "Encoder/Settings.h"
#include "Mesh/GeometryT.h"

namespace orv {

// The AVX2 layer sweeps are used where the processor has them, unless the
// environment sets ORV_GEOMETRY_SIMD=0; turning them off selects the portable
// path, which gives the same results bit for bit (tests compare the two).
// Returns whether they are in use afterwards (never on other processors).
bool setGeometrySimd(bool _on);
bool geometrySimd();

class GeometryCoder {
public:
    // The context's layering (orders and predictors) must be filled before:
    // its vertex ids are validated here once, so the per-vertex work can use
    // the frames' contiguous storage directly.
    GeometryCoder(const Settings& _settings, DecoderContext& _context);

    Vector3d spatialPrediction(int _l, int _k, int _f) const;
    // The frame exactly as computed, ok false included (no fallback here).
    LocalFrame localFrame(int _l, int _k, int _f) const;

    void decodeFirstFrame(int _f, double _q);
    void decodeBaseLayerGlobal(int _f, const std::vector<int>& _rf, double _q);
    void decodeBaseLayerLocal(int _f, const std::vector<int>& _rf, double _q);
    // Also sums the layer's spatial predictions when they depend on lower
    // layers only: the enhancement pass of the same layer and frame then uses
    // them, unless another layer or frame is coded in between.
    void computeLayerFrames(int _l, int _f);
    void decodeEnhancementLayer(int _l, int _f, const std::vector<int>& _rf, double _q);
    // computeLayerFrames then decodeEnhancementLayer, with the same results:
    // the spatial predictions are summed in the same sweep over the terms as
    // the frame axes and kept for the reconstruction sweep.
    void decodeEnhancementLayerWithFrames(int _l, int _f, const std::vector<int>& _rf, double _q);

    // How many local frames were degenerate and replaced by the world axes.
    uint64_t fallbackFrames() const { return fallbackFrames_; }

protected:
    static constexpr const char* kModule = "Encoder/GeometryCoder";

    enum class Pass { First, BaseGlobal, BaseLocal, Enhancement };

    // Where the pass takes each vertex's residuals from: the decoder's are in
    // GQuant already. A source with kChooses writes them there first, from
    // choose(frame, layer, vertex, prediction, local, frame axes, temporal
    // prediction, step, GQuant entry).
    struct StoredResiduals {
        static constexpr bool kChooses = false;
    };

    // The one per-vertex pass (defined in Encoder/GeometryLayerPass.h), over
    // vertices _kBegin.._kEnd of the layer (in layer order), all by default.
    // ParkedPrediction takes the spatial predictions computeLayerFrames summed.
    template <Pass P, bool ParkedPrediction, class Residuals>
    void codeLayerT(Residuals& _residuals, int _l, int _f, const std::vector<int>* _rf, double _q,
                    size_t _kBegin = 0, size_t _kEnd = ~size_t{0});
    // Whether an enhancement pass of (_l, _f) may use the parked predictions;
    // forgets them otherwise, as any other pass does.
    bool takeParked(Pass _pass, int _l, int _f);
    void checkLayer(int _l) const;
    LocalFrame frameFromTerms(const int32_t* _ids, size_t _m, const double* _positions) const;
    const double* ringTrig(size_t _m) const;

    const Settings& settings_;
    DecoderContext& context_;
    uint64_t fallbackFrames_ = 0;
    // Every layer's predictor terms in one run: term j of vertex k of the
    // layer is entry begin[k] + j.
    struct FlatTerms {
        std::vector<int32_t> begin, id;
        std::vector<double> weight;
        // The layer indices by vertex id, and the vertex ids in that order:
        // the AVX2 sweeps visit the layer so (see GeometryKernels.h), with
        // a copy of the terms in that order to stream through (layers 1 and
        // up; layer 0 is never swept).
        std::vector<int32_t> byVertex;
        std::vector<int> sortedOrder;
        std::vector<int32_t> visitBegin, visitId;
        std::vector<double> visitWeight;
        std::vector<int32_t> visitPosition;  // inverse of byVertex
        bool anyEmpty = false;   // some vertex has no terms
        bool fromBelow = false;  // every term is a vertex of a lower layer (or of none)
    };
    std::vector<FlatTerms> flat_;
    // Spatial predictions of the layer being reconstructed (3 per vertex),
    // summed with its frames: in layer order, or in visiting order when the
    // AVX2 sweep summed them (parkedByVisit_).
    std::vector<double> parked_;
    bool parkedByVisit_ = false;

private:
    void forgetParked() { parkedLayer_ = parkedFrame_ = -1; }
    void codeLayer(Pass _pass, int _l, int _f, const std::vector<int>* _rf, double _q);
    template <bool WithPrediction>
    void layerFrameSums(int _l, int _f);
    void reconstructEnhancementAvx2(int _l, int _f, const std::vector<int>& _rf, double _q);
    void finishLayerFrames(const std::vector<int>& _order, double* _t1, double* _t2, double* _n);
    geometry_kernels::LayerTerms visitTerms(int _l) const;
    void ensureTables(size_t _m);
    static void buildVisitOrder(FlatTerms& _ft, const std::vector<int>& _order);

    // cos(i*step) and sin(i*step), step = 2*pi/m, interleaved per term
    // count m: the pair of term i of a count-m ring is trig_[trigAt_[m] + 2i].
    std::vector<double> trig_;
    std::vector<size_t> trigAt_;
    // The layer and frame whose predictions parked_ holds for the next
    // enhancement pass (-1: none).
    int parkedLayer_ = -1, parkedFrame_ = -1;
    // Axis sums of a block of the layer (AVX2 sweeps), 12 per vertex.
    std::vector<double> sums_;
};

}  // namespace orv
