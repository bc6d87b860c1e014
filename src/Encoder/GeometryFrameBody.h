// GeometryFrameBody: the local-frame arithmetic (n = t1 x t2, t2 = n x t1,
// each normalised, and the test for a degenerate axis) written once, for the
// scalar path (one vertex), the SSE2 pair sweep (two vertices, one per lane)
// and the AVX2 sweeps (four). A point type P has members x, y, z of one lane
// type; an Ops type supplies the lane operations:
//   mul, sub, add, sqrt, reciprocal (1 / a)
//   nonZero(a)   mask where a != 0 (also where a is NaN, as a != 0 is)
//   keep(a, m)   a where m, else +0
//   isZero(a)    mask where a == 0 (false for NaN)
//   both, either the masks' and / or
// Every lane runs the scalar path's operations in its order, so the paths
// agree bit for bit.
//
// Only templates live here, never a plain inline function. The AVX2 file
// defines its Ops in an anonymous namespace, so each instantiation it makes
// is local to that file: the linker can never keep its AVX2 instructions for
// a caller on a processor without AVX2, as it may for an inline function
// that -mavx2 and plain files both emit. The scalar and SSE2 Ops live in
// GeometryMath.h, which the AVX2 files do not include.
#pragma once

namespace orv::frame_body {

template <class Ops, class V>
inline V mulSub(V _a, V _b, V _c, V _d) {
    return Ops::sub(Ops::mul(_a, _b), Ops::mul(_c, _d));
}

// n = t1 x t2.
template <class Ops, class P>
inline P normalOf(const P& _t1, const P& _t2) {
    return P{mulSub<Ops>(_t1.y, _t2.z, _t1.z, _t2.y), mulSub<Ops>(_t2.x, _t1.z, _t1.x, _t2.z),
             mulSub<Ops>(_t1.x, _t2.y, _t2.x, _t1.y)};
}

// t2 = n x t1.
template <class Ops, class P>
inline P secondTangent(const P& _n, const P& _t1) {
    return P{mulSub<Ops>(_n.y, _t1.z, _t1.y, _n.z), mulSub<Ops>(_t1.x, _n.z, _n.x, _t1.z),
             mulSub<Ops>(_n.x, _t1.y, _t1.x, _n.y)};
}

// sqrt((x*x + y*y) + z*z), then each coordinate times 1/len; a zero length
// gives the zero vector.
template <class Ops, class P>
inline void normalise(P& _a) {
    const auto len = Ops::sqrt(Ops::add(Ops::add(Ops::mul(_a.x, _a.x), Ops::mul(_a.y, _a.y)), Ops::mul(_a.z, _a.z)));
    const auto inv = Ops::reciprocal(len);
    const auto keep = Ops::nonZero(len);
    _a.x = Ops::keep(Ops::mul(_a.x, inv), keep);
    _a.y = Ops::keep(Ops::mul(_a.y, inv), keep);
    _a.z = Ops::keep(Ops::mul(_a.z, inv), keep);
}

template <class Ops, class P>
inline auto isZero(const P& _a) {
    return Ops::both(Ops::both(Ops::isZero(_a.x), Ops::isZero(_a.y)), Ops::isZero(_a.z));
}

template <class P>
struct Frame {
    P t1, t2, n;
};

// The frame of the axis sums t1, t2: n first, then t1, then t2 from both.
template <class Ops, class P>
inline Frame<P> finish(P _t1, const P& _t2) {
    Frame<P> r;
    r.n = normalOf<Ops>(_t1, _t2);
    normalise<Ops>(r.n);
    normalise<Ops>(_t1);
    r.t1 = _t1;
    r.t2 = secondTangent<Ops>(r.n, _t1);
    normalise<Ops>(r.t2);
    return r;
}

// Where an axis came out zero: such a frame is replaced by the world axes.
template <class Ops, class P>
inline auto degenerate(const Frame<P>& _f) {
    return Ops::either(Ops::either(isZero<Ops>(_f.t1), isZero<Ops>(_f.t2)), isZero<Ops>(_f.n));
}

}  // namespace orv::frame_body
