// The connectivity encoder: each face in turn, in its own rotation, as one
// shared FIFO edge plus its third vertex, or as three vertices, with every
// decision coded by the adaptive range coder under the shared model.
#include <string>

#include "Common/Check.h"
#include "Connectivity/ConnectivityCodec.h"
#include "Connectivity/ConnectivityModel.h"
#include "Connectivity/VarInt.h"

namespace orv {

namespace {

class FaceEncoder {
public:
    // _faceList: the faces to be coded, three vertices each.
    FaceEncoder(std::vector<uint8_t>& _out, int32_t _V, const int32_t* _faceList, uint8_t _mode)
        : rc_(_out), edges_(recencyMode(_mode)), unseen_(_V), links_(_V), adjacency_(links_), open_(links_), border_(_V), recency_(_V), nearby_(_V), nearOld_(_V), faceList_(_faceList),
          newPrediction_(baseMode(_mode) == kNeighbourStepMode), V_(_V), rankedNew_(baseMode(_mode) == kFirstCodingMode + 1),
          unseenSteps_(baseMode(_mode) == kNeighbourStepMode), recencyOn_(recencyMode(_mode)), nearbyOn_(nearbyMode(_mode)),
          nearOldOn_(nearOldMode(_mode)) {}

    void setTally(double* _tally) { rc_.setTally(_tally); }

    void face(const int32_t* _t) {
        rc_.setCategory(kTallyEdge);
        int hitIndex = -1;
        int rotation = 0;
        for (int i = 0; i < edges_.count() && hitIndex < 0; ++i) {
            const DirectedEdge& e = edges_.at(i);
            for (int r = 0; r < 3; ++r)
                if (_t[r] == e.to && _t[(r + 1) % 3] == e.from) {
                    hitIndex = i;
                    rotation = r;
                    break;
                }
        }

        if (hitIndex >= 0) {
            rc_.bit(p_.edgeHit[static_cast<size_t>(edgeContext(prevKind_, pairOpen_))], 1); 
            index(p_.edgeIndex[static_cast<size_t>(edgeContext(prevKind_, pairOpen_))], kEdgeFifoBits, static_cast<uint32_t>(hitIndex));
            auto& rp = p_.rotation[static_cast<size_t>((hitIndex < 3 ? hitIndex : 3) * 3 + prevRotation_)];
            opposite_ = edges_.at(hitIndex).opposite;
            if (recencyOn_) edges_.remove(hitIndex);
            closingPair_ = pairOpen_ && hitIndex == 0;
            faceOnEdge(_t, rotation, rp, 0);
            pairOpen_ = !(pairOpen_ && hitIndex == 0);
        } else {
            rc_.bit(p_.edgeHit[static_cast<size_t>(edgeContext(prevKind_, pairOpen_))], 0);
            pairOpen_ = 1;
            rc_.setCategory(kTallyShared);
            if (sharedFace(_t)) {
                finishFace(_t);
                return;
            }
            vertex(_t[0], 0, -1, lastVertex_);
            vertex(_t[1], 1, -1, _t[0]);
            vertex(_t[2], 2, _t[0], _t[1]);
            lastVertex_ = _t[2];
            pushEdge(_t[0], _t[1], _t[2]);
            pushEdge(_t[1], _t[2], _t[0]);
            pushEdge(_t[2], _t[0], _t[1]);
            prevKind_ = kNoEdge;
            prevShared_ = 0;
        }
        finishFace(_t);
    }

    void finishFace(const int32_t* _t) {
        previousFirst_ = _t[0];
        // An edge that closes an open one joins vertices linked already.
        if (!open_.add(_t[0], _t[1])) adjacency_.link(_t[0], _t[1]);
        if (!open_.add(_t[1], _t[2])) adjacency_.link(_t[1], _t[2]);
        if (!open_.add(_t[2], _t[0])) adjacency_.link(_t[2], _t[0]);
        for (int k = 0; k < 3; ++k) border_.set(_t[k], open_.any(_t[k]));
        ++faces_;
    }

