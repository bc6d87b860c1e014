// The connectivity decoder: mirrors ConnectivityEncoder.cpp decision by
// decision. Every decoded FIFO position, rank and index is checked before it
// is used, the face count is bounded by what the payload can hold before
// anything is reserved, and a checksum over the result catches corruption
// that still decodes to valid faces.
#include <string>

#include "Common/Check.h"
#include "Connectivity/ConnectivityCodec.h"
#include "Connectivity/ConnectivityModel.h"
#include "Connectivity/VarInt.h"

namespace orv {

namespace {

// Every face costs at least four decisions, none of which can cost less than
// 0.022 bits: a payload of n bytes holds fewer than 128 (n + 16) faces.
constexpr uint64_t kMaxFacesPerByte = 128;

[[noreturn]] void malformed(const std::string& _why) { throw Error("connectivity data is corrupt: " + _why); }

class FaceDecoder {
public:
    // _faceList: room for the faces, three vertices each, that face() fills
    // in turn.
    FaceDecoder(const uint8_t* _data, size_t _size, int32_t _V, int32_t* _faceList, uint8_t _mode)
        : rc_(_data, _size), edges_(recencyMode(_mode)), unseen_(_V), links_(_V), adjacency_(links_), open_(links_), border_(_V), recency_(_V),
          nearby_(_V), nearOld_(_V), faceList_(_faceList), V_(_V),
          newPrediction_(baseMode(_mode) == kNeighbourStepMode), rankedNew_(baseMode(_mode) == kFirstCodingMode + 1),
          unseenSteps_(baseMode(_mode) == kNeighbourStepMode), recencyOn_(recencyMode(_mode)), nearbyOn_(nearbyMode(_mode)),
          nearOldOn_(nearOldMode(_mode)) {
        if (!rc_.validStart()) malformed("bad start of the coded faces");
    }

    void face(int32_t* _t) {
        if (rc_.bit(p_.edgeHit[static_cast<size_t>(edgeContext(prevKind_, pairOpen_))])) {
            const int hitIndex = static_cast<int>(index(p_.edgeIndex[static_cast<size_t>(edgeContext(prevKind_, pairOpen_))], kEdgeFifoBits));
            if (hitIndex >= edges_.count()) malformed("a face refers to an edge that was never coded");
            auto& rp = p_.rotation[static_cast<size_t>((hitIndex < 3 ? hitIndex : 3) * 3 + prevRotation_)];
            const DirectedEdge e = edges_.at(hitIndex);
            if (recencyOn_) edges_.remove(hitIndex);
            int kind = 0;
            opposite_ = e.opposite;
            closingPair_ = pairOpen_ && hitIndex == 0;
            faceOnEdge(_t, e.to, e.from, rp, kind, 0);
            pairOpen_ = !(pairOpen_ && hitIndex == 0);
        } else if (rc_.bit(p_.sharedHit[static_cast<size_t>(prevKind_)])) {
            pairOpen_ = 1;
            sharedFace(_t);
        } else {
            pairOpen_ = 1;
            int kind = 0;
            _t[0] = vertex(0, -1, lastVertex_, kind);
            _t[1] = vertex(1, -1, _t[0], kind);
            _t[2] = vertex(2, _t[0], _t[1], kind);
            lastVertex_ = _t[2];
            pushEdge(_t[0], _t[1], _t[2]);
            pushEdge(_t[1], _t[2], _t[0]);
            pushEdge(_t[2], _t[0], _t[1]);
            prevKind_ = kNoEdge;
            prevShared_ = 0;
        }
        previousFirst_ = _t[0];
        if (!open_.add(_t[0], _t[1])) adjacency_.link(_t[0], _t[1]);
        if (!open_.add(_t[1], _t[2])) adjacency_.link(_t[1], _t[2]);
        if (!open_.add(_t[2], _t[0])) adjacency_.link(_t[2], _t[0]);
        for (int k = 0; k < 3; ++k) {
            border_.set(_t[k], open_.any(_t[k]));
            checksum_.add(_t[k]);
        }
        ++faces_;
    }

    const RangeDecoder& coder() const { return rc_; }
    uint32_t checksum() const { return checksum_.value(); }

private:
    void sharedFace(int32_t* _t) {
        int kind = 0;
        const int32_t a = vertex(4, -1, lastVertex_, kind);
        const int place = static_cast<int>(tree(p_.openIndex.data(), kOpenEdgeBits));
        if (place >= open_.intoCount(a)) malformed("a face continues an open edge that does not exist");
        const int32_t b = open_.into(a, place);
        opposite_ = kAcrossOpenEdge;
        closingPair_ = false;
        faceOnEdge(_t, a, b, p_.sharedRotation[static_cast<size_t>(prevShared_)], kind, 1);
    }

