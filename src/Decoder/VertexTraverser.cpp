// VertexTraverser: base-layer order by a breadth-first walk over faces, its
// predictors from already ordered ring neighbours, and the decoding-order check
// applied to every layer.
#include "Decoder/VertexTraverser.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <memory>

#include "Common/Check.h"

namespace orv {

VertexTraverser::VertexTraverser(const Graph& _graph)
    : graph_(_graph), faceVisited_(_graph.faceDeletedFlags()), vertexVisited_(_graph.vertexDeletedFlags()) {
    for (int f = 0; f < graph_.numFaces() && !anyDegenerate_; ++f)
        anyDegenerate_ = !graph_.isFaceDeleted(f) && graph_.isDegenerate(f);
}

namespace {

// The number of id pairs (i, j) with t[i] == u[j].
int sharedIds(const Graph::FaceIds& t, const Graph::FaceIds& u) {
    int count = 0;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) count += (t[i] == u[j]) ? 1 : 0;
    return count;
}

// The faces of every edge, for walking a graph without degenerate faces. A
// face then shares exactly two ids with f when it holds one of f's edges and
// its third vertex is not f's third vertex. The faces of an edge are grouped
// by their third vertex; a face visiting the edge takes every group but its
// own, after which those groups are done for good (their faces are queued or
// visited). Only the group of f's own vertex set stays, so a vertex or an
// edge with very many faces costs each face once, not once per neighbour.
class EdgeIndex {
public:
    explicit EdgeIndex(const Graph& _graph) {
        struct Entry {
            uint64_t key;
            int third, face;
        };
        std::vector<Entry> entries;
        for (int f = 0; f < _graph.numFaces(); ++f) {
            if (_graph.isFaceDeleted(f)) continue;
            const Graph::FaceIds& t = _graph.fv(f);
            for (int k = 0; k < 3; ++k)
                entries.push_back(Entry{keyOf(t[k], t[(k + 1) % 3]), t[(k + 2) % 3], f});
        }
        std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
            if (a.key != b.key) return a.key < b.key;
            if (a.third != b.third) return a.third < b.third;
            return a.face < b.face;
        });
        faces_.reserve(entries.size());
        for (size_t e = 0; e < entries.size(); ++e) {
            const bool newEdge = e == 0 || entries[e].key != entries[e - 1].key;
            if (newEdge) {
                edgeKey_.push_back(entries[e].key);
                edgeFirst_.push_back(static_cast<int>(groupBegin_.size()));
                edgeCount_.push_back(0);
            }
            if (newEdge || entries[e].third != entries[e - 1].third) {
                groupBegin_.push_back(static_cast<int>(e));
                groupThird_.push_back(entries[e].third);
                active_.push_back(static_cast<int>(groupThird_.size()) - 1);
                ++edgeCount_.back();
            }
            faces_.push_back(entries[e].face);
        }
        groupBegin_.push_back(static_cast<int>(entries.size()));  // end of the last group
    }

    // Appends the faces across edge (x, y) of a face whose third vertex is z,
    // skipping those already visited or queued.
    void take(int x, int y, int z, const std::vector<bool>& _visited, const std::vector<bool>& _queued,
              std::vector<int>& _out) {
        const auto it = std::lower_bound(edgeKey_.begin(), edgeKey_.end(), keyOf(x, y));
        const size_t edge = static_cast<size_t>(it - edgeKey_.begin());
        int* active = active_.data() + edgeFirst_[edge];
        int kept = 0;
        for (int i = 0; i < edgeCount_[edge]; ++i) {
            const int group = active[i];
            if (groupThird_[group] == z) {
                active[kept++] = group;
                continue;
            }
            for (int e = groupBegin_[group]; e < groupBegin_[group + 1]; ++e) {
                const int g = faces_[e];
                if (!_visited[g] && !_queued[g]) _out.push_back(g);
            }
        }
        edgeCount_[edge] = kept;
    }

private:
    static uint64_t keyOf(int x, int y) {
        const auto a = static_cast<uint32_t>(std::min(x, y)), b = static_cast<uint32_t>(std::max(x, y));
        return (static_cast<uint64_t>(a) << 32) | b;
    }

    std::vector<uint64_t> edgeKey_;  // ascending
    std::vector<int> edgeFirst_;     // first slot of the edge's active groups
    std::vector<int> edgeCount_;     // active groups left
    std::vector<int> active_;        // group ids, per edge a compacted slot range
    std::vector<int> groupBegin_;    // entry range of each group (one extra end entry)
    std::vector<int> groupThird_;
    std::vector<int> faces_;         // face of each entry
};

}  // namespace

void VertexTraverser::neighborFaces(int f, std::vector<int>& _faces) const {
    _faces.clear();
    const Graph::FaceIds& t = graph_.fv(f);
    for (int k = 0; k < 3; ++k) {
        for (int g : graph_.vf(t[k]))
            if (sharedIds(t, graph_.fv(g)) == 2) _faces.push_back(g);
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
    // Without degenerate faces the shared-edge search goes through an edge
    // index (same result, no quadratic cases); otherwise the direct count.
    std::unique_ptr<EdgeIndex> edges;
    if (!anyDegenerate_) edges = std::make_unique<EdgeIndex>(graph_);
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
            if (edges) {
                next.clear();
                const Graph::FaceIds& t = graph_.fv(f);
                for (int k = 0; k < 3; ++k) edges->take(t[k], t[(k + 1) % 3], t[(k + 2) % 3], faceVisited_, queued, next);
                std::sort(next.begin(), next.end());
            } else {
                neighborFaces(f, next);
            }
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
