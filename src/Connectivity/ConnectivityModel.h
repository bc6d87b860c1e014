// ConnectivityModel: what the connectivity encoder and decoder both keep and
// update in the same way, so that the decoder predicts exactly what the
// encoder predicted: a FIFO of recent directed edges (a face usually shares
// one with a recent face), a FIFO of recent vertices, the set of vertices not
// yet seen (a new vertex is coded as its rank among them, zero for meshes
// numbered in the order their faces reach the vertices), the neighbours and
// open edges of the faces so far, the border vertices ranked by number and
// by when they were last touched, the numbers a new vertex is likely to take
// next to its face, the border vertices a few numbers from those at hand,
// and the adaptive probabilities of every decision.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "Common/BitWords.h"
#include "Connectivity/RangeCoder.h"

namespace orv {

// The mode byte of a coded list: kFirstCodingMode for new vertices coded as
// steps, one more for ranks, kNeighbourStepMode for steps counted in unseen
// vertices only (the numbers taken already are skipped) with the midpoint
// prediction. Lists of the earlier model used 0 and 1.
constexpr uint8_t kFirstCodingMode = 2;
constexpr uint8_t kNeighbourStepMode = kFirstCodingMode + 2;
// The kRecencyModes after them code the same three ways with old border
// vertices also named by recency (BorderRecency) and FIFOs that drop what a
// manifold mesh never uses again, and the three after those add the nearby
// numbers of NewVertexCandidates for new vertices. The three after those
// (kNearOldModes) are the first three with old vertices first looked for a
// short step from a number at hand (NearOldNumbers), the last three the
// three with nearby numbers with those steps too.
constexpr uint8_t kRecencyModes = 3;
constexpr uint8_t kNearOldModes = kNeighbourStepMode + 2 * kRecencyModes + 1;
constexpr uint8_t kLastCodingMode = kNeighbourStepMode + 4 * kRecencyModes;
// The mode without recency, and whether recency, the nearby numbers and the
// steps to old vertices are on.
inline uint8_t baseMode(uint8_t _mode) {
    return static_cast<uint8_t>((_mode - kFirstCodingMode) % kRecencyModes + kFirstCodingMode);
}
inline bool nearOldMode(uint8_t _mode) { return _mode >= kNearOldModes; }
inline bool recencyMode(uint8_t _mode) {
    return _mode > kNeighbourStepMode && (_mode < kNearOldModes || _mode >= kNearOldModes + kRecencyModes);
}
inline bool nearbyMode(uint8_t _mode) { return recencyMode(_mode) && _mode > kNeighbourStepMode + kRecencyModes; }

// The ways OldVertexReference names an old vertex.
constexpr int kOldFromLast = 0, kOldFromLocal = 1, kOldNewest = 2, kOldOldest = 3, kOldWays = 4;

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
    std::array<BitProb, 10> edgeHit;       // [previous face's kind][may the face close a pair?]
    std::array<IndexProbs, 10> edgeIndex;
    std::array<std::array<BitProb, 2>, 12> rotation;
    std::array<BitProb, 11> isNew;
    std::array<BitProb, 5> sharedHit;        // [previous face's kind]: an open edge of any earlier face
    std::array<BitProb, 4> openIndex;        // the edge's place among its first vertex's open edges, a 2-bit tree
    std::array<std::array<BitProb, 2>, 2> sharedRotation;  // [was the previous face such a face]
    // [slot], slot 4: the first vertex of a shared open edge, 5: the third
    // vertex of a face that closes a pair
    std::array<BitProb, 6> isNeighbour;
    std::array<IndexProbs, 6> neighbourIndex;
    std::array<BitProb, 6> isFifo;
    std::array<IndexProbs, 6> vertexFifo;
    std::array<UIntProbs, 9> newRank;  // ranks: [third vertex of an edge face?]; steps: NewVertexPrediction::Choice::model
    UIntProbs oldDelta;
    std::array<BitProb, 2> oldSign;
    std::array<BitProb, 6> onBorder;  // [slot]: an old vertex named explicitly has an open edge
    std::array<UIntProbs, kOldWays> borderDelta;  // [OldVertexReference's way]
    std::array<BitProb, 2> borderSign;
    std::array<BitProb, 9> newSign;
    std::array<BitProb, 4> newNearby;  // [slot 0..3]: a new vertex among its NearbyNumbers
    std::array<IndexProbs, 4> newNearbyIndex;
    std::array<BitProb, 6> nearOld;  // [slot context]: an old vertex among its NearOldNumbers
    std::array<IndexProbs, 6> nearOldIndex;
    ConnectivityProbs() {
        edgeHit.fill(kProbHalf);
        sharedHit.fill(kProbHalf);
        openIndex.fill(kProbHalf);
        for (auto& a : sharedRotation) a.fill(kProbHalf);
        for (auto& a : rotation) a.fill(kProbHalf);
        isNew.fill(kProbHalf);
        isNeighbour.fill(kProbHalf);
        isFifo.fill(kProbHalf);
        oldSign.fill(kProbHalf);
        onBorder.fill(kProbHalf);
        borderSign.fill(kProbHalf);
        newSign.fill(kProbHalf);
        newNearby.fill(kProbHalf);
        nearOld.fill(kProbHalf);
    }
};

// The contexts of one "new vertex?" decision: slot 0..2 of a face without a
// shared edge, with how many of the face's vertices before it were new (the
// faces that start a patch bring three, those that fill a gap none), or 3
// for the third vertex of an edge face, with the previous face's kind.
inline int isNewContext(int _slot, int _prevKind, int _newBefore) {
    return _slot == 0 ? 0 : _slot == 1 ? 1 + _newBefore : _slot == 2 ? 3 + _newBefore : 6 + _prevKind;
}

// Faces come in pairs (the two halves of a quad, or the steps of a strip):
// the second usually shares the edge its partner coded last. A face that
// shares edge 0 right after a face that opened a pair closes the pair; any
// other face opens one. The edge decisions are coded apart for the two.
inline int edgeContext(int _prevKind, int _pairOpen) { return 2 * _prevKind + _pairOpen; }

struct DirectedEdge {
    int32_t from, to, opposite;  // opposite: the third vertex of the face that coded the edge
};

// The edges sit newest last in a window of a longer buffer, so that a search
// walks memory in order and a removal moves a contiguous run (the shorter
// side of the removed edge); the window slides back to the buffer's start
// once every few hundred edges. With _closing (a list whose edges go in by
// pushOrClose), a count of the edges in the FIFO per hash of their ends lets
// pushOrClose skip the search for an edge that closes none.
class EdgeFifo {
public:
    explicit EdgeFifo(bool _closing = false) : closing_(_closing) {}