    // A face on the edge a -> b (reversed from an earlier face): its rotation,
    // then its third vertex, in the encoder's order.
    template <class RotationModels>
    void faceOnEdge(int32_t* _t, int32_t _a, int32_t _b, RotationModels& _rp, int& _kind, int _shared) {
        int rotation = 0;
        if (rc_.bit(_rp[0])) rotation = rc_.bit(_rp[1]) ? 2 : 1;
        const int32_t c = vertex(3, _a, _b, _kind);
        lastVertex_ = c;
        _t[rotation] = _a;
        _t[(rotation + 1) % 3] = _b;
        _t[(rotation + 2) % 3] = c;
        pushEdge(_b, c, _a);
        pushEdge(c, _a, _b);
        prevKind_ = _kind;
        prevRotation_ = rotation;
        prevShared_ = _shared;
    }

    int32_t vertex(int _slot, int32_t _x, int32_t _y, int& _kind) {
        if (_slot == 0) newInFace_ = 0;
        if (_slot != 4 && rc_.bit(p_.isNew[static_cast<size_t>(isNewContext(_slot, prevKind_, newInFace_))])) {
            ++newInFace_;
            if (nearbyOn_) {
                nearby_.start(adjacency_, _x, _y);
                int32_t v = nearby_.next(unseen_);
                if (v >= 0 && rc_.bit(p_.newNearby[static_cast<size_t>(_slot)])) {
                    const int place = static_cast<int>(index(p_.newNearbyIndex[static_cast<size_t>(_slot)], kNeighbourBits));
                    for (int i = 0; i < place && v >= 0; ++i) v = nearby_.next(unseen_);
                    if (v < 0) malformed("a new vertex beside one that does not exist");
                    if (!rankedNew_) lastNew_ = v;
                    unseen_.markSeen(v);
                    pushVertex(v);
                    _kind = kVertexNew;
                    return v;
                }
            }
            if (rankedNew_) {
                const uint32_t rank = uintCode(p_.newRank[_slot == 3 ? 1 : 0]);
                if (rank >= static_cast<uint32_t>(unseen_.remaining())) malformed("a new vertex beyond the vertex count");
                const int32_t v = unseen_.atRank(rank);
                unseen_.markSeen(v);
                pushVertex(v);
                _kind = kVertexNew;
                return v;
            }
            int32_t across = _slot == 3 ? opposite_ : -1;
            if (across == kAcrossOpenEdge) across = adjacency_.common(_x, _y);
            const NewVertexPrediction::Choice c = newPrediction_.choose(_slot, lastNew_, _x, _y, across);
            const uint32_t magnitude = uintCode(p_.newRank[c.model]);
            int64_t step = 0;
            if (magnitude != 0) step = rc_.bit(p_.newSign[c.model]) ? -static_cast<int64_t>(magnitude) : magnitude;
            int64_t next = c.predicted + step;
            if (unseenSteps_) {
                const int64_t p = c.predicted < 0 ? 0 : c.predicted > V_ ? V_ : c.predicted;
                const int64_t rank = unseen_.rankOf(static_cast<int32_t>(p)) + step;
                if (rank < 0 || rank >= unseen_.remaining())
                    malformed("a new vertex " + std::to_string(rank) + " steps beyond the unseen vertices");
                next = unseen_.atRank(static_cast<uint32_t>(rank));
            }
            if (next < 0 || next >= V_ || unseen_.seen(static_cast<int32_t>(next)))
                malformed("a new vertex " + std::to_string(next) + " out of range or seen before");
            const int32_t v = static_cast<int32_t>(next);
            auto rank = [this](int64_t _n) {
                return static_cast<int64_t>(unseen_.rankOf(static_cast<int32_t>(_n < 0 ? 0 : _n > V_ ? V_ : _n)));
            };
            newPrediction_.update(_slot, v, lastNew_, _x, _y, across, unseenSteps_ ? &rank : nullptr);
            lastNew_ = v;
            unseen_.markSeen(v);
            pushVertex(v);
            _kind = kVertexNew;
            return v;
        }
        const size_t context = _slot == 3 && closingPair_ ? 5 : static_cast<size_t>(_slot);
        const Candidates cand(open_, adjacency_, _x, _y, _slot == 3);
        if (cand.count() > 0 && rc_.bit(p_.isNeighbour[context])) {
            const int place = static_cast<int>(index(p_.neighbourIndex[context], kNeighbourBits));
            if (place >= cand.count()) malformed("a face refers to a neighbour that does not exist");
            _kind = kVertexNeighbour;
            if (!recencyOn_) return cand.at(place);
            const int32_t u = cand.atLive(place, [this](int32_t _u) { return border_.has(_u); });
            if (u < 0) malformed("a face refers to a neighbour on the border that does not exist");
            return u;
        }
        if (rc_.bit(p_.isFifo[context])) {
            const int fifo = static_cast<int>(index(p_.vertexFifo[context], kVertexFifoBits));
            if (fifo >= vertices_.count()) malformed("a face refers to a vertex that was never coded");
            _kind = kVertexInFifo;
            if (!recencyOn_) return vertices_.at(fifo);
            const int32_t u = vertices_.atLive(fifo, [this](int32_t _u) { return border_.has(_u); });
            if (u < 0) malformed("a face refers to a recent border vertex that does not exist");
            return u;
        }
        if (nearOldOn_) {
            nearOld_.start(_slot, _x, _y, previousFirst_, lastOld_, vertices_, cand);
            int32_t u = nearOld_.next(border_);
            if (u >= 0 && rc_.bit(p_.nearOld[context])) {
                const int place = static_cast<int>(index(p_.nearOldIndex[context], kNearOldBits));
                if (place > 0) u = nearOld_.nextAfter(place - 1, border_);
                if (u < 0) malformed("a face names an old vertex beside one that does not exist");
                lastOld_ = u;
                pushVertex(u);
                _kind = kVertexOld;
                return u;
            }
        }
        const int32_t local = OldVertexReference::local(_slot, _y, previousFirst_);
        int64_t v = 0;
        if (border_.size() > 0 && rc_.bit(p_.onBorder[context])) {
            const int choice = oldReference_.choice(_slot, recencyOn_);
            const uint32_t magnitude = uintCode(p_.borderDelta[static_cast<size_t>(choice)]);
            const int64_t fromLast = border_.rankBelow(lastOld_), fromLocal = border_.rankBelow(local);
            if (recencyOn_) recency_.refresh(border_, faceList_, faces_);
            if (choice == kOldNewest || choice == kOldOldest) {
                if (magnitude >= static_cast<uint32_t>(border_.size())) malformed("a face names a border vertex that does not exist");
                const int32_t r = static_cast<int32_t>(magnitude);
                v = choice == kOldNewest ? recency_.atNewestRank(r) : recency_.atOldestRank(r);
            } else {
                int64_t rank = choice == kOldFromLocal ? fromLocal : fromLast;
                if (magnitude != 0) rank += rc_.bit(p_.borderSign[_slot == 3 ? 1 : 0]) ? -static_cast<int64_t>(magnitude) : magnitude;
                if (rank < 0 || rank >= border_.size()) malformed("a face names a border vertex that does not exist");
                v = border_.atRank(static_cast<int32_t>(rank));
            }
            const int64_t rank = border_.rankBelow(static_cast<int32_t>(v));
            if (recencyOn_) {
                const int32_t newest = recency_.newestRank(static_cast<int32_t>(v));
                oldReference_.update(_slot, rank - fromLast, rank - fromLocal, newest, border_.size() - 1 - newest);
            } else {
                oldReference_.update(_slot, rank - fromLast, rank - fromLocal);
            }
        } else {
            const int choice = oldReference_.numberChoice(_slot);
            const uint32_t magnitude = uintCode(p_.oldDelta);
            v = choice ? local : lastOld_;
            if (magnitude != 0) v += rc_.bit(p_.oldSign[_slot == 3 ? 1 : 0]) ? -static_cast<int64_t>(magnitude) : magnitude;
            oldReference_.update(_slot, v - lastOld_, v - local);
        }
        if (v < 0 || v >= V_ || !unseen_.seen(static_cast<int32_t>(v)))
            malformed("a face names vertex " + std::to_string(v) + ", which is out of range or not yet introduced");
        lastOld_ = static_cast<int32_t>(v);
        pushVertex(lastOld_);
        _kind = kVertexOld;
        return lastOld_;
    }

