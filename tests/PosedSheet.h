// An animated W x H sheet for encoder tests: two triangles per grid cell, and
// each vertex placed by a pose function of (frame, x, y) with x = 0.1 i,
// y = 0.1 j, so that each test states only the motion it needs.
#pragma once

#include "Common/Types.h"
#include "Mesh/GeometryT.h"

namespace orvtest {

struct PosedSheet {
    orv::FaceList faces;
    orv::GeometryT<double> positions{0, 0};
};

template <class Pose>
PosedSheet posedSheet(int W, int H, int F, Pose pose) {
    PosedSheet s;
    for (int j = 0; j + 1 < H; ++j)
        for (int i = 0; i + 1 < W; ++i) {
            const int a = j * W + i, b = a + 1, c = a + W, d = c + 1;
            s.faces.push_back({a, b, d});
            s.faces.push_back({a, d, c});
        }
    s.positions = orv::GeometryT<double>(W * H, F);
    for (int f = 0; f < F; ++f)
        for (int j = 0; j < H; ++j)
            for (int i = 0; i < W; ++i) s.positions.setPosition(j * W + i, f, pose(f, 0.1 * i, 0.1 * j));
    return s;
}

}  // namespace orvtest
