// Trial encodes behind the effort levels (see EffortTrials.h). Every trial is
// an ordinary encodeSequence call on a prefix of the sequence, so whatever is
// chosen decodes exactly like any other stream.
#include "SequenceEncoder/EffortTrials.h"

#include <cmath>
#include <map>
#include <utility>
#include <vector>

#include "Common/Check.h"
#include "Common/StreamRules.h"
#include "Encoder/FrameCodingOrderGen.h"
#include "SequenceEncoder/LayeringCache.h"

namespace orv {

namespace {

GeometryT<double> firstFrames(const GeometryT<double>& _g, int _n) {
    GeometryT<double> out(_g.V, _n);
    const size_t n = 3 * static_cast<size_t>(_g.V);
    for (int f = 0; f < _n; ++f) std::copy(_g.frame(f), _g.frame(f) + n, out.frame(f));
    return out;
}

double squaredError(const GeometryT<double>& _a, const GeometryT<double>& _b) {
    long double sum = 0;
    const size_t n = 3 * static_cast<size_t>(_a.V);
    for (int f = 0; f < _a.F; ++f) {
        const double* p = _a.frame(f);
        const double* r = _b.frame(f);
        for (size_t i = 0; i < n; ++i) {
            const double d = p[i] - r[i];
            sum += d * d;
        }
    }
    return static_cast<double>(sum);
}

// Whether every reference of this layering fits a frame header for F frames.
bool layoutWritable(int _F, int _nTL, bool _refFirstFrame) {
    if (!stream_rules::temporalLayersValid(_nTL)) return false;
    std::vector<int> frames, layers;
    std::vector<std::vector<int>> refs;
    generateFrameCodingOrder(frames, refs, layers, _F, _nTL, _refFirstFrame, _refFirstFrame ? 0 : -1);
    for (size_t p = 1; p < frames.size(); ++p)
        for (int r : refs[p])
            if (!stream_rules::referenceWritable(r, frames[p])) return false;
    return true;
}

struct Candidate {
    Settings settings;
    RdOptions options;
};

// Size and squared error of one candidate, carried over to the whole sequence.
struct Estimate {
    double bits = 0;
    double sse = 0;
};

class Trials {
public:
    Trials(const GeometryT<double>& _positions, const FaceList& _faces, int _frames, int _threads,
           LayeringCache& _layerings)
        : faces_(_faces), threads_(_threads), layerings_(_layerings), F_(_positions.F), S_(std::min(_positions.F, _frames)), sample_(firstFrames(_positions, S_)),
          first_(firstFrames(_positions, 1)) {}

    bool wholeSequence() const { return S_ == F_; }
    int encodes() const { return encodes_; }

    Estimate estimate(const Candidate& _c, double _q, std::optional<EncodedSequence>* _keep = nullptr) {
        EncodedSequence enc = encodeSequence(sample_, faces_, _c.settings, _q, _c.options, {}, threads_, &layerings_);
        ++encodes_;
        Estimate e{8.0 * static_cast<double>(enc.streamFile.size() - 4), squaredError(sample_, enc.reconstruction)};
        if (!wholeSequence()) {
            // The first frame is coded once whatever the length; the later
            // frames of the prefix stand for all later frames.
            const Estimate f = firstFrame(_c, _q);
            const double scale = static_cast<double>(F_ - 1) / static_cast<double>(S_ - 1);
            e.bits = f.bits + scale * (e.bits - f.bits);
            e.sse = f.sse + scale * std::fmax(0.0, e.sse - f.sse);
        } else if (_keep) {
            *_keep = std::move(enc);
        }
        return e;
    }

private:
    Estimate firstFrame(const Candidate& _c, double _q) {
        const int nSL = _c.options.spatialLayers > 0 ? _c.options.spatialLayers : _c.settings.nSL;
        const std::pair<double, int> key{_q * _c.options.firstFrameRatio, nSL};
        auto it = cache_.find(key);
        if (it != cache_.end()) return it->second;
        Settings s = _c.settings;
        s.nSL = nSL;
        const double steps[3] = {key.first, key.first, key.first};
        const EncodedSequence enc = encodeSequence(first_, faces_, s, steps, {}, threads_, &layerings_);
        ++encodes_;
        const Estimate e{8.0 * static_cast<double>(enc.streamFile.size() - 4), squaredError(first_, enc.reconstruction)};
        cache_.emplace(key, e);
        return e;
    }

