// FrameScheduler: runs the frames of a coding order on several threads. A
// frame may be coded once every frame it references is, so the frames of a
// temporal layer, and the next group's key frame beside the current group's
// later layers, are coded at the same time; the results are handed on in
// coding order on the calling thread. Which thread codes a frame never
// changes what it produces, so the output does not depend on the thread
// count.
#pragma once

#include <functional>
#include <vector>

namespace orv {

// Runs _code(p, w) for every coding position p in 0.._deps.size()-1 on up to
// _threads threads (w: the index of the thread, 0 the caller, below
// _threads; fewer run where the platform has no more threads), starting p only once every position in _deps[p] is
// done; each of those must lie before p. _deliver(p) runs on the calling
// thread for p = 0, 1, ... in turn, once p is done. When _code or _deliver
// throws, no later position is started and the exception of the earliest
// failing position is rethrown, after the positions before it were
// delivered: exactly what one thread coding in order would report.
void runFramesInOrder(const std::vector<std::vector<int>>& _deps, int _threads,
                      const std::function<void(int, int)>& _code, const std::function<void(int)>& _deliver);

}  // namespace orv
