// Error measures between an original animation and its reconstruction (see
// QualityMetrics.h). Sums run in long double over contiguous frames so long
// sequences of large meshes keep their precision.
#include "SequenceEncoder/QualityMetrics.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

namespace orv {

double BoundingBox::diagonal() const {
    const double dx = hi.x - lo.x, dy = hi.y - lo.y, dz = hi.z - lo.z;
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

BoundingBox sequenceBoundingBox(const GeometryT<double>& _g) {
    BoundingBox box;
    if (_g.V == 0 || _g.F == 0) return box;
    double lo[3], hi[3];
    for (int c = 0; c < 3; ++c) lo[c] = hi[c] = _g.frame(0)[c];
    // Vertex by vertex: each component sees its values in the same order
    // as a pass over the coordinates would, without a remainder per value.
    for (int f = 0; f < _g.F; ++f) {
        const double* p = _g.frame(f);
        for (size_t v = 0; v < static_cast<size_t>(_g.V); ++v, p += 3)
            for (int c = 0; c < 3; ++c) {
                lo[c] = std::min(lo[c], p[c]);
                hi[c] = std::max(hi[c], p[c]);
            }
    }
    box.lo = {lo[0], lo[1], lo[2]};
    box.hi = {hi[0], hi[1], hi[2]};
    return box;
}

QualityMetrics measureQuality(const GeometryT<double>& _original, const GeometryT<double>& _reconstruction) {
    if (_original.V != _reconstruction.V || _original.F != _reconstruction.F)
        throw Error("cannot compare geometries of " + std::to_string(_original.V) + " vertices x " +
                    std::to_string(_original.F) + " frames and " + std::to_string(_reconstruction.V) +
                    " vertices x " + std::to_string(_reconstruction.F) + " frames");
    QualityMetrics q;
    q.diagonal = sequenceBoundingBox(_original).diagonal();
    const size_t V = static_cast<size_t>(_original.V);
    if (V == 0 || _original.F == 0) return q;

    long double errorSq = 0, spreadSq = 0;
    double maxSq = 0;
    for (int f = 0; f < _original.F; ++f) {
        const double* a = _original.frame(f);
        const double* b = _reconstruction.frame(f);
        long double mean[3] = {0, 0, 0};
        for (size_t v = 0; v < V; ++v)
            for (size_t c = 0; c < 3; ++c) mean[c] += a[3 * v + c];
        for (long double& m : mean) m /= static_cast<long double>(V);
        for (size_t v = 0; v < V; ++v) {
            double vertexSq = 0;
            for (size_t c = 0; c < 3; ++c) {
                const double d = a[3 * v + c] - b[3 * v + c];
                vertexSq += d * d;
                const long double s = a[3 * v + c] - mean[c];
                spreadSq += s * s;
            }
            errorSq += vertexSq;
            maxSq = std::max(maxSq, vertexSq);
        }
    }
    q.rmse = static_cast<double>(std::sqrt(errorSq / (static_cast<long double>(V) * _original.F)));
    q.maxError = std::sqrt(maxSq);
    if (spreadSq > 0)
        q.kg = static_cast<double>(100.0L * std::sqrt(errorSq) / std::sqrt(spreadSq));
    else
        q.kg = errorSq > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    return q;
}

}  // namespace orv