    void push(int32_t _from, int32_t _to, int32_t _opposite) {
        if (end_ == kBuffer) slideBack();
        edges_[static_cast<size_t>(end_++)] = {_from, _to, _opposite};
        if (closing_) ++inFifo_[bucket(_from, _to)];
        if (end_ - start_ > kEdgeFifoSize) drop(start_++);
    }
    // The _i-th most recent edge (0 = the last pushed); _i < count().
    const DirectedEdge& at(int _i) const { return edges_[static_cast<size_t>(end_ - 1 - _i)]; }
    // Pushes _from -> _to unless it closes a recent edge (_to -> _from is in
    // the FIFO): then both are dropped, as a manifold mesh uses neither again.
    void pushOrClose(int32_t _from, int32_t _to, int32_t _opposite) {
        if (!closing_ || inFifo_[bucket(_to, _from)] != 0)
            for (int k = end_ - 1; k >= start_; --k) {
                const DirectedEdge& e = edges_[static_cast<size_t>(k)];
                if (e.from == _to && e.to == _from) {
                    remove(end_ - 1 - k);
                    return;
                }
            }
        push(_from, _to, _opposite);
    }
    // Drops the _i-th most recent edge (_i < count()); the older ones keep
    // their places, the newer ones move up one.
    void remove(int _i) {
        const int k = end_ - 1 - _i;
        drop(k);
        if (_i <= k - start_) {
            for (int j = k; j < end_ - 1; ++j) edges_[static_cast<size_t>(j)] = edges_[static_cast<size_t>(j + 1)];
            --end_;
        } else {
            for (int j = k; j > start_; --j) edges_[static_cast<size_t>(j)] = edges_[static_cast<size_t>(j - 1)];
            ++start_;
        }
    }
    int count() const { return end_ - start_; }

private:
    static constexpr int kBuffer = 8 * kEdgeFifoSize;
    static constexpr uint32_t kBuckets = 256;
    static size_t bucket(int32_t _from, int32_t _to) {
        const uint32_t h = (static_cast<uint32_t>(_from) * 0x9E3779B1u) ^ (static_cast<uint32_t>(_to) * 0x85EBCA77u);
        return (h >> 24) & (kBuckets - 1);
    }
    void drop(int _k) {
        if (!closing_) return;
        const DirectedEdge& e = edges_[static_cast<size_t>(_k)];
        --inFifo_[bucket(e.from, e.to)];
    }
    void slideBack() {
        for (int j = start_; j < end_; ++j) edges_[static_cast<size_t>(j - start_)] = edges_[static_cast<size_t>(j)];
        end_ -= start_;
        start_ = 0;
    }
    std::array<DirectedEdge, kBuffer> edges_{};
    std::array<uint8_t, kBuckets> inFifo_{};  // edges in the FIFO per bucket(), with closing_
    int start_ = 0, end_ = 0;                 // the window of edges in the FIFO, oldest first
    bool closing_;
};

// The place of _v among the first _n entries of _list (its at(i)) that _live
// takes, or -1 (also when _live does not take _v); and the _k-th such entry.
template <class List, class Live>
int findLiveIn(const List& _list, int _n, int32_t _v, const Live& _live) {
    if (!_live(_v)) return -1;
    int k = 0;
    for (int i = 0; i < _n; ++i) {
        const int32_t u = _list.at(i);
        if (u == _v) return k;
        k += _live(u) ? 1 : 0;
    }
    return -1;
}
template <class List, class Live>
int32_t atLiveIn(const List& _list, int _n, int _k, const Live& _live) {
    for (int i = 0; i < _n; ++i) {
        const int32_t u = _list.at(i);
        if (_live(u) && _k-- == 0) return u;
    }
    return -1;
}

class VertexFifo {
public:
    // Returns the vertex that falls out, or -1.
    int32_t push(int32_t _v) {
        head_ = (head_ + 1) & (kVertexFifoSize - 1);
        const int32_t out = count_ < kVertexFifoSize ? -1 : vertices_[head_];
        vertices_[head_] = _v;
        if (count_ < kVertexFifoSize) ++count_;
        return out;
    }
    int32_t at(int _i) const { return vertices_[(head_ - _i) & (kVertexFifoSize - 1)]; }
    int count() const { return count_; }
    // The position of _v, or -1.
    int find(int32_t _v) const {
        for (int i = 0; i < count_; ++i)
            if (at(i) == _v) return i;
        return -1;
    }
    // The same counting only the entries _live takes (a vertex inside the
    // mesh so far is never named again on a manifold mesh): -1 also when
    // _live does not take _v.
    template <class Live>
    int findLive(int32_t _v, const Live& _live) const {
        return findLiveIn(*this, count_, _v, _live);
    }
    // The _k-th entry that _live takes, or -1.
    template <class Live>
    int32_t atLive(int _k, const Live& _live) const {
        return atLiveIn(*this, count_, _k, _live);
    }

private:
    std::array<int32_t, kVertexFifoSize> vertices_{};
    int head_ = 0;
    int count_ = 0;
};

// The vertices not seen yet, with ranks: a bit per vertex (set: unseen) and
// a Fenwick tree over the unseen counts of 64-vertex words, so that a rank
// walks a tree a 64th of the vertex count (in cache where a tree over every
// vertex is not) and finishes inside one word. The tree is built only when a
// rank other than zero is first needed: meshes numbered in first-use order
// never pay for it.
class UnseenVertices {
public:
    explicit UnseenVertices(int32_t _V)
        : unseen_(static_cast<size_t>(_V) / 64 + 1, ~0ull), words_(static_cast<int32_t>(unseen_.size())), V_(_V), remaining_(_V) {
        unseen_.back() = (1ull << (_V & 63)) - 1;  // no bits past the last vertex
    }

    bool seen(int32_t _v) const { return !((unseen_[static_cast<size_t>(_v) >> 6] >> (_v & 63)) & 1u); }
    int32_t remaining() const { return remaining_; }

    // The number of unseen vertices below _v (0 <= _v <= V).
    uint32_t rankOf(int32_t _v) {
        if (_v == lowest()) return 0;
        buildTree();
        int64_t sum = 0;
        for (int32_t i = _v >> 6; i > 0; i -= i & -i) sum += tree_[static_cast<size_t>(i)];
        const uint64_t below = unseen_[static_cast<size_t>(_v) >> 6] & ((1ull << (_v & 63)) - 1);
        return static_cast<uint32_t>(sum + popcount64(below));
    }

    // The unseen vertex of rank _r (< remaining()).
    int32_t atRank(uint32_t _r) {
        if (_r == 0) return lowest();
        buildTree();
        int32_t word = 0;
        int64_t left = _r;
        for (int32_t step = topBit_; step > 0; step >>= 1) {
            const int32_t next = word + step;
            if (next <= words_ && tree_[static_cast<size_t>(next)] <= left) {
                word = next;
                left -= tree_[static_cast<size_t>(next)];
            }
        }
        return word * 64 + selectBit(unseen_[static_cast<size_t>(word)], static_cast<int>(left));
    }

