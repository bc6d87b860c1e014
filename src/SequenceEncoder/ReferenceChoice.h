// ReferenceChoice: long-term references for cyclic and repeating motion. A
// walk, run or gallop comes back to the same pose every cycle, so a frame is
// often predicted far better by the same phase of an earlier cycle than by
// the neighbours the hierarchical coding order gives it. Frames are compared
// through coarse signatures (the differential coordinates of a few hundred
// sampled vertices: position minus the mean of its neighbours, the quantity
// the layered coder's details follow); per frame the cheapest reference set
// by a rate proxy replaces the hierarchy's when it pays clearly. The record
// order and the temporal layers stay those of the hierarchy; a chosen
// reference is always an earlier record in the same or a lower temporal
// layer, within reach of the frame header's offsets.
#pragma once

#include <vector>

#include "Common/Types.h"
#include "Mesh/GeometryT.h"

namespace orv {

// Three values per sampled vertex per frame.
struct FrameSignatures {
    int frames = 0;
    int samples = 0;
    std::vector<double> values;  // frame-major: 3 * samples per frame

    const double* frame(int _f) const { return values.data() + 3 * static_cast<size_t>(samples) * _f; }
};

// Up to _samples vertices spread evenly through the vertex ids. A vertex of
// no face has no neighbours; its centred position stands in.
// _threads: how many may compute them (the result does not depend on it).
FrameSignatures frameSignatures(const GeometryT<double>& _positions, const FaceList& _faces, int _samples = 256,
                                int _threads = 1);

// Rate proxy of predicting frame _f by the mean of the signatures of _refs:
// sum over the samples of log2(1 + e^2 / q^2), e^2 the squared prediction
// error plus the references' own quantisation noise (q^2/4 per vertex,
// halved for two references). An empty set predicts zero details.
double predictionCost(const FrameSignatures& _s, int _f, const std::vector<int>& _refs, double _q);

// The period P (2 <= P <= min(126, F/2)) whose frames k and k-P are closest
// on average, with that average proxy cost and the cost of predicting k from
// k-1 alone over the same frames. period 0: fewer than 4 frames.
struct CycleEstimate {
    int period = 0;
    double repeatCost = 0.0;
    double neighbourCost = 0.0;
};
CycleEstimate findCycle(const FrameSignatures& _s, double _q);

struct ReferenceChoiceStats {
    int framesChanged = 0;   // records whose references differ from the hierarchy's
    double defaultCost = 0;  // proxy cost of all records with the hierarchy's references
    double chosenCost = 0;   // ... with the chosen ones
};

// Replaces the references of records (frames[p], refs[p], layers[p]) where a
// set of one or two earlier records costs at most (1 - _margin) of the
// hierarchy's by predictionCost. A candidate lies in the same or a lower
// temporal layer, is an earlier record and is writable in the frame header.
// With _closedGroups (key frames reference frame 0) a record may reference
// only frame 0, records of its own group and what the group's records
// already reference outside it (the previous key frame), so a group still
// decodes from the same few records. Up to _threads threads choose, with
// the same result on any number. Candidates that cannot be among the best
// are dropped part way through their sums; without _prune every sum runs to
// its end (the same choice, slower: the tests compare the two).
ReferenceChoiceStats chooseReferences(const FrameSignatures& _s, const std::vector<int>& _frames,
                                      const std::vector<int>& _layers, std::vector<std::vector<int>>& _refs,
                                      double _q, bool _closedGroups, double _margin = 0.05, int _threads = 1,
                                      bool _prune = true);

}  // namespace orv
