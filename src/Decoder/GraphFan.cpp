// Fan chaining: the direct scan for ordinary valences and an indexed variant
// that returns the same chain in O(n log n) for very large fans.
#include "Decoder/GraphFan.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <map>
#include <set>
#include <utility>
#include <vector>

namespace orv::fan {

namespace {

// Above this many faces around one vertex the direct scan's quadratic cost
// starts to matter; real meshes rarely get there.
constexpr int kScanLimit = 32;

}  // namespace

// The direct scan, for up to 32 entries: unplaced entries are bits of one
// word, walked from the lowest index upward.
bool chainSpokesScan(const Spoke* _spokes, int _n, int* _order) {
    if (_n <= 0) return false;
    if (_n > 32) return chainSpokesIndexed(_spokes, _n, _order);
    // An entry without the centre never follows anything, so it can only be
    // placed as the whole chain.
    for (int j = 0; j < _n; ++j)
        if (!_spokes[j].ok) {
            if (_n != 1) return false;
            _order[0] = 0;
            return true;
        }
    uint32_t unplaced = (_n == 32 ? ~uint32_t{0} : (uint32_t{1} << _n) - 1) & ~uint32_t{1};
    int chain[64];  // double-ended: starts in the middle
    int head = _n, tail = _n;
    chain[tail++] = 0;
    // Forward: the next face shares the back face's edge (z, q) and does not
    // fold back onto it.
    for (int back = 0;;) {
        const int want = _spokes[back].q, avoid = _spokes[back].p;
        int found = -1;
        for (uint32_t m = unplaced; m != 0; m &= m - 1) {
            const int j = std::countr_zero(m);
            if (_spokes[j].p == want && _spokes[j].q != avoid) {
                found = j;
                break;
            }
        }
        if (found < 0) break;
        chain[tail++] = found;
        unplaced &= ~(uint32_t{1} << found);
        back = found;
    }
    // Backward: the mirror test from the front face.
    for (int front = 0;;) {
        const int want = _spokes[front].p, avoid = _spokes[front].q;
        int found = -1;
        for (uint32_t m = unplaced; m != 0; m &= m - 1) {
            const int j = std::countr_zero(m);
            if (_spokes[j].q == want && _spokes[j].p != avoid) {
                found = j;
                break;
            }
        }
        if (found < 0) break;
        chain[--head] = found;
        unplaced &= ~(uint32_t{1} << found);
        front = found;
    }
    if (unplaced != 0) return false;
    std::copy(chain + head, chain + tail, _order);
    return true;
}

// Entries with the same spoke (p, q) are interchangeable except for their
// index, and every step takes the lowest unplaced index that fits, so each
// group of equal spokes is consumed from its lowest index upward. A step then
// needs the group with the lowest next index among the groups with a given p
// (forward) or q (backward), except the one group that would fold back; the
// groups are kept in ordered sets keyed by their next index.
bool chainSpokesIndexed(const Spoke* _spokes, int _n, int* _order) {
    if (_n <= 0) return false;
    if (!_spokes[0].ok) {
        // Nothing chains to a face without the centre.
        if (_n != 1) return false;
        _order[0] = 0;
        return true;
    }
    std::vector<int> ids;
    ids.reserve(static_cast<size_t>(_n));
    for (int i = 0; i < _n; ++i) {
        if (!_spokes[i].ok) return false;  // such an entry can never be placed
        ids.push_back(i);
    }
    std::sort(ids.begin(), ids.end(), [&](int a, int b) {
        if (_spokes[a].p != _spokes[b].p) return _spokes[a].p < _spokes[b].p;
        if (_spokes[a].q != _spokes[b].q) return _spokes[a].q < _spokes[b].q;
        return a < b;
    });
    struct Group {
        int p, q;
        size_t next, end;  // unplaced entries are ids[next .. end)
    };
    std::vector<Group> groups;
    std::vector<int> groupOf(static_cast<size_t>(_n));
    for (size_t k = 0; k < ids.size(); ++k) {
        const Spoke& s = _spokes[ids[k]];
        if (groups.empty() || groups.back().p != s.p || groups.back().q != s.q) groups.push_back(Group{s.p, s.q, k, k});
        groups.back().end = k + 1;
        groupOf[ids[k]] = static_cast<int>(groups.size()) - 1;
    }
    using Fronts = std::set<std::pair<int, int>>;  // (lowest unplaced index, group)
    std::map<int, Fronts> byP, byQ;
    for (size_t g = 0; g < groups.size(); ++g) {
        const int front = ids[groups[g].next];
        byP[groups[g].p].insert({front, static_cast<int>(g)});
        byQ[groups[g].q].insert({front, static_cast<int>(g)});
    }
    auto take = [&](int g) {
        Group& gr = groups[g];
        const int front = ids[gr.next];
        byP[gr.p].erase({front, g});
        byQ[gr.q].erase({front, g});
        ++gr.next;
        if (gr.next < gr.end) {
            byP[gr.p].insert({ids[gr.next], g});
            byQ[gr.q].insert({ids[gr.next], g});
        }
        return front;
    };
    // The lowest-index group in the set whose other end differs from avoid.
    auto pick = [&](std::map<int, Fronts>& index, int key, bool matchQ, int avoid) {
        const auto it = index.find(key);
        if (it == index.end()) return -1;
        for (const auto& [front, g] : it->second) {
            const int other = matchQ ? groups[g].q : groups[g].p;
            if (other != avoid) return g;
        }
        return -1;
    };
    std::vector<int> chain(2 * static_cast<size_t>(_n));
    size_t head = static_cast<size_t>(_n), tail = head;
    chain[tail++] = take(groupOf[0]);
    for (;;) {
        const Spoke& back = _spokes[chain[tail - 1]];
        const int g = pick(byP, back.q, true, back.p);
        if (g < 0) break;
        chain[tail++] = take(g);
    }
    for (;;) {
        const Spoke& front = _spokes[chain[head]];
        const int g = pick(byQ, front.p, false, front.q);
        if (g < 0) break;
        chain[--head] = take(g);
    }
    if (tail - head != static_cast<size_t>(_n)) return false;
    std::copy(chain.begin() + static_cast<long>(head), chain.begin() + static_cast<long>(tail), _order);
    return true;
}

bool chainSpokes(const Spoke* _spokes, int _n, int* _order) {
    return _n <= kScanLimit ? chainSpokesScan(_spokes, _n, _order) : chainSpokesIndexed(_spokes, _n, _order);
}

}  // namespace orv::fan