    void markSeen(int32_t _v) {
        unseen_[static_cast<size_t>(_v) >> 6] &= ~(1ull << (_v & 63));
        --remaining_;
        if (!tree_.empty())
            for (int32_t i = (_v >> 6) + 1; i <= words_; i += i & -i) --tree_[static_cast<size_t>(i)];
    }

private:
    // The lowest unseen vertex, V when there is none.
    int32_t lowest() {
        size_t w = static_cast<size_t>(lowest_) >> 6;
        uint64_t bits = unseen_[w] & (~0ull << (lowest_ & 63));
        while (bits == 0 && ++w < unseen_.size()) bits = unseen_[w];
        lowest_ = bits == 0 ? V_ : static_cast<int32_t>(64 * w) + __builtin_ctzll(bits);
        return lowest_;
    }
    void buildTree() {
        if (!tree_.empty()) return;
        tree_.assign(static_cast<size_t>(words_) + 1, 0);
        for (int32_t i = 1; i <= words_; ++i) {
            tree_[static_cast<size_t>(i)] += popcount64(unseen_[static_cast<size_t>(i - 1)]);
            const int32_t parent = i + (i & -i);
            if (parent <= words_) tree_[static_cast<size_t>(parent)] += tree_[static_cast<size_t>(i)];
        }
        topBit_ = 1;
        while (topBit_ * 2 <= words_) topBit_ *= 2;
    }

    std::vector<uint64_t> unseen_;  // a bit per vertex, set while unseen
    std::vector<int32_t> tree_;
    int32_t words_;
    int32_t V_;
    int32_t remaining_;
    int32_t lowest_ = 0;
    int32_t topBit_ = 0;
};

// The neighbours of every vertex in the faces coded so far, newest last, at
// most kMaxNeighbours each (later ones are dropped on both sides alike). A
// vertex that is not new is usually a neighbour of the face's other vertices:
// it is coded as its place among the candidates of candidateAt.
constexpr int kMaxNeighbours = 7;
constexpr int kNeighbourBits = 5;
constexpr int kMaxCandidates = 1 << kNeighbourBits;
constexpr int kMaxOpenEdges = 3;  // see OpenEdges
constexpr int kOpenEdgeBits = 2;

// What OpenEdges and Adjacency keep of one vertex, side by side in one cache
// line: a face updates both for each of its three vertices, which in a mesh
// numbered at random lie anywhere in memory. The lists are left
// uninitialised (only the entries below their counts are read).
struct alignas(64) VertexLinks {
    uint8_t nInto = 0, nOut = 0;  // OpenEdges
    int32_t into[kMaxOpenEdges];
    int32_t outOf[kMaxOpenEdges];
    int32_t n = 0;  // Adjacency
    int32_t v[kMaxNeighbours];
};
static_assert(sizeof(VertexLinks) == 64, "one cache line per vertex");
class VertexLinkTable {
public:
    explicit VertexLinkTable(int32_t _V) : links_(new VertexLinks[static_cast<size_t>(_V)]) {}
    VertexLinks* data() const { return links_.get(); }

private:
    std::unique_ptr<VertexLinks[]> links_;
};

class Adjacency {
public:
    // Alone, or sharing _table with an OpenEdges.
    explicit Adjacency(int32_t _V) : own_(std::make_unique<VertexLinkTable>(_V)), lists_(own_->data()) {}
    explicit Adjacency(const VertexLinkTable& _table) : lists_(_table.data()) {}

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
    // The newest neighbour of _a that is also one of _b, or -1: across an
    // open edge a -> b, the third vertex of the one face on it.
    int32_t common(int32_t _a, int32_t _b) const {
        for (int i = 0; i < count(_a); ++i) {
            const int32_t v = newest(_a, i);
            for (int j = 0; j < count(_b); ++j)
                if (newest(_b, j) == v) return v;
        }
        return -1;
    }
    // The first place of _v among the candidates, or -1.
    int find(int32_t _x, int32_t _y, int32_t _v) const {
        const int n = candidateCount(_x, _y);
        for (int i = 0; i < n; ++i)
            if (candidateAt(_x, _y, i) == _v) return i;
        return -1;
    }

    int degree(int32_t _v) const { return count(_v); }
    // The _i-th newest neighbour of _v (_i < degree(_v)).
    int32_t neighbour(int32_t _v, int _i) const { return newest(_v, _i); }

private:
    int count(int32_t _v) const { return _v < 0 ? 0 : lists_[static_cast<size_t>(_v)].n; }
    int32_t newest(int32_t _v, int _i) const {
        const VertexLinks& l = lists_[static_cast<size_t>(_v)];
        return l.v[static_cast<size_t>(l.n - 1 - _i)];
    }
    void add(int32_t _a, int32_t _b) {
        VertexLinks& l = lists_[static_cast<size_t>(_a)];
        for (int i = 0; i < l.n; ++i)
            if (l.v[static_cast<size_t>(i)] == _b) return;
        if (l.n < kMaxNeighbours) l.v[static_cast<size_t>(l.n++)] = _b;
    }
    std::unique_ptr<VertexLinkTable> own_;
    VertexLinks* lists_;
};

// The open half-edges of the faces coded so far: the directed edges u->w
// whose reverse w->u no face has used yet, listed both under w (their start
// vertices, "into") and under u (their end vertices, "out of"), oldest first,
// at most kMaxOpenEdges per list (an edge that finds either list full is not
// kept, on both sides alike). A face that shares no recent FIFO edge still
// usually continues one of these, and the third vertex of a face often
// closes one more; on a manifold mesh a vertex has only one or two.
class OpenEdges {
public:
    // Alone, or sharing _table with an Adjacency.
    explicit OpenEdges(int32_t _V) : own_(std::make_unique<VertexLinkTable>(_V)), nodes_(own_->data()) {}
    explicit OpenEdges(const VertexLinkTable& _table) : nodes_(_table.data()) {}