    const FaceList& faces_;
    int threads_;
    LayeringCache& layerings_;
    int F_, S_;
    GeometryT<double> sample_, first_;
    std::map<std::pair<double, int>, Estimate> cache_;
    int encodes_ = 0;
};

constexpr double kOptionsMargin = 0.002;
constexpr double kLayoutMargin = 0.01;

RdOptions candidateOptions(const RdOptions& _caller, RdOptions _o) {
    _o.trialLevel = 0;
    // Chosen references are orthogonal to the rounding: every candidate
    // takes the caller's switch.
    _o.chooseReferences = _caller.chooseReferences;
    _o.fixedTemporal = _caller.fixedTemporal;
    _o.fixedBasePred = _caller.fixedBasePred;
    _o.fixedSpatial = _caller.fixedSpatial;
    if (_caller.fixedSpatial) _o.spatialLayers = _caller.spatialLayers;
    return _o;
}

}  // namespace

double rateAtEqualError(double _bits, double _sse, double _refSse, double _slope) {
    if (!(_sse > 0) || !(_refSse > 0) || !(_bits > 0)) return _bits;
    // KG error grows as the root of the squared error.
    return _bits * std::exp(_slope * 0.5 * std::log(_refSse / _sse));
}

EncodingPlan planByTrial(const GeometryT<double>& _positions, const FaceList& _faces, const Settings& _settings,
                         double _q, const RdOptions& _options, int _threads, LayeringCache* _layerings) {
    EncodingPlan plan{_settings, _options, std::nullopt, 0};
    plan.options.trialLevel = 0;
    if (_options.trialLevel <= 0 || _positions.F < 3) return plan;
    const int level = std::min(_options.trialLevel, kMaxEffort);
    std::optional<LayeringCache> own;
    if (!_layerings || !_layerings->serves(_faces, _positions.V)) _layerings = &own.emplace(_faces, _positions.V);
    Trials trials(_positions, _faces, level >= 2 ? kLayoutTrialFrames : kTrialFrames, _threads, *_layerings);

    // The plain encoder at q and at q / sqrt 2 gives the reference error and
    // the local slope of log rate against log KG error.
    const Candidate plain{_settings, candidateOptions(_options, RdOptions::fixedForEffort(0))};
    std::optional<EncodedSequence> bestEncode;
    const Estimate ref = trials.estimate(plain, _q, &bestEncode);
    const Estimate finer = trials.estimate(plain, _q / std::sqrt(2.0));
    double slope = std::log(finer.bits / ref.bits) / (0.5 * std::log(finer.sse / ref.sse));
    if (!std::isfinite(slope) || slope > -0.05) slope = -1.0;
    auto score = [&](const Estimate& _e) { return rateAtEqualError(_e.bits, _e.sse, ref.sse, slope); };

    Candidate best = plain;
    double bestScore = score(ref);
    // A candidate must win by a margin: the prefix only estimates the whole,
    // and a layout's estimate strays more (its groups barely fit the prefix).
    auto consider = [&](const Candidate& _c, double _margin) {
        std::optional<EncodedSequence> enc;
        double s;
        try {
            s = score(trials.estimate(_c, _q, &enc));
        } catch (const Error&) {
            return;  // a layout this sequence cannot carry
        }
        if (s < bestScore * (1.0 - _margin)) {
            best = _c;
            bestScore = s;
            bestEncode = std::move(enc);
        }
    };

    RdOptions deadZoneOnly = RdOptions::fixedForEffort(1);
    deadZoneOnly.firstFrameRatio = 1.0;
    consider({_settings, candidateOptions(_options, deadZoneOnly)}, kOptionsMargin);
    consider({_settings, candidateOptions(_options, RdOptions::fixedForEffort(1))}, kOptionsMargin);
    if (level >= 2) {
        consider({_settings, candidateOptions(_options, RdOptions::fixedForEffort(2))}, kOptionsMargin);
        // RDOQ and empty chunks with the milder step ratios of effort 1.
        RdOptions mild = RdOptions::fixedForEffort(2);
        mild.firstFrameRatio = RdOptions::fixedForEffort(1).firstFrameRatio;
        mild.baseLayerRatio = 1.0;
        consider({_settings, candidateOptions(_options, mild)}, kOptionsMargin);

        // The layout, one switch at a time from the best so far.
        const int F = _positions.F;
        const Candidate start = best;
        if (!_options.fixedBasePred) {
            Candidate c = start;
            c.settings.baseLayerPred = 1 - c.settings.baseLayerPred;
            consider(c, kLayoutMargin);
        }
        if (!_options.fixedTemporal) {
            const Candidate base = best;
            for (int nTL : {base.settings.nTL + 1, base.settings.nTL - 1}) {
                Candidate c = base;
                c.settings.nTL = nTL;
                if (layoutWritable(F, nTL, c.settings.refFirstFrame)) consider(c, kLayoutMargin);
            }
            Candidate c = best;
            c.settings.refFirstFrame = !c.settings.refFirstFrame;
            if (layoutWritable(F, c.settings.nTL, c.settings.refFirstFrame)) consider(c, kLayoutMargin);
        }
        if (!_options.fixedSpatial) {
            const Candidate base = best;
            const int nSL = base.options.spatialLayers > 0 ? base.options.spatialLayers : base.settings.nSL;
            for (int n : {nSL + 2, nSL - 2}) {
                if (n < 1 || n > stream_rules::kMaxSpatialLayers) continue;
                Candidate c = base;
                c.options.spatialLayers = n;
                consider(c, kLayoutMargin);
            }
        }
    }
    plan.settings = best.settings;
    plan.options = best.options;
    plan.trialEncodes = trials.encodes();
    if (trials.wholeSequence()) plan.encoded = std::move(bestEncode);
    return plan;
}

}  // namespace orv
