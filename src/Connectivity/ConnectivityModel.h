// ConnectivityModel: what the connectivity encoder and decoder both keep and
// update in the same way, so that the decoder predicts exactly what the
// encoder predicted: a FIFO of recent directed edges (a face usually shares
// one with a recent face), a FIFO of recent vertices, the set of vertices not
// yet seen (a new vertex is coded as its rank among them, zero for meshes
// numbered in the order their faces reach the vertices), and the adaptive
// probabilities of every decision.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "Connectivity/RangeCoder.h"

namespace orv {

constexpr int kEdgeFifoBits = 5;
constexpr int kEdgeFifoSize = 1 << kEdgeFifoBits;
constexpr int kVertexFifoBits = 5;
constexpr int kVertexFifoSize = 1 << kVertexFifoBits;

// How a vertex was coded: new, a neighbour of the face's other vertices, a
// FIFO hit, or named explicitly.
enum VertexKind : int { kVertexNew = 0, kVertexNeighbour = 1, kVertexInFifo = 2, kVertexOld = 3 };
// How the last face was coded: it shared a FIFO edge and its third vertex was
// coded as the VertexKind of the same number, or it shared no FIFO edge.
constexpr int kNoEdge = 4;

// A FIFO or neighbour position: "0?", "1?", then a tree over all positions.
// Most positions are 0 or 1, which then cost one or two decisions.
struct IndexProbs {
    BitProb zero = kProbHalf, one = kProbHalf;
    std::array<BitProb, 128> tree;
    IndexProbs() { tree.fill(kProbHalf); }
};

struct UIntProbs {
    BitProb zero = kProbHalf;                          // the value is 0
    std::array<BitProb, 64> length;                    // else the bit length 1..32, a 6-bit tree
    std::array<std::array<BitProb, 4>, 33> mantissa;  // the two bits below the leading one, per length
    UIntProbs() {
        length.fill(kProbHalf);
        for (auto& m : mantissa) m.fill(kProbHalf);
    }
};

struct ConnectivityProbs {
    std::array<BitProb, 5> edgeHit;
    std::array<IndexProbs, 5> edgeIndex;
    std::array<std::array<BitProb, 2>, 12> rotation;
    std::array<BitProb, 8> isNew;
    std::array<BitProb, 4> isNeighbour;
    std::array<IndexProbs, 4> neighbourIndex;
    std::array<BitProb, 4> isFifo;
    std::array<IndexProbs, 4> vertexFifo;
    std::array<UIntProbs, 2> newRank;  // [third vertex of an edge face?]
    UIntProbs oldDelta;
    std::array<BitProb, 2> oldSign;
    std::array<BitProb, 2> newSign;
    ConnectivityProbs() {
        edgeHit.fill(kProbHalf);
        for (auto& a : rotation) a.fill(kProbHalf);
        isNew.fill(kProbHalf);
        isNeighbour.fill(kProbHalf);
        isFifo.fill(kProbHalf);
        oldSign.fill(kProbHalf);
        newSign.fill(kProbHalf);
    }
};

// The contexts of one vertex decision: slot 0..2 of a face without a FIFO
// edge, or 3 for the third vertex of an edge face.
inline int isNewContext(int _slot, int _prevKind) { return _slot < 3 ? _slot : 3 + _prevKind; }

struct DirectedEdge {
    int32_t from, to;
};

class EdgeFifo {
public:
    void push(int32_t _from, int32_t _to) {
        head_ = (head_ + 1) & (kEdgeFifoSize - 1);
        edges_[head_] = {_from, _to};
        if (count_ < kEdgeFifoSize) ++count_;
    }
    // The _i-th most recent edge (0 = the last pushed); _i < count().
    const DirectedEdge& at(int _i) const { return edges_[(head_ - _i) & (kEdgeFifoSize - 1)]; }
    int count() const { return count_; }

private:
    std::array<DirectedEdge, kEdgeFifoSize> edges_{};
    int head_ = 0;
    int count_ = 0;
};

class VertexFifo {
public:
    void push(int32_t _v) {
        head_ = (head_ + 1) & (kVertexFifoSize - 1);
        vertices_[head_] = _v;
        if (count_ < kVertexFifoSize) ++count_;
    }
    int32_t at(int _i) const { return vertices_[(head_ - _i) & (kVertexFifoSize - 1)]; }
    int count() const { return count_; }
    // The position of _v, or -1.
    int find(int32_t _v) const {
        for (int i = 0; i < count_; ++i)
            if (at(i) == _v) return i;
        return -1;
    }

private:
    std::array<int32_t, kVertexFifoSize> vertices_{};
    int head_ = 0;
    int count_ = 0;
};

// The vertices not seen yet, with ranks. The rank tree (a Fenwick tree of
// unseen counts) is built only when a rank other than zero is first needed:
// meshes numbered in first-use order never pay for it.
class UnseenVertices {
public:
    explicit UnseenVertices(int32_t _V) : seen_(static_cast<size_t>(_V), 0), V_(_V), remaining_(_V) {}