    // A face uses the directed edge _u->_w: it closes the open edge _w->_u
    // (true: the face that opened it has linked the two vertices already), or
    // opens _u->_w.
    bool add(int32_t _u, int32_t _w) {
        if (_u == _w) return true;
        Node& u = node(_u);
        Node& w = node(_w);
        if (remove(u.into, u.nInto, _w)) {
            remove(w.outOf, w.nOut, _u);
            return true;
        }
        if (w.nInto == kMaxOpenEdges || u.nOut == kMaxOpenEdges) return false;
        w.into[w.nInto++] = _u;
        u.outOf[u.nOut++] = _w;
        return false;
    }
    int intoCount(int32_t _w) const { return node(_w).nInto; }
    int outCount(int32_t _u) const { return node(_u).nOut; }
    bool any(int32_t _v) const { return node(_v).nInto + node(_v).nOut > 0; }
    // The start of the _i-th open edge into _w, newest first.
    int32_t into(int32_t _w, int _i) const { return node(_w).into[node(_w).nInto - 1 - _i]; }
    // The end of the _i-th open edge out of _u, newest first.
    int32_t outOf(int32_t _u, int _i) const { return node(_u).outOf[node(_u).nOut - 1 - _i]; }
    // The newest-first place of the open edge _u->_w among those into _w, or -1.
    int placeInto(int32_t _w, int32_t _u) const {
        const int n = intoCount(_w);
        for (int i = 0; i < n; ++i)
            if (into(_w, i) == _u) return i;
        return -1;
    }

private:
    using Node = VertexLinks;
    Node& node(int32_t _v) { return nodes_[static_cast<size_t>(_v)]; }
    const Node& node(int32_t _v) const { return nodes_[static_cast<size_t>(_v)]; }
    // Removes _x from a list; false when it is not there.
    static bool remove(int32_t* _list, uint8_t& _n, int32_t _x) {
        for (int k = 0; k < _n; ++k)
            if (_list[k] == _x) {
                for (int j = k + 1; j < _n; ++j) _list[j - 1] = _list[j];
                --_n;
                return true;
            }
        return false;
    }
    std::unique_ptr<VertexLinkTable> own_;
    Node* nodes_;
};

// The candidates for a vertex that is not new, in the order they are
// numbered: for the third vertex of a face on the edge _x->_y, first the
// vertices whose open edge that face's edges would close (into _y, then out
// of _x), then the neighbours of _y, newest first, then those of _x. A
// vertex may appear twice; only its first place is ever coded.
class Candidates {
public:
    Candidates(const OpenEdges& _open, const Adjacency& _adjacency, int32_t _x, int32_t _y, bool _closing)
        : open_(_open), adjacency_(_adjacency), x_(_x), y_(_y) {
        nInto_ = _closing ? _open.intoCount(_y) : 0;
        nOut_ = _closing ? _open.outCount(_x) : 0;
        const int n = nInto_ + nOut_ + _adjacency.candidateCount(_x, _y);
        n_ = n < kMaxCandidates ? n : kMaxCandidates;
    }
    int count() const { return n_; }
    int32_t at(int _i) const {
        if (_i < nInto_) return open_.into(y_, _i);
        if (_i < nInto_ + nOut_) return open_.outOf(x_, _i - nInto_);
        return adjacency_.candidateAt(x_, y_, _i - nInto_ - nOut_);
    }
    int find(int32_t _v) const {
        for (int i = 0; i < n_; ++i)
            if (at(i) == _v) return i;
        return -1;
    }
    // _f(at(i)) for every i below count(), in order, each list walked once
    // instead of chosen per place.
    template <class F>
    void forEach(const F& _f) const {
        int i = 0;
        for (; i < n_ && i < nInto_; ++i) _f(open_.into(y_, i));
        for (; i < n_ && i < nInto_ + nOut_; ++i) _f(open_.outOf(x_, i - nInto_));
        const int base = nInto_ + nOut_;
        const int ny = y_ < 0 ? 0 : adjacency_.degree(y_);
        for (; i < n_ && i < base + ny; ++i) _f(adjacency_.neighbour(y_, i - base));
        for (; i < n_; ++i) _f(adjacency_.neighbour(x_, i - base - ny));
    }
    // The same counting only the candidates _live takes (see VertexFifo).
    template <class Live>
    int findLive(int32_t _v, const Live& _live) const {
        return findLiveIn(*this, n_, _v, _live);
    }
    template <class Live>
    int32_t atLive(int _k, const Live& _live) const {
        return atLiveIn(*this, n_, _k, _live);
    }

private:
    const OpenEdges& open_;
    const Adjacency& adjacency_;
    int32_t x_, y_;
    int nInto_, nOut_, n_;
};

// Candidates for a new vertex, at most kMaxCandidates: for k = 1 ..
// kNearbySteps, the unseen numbers n + k, then n - k, for n = _y, _x, then
// the neighbours of _y and of _x (newest first), each once. Files that
// number their vertices along paths of the surface, in another order than
// their faces, give a new vertex a number close to that of a vertex nearby.
// The list is produced one candidate at a time (a decoder stops at the place
// it reads), repeats are caught by a mark per vertex.
constexpr int32_t kNearbySteps = 4;

class NearbyNumbers {
public:
    explicit NearbyNumbers(int32_t _V) : V_(_V) {}

    // Starts the list of a new vertex beside _x and _y (either may be -1).
    void start(const Adjacency& _adjacency, int32_t _x, int32_t _y) {
        if (mark_.empty()) mark_.assign(static_cast<size_t>(V_), 0);
        if (++epoch_ == 0) {
            std::fill(mark_.begin(), mark_.end(), 0u);
            epoch_ = 1;
        }
        n_ = 0;
        for (int32_t w : {_y, _x})
            if (w >= 0) sources_[static_cast<size_t>(n_++)] = w;
        for (int32_t w : {_y, _x})
            for (int i = 0; w >= 0 && i < _adjacency.degree(w); ++i) sources_[static_cast<size_t>(n_++)] = _adjacency.neighbour(w, i);
        k_ = n_ > 0 ? 1 : kNearbySteps + 1;
        s_ = 0;
        minus_ = false;
        emitted_ = 0;
    }

    // The next candidate, or -1 when the list is complete.
    int32_t next(const UnseenVertices& _unseen) {
        while (emitted_ < kMaxCandidates && k_ <= kNearbySteps) {
            const int64_t c = static_cast<int64_t>(sources_[static_cast<size_t>(s_)]) + (minus_ ? -k_ : k_);
            advance();
            if (c < 0 || c >= V_) continue;
            const int32_t v = static_cast<int32_t>(c);
            if (_unseen.seen(v) || mark_[static_cast<size_t>(v)] == epoch_) continue;
            mark_[static_cast<size_t>(v)] = epoch_;
            ++emitted_;
            return v;
        }
        return -1;
    }

private:
    void advance() {
        if (!minus_) {
            minus_ = true;
            return;
        }
        minus_ = false;
        if (++s_ == n_) {
            s_ = 0;
            ++k_;
        }
    }

    std::vector<uint32_t> mark_;  // per vertex: the epoch of the last list that took it
    std::array<int32_t, 2 + 2 * kMaxNeighbours> sources_{};
    int32_t V_;
    uint32_t epoch_ = 0;
    int n_ = 0, s_ = 0, emitted_ = 0;
    int32_t k_ = 0;
    bool minus_ = false;
};

