// Fan chaining around one centre vertex, shared by the graph's fan and ring
// queries. A face is seen from the centre z as its "spoke" (p, q): the face
// rotated to (z, p, q). Chaining then needs only these pairs, computed once per
// face instead of once per comparison. Two chaining routines give identical
// results: a direct scan for the short lists of ordinary meshes and an indexed
// one that keeps very large fans (hostile or unusual input) from going
// quadratic.
#pragma once

#include <array>
#include <memory>

#include "Common/Types.h"

namespace orv::fan {

struct Spoke {
    int p = 0;
    int q = 0;
    bool ok = false;  // false when the face does not hold the centre at all
};

// The face rotated so that the first occurrence of z leads.
inline Spoke spokeOf(const std::array<int, 3>& _t, int z) {
    if (_t[0] == z) return Spoke{_t[1], _t[2], true};
    if (_t[1] == z) return Spoke{_t[2], _t[0], true};
    if (_t[2] == z) return Spoke{_t[0], _t[1], true};
    return Spoke{};
}

// b follows a counter-clockwise: they share the edge (z, a.q) and do not fold
// back onto each other.
inline bool followsCCW(const Spoke& a, const Spoke& b) { return a.ok && b.ok && a.q == b.p && a.p != b.q; }
// b follows a clockwise (the mirror test).
inline bool followsCW(const Spoke& a, const Spoke& b) { return a.ok && b.ok && a.p == b.q && a.q != b.p; }

// A buffer that lives on the stack for ordinary valences.
template <class T, int Inline = 24>
class SmallBuffer {
public:
    explicit SmallBuffer(int _n) {
        if (_n > Inline) {
            heap_ = std::make_unique<T[]>(static_cast<size_t>(_n));
            data_ = heap_.get();
        }
    }
    SmallBuffer(const SmallBuffer&) = delete;
    SmallBuffer& operator=(const SmallBuffer&) = delete;
    T* data() { return data_; }
    T& operator[](int i) { return data_[i]; }

private:
    std::array<T, Inline> inline_;  // left uninitialised: callers fill what they use
    std::unique_ptr<T[]> heap_;
    T* data_ = inline_.data();
};

using SpokeBuffer = SmallBuffer<Spoke>;
using IndexBuffer = SmallBuffer<int>;

// Chains the n spokes into one counter-clockwise fan: entry 0 first, then
// forward (counter-clockwise) as far as possible, then backward (clockwise),
// each step taking the lowest-index unplaced entry that fits. On success
// writes the entry indices front to back into _order and returns true.
bool chainSpokes(const Spoke* _spokes, int _n, int* _order);

// The two implementations behind chainSpokes, exposed so that tests can hold
// them to the same answers. The scan takes up to 32 entries (more go to the
// indexed routine).
bool chainSpokesScan(const Spoke* _spokes, int _n, int* _order);
bool chainSpokesIndexed(const Spoke* _spokes, int _n, int* _order);

}  // namespace orv::fan
