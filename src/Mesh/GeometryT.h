// GeometryT: the positions of V vertices in F frames as a 3V x F matrix
// (x, y, z of vertex v in rows 3v..3v+2 of column f), and Vector3T, one
// vertex's coordinates. Every access is index-checked.
#pragma once

#include <cstdint>

#include "Common/Check.h"
#include "Matrix/MatrixT.h"

namespace orv {

template <typename T>
struct Vector3T {
    T x{}, y{}, z{};
    friend bool operator==(const Vector3T&, const Vector3T&) = default;
};

using Vector3d = Vector3T<double>;

template <typename T>
class GeometryT {
public:
    GeometryT(int _V, int _F) : V(_V), F(_F), matrix(rowsFor(_V, _F), _F) {}

    Vector3T<T> position(int _v, int _f) const {
        ORV_CHECK(0<=_v && _v<V, "Mesh/GeometryT");
        ORV_CHECK(0<=_f && _f<F, "Mesh/GeometryT");
        const T* c = matrix.column(_f) + 3 * static_cast<size_t>(_v);
        return {c[0], c[1], c[2]};
    }

    void setPosition(int _v, int _f, const Vector3T<T>& p) {
        ORV_CHECK(0<=_v && _v<V, "Mesh/GeometryT");
        ORV_CHECK(0<=_f && _f<F, "Mesh/GeometryT");
        T* c = matrix.column(_f) + 3 * static_cast<size_t>(_v);
        c[0] = p.x;
        c[1] = p.y;
        c[2] = p.z;
    }

    // One frame's 3V coordinates, contiguous.
    const T* frame(int _f) const { return matrix.column(_f); }
    T* frame(int _f) { return matrix.column(_f); }

    int V;
    int F;

private:
    // 3V rows must fit a signed 32-bit count; checked before anything is allocated.
    static int rowsFor(int _V, int _F) {
        ORV_CHECK(_V>=0 && _V<=(1<<29) && _F>=0, "Mesh/GeometryT");
        return 3 * _V;
    }

public:
    DenseMatrixT<T> matrix;
};

}  // namespace orv