// The vertices that have an open edge (the border of what has been coded),
// ranked by number. An old vertex far from the face is almost always one of
// them, so it is named by its rank among them, a step from the rank of the
// last vertex named that way, instead of by its number. The rank tree (a
// Fenwick tree over the counts of 64-vertex blocks) is built only when first
// needed, so that meshes that never name a vertex explicitly never pay for it.
class BorderVertices {
public:
    explicit BorderVertices(int32_t _V) : bits_(static_cast<size_t>(_V) / 64 + 1, 0), blocks_(static_cast<int32_t>(bits_.size())) {}

    bool has(int32_t _v) const { return (bits_[static_cast<size_t>(_v) >> 6] >> (_v & 63)) & 1u; }
    int32_t size() const { return size_; }

    void set(int32_t _v, bool _on) {
        if (has(_v) == _on) return;
        bits_[static_cast<size_t>(_v) >> 6] ^= 1ull << (_v & 63);
        const int32_t d = _on ? 1 : -1;
        size_ += d;
        if (!tree_.empty())
            for (int32_t i = (_v >> 6) + 1; i <= blocks_; i += i & -i) tree_[static_cast<size_t>(i)] += d;
    }

    // Bit i set when _from + i is a border vertex, for i < _n (at most 32);
    // numbers outside the vertex range read as off the border.
    uint32_t window(int64_t _from, int _n) const {
        return bitWindow([this](size_t _w) { return bits_[_w]; }, bits_.size(), _from, _n);
    }
    // The bits of vertices 64 _w .. 64 _w + 63 (_w < words()).
    uint64_t word(size_t _w) const { return bits_[_w]; }
    size_t words() const { return bits_.size(); }

    // The number of border vertices below _v (0 <= _v < V).
    int32_t rankBelow(int32_t _v) {
        buildTree();
        int32_t sum = 0;
        for (int32_t i = _v >> 6; i > 0; i -= i & -i) sum += tree_[static_cast<size_t>(i)];
        const uint64_t below = bits_[static_cast<size_t>(_v) >> 6] & ((1ull << (_v & 63)) - 1);
        return sum + popcount64(below);
    }

    // The border vertex of rank _r (< size()).
    int32_t atRank(int32_t _r) {
        buildTree();
        int32_t block = 0;
        for (int32_t step = topBit_; step > 0; step >>= 1) {
            const int32_t next = block + step;
            if (next <= blocks_ && tree_[static_cast<size_t>(next)] <= _r) {
                block = next;
                _r -= tree_[static_cast<size_t>(next)];
            }
        }
        return block * 64 + selectBit(bits_[static_cast<size_t>(block)], _r);
    }

private:
    void buildTree() {
        if (!tree_.empty()) return;
        tree_.assign(static_cast<size_t>(blocks_) + 1, 0);
        for (int32_t i = 1; i <= blocks_; ++i) {
            tree_[static_cast<size_t>(i)] += popcount64(bits_[static_cast<size_t>(i - 1)]);
            const int32_t parent = i + (i & -i);
            if (parent <= blocks_) tree_[static_cast<size_t>(parent)] += tree_[static_cast<size_t>(i)];
        }
        topBit_ = 1;
        while (topBit_ * 2 <= blocks_) topBit_ *= 2;
    }

    std::vector<uint64_t> bits_;
    std::vector<int32_t> tree_;
    int32_t blocks_;
    int32_t size_ = 0;
    int32_t topBit_ = 0;
};

// Meshes built of patches numbered one after another (the quads of a
// model, each with its own four numbers) are stitched together by faces
// that name vertices of patches coded long before, too far back for the
// FIFO and not neighbours of the face's vertices. Such a vertex is
// nevertheless usually a short step in number from one at hand: the
// previous face's first vertex (stitching faces walk a row of patches, each
// first vertex a fixed step from the one before), the last vertex named far,
// the face's vertices coded before it (another corner of the same patch) or
// a vertex of the last few faces. The candidates are the border vertices at
// steps 1..kNearOldSteps either way (+1, -1, +2, ...) from the face's
// references (kNearOldRefs, in an order per slot), then from the FIFO's
// vertices, newest first, at most kMaxNearOld, each once, leaving out the
// vertices the FIFO and the face's candidates name already: the list stays
// short where the numbers around are inside the mesh already. Like
// NearbyNumbers the list is produced one candidate at a time; the steps of
// one source that land on the border are read as two windows of
// BorderVertices' bits less those of a bit row of the vertices left out (in
// the FIFO or listed already), since most steps land inside the mesh.
constexpr int kNearOldRefs = 4;
constexpr int32_t kNearOldSteps = 8;
constexpr int kNearOldBits = 6;
constexpr int kMaxNearOld = 1 << kNearOldBits;

class NearOldNumbers {
public:
    explicit NearOldNumbers(int32_t _V) : V_(_V) {}

    // The FIFO took _in and dropped _out (-1: none): what it holds is left
    // out of every list without a walk over it per list.
    void fifoMoved(int32_t _in, int32_t _out) {
        allocate();
        if (inFifo_[static_cast<size_t>(_in)]++ == 0) fifoBit(_in);
        if (_out >= 0 && --inFifo_[static_cast<size_t>(_out)] == 0) noFifoBit(_out);
    }

    // _x, _y as given to the vertex decision of _slot; _cand: the face's
    // candidates of that decision.
    void start(int _slot, int32_t _x, int32_t _y, int32_t _previousFirst, int32_t _lastOld, const VertexFifo& _fifo,
               const Candidates& _cand) {
        allocate();
        for (int i = 0; i < nTaken_; ++i) taken_[static_cast<size_t>(takenWords_[static_cast<size_t>(i)])] = 0;
        nTaken_ = 0;
        static_assert(kNearOldSteps == 8, "the steps of a reference fill one 16-bit mask");
        // The references in the order of the slot (one array, not a table of
        // the three orders built per list).
        const bool first = _slot == 0 || _slot == 4;
        const int32_t o[kNearOldRefs] = {first ? _previousFirst : _y, first ? _lastOld : _slot == 3 ? _x : _lastOld,
                                         first ? _y : _previousFirst, first ? _x : _slot == 3 ? _lastOld : _x};
        n_ = 0;
        for (int i = 0; i < kNearOldRefs; ++i)
            if (o[i] >= 0) refNumbers_[static_cast<size_t>(n_++)] = o[i];
        refs_ = n_;
        fifo_ = &_fifo;
        n_ += _fifo.count();
        _cand.forEach([this](int32_t _v) { take(_v); });
        s_ = -1;
        steps_ = 0;
        emitted_ = 0;
    }

