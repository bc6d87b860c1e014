// The step search behind encodeToTarget. Positions on the search axis are
// log q; errors are compared in log scale (they scale with q) and sizes
// linearly (they fall by about a bit per vertex and frame per halving of
// 1/q), so the secant between the two nearest points lands close at once.
#include "SequenceEncoder/RateControl.h"

#include <cmath>
#include <optional>
#include <string>

#include "Common/Check.h"

namespace orv {

namespace {

struct Probe {
    double x = 0;  // log q
    double y = 0;  // the measure on its search scale
};

bool isSize(TargetKind _kind) { return _kind == TargetKind::BitsPerVertexFrame; }

double measureOf(const TargetedEncoding& _r, TargetKind _kind) {
    switch (_kind) {
        case TargetKind::KgError: return _r.quality.kg;
        case TargetKind::MaxErrorOverDiagonal: return _r.quality.maxOverDiagonal();
        case TargetKind::BitsPerVertexFrame: return _r.bitsPerVertexFrame;
    }
    return 0;
}

// Errors in log scale; an exact reconstruction counts as far below any target.
double onScale(double _value, TargetKind _kind) {
    if (isSize(_kind)) return _value;
    return _value > 0 ? std::log(_value) : -700.0;
}

}  // namespace

TargetedEncoding encodeToTarget(const GeometryT<double>& _positions, const FaceList& _faces, const Settings& _settings,
                                const RdOptions& _options, const EncodingTarget& _target,
                                const EncodeProgress& _progress, int _threads) {
    if (!(_target.value > 0) || !std::isfinite(_target.value))
        throw Error("the target must be a positive number, got " + std::to_string(_target.value));
    const TargetKind kind = _target.kind;
    const double tol = std::fmin(std::fmax(_target.tolerance, 0.001), 0.5);
    const int maxEncodes = std::max(1, _target.maxEncodes);
    const double diag = sequenceBoundingBox(_positions).diagonal();
    const double vertexFrames = static_cast<double>(_positions.V) * _positions.F;
    // Aim a little inside the target, accept anything between (1 - tol) and 1.
    const double goal = onScale(_target.value, kind);
    const double aim = onScale(_target.value * (1.0 - tol / 2), kind);
    const double floorOk = onScale(_target.value * (1.0 - tol), kind);
    // Errors grow with q, sizes fall.
    const double sense = isSize(kind) ? -1.0 : 1.0;
    // Slope of the measure on its scale per unit of log q, before two probes exist.
    const double defaultSlope = isSize(kind) ? -1.2 / std::log(2.0) : 1.0;

    std::optional<TargetedEncoding> best;     // the met result closest to the target
    std::optional<TargetedEncoding> closest;  // when nothing meets it
    std::optional<Probe> met, missed;         // nearest probes on each side
    std::optional<Probe> last;
    int encodes = 0;
    double x = std::log(diag > 0 ? diag / 1024.0 : 1.0);

    while (encodes < maxEncodes) {
        TargetedEncoding r;
        r.q = std::exp(x);
        r.encoded = encodeSequence(_positions, _faces, _settings, r.q, _options, _progress, _threads);
        ++encodes;
        r.quality = measureQuality(_positions, r.encoded.reconstruction);
        r.bitsPerVertexFrame = vertexFrames > 0 ? 8.0 * static_cast<double>(r.encoded.streamFile.size() - 4) / vertexFrames : 0;
        const Probe p{x, onScale(measureOf(r, kind), kind)};
        // Met means at most the target; among met results the largest is the
        // cheapest (errors) or the best (size).
        if (p.y <= goal) {
            if (!met || p.y > met->y) met = p;
            if (!best || p.y > onScale(measureOf(*best, kind), kind)) best = std::move(r);
            if (p.y >= floorOk) break;  // met and close enough
        } else {
            if (!missed || p.y < missed->y) missed = p;
            if (!best && (!closest || p.y < onScale(measureOf(*closest, kind), kind))) closest = std::move(r);
        }

        double next;
        if (met && missed) {
            const double span = missed->x - met->x;
            next = missed->y != met->y ? met->x + (aim - met->y) * span / (missed->y - met->y) : met->x + span / 2;
            // Stay well inside the bracket, so a poor secant still shrinks it.
            const double lo = std::fmin(met->x, missed->x), hi = std::fmax(met->x, missed->x);
            const double margin = 0.1 * (hi - lo);
            if (!(next > lo + margin && next < hi - margin)) next = (lo + hi) / 2;
        } else {
            double slope = defaultSlope;
            if (last && p.x != last->x && p.y != last->y) slope = (p.y - last->y) / (p.x - last->x);
            if (sense * slope <= 0) slope = defaultSlope;
            double step = (aim - p.y) / slope;
            step = std::fmax(-3.0, std::fmin(3.0, step));  // at most a factor 20 per probe
            next = p.x + step;
        }
        last = p;
        if (std::fabs(next - x) < 1e-6) break;
        x = next;
    }

    TargetedEncoding result = best ? std::move(*best) : std::move(*closest);
    result.encodes = encodes;
    result.met = best.has_value();
    return result;
}

}  // namespace orv
