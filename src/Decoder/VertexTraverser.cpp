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
    : graph_(_graph), faceVisited_(_graph.faceDeletedFlags()), vertexVisited_(_graph.vertexDeletedFlags()) {}

namespace {

// The number of id pairs (i, j) with t[i] == u[j].
int sharedIds(const Graph::FaceIds& t, const Graph::FaceIds& u) {
    int count = 0;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) count += (t[i] == u[j]) ? 1 : 0;
    return count;
}

// Faces grouped under a key (an edge, or a vertex a face names twice) by a
// third vertex. A face visiting a key takes every group except those whose
// third vertex it must keep (at most two), and the taken groups are done for
// good: their faces are then queued or visited. So a vertex or an edge with
// very many faces costs each face about once, not once per neighbour.
class GroupIndex {
public:
    struct Entry {
        uint64_t key;
        int third, face;
    };

    explicit GroupIndex(std::vector<Entry> _entries) {
        std::sort(_entries.begin(), _entries.end(), [](const Entry& a, const Entry& b) {
            if (a.key != b.key) return a.key < b.key;
            if (a.third != b.third) return a.third < b.third;
            return a.face < b.face;
        });
        faces_.reserve(_entries.size());
        for (size_t e = 0; e < _entries.size(); ++e) {
            const bool newKey = e == 0 || _entries[e].key != _entries[e - 1].key;
            if (newKey) {
                keys_.push_back(_entries[e].key);
                keyFirst_.push_back(static_cast<int>(groupThird_.size()));
                keyCount_.push_back(0);
            }
            if (newKey || _entries[e].third != _entries[e - 1].third) {
                groupBegin_.push_back(static_cast<int>(e));
                groupThird_.push_back(_entries[e].third);
                active_.push_back(static_cast<int>(groupThird_.size()) - 1);
                ++keyCount_.back();
            }
            faces_.push_back(_entries[e].face);
        }
        groupBegin_.push_back(static_cast<int>(_entries.size()));  // end of the last group
    }

    static uint64_t edgeKey(int x, int y) {
        const auto a = static_cast<uint32_t>(std::min(x, y)), b = static_cast<uint32_t>(std::max(x, y));
        return (static_cast<uint64_t>(a) << 32) | b;
    }

    // Appends the faces of every group under the key whose third vertex is
    // neither keepA nor keepB, skipping faces already visited or queued.
    void take(uint64_t _key, int _keepA, int _keepB, const std::vector<bool>& _visited,
              const std::vector<bool>& _queued, std::vector<int>& _out) {
        const auto it = std::lower_bound(keys_.begin(), keys_.end(), _key);
        if (it == keys_.end() || *it != _key) return;
        const size_t k = static_cast<size_t>(it - keys_.begin());
        int* active = active_.data() + keyFirst_[k];
        int kept = 0;
        for (int i = 0; i < keyCount_[k]; ++i) {
            const int group = active[i];
            if (groupThird_[group] == _keepA || groupThird_[group] == _keepB) {
                active[kept++] = group;
                continue;
            }
            for (int e = groupBegin_[group]; e < groupBegin_[group + 1]; ++e) {
                const int g = faces_[e];
                if (!_visited[g] && !_queued[g]) _out.push_back(g);
            }
        }
        keyCount_[k] = kept;
    }

private:
    std::vector<uint64_t> keys_;   // ascending
    std::vector<int> keyFirst_;    // first slot of the key's active groups
    std::vector<int> keyCount_;    // active groups left
    std::vector<int> active_;      // group ids, per key a compacted slot range
    std::vector<int> groupBegin_;  // entry range of each group (one extra end entry)
    std::vector<int> groupThird_;
    std::vector<int> faces_;       // face of each entry
};