    // The next candidate on _border, or -1 when the list is complete. The
    // steps of a source are read once it is reached, without those listed
    // already (its own steps never repeat one another), so that taking a
    // candidate tests nothing.
    int32_t next(const BorderVertices& _border) {
        if (emitted_ == kMaxNearOld) return -1;
        if (!reachSteps(_border)) return -1;
        const int32_t v = source_ + step(__builtin_ctz(steps_));
        steps_ &= steps_ - 1;
        take(v);
        ++emitted_;
        return v;
    }
    // The candidate _skip places after the next one (nextAfter(0) is
    // next()), or -1 when the list ends before it; the list goes on after
    // it as if next() had been called _skip + 1 times. The sources passed
    // over whole are taken a window at a time, as a decoder reading a place
    // far down the list would otherwise take their steps one by one.
    int32_t nextAfter(int _skip, const BorderVertices& _border) {
        for (;;) {
            if (kMaxNearOld - emitted_ <= _skip) {
                emitted_ = kMaxNearOld;
                return -1;
            }
            if (!reachSteps(_border)) return -1;
            const int n = popcount64(steps_);
            if (_skip < n) break;
            // Even bits: source + 1.. up, odd bits: source - 1.. down.
            const uint32_t up = compact(steps_), down = reverse8(compact(steps_ >> 1));
            takeWindow(static_cast<int64_t>(source_) + 1, up);
            takeWindow(static_cast<int64_t>(source_) - kNearOldSteps, down);
            emitted_ += n;
            _skip -= n;
            steps_ = 0;
        }
        for (; _skip > 0; --_skip) {
            take(source_ + step(__builtin_ctz(steps_)));
            steps_ &= steps_ - 1;
            ++emitted_;
        }
        return next(_border);
    }

private:
    // Moves on to the next source with steps on the border unless the
    // current one has some left; false when the sources are used up.
    bool reachSteps(const BorderVertices& _border) {
        while (steps_ == 0) {
            if (++s_ >= n_) return false;
            const int32_t r = s_ < refs_ ? refNumbers_[static_cast<size_t>(s_)] : fifo_->at(s_ - refs_);
            steps_ = stepsOnBorder(_border, r);
            source_ = r;
        }
        return true;
    }
    void allocate() {
        if (!inFifo_.empty()) return;
        inFifo_.assign(static_cast<size_t>(V_), 0);
        fifoBits_.assign(static_cast<size_t>(V_) / 64 + 1, 0);
        taken_.assign(fifoBits_.size(), 0);
    }
    void fifoBit(int32_t _v) { fifoBits_[static_cast<size_t>(_v) >> 6] |= 1ull << (_v & 63); }
    void noFifoBit(int32_t _v) { fifoBits_[static_cast<size_t>(_v) >> 6] &= ~(1ull << (_v & 63)); }
    void take(int32_t _v) {
        if (_v >= 0) {
            const int32_t w = _v >> 6;
            taken_[static_cast<size_t>(w)] |= 1ull << (_v & 63);
            takenWords_[static_cast<size_t>(nTaken_++)] = w;
        }
    }
    // Takes the vertices _from + i of the bits i of _bits (8 bits); those
    // below 0 or past the last vertex are never set.
    void takeWindow(int64_t _from, uint32_t _bits) {
        if (_from < 0) {
            _bits >>= -_from;
            _from = 0;
        }
        if (_bits == 0) return;
        const int32_t w = static_cast<int32_t>(_from >> 6);
        const int off = static_cast<int>(_from & 63);
        taken_[static_cast<size_t>(w)] |= static_cast<uint64_t>(_bits) << off;
        takenWords_[static_cast<size_t>(nTaken_++)] = w;
        if (off > 64 - kNearOldSteps && (_bits >> (64 - off)) != 0) {
            taken_[static_cast<size_t>(w) + 1] |= static_cast<uint64_t>(_bits) >> (64 - off);
            takenWords_[static_cast<size_t>(nTaken_++)] = w + 1;
        }
    }
    // The even bits of _b (16 bits) to bits 0..7: the inverse of spread.
    static uint32_t compact(uint32_t _b) {
        _b &= 0x5555u;
        _b = (_b | _b >> 1) & 0x3333u;
        _b = (_b | _b >> 2) & 0x0F0Fu;
        return (_b | _b >> 4) & 0x00FFu;
    }
    static uint32_t reverse8(uint32_t _b) {
        _b = (_b & 0xF0u) >> 4 | (_b & 0x0Fu) << 4;
        _b = (_b & 0xCCu) >> 2 | (_b & 0x33u) << 2;
        return (_b & 0xAAu) >> 1 | (_b & 0x55u) << 1;
    }
    // Bit 2(k - 1) set when _r + k is on the border and not left out, bit
    // 2(k - 1) + 1 when _r - k is, for k = 1..kNearOldSteps: the list's order
    // of steps.
    uint32_t stepsOnBorder(const BorderVertices& _border, int32_t _r) const {
        const auto open = [&](size_t _w) { return _border.word(_w) & ~(fifoBits_[_w] | taken_[_w]); };
        const uint32_t up = bitWindow(open, _border.words(), static_cast<int64_t>(_r) + 1, kNearOldSteps);
        const uint32_t down = bitWindow(open, _border.words(), static_cast<int64_t>(_r) - kNearOldSteps, kNearOldSteps);  // bit 7: _r - 1
        return spread(up) | spread(reverse8(down)) << 1;
    }
    // The step of bit _p of stepsOnBorder.
    static int32_t step(int _p) { return _p & 1 ? -(_p / 2 + 1) : _p / 2 + 1; }
    // Bit i of _b (8 bits) to bit 2i.
    static uint32_t spread(uint32_t _b) {
        _b = (_b | _b << 4) & 0x0F0Fu;
        _b = (_b | _b << 2) & 0x3333u;
        return (_b | _b << 1) & 0x5555u;
    }

    static_assert(kVertexFifoSize < 256, "a FIFO count fits in a byte");
    std::vector<uint8_t> inFifo_;      // per vertex, how often the FIFO holds it
    std::vector<uint64_t> fifoBits_;   // a bit per vertex the FIFO holds
    std::vector<uint64_t> taken_;      // a bit per vertex the list took, candidates included
    // The words of taken_ to clear at the next start: one per candidate and
    // per vertex listed, at most two per window of a source passed over.
    std::array<int32_t, kMaxCandidates + 4 * kMaxNearOld> takenWords_{};
    std::array<int32_t, kNearOldRefs> refNumbers_{};
    const VertexFifo* fifo_ = nullptr;  // the sources after the references
    int32_t source_ = 0;                // the number of source s_
    int32_t V_;
    int n_ = 0, refs_ = 0, s_ = 0, emitted_ = 0, nTaken_ = 0;
    uint32_t steps_ = 0;  // the steps of source s_ not yet taken, as stepsOnBorder
};

