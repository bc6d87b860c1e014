// Residual decisions of the optimising encoder and the per-layer driver that
// feeds them to GeometryEncoder. Layers 1 and up are predicted from coarser
// layers and reference frames only, so their errors are known before any of
// their residuals is chosen: one recording run collects them, the decisions
// are made for the whole chunk, and a second run reconstructs with them.
// Layer 0 predicts from its own earlier vertices, so it decides each
// component as it comes, with the cost model of a recording run.
#include "SequenceEncoder/RateDistortion.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <string>

#include "Common/BitWords.h"
#include "Common/Check.h"
#include "SequenceEncoder/Quantizer.h"

namespace orv {

namespace {

// A probability estimate that never reaches 0 or 1, like an adaptive context.
double costOf(double _count, double _total) {
    const double p = (_count + 0.5) / (_total + 1.0);
    return -std::log2(p);
}

int bitLength(uint32_t _m) { return static_cast<int>(std::bit_width(_m)); }

uint32_t magnitudeMinusOne(int _x) {
    const int64_t x = _x;
    return static_cast<uint32_t>((x < 0 ? -x : x) - 1);
}

// State bytes, B, and per pass the terminating bin, flush and padding.
constexpr double kChunkOverheadBits = 24.0 + 2 * (9.0 + 4.0);

}  // namespace

ResidualCostModel::ResidualCostModel(const std::vector<int>& _values) {
    double nonZero = 0, ones = 0;
    uint32_t largest = 0;
    for (int x : _values)
        if (x != 0) {
            const uint32_t m = magnitudeMinusOne(x);
            ++nonZero;
            largest = std::max(largest, m);
            ones += popcount64(m);
        }
    B_ = bitLength(largest);
    const double n = static_cast<double>(_values.size());
    zero_ = costOf(n - nonZero, n);
    nonZero_ = costOf(nonZero, n) + 1.0;
    const double planes = nonZero * B_;
    mag1_ = costOf(ones, planes);
    mag0_ = costOf(planes - ones, planes);
    for (uint32_t m = 0; m < kTabled; ++m) tabled_[m] = bitsOfMagnitude(m);
}

double ResidualCostModel::bitsOfMagnitude(uint32_t _m) const {
    const int planes = std::max(B_, bitLength(_m));
    const int ones = popcount64(_m);
    return nonZero_ + ones * mag1_ + (planes - ones) * mag0_;
}

double ResidualCostModel::bits(int _x) const {
    if (_x == 0) return zero_;
    const uint32_t m = magnitudeMinusOne(_x);
    return m < kTabled ? tabled_[m] : bitsOfMagnitude(m);
}

double ResidualCostModel::totalBits(const std::vector<int>& _values) const {
    double sum = kChunkOverheadBits;
    for (int x : _values) sum += bits(x);
    return sum;
}

namespace {

// rdChoose with the quotient _error / _q given: the iterations of a layer
// divide each error once.
int rdChooseQuotient(double _error, double _quotient, double _q, double _lambda, const ResidualCostModel& _model) {
    const double plain = roundQuotient(_quotient);
    if (plain == 0.0) return 0;
    const int R = static_cast<int>(plain);
    const int candidates[3] = {R, R > 0 ? R - 1 : R + 1, 0};
    int best = R;
    double bestCost = 0;
    for (int i = 0; i < 3; ++i) {
        if (i == 2 && candidates[1] == 0) break;
        const double e = _error - _q * candidates[i];
        const double cost = e * e + _lambda * _model.bits(candidates[i]);
        if (i == 0 || cost < bestCost) {
            best = candidates[i];
            bestCost = cost;
        }
    }
    return best;
}

}  // namespace

int rdChoose(double _error, double _q, double _lambda, const ResidualCostModel& _model) {
    return rdChooseQuotient(_error, _error / _q, _q, _lambda, _model);
}

LayerDecision decideLayer(const std::vector<double>& _errors, double _q, const RdOptions& _options,
                          bool _allowEmpty) {
    LayerDecision d;
    const size_t n = _errors.size();
    d.residuals.resize(n);
    std::vector<double> quotients(n);
    for (size_t i = 0; i < n; ++i) quotients[i] = _errors[i] / _q;
    for (size_t i = 0; i < n; ++i) {
        const double r = _options.deadZone && !_options.rdoq
                             ? deadZoneQuotient(quotients[i], _options.deadZoneTheta, _options.deadZoneZeroOnly)
                             : roundQuotient(quotients[i]);
        // Out-of-range values are left to the coder, which refuses them with
        // the site named; clamp only so the model stays defined.
        d.residuals[i] = std::fabs(r) <= 2147483647.0 ? static_cast<int>(r) : 0;
    }
    if (n == 0) return d;
    const double lambda = _options.lambdaFactor * _q * _q;
    if (_options.rdoq) {
        for (int it = 0; it < std::max(1, _options.rdoqIterations); ++it) {
            const ResidualCostModel model(d.residuals);
            for (size_t i = 0; i < n; ++i)
                d.residuals[i] = rdChooseQuotient(_errors[i], quotients[i], _q, lambda, model);
        }
    }
    if (_options.maxVertexError > 0 && (_options.rdoq || _options.deadZone)) {
        const double limit = _options.maxVertexError * _q;
        for (size_t v = 0; v + 2 < n; v += 3) {
            double squared = 0;
            for (size_t c = v; c < v + 3; ++c) {
                const double e = _errors[c] - _q * d.residuals[c];
                squared += e * e;
            }
            if (squared <= limit * limit) continue;
            for (size_t c = v; c < v + 3; ++c) {
                const double r = roundToNearest(_errors[c], _q);
                d.residuals[c] = std::fabs(r) <= 2147483647.0 ? static_cast<int>(r) : 0;
            }
        }
    }
    if (!_allowEmpty) return d;
    bool anyNonZero = false;
    for (int r : d.residuals) anyNonZero = anyNonZero || r != 0;
    if (!anyNonZero) return d;

    const double limit = _options.emptyChunkMaxError * _q;
    double codedDistortion = 0, emptyDistortion = 0;
    for (size_t v = 0; v + 2 < n; v += 3) {
        double vertexSquared = 0;
        for (size_t c = v; c < v + 3; ++c) {
            const double e = _errors[c] - _q * d.residuals[c];
            codedDistortion += e * e;
            vertexSquared += _errors[c] * _errors[c];
        }
        if (!(vertexSquared <= limit * limit)) return d;
        emptyDistortion += vertexSquared;
    }
    const ResidualCostModel model(d.residuals);
    if (emptyDistortion < codedDistortion + lambda * model.totalBits(d.residuals)) {
        std::fill(d.residuals.begin(), d.residuals.end(), 0);
        d.emptied = true;
    }
    return d;
}

RdLayerEncoder::RdLayerEncoder(const Settings& _settings, GeometryEncoder& _coder, const RdOptions& _options,
                               double _enhancementStep)
    : settings_(_settings),
      coder_(_coder),
      options_(_options),
      componentLimit_(_options.maxVertexError > 0 ? _options.maxVertexError * _enhancementStep / std::sqrt(3.0)
                                                  : INFINITY) {}

void RdLayerEncoder::runBase(int _f, const std::vector<int>& _rf, double _q, const GeometryT<double>& _original) {
    if (settings_.baseLayerPred == 0)
        coder_.encodeBaseLayerGlobal(_f, _rf, _q, _original);
    else
        coder_.encodeBaseLayerLocal(_f, _rf, _q, _original);
}

void RdLayerEncoder::encodeBaseLayer(int _f, const std::vector<int>& _rf, double _q,
                                     const GeometryT<double>& _original) {
    // Layer 0 decides component by component, so its guard is per component:
    // within limit / sqrt(3) each, the vertex stays within the limit.
    const double limit = componentLimit_;
    if (!options_.rdoq) {
        if (options_.deadZone)
            coder_.setDeadZone(
                GeometryEncoder::DeadZone{options_.deadZoneTheta, limit, INFINITY, options_.deadZoneZeroOnly});
        runBase(_f, _rf, _q, _original);
        coder_.setDeadZone({});
        return;
    }
    // The recording run: plain rounding, errors kept for the model.
    errors_.clear();
    coder_.setQuantizer(recordingQuantizer());
    runBase(_f, _rf, _q, _original);
    // The final errors differ from the recorded ones only through the
    // earlier base vertices, so the recorded decisions model the chunk well.
    const LayerDecision planned = decideLayer(errors_, _q, options_, false);
    const ResidualCostModel model(planned.residuals);
    const double lambda = options_.lambdaFactor * _q * _q;
    coder_.setQuantizer([&model, lambda, limit](double _e, double _step, const ResidualSite&) {
        const double plain = roundToNearest(_e, _step);
        if (!(std::fabs(plain) <= 2147483647.0)) return plain;  // refused by the coder
        const double r = rdChoose(_e, _step, lambda, model);
        return std::fabs(_e - _step * r) <= limit ? r : plain;
    });
    runBase(_f, _rf, _q, _original);
    coder_.setQuantizer({});
}

void RdLayerEncoder::encodeEnhancementLayer(int _l, int _f, const std::vector<int>& _rf, double _q,
                                            const GeometryT<double>& _original) {
    // Without a vertex guard the dead zone needs no look at the whole
    // vertex; with one, the pass decides each vertex from its own errors
    // when they cannot change with the layer's residuals (no term in the
    // layer itself), as recording and replaying the layer would.
    if (!options_.rdoq && !options_.emptyChunks) {
        const bool guard = options_.deadZone && options_.maxVertexError > 0;
        if (!guard || coder_.predictsFromBelow(_l)) {
            if (options_.deadZone)
                coder_.setDeadZone(GeometryEncoder::DeadZone{options_.deadZoneTheta, INFINITY,
                                                             guard ? options_.maxVertexError * _q : INFINITY,
                                                             options_.deadZoneZeroOnly});
            coder_.encodeEnhancementLayer(_l, _f, _rf, _q, _original);
            coder_.setDeadZone({});
            return;
        }
    }
    errors_.clear();
    coder_.setQuantizer(recordingQuantizer());
    coder_.encodeEnhancementLayer(_l, _f, _rf, _q, _original);
    const LayerDecision decision = decideLayer(errors_, _q, options_, options_.emptyChunks);
    if (decision.emptied) ++emptied_;
    coder_.setQuantizer({});
    coder_.encodeEnhancementLayerGiven(_l, _f, _rf, _q, decision.residuals);
}

}  // namespace orv
