// RateDistortionOptions: the encoder's freedoms that do not touch the stream
// format, grouped under one effort level. Every choice here only changes which
// residuals are sent (and how many spatial layers), so any setting decodes
// bit-exactly with the ordinary decoder.
#pragma once

namespace orv {

struct RdOptions {
    // Step of each role relative to the enhancement-layer step q: the first
    // frame's error is carried through the whole sequence (zero residuals copy
    // the reference details), the base layer predicts every finer layer.
    double firstFrameRatio = 1.0;  // q0 = q * firstFrameRatio
    double baseLayerRatio = 1.0;   // q1 = q * baseLayerRatio

    // Dead-zone rounding on later frames: R = sign(a) * floor(|a/q| + theta).
    // theta 0.5 is plain rounding; smaller values send fewer small residuals.
    bool deadZone = false;
    double deadZoneTheta = 0.5;
    // Only the zone's zeros: values it does not make 0 are rounded to nearest,
    // which keeps large residuals unbiased where q is small against them.
    bool deadZoneZeroOnly = false;

    // Rate-distortion optimised quantisation of later frames: every component
    // takes the cheapest of {R, R - sign(R), 0} under (a - qR)^2 + lambda*bits,
    // lambda = lambdaFactor * q^2, bits from a model of the layer's chunk.
    bool rdoq = false;
    double lambdaFactor = 0.05;
    int rdoqIterations = 2;  // decisions made with a re-estimated model

    // Send an enhancement-layer chunk as byte count 0 when that costs less in
    // rate plus distortion, but never when a vertex would end up farther than
    // emptyChunkMaxError * q from its original position.
    bool emptyChunks = false;
    double emptyChunkMaxError = 2.0;

    // No vertex may end up farther than maxVertexError * q from its original
    // position through these decisions (q the enhancement step); where they
    // would, the vertex keeps plain rounding. sqrt(3)/2 is the farthest plain
    // rounding itself can land, so the largest error stays that of the plain
    // encoder at the same q. 0 turns the guard off.
    double maxVertexError = 0.8660254037844386;

    // Per frame, references among the frames already coded (the same phase of
    // an earlier cycle, say) in place of the hierarchy's where a rate proxy
    // says they predict clearly better; layers and record order stay.
    bool chooseReferences = false;

    // Spatial layers to use instead of the Settings' nSL; 0 keeps nSL.
    int spatialLayers = 0;

    // Which of the effort's candidate settings pays depends on the sequence
    // and on the step (a dead zone or a finer first frame stop paying once q
    // is small against the motion), so efforts 1 and 2 choose them by trial
    // encodes of the sequence's first frames (EffortTrials.h): 0 takes these
    // options as they are, 1 tries the rounding and step-ratio candidates of
    // efforts 0 and 1, 2 also those of effort 2 and the frame layout.
    int trialLevel = 0;
    // Layout switches the caller fixed, which trials leave alone.
    bool fixedTemporal = false;  // nTL and refFirstFrame
    bool fixedBasePred = false;
    bool fixedSpatial = false;   // spatialLayers as given (0: the Settings' nSL)

    // The fixed candidate of each level:
    // 0 plain (one step, nearest rounding).
    // 1 a finer first frame and a dead zone (zeros only), tuned so that the
    //   largest vertex error stays that of the plain encoder at equal KG error.
    // 2 first frame q/8, base layer q/2, RDOQ, empty chunks and 10 spatial
    //   layers; costs up to about 1.3x the plain encoder's largest vertex
    //   error at equal KG error.
    static RdOptions fixedForEffort(int _effort);
    // What OrvEnc runs at an effort: the fixed candidate, chosen by trial
    // among the candidates up to that level (trialLevel = _effort).
    static RdOptions forEffort(int _effort);
};

constexpr int kMaxEffort = 2;

inline RdOptions RdOptions::fixedForEffort(int _effort) {
    RdOptions o;
    if (_effort <= 0) return o;
    o.deadZone = true;
    o.chooseReferences = true;
    if (_effort == 1) {
        o.firstFrameRatio = 0.6;
        o.deadZoneTheta = 0.25;
        o.deadZoneZeroOnly = true;
        return o;
    }
    o.firstFrameRatio = 1.0 / 8.0;
    o.baseLayerRatio = 0.5;
    o.deadZoneTheta = 0.33;
    o.rdoq = true;
    o.lambdaFactor = 0.05;
    o.emptyChunks = true;
    o.emptyChunkMaxError = 0.8660254037844386;
    o.spatialLayers = 10;
    return o;
}

inline RdOptions RdOptions::forEffort(int _effort) {
    RdOptions o = fixedForEffort(_effort);
    o.trialLevel = _effort <= 0 ? 0 : _effort >= kMaxEffort ? kMaxEffort : _effort;
    return o;
}

}  // namespace orv