// The border vertices ranked by when a face last touched them. Faces that
// sweep a mesh in rows come back to the vertices of the row before in the
// order they left them, and a vertex named far from the face was usually
// touched either just before or long ago: its rank from the newest or the
// oldest end is small where its rank by number is not. A vertex's stamp is
// its last corner in the face list (three per face); the rank tree (a bit
// per stamp in it and a Fenwick tree over the counts of 64-stamp words, as
// in UnseenVertices) is built when first needed and brought up to
// date only then, from the faces coded since, so that meshes that never
// name a vertex explicitly pay nothing per face. The tree grows with the
// faces coded, never with the count a payload claims.
class BorderRecency {
public:
    explicit BorderRecency(int32_t _V) : V_(_V) {}

    // Brings the ranks up to date with the first _faces faces of _indices
    // and the border they leave, _border.
    void refresh(const BorderVertices& _border, const int32_t* _indices, size_t _faces) {
        if (!built_) build();
        if (3 * _faces > static_cast<size_t>(treeSize_)) grow(3 * _faces);
        for (size_t c = 3 * done_; c < 3 * _faces; ++c) {
            const size_t v = static_cast<size_t>(_indices[c]);
            stamp_[v] = static_cast<int32_t>(c);
            if (!dirty_[v]) {
                dirty_[v] = 1;
                touched_.push_back(static_cast<int32_t>(v));
            }
        }
        done_ = _faces;
        for (int32_t v : touched_) {
            const size_t i = static_cast<size_t>(v);
            dirty_[i] = 0;
            if (inTree_[i] >= 0) add(inTree_[i], -1);
            inTree_[i] = -1;
            if (_border.has(v)) insert(v);
        }
        touched_.clear();
    }

    // The number of border vertices touched after _v (0: the newest).
    int32_t newestRank(int32_t _v) const { return size_ - prefix(inTree_[static_cast<size_t>(_v)]); }
    // The border vertex of newest-first rank _r (< the border's size).
    int32_t atNewestRank(int32_t _r) const { return atOldestRank(size_ - 1 - _r); }
    // The border vertex of oldest-first rank _r (< the border's size).
    int32_t atOldestRank(int32_t _r) const {
        int32_t word = 0;
        for (int32_t step = topBit_; step > 0; step >>= 1) {
            const int32_t next = word + step;
            if (next <= words_ && tree_[static_cast<size_t>(next)] <= _r) {
                word = next;
                _r -= tree_[static_cast<size_t>(next)];
            }
        }
        return atStamp_[static_cast<size_t>(word) * 64 + static_cast<size_t>(selectBit(inUse_[static_cast<size_t>(word)], _r))];
    }
    int32_t size() const { return size_; }

private:
    void build() {
        built_ = true;
        stamp_.assign(static_cast<size_t>(V_), -1);
        inTree_.assign(static_cast<size_t>(V_), -1);
        dirty_.assign(static_cast<size_t>(V_), 0);
    }
    // Room for stamps below _corners at least, the tree rebuilt from the
    // vertices in it; doubling keeps the rebuilds rare.
    void grow(size_t _corners) {
        size_t n = 2 * static_cast<size_t>(treeSize_);
        if (n > static_cast<size_t>(INT32_MAX)) n = static_cast<size_t>(INT32_MAX);
        if (n < _corners) n = _corners;
        if (n < 1024) n = 1024;
        treeSize_ = static_cast<int32_t>(n);
        words_ = static_cast<int32_t>(n / 64 + 1);
        atStamp_.resize(n, -1);
        inUse_.assign(static_cast<size_t>(words_), 0);
        for (int32_t s : inTree_)
            if (s >= 0) inUse_[static_cast<size_t>(s) >> 6] |= 1ull << (s & 63);
        tree_.assign(static_cast<size_t>(words_) + 1, 0);
        for (int32_t i = 1; i <= words_; ++i) {
            tree_[static_cast<size_t>(i)] += popcount64(inUse_[static_cast<size_t>(i - 1)]);
            const int32_t parent = i + (i & -i);
            if (parent <= words_) tree_[static_cast<size_t>(parent)] += tree_[static_cast<size_t>(i)];
        }
        topBit_ = 1;
        while (topBit_ * 2 <= words_) topBit_ *= 2;
    }
    void insert(int32_t _v) {
        const int32_t s = stamp_[static_cast<size_t>(_v)];
        inTree_[static_cast<size_t>(_v)] = s;
        atStamp_[static_cast<size_t>(s)] = _v;
        add(s, 1);
    }
    // _d = 1: _stamp enters the tree, -1: it leaves.
    void add(int32_t _stamp, int32_t _d) {
        size_ += _d;
        uint64_t& word = inUse_[static_cast<size_t>(_stamp) >> 6];
        word = _d > 0 ? word | 1ull << (_stamp & 63) : word & ~(1ull << (_stamp & 63));
        for (int32_t i = (_stamp >> 6) + 1; i <= words_; i += i & -i) tree_[static_cast<size_t>(i)] += _d;
    }
    // The number of tree entries with stamps up to _stamp.
    int32_t prefix(int32_t _stamp) const {
        if (_stamp < 0) return 0;
        int32_t sum = 0;
        for (int32_t i = _stamp >> 6; i > 0; i -= i & -i) sum += tree_[static_cast<size_t>(i)];
        const uint64_t upTo = inUse_[static_cast<size_t>(_stamp) >> 6] & ((2ull << (_stamp & 63)) - 1);
        return sum + popcount64(upTo);
    }

    std::vector<int32_t> stamp_;    // per vertex, -1: never touched
    std::vector<int32_t> inTree_;   // per vertex, the stamp it holds in the tree, -1: none
    std::vector<uint8_t> dirty_;    // per vertex: touched by the faces of a refresh
    std::vector<int32_t> touched_;  // those vertices
    std::vector<uint64_t> inUse_;  // a bit per stamp, set while a vertex holds it in the tree
    std::vector<int32_t> tree_;    // over the counts of inUse_'s words
    std::vector<int32_t> atStamp_;
    int32_t V_;
    size_t done_ = 0;  // the faces taken into account
    int32_t treeSize_ = 0;  // stamps below it have room
    int32_t words_ = 0;
    int32_t topBit_ = 0;
    int32_t size_ = 0;
    bool built_ = false;
};

// A new vertex is predicted either as the number after the last new vertex
// (meshes numbered in the order their faces reach the vertices) or from the
// face itself: for the third vertex c of a face on the edge a -> b of an
// earlier face (b, a, d) as a + b - d (meshes numbered in rows, where the
// step across an edge repeats), for the other vertices as the vertex coded
// just before it. Of these, the one whose misses have lately been shorter
// (in bits) is used, tracked apart for the first vertex of a face, its other
// two and the third vertex of a face on an edge, the same way on both sides.
// Lists coded with neighbour steps (kNeighbourStepMode) add a third
// prediction, the middle of the face's two known vertices: meshes whose
// numbers follow a coordinate (sorted vertices) number a vertex between its
// neighbours, with no row pattern to repeat.
// opposite_ of a face on an open edge: the vertex across is looked up among
// the common neighbours of the edge's ends, only when a new vertex needs it.
constexpr int32_t kAcrossOpenEdge = -2;
constexpr int kNewPredictors = 3;

