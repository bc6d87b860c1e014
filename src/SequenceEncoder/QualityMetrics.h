// Quality of a reconstructed animation against the original: the errors that
// OrvEnc reports and that the tools and tests compare. All of them look at the
// positions only; both geometries must have the same V and F.
#pragma once

#include "Mesh/GeometryT.h"

namespace orv {

struct BoundingBox {
    Vector3d lo{0, 0, 0};
    Vector3d hi{0, 0, 0};
    double diagonal() const;
};

// The box around every vertex of every frame (all zero for an empty geometry).
BoundingBox sequenceBoundingBox(const GeometryT<double>& _g);

struct QualityMetrics {
    double diagonal = 0;  // bounding-box diagonal of the original, whole sequence
    double rmse = 0;      // sqrt(mean over vertex-frames of the squared position error)
    double maxError = 0;  // largest position error of any vertex in any frame
    // KG error: 100 * ||A - A'||_F / ||A - E(A)||_F, A the 3V x F coordinate
    // matrix and E(A) each coordinate replaced by its frame's mean. 0 when the
    // two are equal; +infinity when they differ but every frame is a single point.
    double kg = 0;

    double rmseOverDiagonal() const { return diagonal > 0 ? rmse / diagonal : 0; }
    double maxOverDiagonal() const { return diagonal > 0 ? maxError / diagonal : 0; }
};

// Throws orv::Error when the two geometries differ in V or F.
QualityMetrics measureQuality(const GeometryT<double>& _original, const GeometryT<double>& _reconstruction);

}  // namespace orv
