// orv_encoder_*: the C API's encoder. Frames are collected, then encoded in
// one go with OrvEnc's choices (a precision, explicit steps or a target to
// search the step for, at an effort level), and the figures OrvEnc reports
// are kept for orv_encoder_quality_get.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Api/ApiStatus.h"
#include "Common/StreamRules.h"
#include "Common/Types.h"
#include "SequenceEncoder/EncoderChoices.h"
#include "SequenceEncoder/QualityMetrics.h"
#include "SequenceEncoder/RateControl.h"
#include "SequenceEncoder/SequenceEncoder.h"
#include "orv/orv.h"

using orv::api::Failure;

struct orv_encoder {
    int V = 0;
    orv::FaceList faces;
    orv_encoder_options options{};
    int threads = 1;
    bool chooseReferences = true;
    std::vector<double> frames;  // 3V per frame, in order
    int F = 0;
    bool finished = false;
    orv::GeometryT<double> reconstruction{0, 0};
    orv_encoder_quality quality{};
    std::string error;
};

extern "C" void orv_encoder_options_default(orv_encoder_options* options) {
    if (!options) return;
    *options = orv_encoder_options{};
    options->spatial_layers = 0;
    options->temporal_layers = 4;
    options->effort = 1;
    options->precision_bits = 12;
    options->target = ORV_TARGET_NONE;
    options->ref_first_frame = 0;
    options->base_layer_pred = 1;
}