    void finish() { rc_.finish(); }

private:
    // A face that continues an open edge of any earlier face: the edge's
    // first vertex, the edge's place among that vertex's open edges, the
    // face's rotation and its third vertex. Of several such edges the one
    // whose first vertex is cheapest to name is taken. False (and the miss
    // coded) when the face continues none.
    bool sharedFace(const int32_t* _t) {
        int best = -1, bestPlace = 0, bestCost = 0;
        for (int r = 0; r < 3; ++r) {
            const int32_t a = _t[r], b = _t[(r + 1) % 3];
            if (a == b || open_.intoCount(a) == 0) continue;
            const int place = open_.placeInto(a, b);
            if (place < 0) continue;
            int cost = adjacency_.find(-1, lastVertex_, a);
            if (cost < 0) {
                const int fifo = vertices_.find(a);
                cost = fifo >= 0 ? kMaxCandidates + fifo : 4 * kMaxCandidates;
            }
            cost = cost * kMaxOpenEdges + place;
            if (best < 0 || cost < bestCost) {
                best = r;
                bestPlace = place;
                bestCost = cost;
            }
        }
        rc_.bit(p_.sharedHit[static_cast<size_t>(prevKind_)], best >= 0);
        if (best < 0) return false;
        vertex(_t[best], 4, -1, lastVertex_);
        rc_.setCategory(kTallyShared);
        tree(p_.openIndex.data(), kOpenEdgeBits, static_cast<uint32_t>(bestPlace));
        opposite_ = kAcrossOpenEdge;
        closingPair_ = false;
        faceOnEdge(_t, best, p_.sharedRotation[static_cast<size_t>(prevShared_)], 1);
        return true;
    }

    // The face _t on the edge a -> b (reversed from an earlier face), a at
    // _rotation: the rotation, then the third vertex.
    template <class RotationModels>
    void faceOnEdge(const int32_t* _t, int _rotation, RotationModels& _rp, int _shared) {
        rc_.setCategory(_shared ? kTallyShared : kTallyEdge);
        rc_.bit(_rp[0], _rotation != 0);
        if (_rotation != 0) rc_.bit(_rp[1], _rotation == 2);
        const int32_t a = _t[_rotation], b = _t[(_rotation + 1) % 3], c = _t[(_rotation + 2) % 3];
        const int kind = vertex(c, 3, a, b);
        lastVertex_ = c;
        pushEdge(b, c, a);
        pushEdge(c, a, b);
        prevKind_ = kind;
        prevRotation_ = _rotation;
        prevShared_ = _shared;
    }

