// LODConnectivity: iterative decimation of the connectivity into nested
// spatial layers. Each step removes an independent set of vertices with three
// to six faces (found by a breadth-first search), closes each hole by the
// cheapest valence-driven retriangulation, and records the removed vertices in
// reverse removal order with their ring neighbours as predictors; what is left
// after nSL-1 steps is the base layer, ordered by the vertex traversal.
#include "Decoder/LODConnectivity.h"

#include <algorithm>
#include <cstdlib>
#include <string>

#include "Common/Check.h"
#include "Decoder/Graph.h"
#include "Decoder/LODConnectivityDecimator.h"
#include "Decoder/VertexTraverser.h"

namespace orv {

void LayerDecimator::resetFlags() {
    faceMarked_ = graph_.faceDeletedFlags();
    vertexLocked_ = graph_.vertexDeletedFlags();
    vertexVisited_ = graph_.vertexDeletedFlags();
}

void LayerDecimator::selectCandidates(std::vector<int>& _candidates) {
    resetFlags();
    _candidates.clear();
    const int numVertices = graph_.numVertices();
    // A vertex already waiting in the queue is not queued again; its later
    // copies would be popped after its first one and change nothing.
    std::vector<bool> queued(static_cast<size_t>(numVertices), false);
    // Every vertex enters the queue at most once per step, so a plain list
    // with a read position serves as the first-in, first-out queue.
    std::vector<int>& queue = queue_;
    queue.clear();
    size_t head = 0;
    std::vector<int>& ring = ring_;
    int start = 0;  // every vertex below it is visited: flags only get set
    for (;;) {
        while (start < numVertices && vertexVisited_[start]) ++start;
        if (start == numVertices) break;
        queue.push_back(start);
        queued[start] = true;
        while (head < queue.size()) {
            const int o = queue[head++];
            // Only the first pop of a vertex can choose it: flags only get
            // set, so a later pop would give the same answer.
            if (vertexVisited_[o]) continue;
            const std::vector<int>& faces = graph_.vf(o);
            // The ordered ring serves both the choice and the expansion.
            graph_.getOrderedRing(o, ring);
            if (!vertexLocked_[o] && faces.size() >= 3 && faces.size() <= 6 && !ring.empty() &&
                std::none_of(faces.begin(), faces.end(), [&](int f) { return faceMarked_[f]; })) {
                vertexLocked_[o] = true;
                for (int f : faces) faceMarked_[f] = true;
                _candidates.push_back(o);
            }
            vertexVisited_[o] = true;
            if (ring.empty()) graph_.getNeighborSet(o, ring);
            for (int w : ring)
                if (!vertexVisited_[w] && !queued[w]) {
                    queue.push_back(w);
                    queued[w] = true;
                }
        }
    }
}

void LayerDecimator::describe(int v, Neighbourhood& _nb) const {
    const bool closed = graph_.getOrderedRing(v, _nb.ring);
    _nb.orientable = !_nb.ring.empty();
    _nb.closedFan = _nb.orientable && closed;
    graph_.getNeighborSet(v, _nb.set);
    if (!_nb.orientable) _nb.ring = _nb.set;
    _nb.faceCount = faceCount(v);
    _nb.ringFaceCounts.clear();
    _nb.ringDeviation = 0;
    for (int w : _nb.ring) {
        _nb.ringFaceCounts.push_back(faceCount(w));
        _nb.ringDeviation += std::abs(_nb.ringFaceCounts.back() - 6);
    }
}

int LayerDecimator::patternCost(int _m, const Neighbourhood& _nb) const {
    const std::vector<int>& ring = _nb.ring;
    const std::vector<int>& count = _nb.ringFaceCounts;
    const int n = static_cast<int>(ring.size());
    if (n == 6 && (_m == 6 || _m == 7)) {
        // Three-ear patterns: the central triangle takes the other three ring
        // vertices, so the +1 goes to every second vertex starting at b.
        const int offset = _m == 6 ? 0 : 1;
        if (!_nb.isNeighbour(ring[offset]) || !_nb.closedFan) return -1;
        int cost = 0;
        for (int k = 0; k < 6; ++k) {
            const int at = offset + k < 6 ? offset + k : offset + k - 6;
            cost += std::abs(count[at] - 6 + ((k % 2 == 0) ? 1 : -1));
        }
        return cost;
    }
    // Fan pattern: collapse into ring[_m]. Every ring vertex deviates from
    // six faces by count - 6, except the target (which gains the collapsed
    // vertex's faces less four) and its two ring neighbours (one face less).
    if (n < 3 || _m < 0 || _m >= n) return -1;
    if (!_nb.isNeighbour(ring[_m])) return -1;
    const int next = _m + 1 < n ? _m + 1 : 0;
    const int prev = _m > 0 ? _m - 1 : n - 1;
    int cost = _nb.ringDeviation;
    cost -= std::abs(count[_m] - 6) + std::abs(count[next] - 6) + std::abs(count[prev] - 6);
    cost += std::abs(count[_m] - 6 + _nb.faceCount - 4) + std::abs(count[next] - 7) + std::abs(count[prev] - 7);
    return cost;
}

int LayerDecimator::choosePattern(const Neighbourhood& _nb) const {
    const int n = static_cast<int>(_nb.ring.size());
    int best = -1, bestCost = -1;
    auto consider = [&](int m) {
        const int cost = patternCost(m, _nb);
        if (cost >= 0 && (best == -1 || cost < bestCost)) {
            best = m;
            bestCost = cost;
        }
    };
    for (int i = 0; i < n; ++i) consider(i);
    if (n == 6) {
        consider(6);
        consider(7);
    }
    return best;
}

bool LayerDecimator::removeThreeEars(int v, int _apex, const Neighbourhood& _nb) {
    if (!_nb.isNeighbour(_apex) || _nb.ring.size() != 6 || !_nb.closedFan) return false;
    const std::vector<int> before = graph_.vf(v);
    if (!graph_.collapseInto(v, _apex)) return false;
    std::vector<int> survivors;
    for (int f : before)
        if (!graph_.isFaceDeleted(f)) survivors.push_back(f);
    graph_.orderFan(survivors, _apex);
    if (survivors.size() == 4) graph_.flipEdge(survivors[1], survivors[2], _apex);
    return true;
}

bool LayerDecimator::removeVertex(int v, int _m, const Neighbourhood& _nb) {
    const std::vector<int>& ring = _nb.ring;
    const int n = static_cast<int>(ring.size());
    if (n == 6 && _m == 6) return removeThreeEars(v, ring[1], _nb);
    if (n == 6 && _m == 7) return removeThreeEars(v, ring[0], _nb);
    if (_m >= 0 && _m < n) return graph_.collapseInto(v, ring[_m]);
    return false;
}

bool LayerDecimator::decimateLayer(std::vector<int>& _order, std::vector<Predictor>& _predictors,
                                   std::vector<bool>& _orientable) {
    _order.clear();
    _predictors.clear();
    _orientable.clear();
    std::vector<int> candidates;
    selectCandidates(candidates);
    Neighbourhood nb;
    for (int v : candidates) {
        describe(v, nb);
        const int m = choosePattern(nb);
        if (m < 0 || !removeVertex(v, m, nb)) continue;
        _order.push_back(v);
        Predictor terms;
        terms.reserve(nb.ring.size());
        for (int w : nb.ring) {
            const bool taken = std::any_of(terms.begin(), terms.end(), [w](const PredictorTerm& t) { return t.first == w; });
            if (!taken) terms.emplace_back(w, 0.0);
        }
        for (PredictorTerm& t : terms) t.second = 1.0 / static_cast<double>(terms.size());
        _predictors.push_back(std::move(terms));
        _orientable.push_back(nb.orientable);
    }
    // The last vertex removed is coded first; the orientation flags stay in
    // removal order.
    std::reverse(_order.begin(), _order.end());
    std::reverse(_predictors.begin(), _predictors.end());
    return !_order.empty();
}

LODConnectivity::LODConnectivity(int _nSL, const FaceList& _faces, int _V) : nSL(_nSL), V(_V) {
    if (_nSL < 1)
        throw Error("the layered decomposition needs at least one spatial layer, but nSL = " + std::to_string(_nSL));
    if (_V < 0) throw Error("the layered decomposition needs a vertex count of at least 0, but V = " + std::to_string(_V));
    vertexOrder_.resize(static_cast<size_t>(nSL));
    vertexPredictor_.resize(static_cast<size_t>(nSL));
    isOrientable_.resize(static_cast<size_t>(nSL));

    Graph graph(_faces, V);
    LayerDecimator decimator(graph);
    // A step that removes nothing leaves the graph as it was, so every later
    // step would find the same nothing: those layers stay empty.
    bool reducible = true;
    for (int l = nSL - 1; l >= 1; --l) {
        if (reducible) reducible = decimator.decimateLayer(vertexOrder_[l], vertexPredictor_[l], isOrientable_[l]);
        ORV_CHECK(vertexOrder_[l].size()==isOrientable_[l].size(), "Decoder/LODConnectivity");
    }

    VertexTraverser traverser(graph);
    traverser.traverse(vertexOrder_[0]);
    traverser.computePredictors(vertexOrder_[0], vertexPredictor_[0]);
    isOrientable_[0].assign(vertexOrder_[0].size(), false);

    std::vector<bool> isVisited(static_cast<size_t>(V), false);
    for (int l = 0; l < nSL; ++l)
        ORV_CHECK(VertexTraverser::isConsistent(vertexOrder_[l], vertexPredictor_[l], isVisited),
                  "Decoder/LODConnectivity");
}

}  // namespace orv
