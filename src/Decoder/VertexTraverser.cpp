// VertexTraverser: base-layer order by a breadth-first walk over faces, its
// predictors from already ordered ring neighbours, and the decoding-order check
// applied to every layer.
#include "Decoder/VertexTraverser.h"

#include <algorithm>
#include <deque>

#include "Common/Check.h"

namespace orv {

VertexTraverser::VertexTraverser(const Graph& _graph)
    : graph_(_graph), faceVisited_(_graph.faceDeletedFlags()), vertexVisited_(_graph.vertexDeletedFlags()) {}

void VertexTraverser::neighborFaces(int f, std::vector<int>& _faces) const {
    _faces.clear();
    const Graph::FaceIds& t = graph_.fv(f);
    for (int k = 0; k < 3; ++k) {
        for (int g : graph_.vf(t[k])) {
            const Graph::FaceIds& u = graph_.fv(g);
            int count = 0;
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < 3; ++j) count += (t[i] == u[j]) ? 1 : 0;
            if (count == 2) _faces.push_back(g);
        }
    }
    std::sort(_faces.begin(), _faces.end());
}

void VertexTraverser::traverse(std::vector<int>& _order) {
    _order.clear();
    const int numFaces = graph_.numFaces();
    const int numVertices = graph_.numVertices();
    // A face already waiting in the queue is not queued again: its later
    // copies would only be popped after it was visited and be skipped, so the
    // walk is the same with far less queue traffic on non-manifold edges.
    std::vector<bool> queued(faceVisited_.size(), false);
    std::deque<int> queue;
    std::vector<int> next;
    int start = 0;  // faces below it are all visited: the lowest unvisited id only grows
    for (;;) {
        while (start < numFaces && faceVisited_[start]) ++start;
        if (start == numFaces) break;
        queue.push_back(start);
        queued[start] = true;
        while (!queue.empty()) {
            const int f = queue.front();
            queue.pop_front();
            if (faceVisited_[f]) continue;
            faceVisited_[f] = true;
            neighborFaces(f, next);
            for (int g : next)
                if (!faceVisited_[g] && !queued[g]) {
                    queue.push_back(g);
                    queued[g] = true;
                }
            for (int v : graph_.fv(f)) {
                if (!vertexVisited_[v]) {
                    vertexVisited_[v] = true;
                    _order.push_back(v);
                    ORV_CHECK(!graph_.isVertexDeleted(v), "Decoder/VertexTraverser");
                }
            }
        }
    }
    for (int v = 0; v < numVertices; ++v)
        if (!vertexVisited_[v]) {
            vertexVisited_[v] = true;
            _order.push_back(v);
        }
}

void VertexTraverser::computePredictors(const std::vector<int>& _order, std::vector<Predictor>& _predictors) const {
    _predictors.clear();
    _predictors.resize(_order.size());
    std::vector<bool> known(static_cast<size_t>(graph_.numVertices()), false);
    std::vector<int> ring;
    for (size_t i = 0; i < _order.size(); ++i) {
        const int u = _order[i];
        graph_.getNeighbors(u, ring);
        Predictor& terms = _predictors[i];
        for (int w : ring) {
            if (!known[w]) continue;
            const bool taken = std::any_of(terms.begin(), terms.end(), [w](const PredictorTerm& t) { return t.first == w; });
            if (!taken) terms.emplace_back(w, 0.0);
        }
        for (PredictorTerm& t : terms) t.second = 1.0 / static_cast<double>(terms.size());
        known[u] = true;
    }
}

bool VertexTraverser::isConsistent(const std::vector<int>& _vertexOrder, const std::vector<Predictor>& _vertexPredictor,
                                   std::vector<bool>& isVisited) {
    ORV_CHECK(_vertexOrder.size()==_vertexPredictor.size(), "Decoder/VertexTraverser");
    const auto flagged = [&](int v) { return v >= 0 && static_cast<size_t>(v) < isVisited.size() && isVisited[v]; };
    bool consistent = true;
    for (size_t i = 0; i < _vertexOrder.size(); ++i) {
        for (const PredictorTerm& t : _vertexPredictor[i])
            if (!flagged(t.first)) consistent = false;
        const int v = _vertexOrder[i];
        if (v >= 0 && static_cast<size_t>(v) < isVisited.size()) isVisited[v] = true;
    }
    return consistent;
}

}  // namespace orv