    // _x, _y: vertices of the face whose neighbours are the candidates.
    int vertex(int32_t _v, int _slot, int32_t _x, int32_t _y) {
        const bool isNew = !unseen_.seen(_v);
        // The first vertex of an open edge (slot 4) is never new.
        if (_slot == 0) newInFace_ = 0;
        rc_.setCategory(kTallyIsNew);
        if (_slot != 4) rc_.bit(p_.isNew[static_cast<size_t>(isNewContext(_slot, prevKind_, newInFace_))], isNew);
        newInFace_ += isNew;
        if (isNew) {
            rc_.setCategory(kTallyNew);
            if (nearbyOn_) {
                nearby_.start(adjacency_, _x, _y);
                int32_t c = nearby_.next(unseen_);
                if (c >= 0) {
                    int place = 0;
                    for (; c >= 0 && c != _v; c = nearby_.next(unseen_)) ++place;
                    if (c < 0) place = -1;
                    rc_.bit(p_.newNearby[static_cast<size_t>(_slot)], place >= 0);
                    if (place >= 0) {
                        index(p_.newNearbyIndex[static_cast<size_t>(_slot)], kNeighbourBits, static_cast<uint32_t>(place));
                        if (!rankedNew_) lastNew_ = _v;
                        unseen_.markSeen(_v);
                        pushVertex(_v);
                        return kVertexNew;
                    }
                }
            }
            if (rankedNew_) {
                uintCode(p_.newRank[_slot == 3 ? 1 : 0], unseen_.rankOf(_v));
                unseen_.markSeen(_v);
                pushVertex(_v);
                return kVertexNew;
            }
            int32_t across = _slot == 3 ? opposite_ : -1;
            if (across == kAcrossOpenEdge) across = adjacency_.common(_x, _y);
            const NewVertexPrediction::Choice c = newPrediction_.choose(_slot, lastNew_, _x, _y, across);
            const int64_t delta = unseenSteps_ ? static_cast<int64_t>(unseen_.rankOf(_v)) - unseen_.rankOf(clampVertex(c.predicted))
                                               : _v - c.predicted;
            const uint32_t magnitude = static_cast<uint32_t>(delta < 0 ? -delta : delta);
            uintCode(p_.newRank[c.model], magnitude);
            if (magnitude != 0) rc_.bit(p_.newSign[c.model], delta < 0);
            auto rank = [this](int64_t _n) {
                return static_cast<int64_t>(unseen_.rankOf(static_cast<int32_t>(_n < 0 ? 0 : _n > V_ ? V_ : _n)));
            };
            newPrediction_.update(_slot, _v, lastNew_, _x, _y, across, unseenSteps_ ? &rank : nullptr);
            lastNew_ = _v;
            unseen_.markSeen(_v);
            pushVertex(_v);
            return kVertexNew;
        }

        const size_t context = _slot == 3 && closingPair_ ? 5 : static_cast<size_t>(_slot);
        const Candidates cand(open_, adjacency_, _x, _y, _slot == 3);
        rc_.setCategory(kTallyNeighbour);
        auto onBorder = [this](int32_t _u) { return border_.has(_u); };
        if (cand.count() > 0) {
            const int place = recencyOn_ ? cand.findLive(_v, onBorder) : cand.find(_v);
            rc_.bit(p_.isNeighbour[context], place >= 0);
            if (place >= 0) {
                index(p_.neighbourIndex[context], kNeighbourBits, static_cast<uint32_t>(place));
                return kVertexNeighbour;
            }
        }
        const int fifo = recencyOn_ ? vertices_.findLive(_v, onBorder) : vertices_.find(_v);
        rc_.setCategory(kTallyFifo);
        rc_.bit(p_.isFifo[context], fifo >= 0);
        if (fifo >= 0) {
            index(p_.vertexFifo[context], kVertexFifoBits, static_cast<uint32_t>(fifo));
            return kVertexInFifo;
        }
        rc_.setCategory(kTallyFar);
        if (nearOldOn_ && nearOld(_v, _slot, context, _x, _y, cand)) {
            lastOld_ = _v;
            pushVertex(_v);
            return kVertexOld;
        }
        const bool isOnBorder = border_.has(_v);
        if (border_.size() > 0) rc_.bit(p_.onBorder[context], isOnBorder);
        const int32_t local = OldVertexReference::local(_slot, _y, previousFirst_);
        if (isOnBorder) {
            const int choice = oldReference_.choice(_slot, recencyOn_);
            const int64_t rank = border_.rankBelow(_v);
            const int64_t fromLast = rank - border_.rankBelow(lastOld_), fromLocal = rank - border_.rankBelow(local);
            int32_t newest = 0, oldest = 0;
            if (recencyOn_) {
                recency_.refresh(border_, faceList_, faces_);
                newest = recency_.newestRank(_v);
                oldest = border_.size() - 1 - newest;
            }
            if (choice == kOldNewest || choice == kOldOldest) {
                uintCode(p_.borderDelta[static_cast<size_t>(choice)], static_cast<uint32_t>(choice == kOldNewest ? newest : oldest));
            } else {
                const int64_t delta = choice == kOldFromLocal ? fromLocal : fromLast;
                const uint32_t magnitude = static_cast<uint32_t>(delta < 0 ? -delta : delta);
                uintCode(p_.borderDelta[static_cast<size_t>(choice)], magnitude);
                if (magnitude != 0) rc_.bit(p_.borderSign[_slot == 3 ? 1 : 0], delta < 0);
            }
            if (recencyOn_)
                oldReference_.update(_slot, fromLast, fromLocal, newest, oldest);
            else
                oldReference_.update(_slot, fromLast, fromLocal);
        } else {
            const int choice = oldReference_.numberChoice(_slot);
            const int64_t fromLast = static_cast<int64_t>(_v) - lastOld_, fromLocal = static_cast<int64_t>(_v) - local;
            const int64_t delta = choice ? fromLocal : fromLast;
            const uint32_t magnitude = static_cast<uint32_t>(delta < 0 ? -delta : delta);
            uintCode(p_.oldDelta, magnitude);
            if (magnitude != 0) rc_.bit(p_.oldSign[_slot == 3 ? 1 : 0], delta < 0);
            oldReference_.update(_slot, fromLast, fromLocal);
        }
        lastOld_ = _v;
        pushVertex(_v);
        return kVertexOld;
    }

    // An old vertex among its NearOldNumbers: whether it is (when there
    // are any), then its place.
    bool nearOld(int32_t _v, int _slot, size_t _context, int32_t _x, int32_t _y, const Candidates& _cand) {
        nearOld_.start(_slot, _x, _y, previousFirst_, lastOld_, vertices_, _cand);
        int32_t c = nearOld_.next(border_);
        if (c < 0) return false;
        int place = 0;
        for (; c >= 0 && c != _v; c = nearOld_.next(border_)) ++place;
        rc_.bit(p_.nearOld[_context], c >= 0);
        if (c < 0) return false;
        index(p_.nearOldIndex[_context], kNearOldBits, static_cast<uint32_t>(place));
        return true;
    }