    uint32_t tree(BitProb* _probs, int _bits) {
        uint32_t m = 1;
        for (int i = 0; i < _bits; ++i) m = 2 * m + static_cast<uint32_t>(rc_.bit(_probs[m]));
        return m - (1u << _bits);
    }

    uint32_t index(IndexProbs& _p, int _bits) {
        if (!rc_.bit(_p.zero)) return 0;
        if (!rc_.bit(_p.one)) return 1;
        return tree(_p.tree.data(), _bits);
    }

    uint32_t uintCode(UIntProbs& _p) {
        if (!rc_.bit(_p.zero)) return 0;
        const int n = static_cast<int>(tree(_p.length.data(), 6));
        if (n > 32) malformed("a number longer than 32 bits");
        if (n < 2) return static_cast<uint32_t>(n);
        const int below = n - 1;
        const int modelled = below < 2 ? below : 2;
        uint32_t m = 1;
        for (int i = 0; i < modelled; ++i) m = 2 * m + static_cast<uint32_t>(rc_.bit(_p.mantissa[static_cast<size_t>(n)][m]));
        uint64_t value = (1ull << modelled) | (m - (1u << modelled));
        const int rest = below - modelled;
        if (rest > 0) value = (value << rest) | rc_.direct(rest);
        return static_cast<uint32_t>(value);
    }

