// FrameCodingOrderGen: the hierarchical frame coding order. Frame 0 first, then
// groups of meshes of 2^(nTL-1) frames (smaller at the end), each coded key
// frame first and then filled in by bisection, coarse intervals first.
#pragma once

#include <vector>

namespace orv {

enum GOMType { OPEN = 0, CLOSED_REF_FIRST = 1, CLOSED_INTRA = 2 };

void generateFrameCodingOrder(std::vector<int>& _f, std::vector<std::vector<int>>& _rf, std::vector<int>& _tl, int F,
                              int nTL, bool closedRefFirst, int openRun);

void generateGOM(std::vector<int>& _f, std::vector<std::vector<int>>& _rf, std::vector<int>& _tl, int _fBegin,
                 int _sizeOpenGOM, GOMType _gomType);

}  // namespace orv