namespace {

void checkOptions(const orv_encoder_options& _o) {
    auto bad = [](const std::string& _what) { throw Failure(ORV_E_ARGUMENT, "encoder options: " + _what); };
    using namespace orv::stream_rules;
    if (_o.spatial_layers < 0 || _o.spatial_layers > kMaxSpatialLayers)
        bad("spatial_layers must be 0 (the effort's) to " + std::to_string(kMaxSpatialLayers));
    if (!temporalLayersValid(_o.temporal_layers))
        bad("temporal_layers must be 1 to " + std::to_string(kMaxTemporalLayers));
    if (_o.effort < 0 || _o.effort > 2) bad("effort must be 0, 1 or 2");
    if (_o.precision_bits < 1 || _o.precision_bits > 24) bad("precision_bits must be 1 to 24");
    const bool anyStep = _o.steps[0] != 0 || _o.steps[1] != 0 || _o.steps[2] != 0;
    if (anyStep)
        for (double q : _o.steps)
            if (!stepSizeValid(q)) bad(std::string("steps must all be 0, or all valid: ") + kStepSizeRule);
    if (_o.target < ORV_TARGET_NONE || _o.target > ORV_TARGET_BPVF) bad("unknown target");
    if (_o.target != ORV_TARGET_NONE && (!(_o.target_value > 0) || !std::isfinite(_o.target_value)))
        bad("target_value must be positive and finite");
    if (_o.target != ORV_TARGET_NONE && anyStep) bad("give either steps or a target, not both");
    if (_o.ref_first_frame != 0 && _o.ref_first_frame != 1) bad("ref_first_frame must be 0 or 1");
    if (_o.base_layer_pred != 0 && _o.base_layer_pred != 1) bad("base_layer_pred must be 0 or 1");
}

int finish(orv_encoder& _e, uint8_t** _stream, size_t* _size) {
    if (_e.finished) throw Failure(ORV_E_ARGUMENT, "orv_encoder_finish was called already");
    if (_e.F == 0) throw Failure(ORV_E_ARGUMENT, "no frames were added");
    const orv_encoder_options& o = _e.options;
    orv::GeometryT<double> positions(_e.V, _e.F);
    for (int f = 0; f < _e.F; ++f)
        std::memcpy(positions.frame(f), _e.frames.data() + 3 * static_cast<size_t>(_e.V) * f,
                    3 * static_cast<size_t>(_e.V) * sizeof(double));
    std::vector<double>().swap(_e.frames);

    orv::EncoderChoices choices;
    choices.effort = o.effort;
    choices.explicitSteps = o.steps[0] > 0;
    choices.spatialLayersGiven = o.spatial_layers > 0;
    choices.chooseReferences = _e.chooseReferences;
    // A layout switch the caller moved from its default is kept as given, as
    // OrvEnc keeps the switches on its command line; at the defaults the
    // effort's trials may choose them.
    choices.temporalLayersGiven = o.temporal_layers != 4 || o.ref_first_frame != 0;
    choices.baseLayerPredGiven = o.base_layer_pred != 1;
    for (int i = 0; i < 3; ++i) choices.precisionBits[i] = o.precision_bits;
    const orv::RdOptions rd = orv::rdOptionsFor(choices);
    orv::Settings settings;
    settings.nSL = o.spatial_layers > 0 ? o.spatial_layers : 8;
    settings.nTL = o.temporal_layers;
    settings.refFirstFrame = o.ref_first_frame != 0;
    settings.baseLayerPred = o.base_layer_pred;

    const double diagonal = orv::sequenceBoundingBox(positions).diagonal();
    if (!choices.explicitSteps && !(diagonal > 0))
        throw Failure(ORV_E_ENCODE, "all vertices of all frames lie on one point, so a precision or a target has "
                                    "no scale: give steps");
    double q[3];
    orv::EncodedSequence encoded;
    orv::QualityMetrics quality;
    int encodes = 1, met = 0;
    if (o.target != ORV_TARGET_NONE) {
        orv::EncodingTarget target;
        target.kind = o.target == ORV_TARGET_KG           ? orv::TargetKind::KgError
                      : o.target == ORV_TARGET_MAX_ERROR ? orv::TargetKind::MaxErrorOverDiagonal
                                                          : orv::TargetKind::BitsPerVertexFrame;
        target.value = o.target_value;
        // The search counts the bit stream; the caller's size is the file's.
        if (target.kind == orv::TargetKind::BitsPerVertexFrame)
            target.value = std::fmax(target.value - 32.0 / (static_cast<double>(_e.V) * _e.F), 1e-3 * target.value);
        orv::TargetedEncoding found = orv::encodeToTarget(positions, _e.faces, settings, rd, target, {}, _e.threads);
        orv::stepsForOptions(found.q, rd, q);
        encoded = std::move(found.encoded);
        quality = found.quality;
        encodes = found.encodes;
        met = found.met ? 1 : 0;
    } else if (choices.explicitSteps) {
        for (int i = 0; i < 3; ++i) q[i] = o.steps[i];
        encoded = orv::encodeSequence(positions, _e.faces, settings, q, {}, _e.threads);
        quality = orv::measureQuality(positions, encoded.reconstruction);
    } else {
        const double qEnh = diagonal / std::ldexp(1.0, o.precision_bits);
        orv::stepsForOptions(qEnh, rd, q);
        encoded = orv::encodeSequence(positions, _e.faces, settings, qEnh, rd, {}, _e.threads);
        quality = orv::measureQuality(positions, encoded.reconstruction);
    }

    uint8_t* out = static_cast<uint8_t*>(std::malloc(std::max<size_t>(1, encoded.streamFile.size())));
    if (!out) throw std::bad_alloc();
    std::memcpy(out, encoded.streamFile.data(), encoded.streamFile.size());
    *_stream = out;
    *_size = encoded.streamFile.size();

    orv_encoder_quality& r = _e.quality;
    r = orv_encoder_quality{};
    r.vertex_count = _e.V;
    r.frame_count = _e.F;
    r.spatial_layers = rd.spatialLayers > 0 ? rd.spatialLayers : settings.nSL;
    r.temporal_layers = settings.nTL;
    for (int i = 0; i < 3; ++i) r.step_sizes[i] = q[i];
    r.stream_bytes = encoded.streamFile.size();
    r.bits_per_vertex_frame = 8.0 * static_cast<double>(encoded.streamFile.size()) / (static_cast<double>(_e.V) * _e.F);
    r.diagonal = quality.diagonal;
    r.rmse = quality.rmse;
    r.max_error = quality.maxError;
    r.kg_error = quality.kg;
    r.encodes = encodes;
    r.target_met = met;
    _e.reconstruction = std::move(encoded.reconstruction);
    _e.finished = true;
    return ORV_OK;
}

}  // namespace