    void pushEdge(int32_t _from, int32_t _to, int32_t _opposite) {
        if (recencyOn_)
            edges_.pushOrClose(_from, _to, _opposite);
        else
            edges_.push(_from, _to, _opposite);
    }

    void pushVertex(int32_t _v) {
        const int32_t out = vertices_.push(_v);
        if (nearOldOn_) nearOld_.fifoMoved(_v, out);
    }

    RangeDecoder rc_;
    RunningChecksum checksum_;  // over the faces decoded so far
    ConnectivityProbs p_;
    EdgeFifo edges_;
    VertexFifo vertices_;
    UnseenVertices unseen_;
    VertexLinkTable links_;  // shared by adjacency_ and open_
    Adjacency adjacency_;
    OpenEdges open_;
    BorderVertices border_;
    BorderRecency recency_;
    NearbyNumbers nearby_;
    NearOldNumbers nearOld_;
    const int32_t* faceList_;  // the faces, three vertices each, of which faces_ are coded
    size_t faces_ = 0;
    int32_t V_;
    int prevShared_ = 0;
    int32_t lastVertex_ = -1;
    int prevKind_ = kNoEdge;
    int prevRotation_ = 0;
    int pairOpen_ = 0;
    int32_t opposite_ = -1;  // across the edge of the face being coded, or kAcrossOpenEdge
    NewVertexPrediction newPrediction_;
    OldVertexReference oldReference_;
    int32_t previousFirst_ = 0;
    bool closingPair_ = false;  // the face being coded on an edge closes a pair
    int newInFace_ = 0;  // new vertices so far in a face coded as three vertices
    int32_t lastOld_ = 0;
    int32_t lastNew_ = -1;
    bool rankedNew_;
    bool unseenSteps_;  // a new vertex's step from its prediction counts only unseen vertices
    bool recencyOn_;    // border vertices may be named by recency
    bool nearbyOn_;     // new vertices may be named among NearbyNumbers
    bool nearOldOn_;    // old vertices may be named at a place of NearOldNumbers
};

}  // namespace

Connectivity decodeConnectivity(const uint8_t* _data, size_t _size) {
    size_t pos = 0;
    uint64_t V = 0, F = 0;
    if (!readVarUInt(_data, _size, pos, V) || !readVarUInt(_data, _size, pos, F) || _size - pos < 4)
        malformed("the header is truncated");
    if (_size - pos < 5) malformed("the header is truncated");
    if (V > static_cast<uint64_t>(kMaxCodedVertices)) malformed("vertex count " + std::to_string(V) + " is too large");
    const size_t payload = _size - pos - 5;
    if (F > kMaxFacesPerByte * (payload + 16) || F > static_cast<uint64_t>(INT32_MAX / 3))
        malformed("face count " + std::to_string(F) + " does not fit in " + std::to_string(payload) + " bytes");
    if (V > 3 * F + payload * 8 + 64)
        malformed("vertex count " + std::to_string(V) + " is far above what " + std::to_string(F) + " faces use");
    if (F > 0 && V == 0) malformed("faces without vertices");
    uint32_t sum = 0;
    for (int i = 0; i < 4; ++i) sum |= static_cast<uint32_t>(_data[pos + static_cast<size_t>(i)]) << (8 * i);
    pos += 4;
    const uint8_t mode = _data[pos++];
    if (mode < kFirstCodingMode)
        throw Error("connectivity coded by an earlier version of the codec (mode " + std::to_string(mode) +
                    "), which this build no longer reads: encode the mesh again");
    if (mode > kLastCodingMode) malformed("unknown coding mode " + std::to_string(mode));

    Connectivity result;
    result.vertexCount = static_cast<int32_t>(V);
    result.indices.resize(static_cast<size_t>(F) * 3);
    FaceDecoder decoder(_data + pos, payload, result.vertexCount, result.indices.data(), mode);
    for (size_t f = 0; f < F; ++f) {
        decoder.face(&result.indices[3 * f]);
        if (decoder.coder().overrun() > 0) malformed("the coded faces are truncated");
    }
    if (decoder.coder().unread() != 0) malformed("trailing bytes after the last face");
    if (decoder.checksum() != sum) malformed("checksum mismatch");
    return result;
}

}  // namespace orv
