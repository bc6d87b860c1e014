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

    // 0 plain (one step, nearest rounding).
    // 1 the default: a finer first frame and a dead zone, tuned so that the
    //   largest vertex error stays that of the plain encoder at equal KG error.
    // 2 smallest streams: first frame q/8, base layer q/2, RDOQ, empty chunks
    //   and 10 spatial layers; costs up to about 1.3x the plain encoder's
    //   largest vertex error at equal KG error, and 1.6x the encoding time.
    static RdOptions forEffort(int _effort);
};

constexpr int kMaxEffort = 2;

inline RdOptions RdOptions::forEffort(int _effort) {
    RdOptions o;
    if (_effort <= 0) return o;
    o.deadZone = true;
    o.chooseReferences = true;
    if (_effort == 1) {
        o.firstFrameRatio = 0.6;
        o.deadZoneTheta = 0.25;
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

}  // namespace orv
