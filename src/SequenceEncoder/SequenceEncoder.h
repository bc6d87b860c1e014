// The library encoder: a whole animated mesh in, a stream file out, together
// with the encoder's own reconstruction (equal to the decoder's, bit for bit).
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "Common/Types.h"
#include "SequenceEncoder/RateDistortionOptions.h"
#include "Encoder/Settings.h"
#include "Mesh/GeometryT.h"

namespace orv {

class LayeringCache;

struct EncodedSequence {
    std::vector<uint8_t> streamFile;  // 4-byte little-endian length N, then N bytes of bit stream
    GeometryT<double> reconstruction{0, 0};
    int chosenReferenceRecords = 0;  // records whose references replace the hierarchy's
    // Bytes of streamFile up to the end of the first frame's record: with the
    // fixed-size stream header, what a stream of that frame alone would take.
    size_t firstRecordEnd = 0;
    // What the stream carries: the switches of its header and its steps
    // (the effort's trials may have chosen them).
    Settings settings{};
    double qStep[3] = {0, 0, 0};
    RdOptions options{};  // the options the residuals were decided with
};

// Called after each frame record: (records done, F).
using EncodeProgress = std::function<void(int, int)>;

// Encodes _positions (V vertices x F frames) with the faces and switches given.
// _settings.nSL, nTL, refFirstFrame and baseLayerPred are honoured; the
// stream is written with enhLayerPred 0 and entrType CABAC. Invalid input
// (steps outside stream_rules::stepSizeValid, residuals that do not fit, references the frame header
// cannot hold, F >= 65536, face ids out of range) throws orv::Error before
// anything is written. Frames whose references are coded already are coded
// at the same time on up to _threads threads; the stream and reconstruction
// are the same for every count (more than 256 count as 256), and _progress is called on the calling
// thread, in coding order. A _layerings cache serving these faces supplies
// the spatial layering instead of building it (the stream is the same).
EncodedSequence encodeSequence(const GeometryT<double>& _positions, const FaceList& _faces, const Settings& _settings,
                               const double _qStep[3], const EncodeProgress& _progress = {}, int _threads = 1,
                               LayeringCache* _layerings = nullptr);

// The same with the encoder's rate-distortion freedoms: _q is the step of the
// enhancement layers (what a precision sets); the first-frame and base-layer
// steps follow from the options' ratios, and _options.spatialLayers (when not
// 0) replaces _settings.nSL. RdOptions{} gives exactly the stream of the
// function above with all three steps _q. With _options.trialLevel > 0 the
// options and the layout switches the caller did not fix are first chosen by
// trial encodes (EffortTrials.h); the result tells what was chosen.
EncodedSequence encodeSequence(const GeometryT<double>& _positions, const FaceList& _faces, const Settings& _settings,
                               double _q, const RdOptions& _options, const EncodeProgress& _progress = {},
                               int _threads = 1, LayeringCache* _layerings = nullptr);

// The three step sizes encodeSequence uses for enhancement step _q.
void stepsForOptions(double _q, const RdOptions& _options, double _qStep[3]);

}  // namespace orv
