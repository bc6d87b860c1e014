// Graph: construction, fan and ring queries, and the in-place edits used by
// the layered decomposition. See Graph.h for the ordering contract.
#include "Decoder/Graph.h"

#include <algorithm>
#include <utility>

#include "Common/Check.h"
#include "Decoder/GraphFan.h"

// The checks below are reported with the conditions written in their
// customary form, e.g. "_f>=0 && _f<fv_.size()"; the index is tested for a
// negative value first, so the mixed-sign comparison is the intended one.
#pragma GCC diagnostic ignored "-Wsign-compare"

namespace orv {

namespace {

// Validates the incoming faces before anything is linked. The parameter is
// named like the member it fills so that the reports read the same.
void checkIncomingFaces(const FaceList& fv_, int _size) {
    for (size_t f = 0; f < fv_.size(); ++f) {
        ORV_CHECK(fv_[f].size()==3, "Graph");
        for (int k = 0; k < 3; ++k) {
            ORV_CHECK(fv_[f][k]<_size, "Graph");
            // Negative ids are refused as well; nothing else would catch them.
            ORV_CHECK(fv_[f][k]>=0, "Graph");
        }
    }
}

// Removes every occurrence of x from the list, keeping the order of the rest.
// The lists are ascending whenever a face is deleted, so the entries are
// found by binary search (a vertex with very many faces would otherwise make
// every deletion around it a full scan); an absent face still gets the scan,
// which keeps the result right for any list.
void eraseAll(std::vector<int>& _list, int x) {
    const auto [lo, hi] = std::equal_range(_list.begin(), _list.end(), x);
    if (lo != hi) {
        _list.erase(lo, hi);
        return;
    }
    _list.erase(std::remove(_list.begin(), _list.end(), x), _list.end());
}

void insertSorted(std::vector<int>& _list, int x) { _list.insert(std::upper_bound(_list.begin(), _list.end(), x), x); }

}  // namespace

Graph::Graph(const FaceList& _faces, int _size) {
    ORV_CHECK(_size>=0, "Graph");
    checkIncomingFaces(_faces, _size);
    fv_.resize(_faces.size());
    vf_.resize(static_cast<size_t>(_size));
    std::vector<int> counts(static_cast<size_t>(_size), 0);
    for (const Face& t : _faces)
        for (int w : t) ++counts[w];
    // A little headroom: a collapse leaves its target about two faces more.
    for (size_t v = 0; v < vf_.size(); ++v) vf_[v].reserve(static_cast<size_t>(counts[v]) + 2);
    for (size_t f = 0; f < _faces.size(); ++f) {
        for (int k = 0; k < 3; ++k) {
            fv_[f][k] = _faces[f][k];
            vf_[_faces[f][k]].push_back(static_cast<int>(f));
        }
    }
    // Faces are appended in ascending order already; a face naming a vertex
    // twice stands twice, next to itself.
    for (auto& list : vf_) std::sort(list.begin(), list.end());
    vertexDeleted_.assign(vf_.size(), false);
    faceDeleted_.assign(fv_.size(), false);
}

FaceList Graph::getFaces() const {
    FaceList faces;
    for (size_t f = 0; f < fv_.size(); ++f)
        if (!faceDeleted_[f]) faces.push_back(Face(fv_[f].begin(), fv_[f].end()));
    return faces;
}

bool Graph::isDegenerate(int _f) const {
    ORV_CHECK(_f>=0 && _f<fv_.size(), "Graph");
    ORV_CHECK(fv_[_f].size()==3, "Graph");
    const FaceIds& t = fv_[_f];
    return t[0] == t[1] || t[1] == t[2] || t[0] == t[2];
}

bool Graph::rotateToFront(FaceIds& _list, int z) {
    const auto it = std::find(_list.begin(), _list.end(), z);
    if (it == _list.end()) return false;
    std::rotate(_list.begin(), it, _list.end());
    return true;
}

bool Graph::rotateToFront(std::vector<int>& _list, int z) {
    const auto it = std::find(_list.begin(), _list.end(), z);
    if (it == _list.end()) return false;
    std::rotate(_list.begin(), it, _list.end());
    return true;
}

bool Graph::isNeighborFaceCCW(int _f0, int _f1, int _vAnchor) const {
    const fan::Spoke t0 = fan::spokeOf(fv(_f0), _vAnchor);
    const fan::Spoke t1 = fan::spokeOf(fv(_f1), _vAnchor);
    return fan::followsCCW(t0, t1);
}

bool Graph::isNeighborFaceCW(int _f0, int _f1, int _vAnchor) const {
    const fan::Spoke t0 = fan::spokeOf(fv(_f0), _vAnchor);
    const fan::Spoke t1 = fan::spokeOf(fv(_f1), _vAnchor);
    return fan::followsCW(t0, t1);
}

bool Graph::chainFan(const int* _faces, int _n, int z, int* _chain) const {
    fan::SpokeBuffer spokes(_n);
    for (int i = 0; i < _n; ++i) spokes[i] = fan::spokeOf(fv(_faces[i]), z);
    fan::IndexBuffer order(_n);
    if (!fan::chainSpokes(spokes.data(), _n, order.data())) return false;
    for (int i = 0; i < _n; ++i) _chain[i] = _faces[order[i]];
    return true;
}

bool Graph::orderFan(std::vector<int>& _faces, int z) const {
    if (_faces.empty()) return false;
    const int n = static_cast<int>(_faces.size());
    fan::IndexBuffer chain(n);
    if (!chainFan(_faces.data(), n, z, chain.data())) return false;
    std::copy(chain.data(), chain.data() + n, _faces.begin());
    return true;
}

bool Graph::isFan(const std::vector<int>& _faces, int z) const {
    for (size_t i = 0; i + 1 < _faces.size(); ++i)
        if (!isNeighborFaceCCW(_faces[i], _faces[i + 1], z)) return false;
    return true;
}

bool Graph::isClosedFan(const std::vector<int>& _faces, int z) const {
    ORV_CHECK(!_faces.empty(), "Graph");
    return isFan(_faces, z) && isNeighborFaceCCW(_faces.back(), _faces.front(), z);
}

bool Graph::getOrderedRing(int z, std::vector<int>& _ring) const {
    const std::vector<int>& faces = vf(z);
    const int n = static_cast<int>(faces.size());
    if (n == 0) {
        _ring.clear();
        return false;
    }
    fan::SpokeBuffer spokes(n);
    for (int i = 0; i < n; ++i) spokes[i] = fan::spokeOf(fv_[faces[i]], z);
    fan::IndexBuffer order(n);
    if (!fan::chainSpokes(spokes.data(), n, order.data())) {
        _ring.clear();
        return false;
    }
    // The ring is the second id of every rotated face in chain order; an open
    // fan also contributes the third id of its last face.
    const bool closed = fan::followsCCW(spokes[order[n - 1]], spokes[order[0]]);
    _ring.resize(static_cast<size_t>(closed ? n : n + 1));
    int* out = _ring.data();
    for (int i = 0; i < n; ++i) out[i] = spokes[order[i]].p;
    if (!closed) out[n] = spokes[order[n - 1]].q;
    return closed;
}

std::vector<int> Graph::getOrderedRing(int z) const {
    std::vector<int> ring;
    getOrderedRing(z, ring);
    return ring;
}

void Graph::getNeighborSet(int z, std::vector<int>& _set) const {
    _set.clear();
    const std::vector<int>& faces = vf(z);
    if (faces.size() > 16) {
        for (int f : faces)
            for (int w : fv_[f])
                if (w != z) _set.push_back(w);
        std::sort(_set.begin(), _set.end());
        _set.erase(std::unique(_set.begin(), _set.end()), _set.end());
        return;
    }
    // Short lists: insertion into a sorted stack buffer, dropping repeats.
    int buf[48];
    int n = 0;
    for (int f : faces)
        for (int w : fv_[f]) {
            if (w == z) continue;
            int i = n;
            while (i > 0 && buf[i - 1] > w) --i;
            if (i > 0 && buf[i - 1] == w) continue;
            for (int k = n; k > i; --k) buf[k] = buf[k - 1];
            buf[i] = w;
            ++n;
        }
    _set.assign(buf, buf + n);
}

std::vector<int> Graph::getNeighborSet(int z) const {
    std::vector<int> set;
    getNeighborSet(z, set);
    return set;
}

void Graph::getNeighbors(int z, std::vector<int>& _ring) const {
    getOrderedRing(z, _ring);
    if (_ring.empty()) getNeighborSet(z, _ring);
}

std::vector<int> Graph::getNeighbors(int z) const {
    std::vector<int> ring;
    getNeighbors(z, ring);
    return ring;
}

void Graph::replaceVertex(int _f, int _old, int _new) {
    ORV_CHECK(_f>=0 && _f<fv_.size(), "Graph");
    ORV_CHECK(fv_[_f].size()==3, "Graph");
    for (int& w : fv_[_f])
        if (w == _old) w = _new;
}

bool Graph::deleteFace(int _f) {
    ORV_CHECK(_f>=0 && _f<fv_.size(), "Graph");
    if (faceDeleted_[_f]) return false;
    faceDeleted_[_f] = true;
    for (int w : fv_[_f]) eraseAll(vf_[w], _f);
    return true;
}

void Graph::removeDegenerateFaces(int u) {
    // Deleting edits the list being walked, so walk a copy.
    const std::vector<int>& list = vf(u);
    const int n = static_cast<int>(list.size());
    fan::IndexBuffer faces(n);
    std::copy(list.begin(), list.end(), faces.data());
    for (int i = 0; i < n; ++i)
        if (isDegenerate(faces[i])) deleteFace(faces[i]);
}

bool Graph::isInNeighborSet(int z, int w) const {
    if (w == z) return false;
    for (int f : vf(z))
        for (int x : fv_[f])
            if (x == w) return true;
    return false;
}

bool Graph::collapseInto(int v, int u) {
    if (!isInNeighborSet(v, u)) return false;
    // Every face holding v is also in v's list, so renaming v in those faces
    // also covers the faces of u that hold v.
    for (int f : vf_[v])
        for (int& w : fv_[f])
            if (w == v) w = u;
    // u's list would now be its old entries followed by all of v's, and every
    // degenerate face in it is deleted (from every list it stands in). The
    // merged list is built in a scratch buffer so that u's list is written
    // once, without growing through the intermediate, longer state.
    const std::vector<int>& listU = vf_[u];
    const std::vector<int>& listV = vf_[v];
    const int n = static_cast<int>(listU.size() + listV.size());
    fan::IndexBuffer merged(n);
    std::copy(listU.begin(), listU.end(), merged.data());
    std::copy(listV.begin(), listV.end(), merged.data() + listU.size());
    int kept = 0;
    for (int i = 0; i < n; ++i) {
        const int f = merged[i];
        const FaceIds& t = fv_[f];
        if (t[0] == t[1] || t[1] == t[2] || t[0] == t[2]) {
            if (!faceDeleted_[f]) {
                faceDeleted_[f] = true;
                for (int w : fv_[f])
                    if (w != u) eraseAll(vf_[w], f);
            }
        } else {
            merged[kept++] = f;
        }
    }
    // Short lists: insertion sort.
    for (int i = 1; i < kept; ++i) {
        const int x = merged[i];
        int j = i;
        for (; j > 0 && merged[j - 1] > x; --j) merged[j] = merged[j - 1];
        merged[j] = x;
    }
    vf_[u].assign(merged.data(), merged.data() + kept);
    vf_[v].clear();
    vertexDeleted_[v] = true;
    return true;
}

void Graph::flipEdge(int _f0, int _f1, int _vAnchor) {
    ORV_CHECK(isNeighborFaceCCW(_f0, _f1, _vAnchor), "Graph");
    deleteFace(_f0);
    faceDeleted_[_f0] = false;
    deleteFace(_f1);
    faceDeleted_[_f1] = false;
    FaceIds t0 = fv_[_f0];
    FaceIds t1 = fv_[_f1];
    rotateToFront(t0, _vAnchor);
    rotateToFront(t1, _vAnchor);
    const int p = t0[1], q = t0[2], s = t1[2];
    replaceVertex(_f0, q, s);
    replaceVertex(_f1, _vAnchor, p);
    // Sorted insertion leaves every list exactly as append-then-sort would.
    for (int k = 0; k < 3; ++k) {
        insertSorted(vf_[fv_[_f0][k]], _f0);
        insertSorted(vf_[fv_[_f1][k]], _f1);
    }
}

}  // namespace orv
