// Trial encodes behind the effort levels (see EffortTrials.h). Every trial is
// an ordinary encodeSequence call on a prefix of the sequence, so whatever is
// chosen decodes exactly like any other stream.
#include "SequenceEncoder/EffortTrials.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <utility>
#include <vector>

#include "Common/Check.h"
#include "Common/StreamRules.h"
#include "Encoder/FrameCodingOrderGen.h"
#include "SequenceEncoder/FrameScheduler.h"
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

// One trial's outcome: its estimate, or what its encode threw.
struct TrialResult {
    Estimate estimate;
    std::optional<EncodedSequence> encoded;  // whole-sequence trials only
    std::exception_ptr failure;
};

class Trials {
public:
    Trials(const GeometryT<double>& _positions, const FaceList& _faces, int _frames, int _threads,
           LayeringCache& _layerings)
        : faces_(_faces), threads_(std::max(1, _threads)), layerings_(_layerings), F_(_positions.F),
          S_(std::min(_positions.F, _frames)), sample_(firstFrames(_positions, S_)), first_(firstFrames(_positions, 1)) {}

    bool wholeSequence() const { return S_ == F_; }
    int encodes() const { return encodes_; }

    // The estimates of candidates that do not depend on one another, their
    // encodes side by side on the threads: each encode's stream is the same
    // on any thread count, so the results are those of encoding the
    // candidates one after the other.
    std::vector<TrialResult> estimate(const std::vector<std::pair<Candidate, double>>& _batch) {
        const size_t n = _batch.size();
        std::vector<TrialResult> out(n);
        std::vector<Estimate> firsts(n);
        runSideBySide(n, [&](size_t _i, int _threads) {
            const Candidate& c = _batch[_i].first;
            EncodedSequence enc = encodeSequence(sample_, faces_, c.settings, _batch[_i].second, c.options, {},
                                                 _threads, &layerings_);
            out[_i].estimate = {8.0 * static_cast<double>(enc.streamFile.size() - 4),
                                squaredError(sample_, enc.reconstruction)};
            // The first frame is coded first, alone, with plain rounding at
            // its step and the candidate's layers: its record after the
            // fixed-size header is the stream of that frame alone, and its
            // reconstruction that stream's (squaredError reads frame 0 only).
            firsts[_i] = {8.0 * static_cast<double>(enc.firstRecordEnd - 4), squaredError(first_, enc.reconstruction)};
            if (wholeSequence()) out[_i].encoded = std::move(enc);
        }, [&](size_t _i, std::exception_ptr _e) { out[_i].failure = _e; });
        for (const TrialResult& r : out) encodes_ += r.failure ? 0 : 1;
        if (wholeSequence()) return out;

        // The first frame is coded once whatever the length; the later
        // frames of the prefix stand for all later frames.
        const double scale = static_cast<double>(F_ - 1) / static_cast<double>(S_ - 1);
        for (size_t i = 0; i < n; ++i) {
            if (out[i].failure) continue;
            const Estimate& f = firsts[i];
            Estimate& e = out[i].estimate;
            e.bits = f.bits + scale * (e.bits - f.bits);
            e.sse = f.sse + scale * std::fmax(0.0, e.sse - f.sse);
        }
        return out;
    }

private:
    // Runs _task(i, threads) for i < _n, as many at once as there are
    // threads, the threads left over shared among those running; what a task
    // throws goes to _failed(i, exception), in any order.
    template <class Task, class Failed>
    void runSideBySide(size_t _n, const Task& _task, const Failed& _failed) {
        if (_n == 0) return;
        const int side = static_cast<int>(std::min<size_t>(_n, static_cast<size_t>(threads_)));
        const int each = threads_ / side;
        std::vector<std::exception_ptr> failures(_n);
        const std::vector<std::vector<int>> independent(_n);
        runFramesInOrder(independent, side, [&](int _p, int) {
            try {
                _task(static_cast<size_t>(_p), each);
            } catch (...) {
                failures[static_cast<size_t>(_p)] = std::current_exception();
            }
        }, [](int) {});
        for (size_t i = 0; i < _n; ++i)
            if (failures[i]) _failed(i, failures[i]);
    }