    int32_t clampVertex(int64_t _v) const { return static_cast<int32_t>(_v < 0 ? 0 : _v > V_ ? V_ : _v); }

    void tree(BitProb* _probs, int _bits, uint32_t _value) {
        uint32_t m = 1;
        for (int i = _bits - 1; i >= 0; --i) {
            const int b = static_cast<int>((_value >> i) & 1u);
            rc_.bit(_probs[m], b);
            m = 2 * m + static_cast<uint32_t>(b);
        }
    }

    void index(IndexProbs& _p, int _bits, uint32_t _value) {
        rc_.bit(_p.zero, _value != 0);
        if (_value == 0) return;
        rc_.bit(_p.one, _value != 1);
        if (_value == 1) return;
        tree(_p.tree.data(), _bits, _value);
    }

    // Zero or not, the bit length (a 6-bit tree), then the bits below the
    // leading one: two modelled per length, the rest at one half.
    void uintCode(UIntProbs& _p, uint32_t _value) {
        rc_.bit(_p.zero, _value != 0);
        if (_value == 0) return;
        const int n = bitLength(_value);
        tree(_p.length.data(), 6, static_cast<uint32_t>(n));
        if (n < 2) return;
        const int below = n - 1;
        const int modelled = below < 2 ? below : 2;
        uint32_t m = 1;
        for (int i = 0; i < modelled; ++i) {
            const int b = static_cast<int>((_value >> (below - 1 - i)) & 1u);
            rc_.bit(_p.mantissa[static_cast<size_t>(n)][m], b);
            m = 2 * m + static_cast<uint32_t>(b);
        }
        const int rest = below - modelled;
        if (rest > 0) rc_.direct(_value & ((1u << rest) - 1u), rest);
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

    RangeEncoder rc_;
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
    int32_t lastVertex_ = -1;
    int prevShared_ = 0;
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
    int32_t V_;
    bool rankedNew_;
    bool unseenSteps_;  // a new vertex's step from its prediction counts only unseen vertices
    bool recencyOn_;    // border vertices may be named by recency
    bool nearbyOn_;     // new vertices may be named among NearbyNumbers
    bool nearOldOn_;    // old vertices may be named at a place of NearOldNumbers
};

}  // namespace

const char* ConnectivityTally::name(int _category) {
    static const char* const names[kTallyCategories] = {"edge", "open edge", "new?", "new vertex", "neighbour", "fifo", "far"};
    return _category >= 0 && _category < kTallyCategories ? names[_category] : "?";
}

namespace {

void checkList(const std::vector<int32_t>& _indices, int32_t _vertexCount) {
    if (_vertexCount < 0 || _vertexCount > kMaxCodedVertices)
        throw Error("connectivity: " + std::to_string(_vertexCount) + " vertices are more than the codec takes");
    if (_indices.size() % 3 != 0) throw Error("connectivity: the index list is not a whole number of triangles");
    if (_indices.size() / 3 > static_cast<size_t>(INT32_MAX / 3))
        throw Error("connectivity: too many faces for the codec");
    for (size_t i = 0; i < _indices.size(); ++i)
        if (_indices[i] < 0 || _indices[i] >= _vertexCount)
            throw Error("connectivity: face " + std::to_string(i / 3 + 1) + " names vertex " +
                        std::to_string(_indices[i]) + " outside 0.." + std::to_string(_vertexCount - 1));
}

std::vector<uint8_t> encodeChecked(const std::vector<int32_t>& _indices, int32_t _vertexCount, uint8_t _mode,
                                   ConnectivityTally* _tally) {
    std::vector<uint8_t> out;
    appendVarUInt(out, static_cast<uint64_t>(_vertexCount));
    appendVarUInt(out, _indices.size() / 3);
    const uint32_t sum = connectivityChecksum(_indices);
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(sum >> (8 * i)));
    out.push_back(_mode);
    FaceEncoder encoder(out, _vertexCount, _indices.data(), _mode);
    if (_tally) {
        *_tally = ConnectivityTally{};
        _tally->mode = _mode;
        encoder.setTally(_tally->bits.data());
    }
    for (size_t f = 0; f < _indices.size(); f += 3) encoder.face(&_indices[f]);
    encoder.finish();
    const uint64_t payload = out.size();
    if (static_cast<uint64_t>(_vertexCount) > 3 * (_indices.size() / 3) + payload * 8 + 64)
        throw Error("connectivity: " + std::to_string(_vertexCount) + " vertices, most of them in no face");
    return out;
}

}  // namespace

std::vector<uint8_t> encodeConnectivityInMode(const std::vector<int32_t>& _indices, int32_t _vertexCount, uint8_t _mode,
                                              ConnectivityTally* _tally) {
    if (_mode < kFirstCodingMode || _mode > kLastCodingMode)
        throw Error("connectivity: no coding mode " + std::to_string(_mode));
    checkList(_indices, _vertexCount);
    return encodeChecked(_indices, _vertexCount, _mode, _tally);
}

std::vector<uint8_t> encodeConnectivity(const std::vector<int32_t>& _indices, int32_t _vertexCount,
                                        ConnectivityTally* _tally) {
    checkList(_indices, _vertexCount);
    // New vertices are coded as their rank among the unseen ones (best for
    // meshes numbered at random), as a step from a prediction (best for
    // meshes numbered along their surface) or as a step among the unseen
    // vertices (numbers that follow a coordinate): the smallest of the three
    // decides, and that way is tried again with recency ranks and pruned
    // FIFOs, and with nearby numbers too (which way suits the numbers hardly
    // depends on those). The smallest wins, but the modes with recency ranks
    // decode at up to half the speed when many vertices are named far from
    // their faces: they are taken only when they save at least one part in
    // kRecencyGain. The same way is then tried with the steps to old
    // vertices (NearOldNumbers), with and without recency and nearby
    // numbers; those walk lists that cost up to two fifths more decoding
    // time on meshes that name many far vertices, and are taken only when
    // they save at least one part in kNearOldGain.
    constexpr size_t kRecencyGain = 100, kNearOldGain = 100;
    struct Best {
        std::vector<uint8_t> bytes[2];  // [with recency ranks]
        ConnectivityTally tally[2];
        uint8_t base = kFirstCodingMode;
        int chosen() const { return bytes[1].size() + bytes[0].size() / kRecencyGain < bytes[0].size() ? 1 : 0; }
    } plain, nearOld;
    ConnectivityTally tally;
    auto consider = [&](uint8_t _mode) {
        Best& b = nearOldMode(_mode) ? nearOld : plain;
        std::vector<uint8_t> out = encodeChecked(_indices, _vertexCount, _mode, _tally ? &tally : nullptr);
        const int r = recencyMode(_mode) ? 1 : 0;
        if (b.bytes[r].empty() || out.size() < b.bytes[r].size()) {
            b.bytes[r] = std::move(out);
            b.tally[r] = tally;
            if (r == 0) b.base = _mode;
        }
    };
    for (uint8_t mode = kFirstCodingMode; mode <= kNeighbourStepMode; ++mode) consider(mode);
    const uint8_t base = plain.base;
    consider(static_cast<uint8_t>(base + kRecencyModes));
    consider(static_cast<uint8_t>(base + 2 * kRecencyModes));
    consider(static_cast<uint8_t>(base - kFirstCodingMode + kNearOldModes));
    consider(static_cast<uint8_t>(base - kFirstCodingMode + kNearOldModes + kRecencyModes));
    const int p = plain.chosen(), n = nearOld.chosen();
    Best& won = nearOld.bytes[n].size() + plain.bytes[p].size() / kNearOldGain < plain.bytes[p].size() ? nearOld : plain;
    const int r = &won == &nearOld ? n : p;
    if (_tally) *_tally = won.tally[r];
    return std::move(won.bytes[r]);
}

std::vector<int32_t> toFlatIndices(const FaceList& _faces) {
    std::vector<int32_t> flat;
    flat.reserve(_faces.size() * 3);
    for (size_t f = 0; f < _faces.size(); ++f) {
        if (_faces[f].size() != 3) throw Error("face " + std::to_string(f + 1) + " is not a triangle");
        for (int v : _faces[f]) flat.push_back(v);
    }
    return flat;
}

FaceList toFaceList(const std::vector<int32_t>& _indices) {
    FaceList faces;
    faces.reserve(_indices.size() / 3);
    for (size_t f = 0; f + 2 < _indices.size(); f += 3) faces.push_back({_indices[f], _indices[f + 1], _indices[f + 2]});
    return faces;
}

}  // namespace orv
