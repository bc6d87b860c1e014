// VertexTraverser: the coding order and predictors of the base spatial layer
// (a breadth-first walk over the faces of what the decimation left), and the
// check that a layer's predictors only use vertices decoded before.
#pragma once

#include <vector>

#include "Common/Types.h"
#include "Decoder/Graph.h"

namespace orv {

class VertexTraverser {
public:
    // Binds the graph (which must outlive the traverser); deleted faces and
    // vertices count as visited from the start.
    explicit VertexTraverser(const Graph& _graph);

    // Fills the order: components in the order of their lowest unvisited
    // face, each walked breadth-first over shared edges; vertices in no live
    // face come last, ascending. Call once per traverser.
    void traverse(std::vector<int>& _order);
    // One term list per position: the ring neighbours that come earlier in
    // the order, in ring order, each weighing 1/n.
    void computePredictors(const std::vector<int>& _order, std::vector<Predictor>& _predictors) const;

    // True when every term refers to a vertex already flagged in isVisited;
    // flags each ordered vertex after its terms were checked.
    static bool isConsistent(const std::vector<int>& _vertexOrder, const std::vector<Predictor>& _vertexPredictor,
                             std::vector<bool>& isVisited);

private:
    const Graph& graph_;
    std::vector<bool> faceVisited_;
    std::vector<bool> vertexVisited_;
};

}  // namespace orv