// Every face that shares exactly two vertex ids with a face f, found without
// scanning the faces of f's vertices. With all three ids distinct, f's
// neighbours are the proper faces holding one of f's edges with a third
// vertex off f, and the faces naming one of f's vertices twice with their
// other vertex off f. With f = (a, a, b) they are the faces naming a once and
// not naming b, and the faces naming b twice but not a. A face naming one
// vertex three times has none.
class SharedEdgeSearch {
public:
    explicit SharedEdgeSearch(const Graph& _graph) : graph_(_graph) {
        std::vector<GroupIndex::Entry> edgeEntries, doubleEntries;
        for (int f = 0; f < _graph.numFaces(); ++f) {
            if (_graph.isFaceDeleted(f)) continue;
            const Graph::FaceIds& t = _graph.fv(f);
            if (!_graph.isDegenerate(f)) {
                for (int k = 0; k < 3; ++k)
                    edgeEntries.push_back({GroupIndex::edgeKey(t[k], t[(k + 1) % 3]), t[(k + 2) % 3], f});
            } else if (t[0] != t[1] || t[1] != t[2]) {
                const int doubled = t[0] == t[1] || t[0] == t[2] ? t[0] : t[1];
                const int single = t[0] != doubled ? t[0] : t[1] != doubled ? t[1] : t[2];
                doubleEntries.push_back({static_cast<uint64_t>(doubled), single, f});
                hasDoubles_ = true;
            }
        }
        edges_ = std::make_unique<GroupIndex>(std::move(edgeEntries));
        doubles_ = std::make_unique<GroupIndex>(std::move(doubleEntries));
        if (!hasDoubles_) return;
        // Faces naming each vertex exactly once, for the faces around a
        // degenerate one; visited and queued faces are dropped as met.
        singles_.resize(static_cast<size_t>(_graph.numVertices()));
        for (int f = 0; f < _graph.numFaces(); ++f) {
            if (_graph.isFaceDeleted(f)) continue;
            const Graph::FaceIds& t = _graph.fv(f);
            for (int k = 0; k < 3; ++k) {
                const int w = t[k];
                const int times = (t[0] == w) + (t[1] == w) + (t[2] == w);
                if (times == 1) singles_[w].push_back(f);
            }
        }
    }

    void neighbours(int f, const std::vector<bool>& _visited, const std::vector<bool>& _queued,
                    std::vector<int>& _out) {
        _out.clear();
        const Graph::FaceIds& t = graph_.fv(f);
        if (t[0] != t[1] && t[1] != t[2] && t[0] != t[2]) {
            for (int k = 0; k < 3; ++k) {
                const int x = t[k], y = t[(k + 1) % 3], z = t[(k + 2) % 3];
                edges_->take(GroupIndex::edgeKey(x, y), z, -1, _visited, _queued, _out);
                if (hasDoubles_) doubles_->take(static_cast<uint64_t>(x), y, z, _visited, _queued, _out);
            }
        } else if (t[0] != t[1] || t[1] != t[2]) {
            const int a = t[0] == t[1] || t[0] == t[2] ? t[0] : t[1];
            const int b = t[0] != a ? t[0] : t[1] != a ? t[1] : t[2];
            std::vector<int>& list = singles_[a];
            size_t kept = 0;
            for (int g : list) {
                if (_visited[g] || _queued[g]) continue;
                list[kept++] = g;
                if (sharedIds(t, graph_.fv(g)) == 2) _out.push_back(g);
            }
            list.resize(kept);
            doubles_->take(static_cast<uint64_t>(b), a, -1, _visited, _queued, _out);
        }
        std::sort(_out.begin(), _out.end());
    }

private:
    const Graph& graph_;
    std::unique_ptr<GroupIndex> edges_, doubles_;
    bool hasDoubles_ = false;
    std::vector<std::vector<int>> singles_;
};

}  // namespace

void VertexTraverser::traverse(std::vector<int>& _order) {
    _order.clear();
    const int numFaces = graph_.numFaces();
    const int numVertices = graph_.numVertices();
    // A face already waiting in the queue is not queued again: its later
    // copies would only be popped after it was visited and be skipped, so the
    // walk is the same with far less queue traffic on non-manifold edges.
    std::vector<bool> queued(faceVisited_.size(), false);
    // The neighbours of a face are the faces with which it shares exactly two
    // vertex ids (counted over all id pairs, repeats included); the search
    // finds them through indexes rather than by counting against every face
    // of f's vertices, which a vertex with very many faces makes quadratic.
    SharedEdgeSearch search(graph_);
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
            search.neighbours(f, faceVisited_, queued, next);
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
    // takenBy[w] == i: w is already a term of position i (a ring may repeat a
    // vertex; a marker keeps long rings from a quadratic repeat test).
    std::vector<size_t> takenBy(static_cast<size_t>(graph_.numVertices()), SIZE_MAX);
    std::vector<int> ring;
    for (size_t i = 0; i < _order.size(); ++i) {
        const int u = _order[i];
        graph_.getNeighbors(u, ring);
        Predictor& terms = _predictors[i];
        for (int w : ring) {
            if (!known[w] || takenBy[w] == i) continue;
            takenBy[w] = i;
            terms.emplace_back(w, 0.0);
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