class NewVertexPrediction {
public:
    explicit NewVertexPrediction(bool _midpoint = false) : midpoint_(_midpoint) {}

    struct Choice {
        int64_t predicted;
        size_t model;  // kNewPredictors x the slot group + the predictor
    };
    // _x, _y: the vertices given to the vertex decision; _d: the vertex across
    // the edge (slot 3), -1 when unknown.
    Choice choose(int _slot, int32_t _lastNew, int32_t _x, int32_t _y, int32_t _d) const {
        const int g = group(_slot);
        int64_t p[kNewPredictors];
        const int n = predictions(_slot, _lastNew, _x, _y, _d, p);
        int best = 0;
        for (int k = 1; k < kNewPredictors; ++k)
            if ((n >> k & 1) && score_[g][k] < score_[g][best]) best = k;
        return {p[best], static_cast<size_t>(kNewPredictors * g + best)};
    }
    // _rank: the rank of a number among the unseen vertices, when misses
    // are counted in unseen vertices (null: in numbers).
    template <class Rank>
    void update(int _slot, int32_t _v, int32_t _lastNew, int32_t _x, int32_t _y, int32_t _d, Rank* _rank) {
        int64_t p[kNewPredictors];
        const int n = predictions(_slot, _lastNew, _x, _y, _d, p);
        if (n == 1) return;
        if (_rank) {
            const int64_t r = (*_rank)(_v);
            for (int k = 0; k < kNewPredictors; ++k)
                if (n >> k & 1) p[k] = (*_rank)(p[k]);
            _v = static_cast<int32_t>(r);
        }
        uint32_t* score = score_[group(_slot)];
        for (int k = 0; k < kNewPredictors; ++k) {
            if (!(n >> k & 1)) continue;
            const int64_t miss = _v - p[k];
            const uint32_t bits = bitWidth64(static_cast<uint64_t>(miss < 0 ? -miss : miss));
            score[k] = score[k] - (score[k] >> 4) + 16u * bits;
        }
    }

private:
    static int group(int _slot) { return _slot == 0 ? 0 : _slot < 3 ? 1 : 2; }
    // Fills the predictions; returns the mask of those available.
    int predictions(int _slot, int32_t _lastNew, int32_t _x, int32_t _y, int32_t _d, int64_t* _p) const {
        _p[0] = static_cast<int64_t>(_lastNew) + 1;
        int mask = 1;
        if (_slot == 3) {
            if (_d >= 0) {
                _p[1] = static_cast<int64_t>(_x) + _y - _d;
                mask |= 2;
            }
        } else if (_y >= 0) {
            _p[1] = _y;
            mask |= 2;
        }
        if (midpoint_ && _x >= 0 && _y >= 0) {
            _p[2] = (static_cast<int64_t>(_x) + _y) / 2;
            mask |= 4;
        }
        return mask;
    }
    uint32_t score_[3][kNewPredictors] = {{0, 1, 2}, {0, 1, 2}, {0, 1, 2}};
    bool midpoint_;
};

// An old vertex named explicitly is coded as a step (in border ranks or in
// numbers) from a reference: the last vertex named that way, or one from the
// face: for the first vertex of a face (slots 0 and 4) the previous face's
// first vertex (faces scattered over the mesh still often start near where
// the last one started), for the others the vertex coded before it. Lists
// coded with recency ranks may name a border vertex instead by its rank from
// the newest or the oldest end of BorderRecency. Per slot the way whose
// codes have lately been shortest is used, both sides alike.
class OldVertexReference {
public:
    // The way to name a vertex on the border; with _recency false, or for a
    // vertex off the border (numberChoice), one of the two steps.
    int choice(int _slot, bool _recency) const {
        const uint32_t* s = score_[_slot];
        int best = s[kOldFromLocal] < s[kOldFromLast] ? kOldFromLocal : kOldFromLast;
        if (_recency)
            for (int k = kOldNewest; k < kOldWays; ++k)
                if (s[k] < s[best]) best = k;
        return best;
    }
    int numberChoice(int _slot) const { return choice(_slot, false); }
    static int32_t local(int _slot, int32_t _y, int32_t _previousFirst) {
        return _slot == 0 || _slot == 4 ? _previousFirst : _y;
    }
    void update(int _slot, int64_t _fromLast, int64_t _fromLocal) {
        score(_slot, kOldFromLast, cost(_fromLast));
        score(_slot, kOldFromLocal, cost(_fromLocal));
    }
    // A border vertex of a list with recency ranks: the steps count their
    // sign bit, the ranks have none.
    void update(int _slot, int64_t _fromLast, int64_t _fromLocal, int32_t _newest, int32_t _oldest) {
        score(_slot, kOldFromLast, cost(_fromLast) + (_fromLast != 0));
        score(_slot, kOldFromLocal, cost(_fromLocal) + (_fromLocal != 0));
        score(_slot, kOldNewest, cost(_newest));
        score(_slot, kOldOldest, cost(_oldest));
    }

private:
    static uint32_t cost(int64_t _step) {
        return bitWidth64(static_cast<uint64_t>(_step < 0 ? -_step : _step));
    }
    void score(int _slot, int _way, uint32_t _bits) {
        uint32_t& s = score_[_slot][_way];
        s = s - (s >> 4) + 16u * _bits;
    }
    uint32_t score_[5][kOldWays] = {{0, 1, 2, 3}, {0, 1, 2, 3}, {0, 1, 2, 3}, {0, 1, 2, 3}, {0, 1, 2, 3}};
};

// One checksum over the decoded list, so that corruption the model cannot
// see (a flipped bit that still decodes to valid faces) is refused.
// The decoder takes it face by face, where its chain of multiplications
// overlaps the decoding instead of running alone at the end.
class RunningChecksum {
public:
    void add(int32_t _v) { h_ = (h_ ^ static_cast<uint32_t>(_v)) * 0x100000001b3ull; }
    uint32_t value() const { return static_cast<uint32_t>(h_ ^ (h_ >> 32)); }

private:
    uint64_t h_ = 0xcbf29ce484222325ull;
};
inline uint32_t connectivityChecksum(const std::vector<int32_t>& _indices) {
    RunningChecksum sum;
    for (int32_t v : _indices) sum.add(v);
    return sum.value();
}

inline int bitLength(uint32_t _v) { return static_cast<int>(bitWidth64(_v)); }

}  // namespace orv
