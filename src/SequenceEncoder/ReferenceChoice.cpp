// Signatures, the rate proxy, the cycle finder and the per-record choice of
// references. Everything here reads the original positions only and runs in
// a fixed order, so the choice (and with it the stream) is the same on every
// run and every thread count.
#include "SequenceEncoder/ReferenceChoice.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "Common/StreamRules.h"
#include "SequenceEncoder/FrameScheduler.h"

namespace orv {

namespace {

// _task(i) for i in 0.._n-1 on up to _threads threads, in blocks of
// consecutive indices (few enough to keep the hand-over cheap).
template <class Task>
void forEachIndependent(int _n, int _threads, const Task& _task) {
    if (_threads <= 1 || _n < 2) {
        for (int i = 0; i < _n; ++i) _task(i);
        return;
    }
    const int block = std::max(1, _n / (8 * _threads));
    const int blocks = (_n + block - 1) / block;
    const std::vector<std::vector<int>> independent(static_cast<size_t>(blocks));
    runFramesInOrder(independent, _threads, [&](int _b, int) {
        for (int i = _b * block, end = std::min(_n, i + block); i < end; ++i) _task(i);
    }, [](int) {});
}

}  // namespace

FrameSignatures frameSignatures(const GeometryT<double>& _positions, const FaceList& _faces, int _samples,
                                int _threads) {
    FrameSignatures s;
    const int V = _positions.V, F = _positions.F;
    s.frames = F;
    s.samples = std::max(0, std::min(V, _samples));
    if (s.samples == 0 || F == 0) return s;
    // Sample i is vertex i*V/S: evenly spread, and every vertex when V <= S.
    std::vector<int> slot(static_cast<size_t>(V), -1);
    std::vector<int> vertex(static_cast<size_t>(s.samples));
    for (int i = 0; i < s.samples; ++i) {
        const int v = static_cast<int>(static_cast<int64_t>(i) * V / s.samples);
        vertex[static_cast<size_t>(i)] = v;
        slot[static_cast<size_t>(v)] = i;
    }
    // Neighbours through the faces; an edge shared by two faces counts twice,
    // which only weights the mean.
    std::vector<std::vector<int>> neighbours(static_cast<size_t>(s.samples));
    for (const Face& face : _faces) {
        if (face.size() != 3) continue;
        for (int c = 0; c < 3; ++c) {
            const int v = face[static_cast<size_t>(c)];
            if (v < 0 || v >= V || slot[static_cast<size_t>(v)] < 0) continue;
            for (int o = 1; o < 3; ++o) {
                const int w = face[static_cast<size_t>((c + o) % 3)];
                if (w >= 0 && w < V) neighbours[static_cast<size_t>(slot[static_cast<size_t>(v)])].push_back(w);
            }
        }
    }
    s.values.assign(3 * static_cast<size_t>(s.samples) * F, 0.0);
    // Frames are independent: each fills its own slice.
    forEachIndependent(F, _threads, [&](int f) {
        const double* p = _positions.frame(f);
        double centre[3] = {0.0, 0.0, 0.0};
        for (int v : vertex)
            for (int c = 0; c < 3; ++c) centre[c] += p[3 * static_cast<size_t>(v) + c];
        for (double& c : centre) c /= s.samples;
        double* out = s.values.data() + 3 * static_cast<size_t>(s.samples) * f;
        for (int i = 0; i < s.samples; ++i) {
            const std::vector<int>& n = neighbours[static_cast<size_t>(i)];
            const double* x = p + 3 * static_cast<size_t>(vertex[static_cast<size_t>(i)]);
            for (int c = 0; c < 3; ++c) {
                double mean = centre[c];
                if (!n.empty()) {
                    mean = 0.0;
                    for (int w : n) mean += p[3 * static_cast<size_t>(w) + c];
                    mean /= static_cast<double>(n.size());
                }
                out[3 * i + c] = x[c] - mean;
            }
        }
    });
    return s;
}

namespace {

// The rate proxy, summed sample by sample in a fixed order. Every term is
// positive, so a partial sum that reaches _bound already says the whole is
// no smaller: the sum stops there and returns that partial sum (checked
// every 16 samples, which leaves the arithmetic of a whole sum unchanged).
double predictionCostUpTo(const FrameSignatures& _s, int _f, const std::vector<int>& _refs, double _q, double _bound) {
    const double q2 = _q * _q;
    const size_t n = _refs.size();
    // A reference's reconstruction is off by about q^2/4 per vertex (three
    // components of uniform rounding noise); two averaged halve it.
    const double noise = n == 0 ? 0.0 : 0.25 * q2 / static_cast<double>(n);
    const double* x = _s.frame(_f);
    const double* a = n > 0 ? _s.frame(_refs[0]) : nullptr;
    const double* b = n > 1 ? _s.frame(_refs[1]) : nullptr;
    double cost = 0.0;
    for (int i = 0; i < _s.samples; ++i) {
        double e2 = 0.0;
        for (int c = 0; c < 3; ++c) {
            const size_t k = 3 * static_cast<size_t>(i) + c;
            const double prediction = n == 0 ? 0.0 : n == 1 ? a[k] : 0.5 * (a[k] + b[k]);
            const double e = x[k] - prediction;
            e2 += e * e;
        }
        cost += std::log2(1.0 + (e2 + noise) / q2);
        if ((i & 15) == 15 && cost >= _bound) return cost;
    }
    return cost;
}

}  // namespace

double predictionCost(const FrameSignatures& _s, int _f, const std::vector<int>& _refs, double _q) {
    return predictionCostUpTo(_s, _f, _refs, _q, HUGE_VAL);
}

CycleEstimate findCycle(const FrameSignatures& _s, double _q) {
    CycleEstimate best;
    const int F = _s.frames;
    if (F < 4 || _s.samples == 0) return best;
    const int maxPeriod = std::min(stream_rules::kNoReference - 1, F / 2);
    std::vector<CycleEstimate> all;
    double least = 0.0;
    for (int P = 2; P <= maxPeriod; ++P) {
        double repeat = 0.0, neighbour = 0.0;
        for (int k = P; k < F; ++k) {
            repeat += predictionCost(_s, k, {k - P}, _q);
            neighbour += predictionCost(_s, k, {k - 1}, _q);
        }
        const double frames = static_cast<double>(F - P);
        all.push_back({P, repeat / frames, neighbour / frames});
        least = all.size() == 1 ? all.back().repeatCost : std::min(least, all.back().repeatCost);
    }
    // Every multiple of a period repeats as well as the period itself: the
    // shortest that comes within 5 % of the best is the cycle.
    for (const CycleEstimate& c : all)
        if (c.repeatCost <= 1.05 * least) return c;
    return best;
}

namespace {

struct Candidate {
    double cost;
    int frame;
};

// Squared distance of two signatures: ranks the single candidates before
// the rate proxy (with its logarithm per sample) is spent on the best. Like
// the proxy, it stops with the partial sum once that exceeds _bound.
double distanceUpTo(const FrameSignatures& _s, int _a, int _b, double _bound) {
    const double* x = _s.frame(_a);
    const double* y = _s.frame(_b);
    double sum = 0.0;
    for (size_t i = 0, n = 3 * static_cast<size_t>(_s.samples); i < n; ++i) {
        const double e = x[i] - y[i];
        sum += e * e;
        if ((i & 63) == 63 && sum > _bound) return sum;
    }
    return sum;
}

// The _n least of the values offered so far (all of them while fewer have
// come): what a candidate must not exceed to stay among the _n best.
class LeastValues {
public:
    explicit LeastValues(size_t _n) : n_(_n) {}
    double bound() const { return values_.size() < n_ ? HUGE_VAL : values_.back(); }
    void offer(double _v) {
        if (values_.size() == n_) {
            if (!(_v < values_.back())) return;
            values_.pop_back();
        }
        values_.insert(std::upper_bound(values_.begin(), values_.end(), _v), _v);
    }

private:
    size_t n_;
    std::vector<double> values_;
};

// Ties go to the nearer frame, then the earlier one: a fixed order.
void sortCandidates(std::vector<Candidate>& _c, int _k) {
    std::sort(_c.begin(), _c.end(), [_k](const Candidate& a, const Candidate& b) {
        if (a.cost != b.cost) return a.cost < b.cost;
        const int da = std::abs(a.frame - _k), db = std::abs(b.frame - _k);
        return da != db ? da < db : a.frame < b.frame;
    });
}

}  // namespace

ReferenceChoiceStats chooseReferences(const FrameSignatures& _s, const std::vector<int>& _frames,
                                      const std::vector<int>& _layers, std::vector<std::vector<int>>& _refs,
                                      double _q, bool _closedGroups, double _margin, int _threads, bool _prune) {
    ReferenceChoiceStats stats;
    const int F = static_cast<int>(_frames.size());
    if (F == 0 || _s.frames != F || _s.samples == 0) return stats;
    // Record position, temporal layer (frame 0's record counts as below every
    // layer) and group (a group starts at each later layer-0 record) per frame.
    std::vector<int> record(static_cast<size_t>(F)), layer(static_cast<size_t>(F)), group(static_cast<size_t>(F));
    int g = 0;
    for (int p = 0; p < F; ++p) {
        const int f = _frames[static_cast<size_t>(p)];
        record[static_cast<size_t>(f)] = p;
        layer[static_cast<size_t>(f)] = p == 0 ? -1 : _layers[static_cast<size_t>(p)];
        if (p > 0 && _layers[static_cast<size_t>(p)] == 0) ++g;
        group[static_cast<size_t>(f)] = g;
    }
    // What a group already reads from outside itself besides frame 0 (the
    // previous key frame, which the bisection starts from): closed groups may
    // reference it too, since decoding the group needs it anyway.
    std::vector<int> anchor(static_cast<size_t>(g) + 1, -1);
    for (int p = 1; p < F; ++p) {
        const int k = _frames[static_cast<size_t>(p)];
        for (int r : _refs[static_cast<size_t>(p)])
            if (r != 0 && group[static_cast<size_t>(r)] != group[static_cast<size_t>(k)])
                anchor[static_cast<size_t>(group[static_cast<size_t>(k)])] = r;
    }
    constexpr size_t kRanked = 8;  // nearest signatures, ranked again by the rate proxy
    constexpr size_t kKept = 4;    // best single references also tried in pairs
    // Each record's choice reads its own references and what was settled
    // above only, so the records are chosen side by side; the costs are
    // summed in record order afterwards, as one pass would add them.
    std::vector<double> defaultCosts(static_cast<size_t>(F), 0.0), chosenCosts(static_cast<size_t>(F), 0.0);
    std::vector<char> changed(static_cast<size_t>(F), 0);
    forEachIndependent(F - 1, _threads, [&](int _i) {
        const int p = _i + 1;
        std::vector<Candidate> singles;
        const int k = _frames[static_cast<size_t>(p)];
        std::vector<int>& refs = _refs[static_cast<size_t>(p)];
        const double defaultCost = predictionCost(_s, k, refs, _q);
        defaultCosts[static_cast<size_t>(p)] = defaultCost;
        const int lo = std::max(0, k - (stream_rules::kNoReference - 1));
        const int hi = std::min(F - 1, k + (stream_rules::kNoReference - 1));
        auto eligible = [&](int j) {
            if (j == k || record[static_cast<size_t>(j)] >= p) return false;
            if (layer[static_cast<size_t>(j)] > layer[static_cast<size_t>(k)]) return false;
            if (!stream_rules::referenceWritable(j, k)) return false;
            const int own = group[static_cast<size_t>(k)];
            return !_closedGroups || j == 0 || group[static_cast<size_t>(j)] == own ||
                   j == anchor[static_cast<size_t>(own)];
        };
        // A candidate strictly beyond the kRanked-th least distance so far
        // sorts after at least kRanked others whatever follows, so it is
        // left out as soon as its partial sum shows that; ties are kept for
        // the sort to break.
        LeastValues nearest(kRanked);
        auto offer = [&](int j) {
            const double d = distanceUpTo(_s, k, j, _prune ? nearest.bound() : HUGE_VAL);
            if (_prune && d > nearest.bound()) return;
            nearest.offer(d);
            singles.push_back({d, j});
        };
        for (int j = lo; j <= hi; ++j)
            if (eligible(j)) offer(j);
        if (lo > 0 && eligible(0)) offer(0);
        sortCandidates(singles, k);
        if (singles.size() > kRanked) singles.resize(kRanked);
        // The same for the proxy and the kKept best singles.
        LeastValues cheapest(kKept);
        std::vector<Candidate> ranked;
        for (const Candidate& c : singles) {
            const double bound = _prune ? std::nextafter(cheapest.bound(), HUGE_VAL) : HUGE_VAL;
            const double cost = predictionCostUpTo(_s, k, {c.frame}, _q, bound);
            if (_prune && cost > cheapest.bound()) continue;
            cheapest.offer(cost);
            ranked.push_back({cost, c.frame});
        }
        singles = std::move(ranked);
        sortCandidates(singles, k);
        if (singles.size() > kKept) singles.resize(kKept);

        std::vector<int> best = refs;
        double bestCost = defaultCost;
        auto take = [&](std::vector<int>& _set, double _c) {
            if (_c < bestCost) {
                bestCost = _c;
                best = std::move(_set);
            }
        };
        auto consider = [&](std::vector<int> set) {
            if (set.size() == 2 && set[0] == set[1]) return;
            // One that reaches the best cost so far cannot replace it.
            take(set, predictionCostUpTo(_s, k, set, _q, _prune ? bestCost : HUGE_VAL));
        };
        for (size_t a = 0; a < singles.size(); ++a) {
            // The single's cost is the one it was ranked by.
            std::vector<int> single{singles[a].frame};
            take(single, singles[a].cost);
            for (int d : refs) consider({singles[a].frame, d});
            for (size_t b = a + 1; b < singles.size(); ++b) consider({singles[a].frame, singles[b].frame});
        }
        if (best != refs && bestCost < (1.0 - _margin) * defaultCost) {
            refs = best;
            changed[static_cast<size_t>(p)] = 1;
            chosenCosts[static_cast<size_t>(p)] = bestCost;
        } else {
            chosenCosts[static_cast<size_t>(p)] = defaultCost;
        }
    });
    for (int p = 1; p < F; ++p) {
        stats.defaultCost += defaultCosts[static_cast<size_t>(p)];
        stats.framesChanged += changed[static_cast<size_t>(p)];
        stats.chosenCost += chosenCosts[static_cast<size_t>(p)];
    }
    return stats;
}

}  // namespace orv
