// The working side of the layered decomposition: one decimation step on the
// working graph (candidate search, pattern choice, removal). Internal to the
// decomposition; the header exists so that tests can reach the steps.
#pragma once

#include <algorithm>
#include <vector>

#include "Common/Types.h"
#include "Decoder/Graph.h"

namespace orv {

// The ring data of one candidate, computed once and shared by the pattern
// costs and the removal (the graph does not change in between).
struct Neighbourhood {
    std::vector<int> ring;       // ordered ring, or the neighbour set when it cannot be ordered
    std::vector<int> set;        // neighbour set, ascending
    bool orientable = false;     // the ring is ordered
    bool closedFan = false;      // the faces form one closed counter-clockwise fan
    int faceCount = 0;           // entries of the vertex's face list
    std::vector<int> ringFaceCounts;  // entries of the face list of every ring vertex
    int ringDeviation = 0;            // sum of |ringFaceCounts[k] - 6|

    bool isNeighbour(int w) const { return std::binary_search(set.begin(), set.end(), w); }
};

// The working graph of the decomposition with the per-step selection flags.
class LayerDecimator {
public:
    explicit LayerDecimator(Graph& _graph) : graph_(_graph) { resetFlags(); }

    // One decimation step into the given layer lists; returns whether any
    // vertex was removed (when none was, the graph is unchanged).
    bool decimateLayer(std::vector<int>& _order, std::vector<Predictor>& _predictors, std::vector<bool>& _orientable);

    // The steps of decimateLayer, public for tests.
    // The independent set of the step, in the order the search reaches it.
    void selectCandidates(std::vector<int>& _candidates);
    // The neighbourhood of v as the pattern costs and the removal see it.
    void describe(int v, Neighbourhood& _nb) const;
    // The cheapest pattern: fan patterns 0..n-1 (collapse into ring[i]), and
    // for six-rings the three-ear patterns 6 and 7; earliest wins ties; -1
    // when none applies.
    int choosePattern(const Neighbourhood& _nb) const;
    int patternCost(int _m, const Neighbourhood& _nb) const;
    bool removeVertex(int v, int _m, const Neighbourhood& _nb);

private:
    void resetFlags();
    bool removeThreeEars(int v, int _apex, const Neighbourhood& _nb);
    int faceCount(int v) const { return static_cast<int>(graph_.vf(v).size()); }

    Graph& graph_;
    std::vector<bool> faceMarked_;
    std::vector<bool> vertexLocked_;
    std::vector<bool> vertexVisited_;
    std::vector<int> queue_;  // scratch of the candidate search
    std::vector<int> ring_;
};

}  // namespace orv