    bool seen(int32_t _v) const { return seen_[static_cast<size_t>(_v)] != 0; }
    int32_t remaining() const { return remaining_; }

    // The number of unseen vertices below _v.
    uint32_t rankOf(int32_t _v) {
        if (_v == lowest()) return 0;
        buildTree();
        int64_t sum = 0;
        for (int32_t i = _v; i > 0; i -= i & -i) sum += tree_[static_cast<size_t>(i)];
        return static_cast<uint32_t>(sum);
    }

    // The unseen vertex of rank _r (< remaining()).
    int32_t atRank(uint32_t _r) {
        if (_r == 0) return lowest();
        buildTree();
        int32_t pos = 0;
        int64_t left = _r;
        for (int32_t step = topBit_; step > 0; step >>= 1) {
            const int32_t next = pos + step;
            if (next <= V_ && tree_[static_cast<size_t>(next)] <= left) {
                pos = next;
                left -= tree_[static_cast<size_t>(next)];
            }
        }
        return pos;  // zero-based: the (pos+1)-th entry
    }

    void markSeen(int32_t _v) {
        seen_[static_cast<size_t>(_v)] = 1;
        --remaining_;
        if (!tree_.empty())
            for (int32_t i = _v + 1; i <= V_; i += i & -i) --tree_[static_cast<size_t>(i)];
    }

private:
    int32_t lowest() {
        while (lowest_ < V_ && seen_[static_cast<size_t>(lowest_)]) ++lowest_;
        return lowest_;
    }
    void buildTree() {
        if (!tree_.empty()) return;
        tree_.assign(static_cast<size_t>(V_) + 1, 0);
        for (int32_t i = 1; i <= V_; ++i) {
            tree_[static_cast<size_t>(i)] += seen_[static_cast<size_t>(i - 1)] ? 0 : 1;
            const int32_t parent = i + (i & -i);
            if (parent <= V_) tree_[static_cast<size_t>(parent)] += tree_[static_cast<size_t>(i)];
        }
        topBit_ = 1;
        while (topBit_ * 2 <= V_) topBit_ *= 2;
    }

    std::vector<uint8_t> seen_;
    std::vector<int32_t> tree_;
    int32_t V_;
    int32_t remaining_;
    int32_t lowest_ = 0;
    int32_t topBit_ = 0;
};

// The neighbours of every vertex in the faces coded so far, newest last, at
// most kMaxNeighbours each (later ones are dropped on both sides alike). A
// vertex that is not new is usually a neighbour of the face's other vertices:
// it is coded as its place among the candidates of candidateAt.
constexpr int kMaxNeighbours = 15;
constexpr int kNeighbourBits = 5;
constexpr int kMaxCandidates = 1 << kNeighbourBits;

class Adjacency {
public:
    explicit Adjacency(int32_t _V) : lists_(static_cast<size_t>(_V)) {}

    void link(int32_t _a, int32_t _b) {
        if (_a == _b) return;
        add(_a, _b);
        add(_b, _a);
    }

    // The candidates for a vertex beside _y and _x (either may be -1): the
    // neighbours of _y, newest first, then those of _x.
    int candidateCount(int32_t _x, int32_t _y) const {
        const int n = count(_y) + count(_x);
        return n < kMaxCandidates ? n : kMaxCandidates;
    }
    int32_t candidateAt(int32_t _x, int32_t _y, int _i) const {
        const int ny = count(_y);
        if (_i < ny) return newest(_y, _i);
        return newest(_x, _i - ny);
    }
    // The first place of _v among the candidates, or -1.
    int find(int32_t _x, int32_t _y, int32_t _v) const {
        const int n = candidateCount(_x, _y);
        for (int i = 0; i < n; ++i)
            if (candidateAt(_x, _y, i) == _v) return i;
        return -1;
    }

private:
    struct List {
        int32_t n = 0;
        std::array<int32_t, kMaxNeighbours> v;
    };
    int count(int32_t _v) const { return _v < 0 ? 0 : lists_[static_cast<size_t>(_v)].n; }
    int32_t newest(int32_t _v, int _i) const {
        const List& l = lists_[static_cast<size_t>(_v)];
        return l.v[static_cast<size_t>(l.n - 1 - _i)];
    }
    void add(int32_t _a, int32_t _b) {
        List& l = lists_[static_cast<size_t>(_a)];
        for (int i = 0; i < l.n; ++i)
            if (l.v[static_cast<size_t>(i)] == _b) return;
        if (l.n < kMaxNeighbours) l.v[static_cast<size_t>(l.n++)] = _b;
    }
    std::vector<List> lists_;
};

// One checksum over the decoded list, so that corruption the model cannot
// see (a flipped bit that still decodes to valid faces) is refused.
inline uint32_t connectivityChecksum(const std::vector<int32_t>& _indices) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (int32_t v : _indices) h = (h ^ static_cast<uint32_t>(v)) * 0x100000001b3ull;
    return static_cast<uint32_t>(h ^ (h >> 32));
}

inline int bitLength(uint32_t _v) {
    int n = 0;
    while (_v != 0) {
        ++n;
        _v >>= 1;
    }
    return n;
}

}  // namespace orv