    const FaceList& faces_;
    int threads_;
    LayeringCache& layerings_;
    int F_, S_;
    GeometryT<double> sample_, first_;
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
    // the local slope of log rate against log KG error. The candidates of
    // the options do not depend on one another: all are encoded in one batch
    // and then weighed in turn.
    const Candidate plain{_settings, candidateOptions(_options, RdOptions::fixedForEffort(0))};
    RdOptions deadZoneOnly = RdOptions::fixedForEffort(1);
    deadZoneOnly.firstFrameRatio = 1.0;
    std::vector<std::pair<Candidate, double>> first = {
        {plain, _q},
        {plain, _q / std::sqrt(2.0)},
        {{_settings, candidateOptions(_options, deadZoneOnly)}, _q},
        {{_settings, candidateOptions(_options, RdOptions::fixedForEffort(1))}, _q}};
    if (level >= 2) {
        first.push_back({{_settings, candidateOptions(_options, RdOptions::fixedForEffort(2))}, _q});
        // RDOQ and empty chunks with the milder step ratios of effort 1.
        RdOptions mild = RdOptions::fixedForEffort(2);
        mild.firstFrameRatio = RdOptions::fixedForEffort(1).firstFrameRatio;
        mild.baseLayerRatio = 1.0;
        first.push_back({{_settings, candidateOptions(_options, mild)}, _q});
    }
    std::vector<TrialResult> results = trials.estimate(first);
    for (size_t i = 0; i < 2; ++i)
        if (results[i].failure) std::rethrow_exception(results[i].failure);
    const Estimate ref = results[0].estimate;
    const Estimate finer = results[1].estimate;
    std::optional<EncodedSequence> bestEncode = std::move(results[0].encoded);
    double slope = std::log(finer.bits / ref.bits) / (0.5 * std::log(finer.sse / ref.sse));
    if (!std::isfinite(slope) || slope > -0.05) slope = -1.0;
    auto score = [&](const Estimate& _e) { return rateAtEqualError(_e.bits, _e.sse, ref.sse, slope); };

    Candidate best = plain;
    double bestScore = score(ref);
    // A candidate must win by a margin: the prefix only estimates the whole,
    // and a layout's estimate strays more (its groups barely fit the prefix).
    auto weigh = [&](const Candidate& _c, TrialResult& _r, double _margin) {
        double s;
        try {
            if (_r.failure) std::rethrow_exception(_r.failure);
            s = score(_r.estimate);
        } catch (const Error&) {
            return;  // a layout this sequence cannot carry
        }
        if (s < bestScore * (1.0 - _margin)) {
            best = _c;
            bestScore = s;
            bestEncode = std::move(_r.encoded);
        }
    };
    for (size_t i = 2; i < first.size(); ++i) weigh(first[i].first, results[i], kOptionsMargin);
    // Candidates built from the same best, weighed in the order given.
    auto consider = [&](const std::vector<Candidate>& _batch) {
        std::vector<std::pair<Candidate, double>> atQ;
        for (const Candidate& c : _batch) atQ.push_back({c, _q});
        std::vector<TrialResult> r = trials.estimate(atQ);
        for (size_t i = 0; i < _batch.size(); ++i) weigh(_batch[i], r[i], kLayoutMargin);
    };

    if (level >= 2) {
        // The layout, one switch at a time from the best so far.
        const int F = _positions.F;
        const Candidate start = best;
        if (!_options.fixedBasePred) {
            Candidate c = start;
            c.settings.baseLayerPred = 1 - c.settings.baseLayerPred;
            consider({c});
        }
        if (!_options.fixedTemporal) {
            const Candidate base = best;
            std::vector<Candidate> batch;
            for (int nTL : {base.settings.nTL + 1, base.settings.nTL - 1}) {
                Candidate c = base;
                c.settings.nTL = nTL;
                if (layoutWritable(F, nTL, c.settings.refFirstFrame)) batch.push_back(c);
            }
            consider(batch);
            Candidate c = best;
            c.settings.refFirstFrame = !c.settings.refFirstFrame;
            if (layoutWritable(F, c.settings.nTL, c.settings.refFirstFrame)) consider({c});
        }
        if (!_options.fixedSpatial) {
            const Candidate base = best;
            const int nSL = base.options.spatialLayers > 0 ? base.options.spatialLayers : base.settings.nSL;
            std::vector<Candidate> batch;
            for (int n : {nSL + 2, nSL - 2}) {
                if (n < 1 || n > stream_rules::kMaxSpatialLayers) continue;
                Candidate c = base;
                c.options.spatialLayers = n;
                batch.push_back(c);
            }
            consider(batch);
        }
    }
    plan.settings = best.settings;
    plan.options = best.options;
    plan.trialEncodes = trials.encodes();
    if (trials.wholeSequence()) plan.encoded = std::move(bestEncode);
    return plan;
}

}  // namespace orv
