// Graph: the triangle connectivity in an editable form, queried around a
// vertex (fans and rings) and edited in place (half-edge collapse, edge flip).
// The layered decomposition decimates a copy of it; the base-layer traversal
// walks what is left. Encoder and decoder must derive identical layers from the
// same faces, so every list order and every "first match wins" scan below is
// part of the stream format: no unordered containers, no unstable sorts.
#pragma once

#include <array>
#include <vector>

#include "Common/Check.h"
#include "Common/Types.h"

namespace orv {

class Graph {
public:
    // The three vertex ids of a face, in the file's winding order.
    using FaceIds = std::array<int, 3>;

    // Copies the faces and links every face into the lists of its vertices.
    // Every face must have three ids in 0.._size-1 (checked).
    Graph(const FaceList& _faces, int _size);

    int numVertices() const { return static_cast<int>(vf_.size()); }
    int numFaces() const { return static_cast<int>(fv_.size()); }

    // The accessors check their index (reported in the customary form; the
    // index is known non-negative when it meets the unsigned size).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wsign-compare"
    // The face's ids (deleted faces keep their last contents).
    const FaceIds& fv(int _f) const {
        ORV_CHECK(_f>=0, "Graph");
        ORV_CHECK(_f<fv_.size(), "Graph");
        return fv_[_f];
    }
    // The live faces around the vertex, ascending (a face naming the vertex
    // twice stands twice).
    const std::vector<int>& vf(int _v) const {
        ORV_CHECK(_v>=0, "Graph");
        ORV_CHECK(_v<vf_.size(), "Graph");
        return vf_[_v];
    }
    bool isVertexDeleted(int _v) const {
        ORV_CHECK(_v>=0, "Graph");
        ORV_CHECK(_v<vf_.size(), "Graph");
        return vertexDeleted_[_v];
    }
    bool isFaceDeleted(int _f) const {
        ORV_CHECK(_f>=0, "Graph");
        ORV_CHECK(_f<fv_.size(), "Graph");
        return faceDeleted_[_f];
    }
#pragma GCC diagnostic pop
    const std::vector<bool>& vertexDeletedFlags() const { return vertexDeleted_; }
    const std::vector<bool>& faceDeletedFlags() const { return faceDeleted_; }

    // The live faces, in ascending face id.
    FaceList getFaces() const;
    bool isDegenerate(int _f) const;

    // Rotates the list cyclically so that the first occurrence of z leads;
    // false (list unchanged) when z is absent.
    static bool rotateToFront(FaceIds& _list, int z);
    static bool rotateToFront(std::vector<int>& _list, int z);

    // _f1 follows _f0 counter-clockwise around the anchor (across edge (a, q)).
    bool isNeighborFaceCCW(int _f0, int _f1, int _vAnchor) const;
    // _f1 follows _f0 clockwise around the anchor (across edge (a, p)).
    bool isNeighborFaceCW(int _f0, int _f1, int _vAnchor) const;

    // Chains the faces into one counter-clockwise fan around z; false (list
    // untouched) when the list is empty or cannot be chained completely.
    bool orderFan(std::vector<int>& _faces, int z) const;
    bool isFan(const std::vector<int>& _faces, int z) const;
    bool isClosedFan(const std::vector<int>& _faces, int z) const;

    // The ring of z in counter-clockwise fan order; empty when the faces of z
    // do not form one consistently oriented fan.
    std::vector<int> getOrderedRing(int z) const;
    // The same into a caller's buffer (hot paths reuse it); returns whether
    // the fan is closed (meaningless when the ring is empty).
    bool getOrderedRing(int z, std::vector<int>& _ring) const;
    // Every other vertex of the faces of z, ascending, without repeats.
    std::vector<int> getNeighborSet(int z) const;
    void getNeighborSet(int z, std::vector<int>& _set) const;
    // Whether w is in the neighbour set of z, without building the set.
    bool isInNeighborSet(int z, int w) const;
    // The ordered ring, or the neighbour set when the ring cannot be ordered.
    std::vector<int> getNeighbors(int z) const;
    void getNeighbors(int z, std::vector<int>& _ring) const;

    void replaceVertex(int _f, int _old, int _new);
    bool deleteFace(int _f);
    void removeDegenerateFaces(int u);
    // Half-edge collapse of v into its neighbour u; false (no change) when u
    // is not a neighbour of v.
    bool collapseInto(int v, int u);
    // Replaces the edge shared by two counter-clockwise neighbour faces around
    // the anchor by the other diagonal of their quadrilateral.
    void flipEdge(int _f0, int _f1, int _vAnchor);

private:
    // Chains _n faces around z; on success writes the chain (face ids, front
    // to back) to _chain and returns true.
    bool chainFan(const int* _faces, int _n, int z, int* _chain) const;

    std::vector<FaceIds> fv_;
    std::vector<std::vector<int>> vf_;
    std::vector<bool> vertexDeleted_;
    std::vector<bool> faceDeleted_;
};

}  // namespace orv