extern "C" int orv_encoder_create(int32_t vertex_count, const int32_t* faces, size_t face_count,
                                  const orv_encoder_options* options, orv_encoder** out, char* err, size_t err_size) {
    std::string message;
    if (out) *out = nullptr;
    const int status = orv::api::guarded(message, ORV_E_ARGUMENT, [&] {
        if (!out) throw Failure(ORV_E_ARGUMENT, "out is a null pointer");
        constexpr uint32_t maxV = orv::stream_rules::kMaxVertices;
        if (vertex_count < 1 || static_cast<uint32_t>(vertex_count) > maxV)
            throw Failure(ORV_E_ARGUMENT, "vertex_count must be 1 to " + std::to_string(maxV) + ", got " +
                                              std::to_string(vertex_count));
        if (!faces || face_count == 0) throw Failure(ORV_E_FACES, "no faces: give at least one triangle");
        auto e = std::make_unique<orv_encoder>();
        if (options) {
            e->options = *options;
        } else {
            orv_encoder_options_default(&e->options);
        }
        checkOptions(e->options);
        e->V = vertex_count;
        e->faces.resize(face_count);
        for (size_t i = 0; i < face_count; ++i) {
            for (int c = 0; c < 3; ++c) {
                const int32_t v = faces[3 * i + static_cast<size_t>(c)];
                if (v < 0 || v >= vertex_count)
                    throw Failure(ORV_E_FACES, "face " + std::to_string(i) + " names vertex " + std::to_string(v) +
                                                   ", but there are " + std::to_string(vertex_count) + " vertices");
            }
            e->faces[i] = {faces[3 * i], faces[3 * i + 1], faces[3 * i + 2]};
        }
        *out = e.release();
        return ORV_OK;
    });
    orv::api::copyMessage(status < 0 ? message : std::string(), err, err_size);
    return status;
}

extern "C" int orv_encoder_add_frame(orv_encoder* e, const double* positions) {
    if (!e) return ORV_E_ARGUMENT;
    return orv::api::guarded(e->error, ORV_E_ARGUMENT, [&] {
        if (!positions) throw Failure(ORV_E_ARGUMENT, "orv_encoder_add_frame: positions is a null pointer");
        if (e->finished) throw Failure(ORV_E_ARGUMENT, "orv_encoder_add_frame after orv_encoder_finish");
        constexpr int maxF = orv::stream_rules::kMaxFrames;
        if (e->F >= maxF)
            throw Failure(ORV_E_ARGUMENT, "a stream holds at most " + std::to_string(maxF) + " frames");
        const size_t n = 3 * static_cast<size_t>(e->V);
        for (size_t i = 0; i < n; ++i)
            if (!std::isfinite(positions[i]))
                throw Failure(ORV_E_ARGUMENT, "frame " + std::to_string(e->F) + ": coordinate " + std::to_string(i) +
                                                  " is not finite");
        e->frames.insert(e->frames.end(), positions, positions + n);
        ++e->F;
        return ORV_OK;
    });
}

extern "C" int orv_encoder_finish(orv_encoder* e, uint8_t** stream, size_t* size) {
    if (!e) return ORV_E_ARGUMENT;
    return orv::api::guarded(e->error, ORV_E_ENCODE, [&] {
        if (!stream || !size) throw Failure(ORV_E_ARGUMENT, "orv_encoder_finish: stream and size must not be null");
        *stream = nullptr;
        *size = 0;
        return finish(*e, stream, size);
    });
}

extern "C" int orv_encoder_set_threads(orv_encoder* e, int nthreads) {
    if (!e) return ORV_E_ARGUMENT;
    if (nthreads < 1) {
        e->error = "orv_encoder_set_threads: at least 1 thread (" + std::to_string(nthreads) + " given)";
        return ORV_E_ARGUMENT;
    }
    e->threads = nthreads;
    return ORV_OK;
}

extern "C" int orv_encoder_set_reference_choice(orv_encoder* e, int on) {
    if (!e) return ORV_E_ARGUMENT;
    if (on != 0 && on != 1) {
        e->error = "orv_encoder_set_reference_choice: 0 or 1 (" + std::to_string(on) + " given)";
        return ORV_E_ARGUMENT;
    }
    e->chooseReferences = on == 1;
    return ORV_OK;
}

extern "C" int orv_encoder_quality_get(const orv_encoder* e, orv_encoder_quality* quality) {
    if (!e || !quality || !e->finished) return ORV_E_ARGUMENT;
    *quality = e->quality;
    return ORV_OK;
}

extern "C" int orv_encoder_reconstruction(const orv_encoder* e, int32_t f, double* positions) {
    if (!e || !positions || !e->finished || f < 0 || f >= e->F) return ORV_E_ARGUMENT;
    std::memcpy(positions, e->reconstruction.frame(f), 3 * static_cast<size_t>(e->V) * sizeof(double));
    return ORV_OK;
}

extern "C" const char* orv_encoder_error(const orv_encoder* e) { return e ? e->error.c_str() : ""; }

extern "C" void orv_encoder_destroy(orv_encoder* e) { delete e; }
