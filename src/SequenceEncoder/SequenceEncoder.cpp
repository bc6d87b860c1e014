// The library encoder: validates the input completely, then writes the stream
// header and the frame records in coding order (coding frames whose references
// are done on several threads, FrameScheduler). Each layer is quantised and
// reconstructed in closed loop by GeometryEncoder (so later vertices and frames
// predict from what the decoder will see), and its residuals are entropy coded
// into the layer chunk.
#include "SequenceEncoder/SequenceEncoder.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "Common/Check.h"
#include "Common/StreamRules.h"
#include "Decoder/LODConnectivity.h"
#include "Encoder/DecoderContext.h"
#include "Encoder/FrameCodingOrderGen.h"
#include "SequenceEncoder/EffortTrials.h"
#include "SequenceEncoder/FrameScheduler.h"
#include "SequenceEncoder/GeometryEncoder.h"
#include "SequenceEncoder/LayeringCache.h"
#include "SequenceEncoder/RateDistortion.h"
#include "SequenceEncoder/ReferenceChoice.h"
#include "Encoder/RedundancyMinCoder.h"
#include "Entropy/BitBuffer.h"

namespace orv {

namespace {

// More threads than this count as this many.
constexpr int kMaxThreads = 256;

struct CodingOrder {
    std::vector<int> frames;
    std::vector<std::vector<int>> refs;
    std::vector<int> layers;
};

CodingOrder makeCodingOrder(int F, int nTL, bool refFirstFrame) {
    CodingOrder o;
    if (refFirstFrame)
        generateFrameCodingOrder(o.frames, o.refs, o.layers, F, nTL, true, 0);
    else
        generateFrameCodingOrder(o.frames, o.refs, o.layers, F, nTL, false, -1);
    return o;
}

// The first reference the 7-bit offset of a frame header cannot hold, or -1.
// Frame 0 is always reachable (offset 0 stands for it).
int firstUnwritableReference(const CodingOrder& o, int* frame, int* ref) {
    for (size_t p = 1; p < o.frames.size(); ++p)
        for (int r : o.refs[p])
            if (!stream_rules::referenceWritable(r, o.frames[p])) {
                *frame = o.frames[p];
                *ref = r;
                return static_cast<int>(p);
            }
    return -1;
}

int largestWritableNTL(int F, int nTL, bool refFirstFrame) {
    int frame = 0, ref = 0;
    for (int t = nTL; t >= 1; --t)
        if (firstUnwritableReference(makeCodingOrder(F, t, refFirstFrame), &frame, &ref) < 0) return t;
    return 0;
}

void validate(const GeometryT<double>& _positions, const FaceList& _faces, const Settings& _settings,
              const double _qStep[3]) {
    const int V = _positions.V, F = _positions.F;
    // The header carries any double, but the decoders refuse steps their
    // arithmetic cannot take: refused here, before anything is written.
    for (int i = 0; i < 3; ++i)
        if (!stream_rules::stepSizeValid(_qStep[i])) {
            char text[256];
            std::snprintf(text, sizeof text, "step size %d is %.17g: %s", i, _qStep[i], stream_rules::kStepSizeRule);
            throw Error(text);
        }
    if (F < 1 || F > stream_rules::kMaxFrames)
        throw Error("a stream holds 1 to " + std::to_string(stream_rules::kMaxFrames) + " frames, the sequence has " +
                    std::to_string(F));
    if (V < 1) throw Error("the mesh has no vertices");
    if (_settings.nSL < 1 || _settings.nSL > stream_rules::kMaxSpatialLayers)
        throw Error("nSL must lie in 1.." + std::to_string(stream_rules::kMaxSpatialLayers) + ", got " +
                    std::to_string(_settings.nSL));
    if (!stream_rules::temporalLayersValid(_settings.nTL))
        throw Error("nTL must lie in 1.." + std::to_string(stream_rules::kMaxTemporalLayers) + ", got " +
                    std::to_string(_settings.nTL));
    if (_settings.baseLayerPred != 0 && _settings.baseLayerPred != 1)
        throw Error("baseLayerPred must be 0 or 1, got " + std::to_string(_settings.baseLayerPred));
    for (size_t i = 0; i < _faces.size(); ++i) {
        if (_faces[i].size() != 3)
            throw Error("face " + std::to_string(i) + " has " + std::to_string(_faces[i].size()) +
                        " vertices; only triangles can be coded");
        for (int v : _faces[i])
            if (v < 0 || v >= V)
                throw Error("face " + std::to_string(i) + " names vertex " + std::to_string(v) +
                            ", the mesh has vertices 0.." + std::to_string(V - 1));
    }
    for (int f = 0; f < F; ++f) {
        const double* p = _positions.frame(f);
        const size_t n = 3 * static_cast<size_t>(V);
        // One test per frame; the culprit is looked for only when there is one.
        bool finite = true;
        for (size_t i = 0; i < n; ++i)
            finite &= std::fabs(p[i]) <= std::numeric_limits<double>::max();
        if (finite) continue;
        for (size_t i = 0; i < n; ++i)
            if (!std::isfinite(p[i]))
                throw Error("vertex " + std::to_string(i / 3) + " of frame " + std::to_string(f) +
                            " has a coordinate that is not finite");
    }
    int frame = 0, ref = 0;
    const CodingOrder order = makeCodingOrder(F, _settings.nTL, _settings.refFirstFrame);
    if (firstUnwritableReference(order, &frame, &ref) >= 0) {
        const int withOpen = largestWritableNTL(F, _settings.nTL, false);
        const int withRefFirst = largestWritableNTL(F, _settings.nTL, true);
        char text[400];
        std::snprintf(text, sizeof text,
                      "nTL %d cannot be coded for %d frames with refFirstFrame %d: frame %d would reference frame "
                      "%d (offset %d), but a frame header holds offsets of at most %d or frame 0; nTL <= %d works "
                      "with refFirstFrame 0, nTL <= %d with refFirstFrame 1",
                      _settings.nTL, F, _settings.refFirstFrame ? 1 : 0, frame, ref, ref - frame,
                      stream_rules::kNoReference - 1, withOpen,
                      withRefFirst);
        throw Error(text);
    }
}

// Bytes a record can take at most once its residuals are known: the frame
// header, and per chunk its count, three header bytes, and for each pass at
// most one byte per bin (the engine emits at most seven bits per bin) plus the
// start and flush of the engine. The layers own disjoint vertices, so the
// frame's count of non-zero residuals and its largest magnitude bound those
// of every layer, and a straight pass over the frame does instead of one
// through each layer's vertex order. Computed in 64 bits from real values
// only.
uint64_t recordBound(const DecoderContext& _context, int _f) {
    uint64_t bytes = RedundancyMinCoder::kFrameHeaderBytes;
    for (const std::vector<int>& order : _context.allLayerVertexOrders)
        bytes += 4 + 3 + 2 * 16 + 3 * static_cast<uint64_t>(order.size());
    const int* quant = _context.quantFrame(_f);
    uint64_t nonZero = 0;
    uint32_t magnitudes = 0;  // OR of |x| - 1 over the non-zero x
    // Without branches on the residuals, about half of which are zero.
    for (size_t i = 0, n = 3 * static_cast<size_t>(_context.GQuant.V); i < n; ++i) {
        const int x = quant[i];
        const uint32_t nz = x != 0 ? 1u : 0u;
        const uint32_t a = x < 0 ? 0u - static_cast<uint32_t>(x) : static_cast<uint32_t>(x);
        nonZero += nz;
        magnitudes |= (a - 1) & (0u - nz);
    }
    const uint64_t planes = static_cast<uint64_t>(std::bit_width(magnitudes));
    return bytes + nonZero + planes * nonZero;
}

void append(std::vector<uint8_t>& _out, BitBuffer& _buf) {
    const int64_t n = _buf.padToByte();
    _out.insert(_out.end(), _buf.data(), _buf.data() + n);
}

// One thread's coders: nothing in them outlives a frame's
// coding but tables built from the layering, so which thread codes a frame
// does not change a bit of it.
struct FrameCoder {
    GeometryEncoder coder;
    std::optional<RdLayerEncoder> rd;

    FrameCoder(const Settings& _settings, DecoderContext& _context, const RdOptions* _options, double _q)
        : coder(_settings, _context) {
        if (_options) rd.emplace(_settings, coder, *_options, _q);
    }
};

// Quantises, reconstructs and writes frame record _p of the coding order
// into _record.
void codeRecord(int _p, FrameCoder& _fc, DecoderContext& _context, const Settings& _settings,
                const GeometryT<double>& _positions, std::vector<uint8_t>& _record) {
    const int nSL = _settings.nSL;
    const int f = _context.codingOrder[static_cast<size_t>(_p)];
    const std::vector<int>& rf = _context.codingRefs[static_cast<size_t>(_p)];
    GeometryEncoder& coder = _fc.coder;
    std::optional<RdLayerEncoder>& rd = _fc.rd;
    // The same layer-by-layer sequence the decoding loop runs.
    if (_p == 0) {
        coder.encodeFirstFrame(f, _context.qStep[0], _positions);
    } else {
        for (int l = 0; l < nSL; ++l) {
            if (l == 0 && rd) {
                rd->encodeBaseLayer(f, rf, _context.qStep[1], _positions);
                continue;
            }
            if (l == 0) {
                if (_settings.baseLayerPred == 0)
                    coder.encodeBaseLayerGlobal(f, rf, _context.qStep[1], _positions);
                else
                    coder.encodeBaseLayerLocal(f, rf, _context.qStep[1], _positions);
                continue;
            }
            coder.computeLayerFrames(l, f);
            if (!rf.empty()) _context.filterDec[f][l].assign(rf.size(), 1.0 / static_cast<double>(rf.size()));
            if (rd)
                rd->encodeEnhancementLayer(l, f, rf, _context.qStep[2], _positions);
            else
                coder.encodeEnhancementLayer(l, f, rf, _context.qStep[2], _positions);
        }
    }

    // Layers own disjoint vertices, so every chunk of the record can be
    // written once all its layers are quantised.
    const uint64_t bound = recordBound(_context, f);
    if (bound > (uint64_t{1} << 40)) throw Error("frame record too large to encode");
    BitBuffer record(static_cast<int64_t>(bound));
    RedundancyMinCoder::writeFrameHeader(record, _p == 0 ? 0 : _context.codingLayers[static_cast<size_t>(_p)], f,
                                         _p == 0 ? std::vector<int>{} : rf);
    RedundancyMinCoder chunks(record, _settings, _context);
    for (int l = 0; l < nSL; ++l) chunks.encodeLayerResiduals(l, f);
    _record.clear();
    append(_record, record);
}

// The coding positions each record waits for: those of its references.
std::vector<std::vector<int>> referencePositions(const DecoderContext& _context) {
    const size_t n = _context.codingOrder.size();
    std::vector<int> position(n, -1);
    for (size_t p = 0; p < n; ++p) position[static_cast<size_t>(_context.codingOrder[p])] = static_cast<int>(p);
    std::vector<std::vector<int>> deps(n);
    for (size_t p = 1; p < n; ++p)
        for (int r : _context.codingRefs[p]) {
            const int at = 0 <= r && static_cast<size_t>(r) < n ? position[static_cast<size_t>(r)] : -1;
            if (at < 0 || static_cast<size_t>(at) >= p)
                throw Error("frame " + std::to_string(_context.codingOrder[p]) + " references frame " +
                            std::to_string(r) + ", which is not coded before it");
            deps[p].push_back(at);
        }
    return deps;
}

EncodedSequence encodeWith(const GeometryT<double>& _positions, const FaceList& _faces, const Settings& _settings,
                           const double _qStep[3], const RdOptions* _options, const EncodeProgress& _progress,
                           int _threads, bool _chooseReferences, LayeringCache* _layerings) {
    validate(_positions, _faces, _settings, _qStep);
    const int V = _positions.V, F = _positions.F, nSL = _settings.nSL;

    Settings settings = _settings;
    settings.enhLayerPred = 0;
    settings.entrType = Settings::CABAC;

    // The positions of every frame (the reconstruction), the details only
    // of frames a record still to come references: they take fresh memory
    // frame by frame, and reusing it halves what an encode first touches.
    DecoderContext context = DecoderContext::windowed(V, F, nSL, true);
    context.filterDec.assign(static_cast<size_t>(F), std::vector<std::vector<double>>(static_cast<size_t>(nSL)));
    for (int i = 0; i < 3; ++i) context.qStep[i] = _qStep[i];
    if (_layerings && _layerings->serves(_faces, V)) {
        const std::shared_ptr<const Layering> layering = _layerings->get(nSL);
        context.allLayerVertexOrders = layering->vertexOrders;
        context.allLayerPredictors = layering->predictors;
    } else {
        LODConnectivity lod(nSL, _faces, V);
        context.allLayerVertexOrders = std::move(lod.vertexOrder_);
        context.allLayerPredictors = std::move(lod.vertexPredictor_);
    }
    // The layer passes write every vertex's detail of a frame before any is
    // read when the layers hold every vertex (the coders refuse a layering
    // that names a vertex twice or one out of range): then a frame's slot
    // needs no zero fill.
    size_t layered = 0;
    for (const std::vector<int>& order : context.allLayerVertexOrders) layered += order.size();
    const bool zeroSlots = layered != static_cast<size_t>(V);
    CodingOrder order = makeCodingOrder(F, settings.nTL, settings.refFirstFrame);
    ReferenceChoiceStats choice;
    if (_chooseReferences)
        choice = chooseReferences(frameSignatures(_positions, _faces, 256, _threads), order.frames, order.layers,
                                  order.refs, _qStep[2], settings.refFirstFrame, 0.05, _threads);
    context.codingOrder = std::move(order.frames);
    context.codingRefs = std::move(order.refs);
    context.codingLayers = std::move(order.layers);
    const std::vector<std::vector<int>> deps = referencePositions(context);
    // Each frame's detail is given back once the last record reading it (its
    // own or a later one referencing it) is delivered: every record up to
    // that one is done then.
    std::vector<std::vector<int>> releaseAfter(static_cast<size_t>(F));
    {
        std::vector<int> lastUse(static_cast<size_t>(F), -1);
        for (size_t p = 0; p < context.codingOrder.size(); ++p) {
            const size_t f = static_cast<size_t>(context.codingOrder[p]);
            lastUse[f] = std::max(lastUse[f], static_cast<int>(p));
            for (int at : deps[p]) {
                const size_t r = static_cast<size_t>(context.codingOrder[static_cast<size_t>(at)]);
                lastUse[r] = std::max(lastUse[r], static_cast<int>(p));
            }
        }
        for (size_t f = 0; f < lastUse.size(); ++f)
            if (lastUse[f] >= 0) releaseAfter[static_cast<size_t>(lastUse[f])].push_back(static_cast<int>(f));
    }
    std::mutex slotsMutex;  // taking and giving back detail slots

    std::vector<uint8_t> stream(4, 0);  // the length field, filled at the end
    {
        BitBuffer header(RedundancyMinCoder::kStreamHeaderBytes);
        RedundancyMinCoder::writeStreamHeader(header, settings, context);
        append(stream, header);
    }

    // Each thread codes its frames with its own coders, residuals and local
    // frames (a working frame of the context); positions and details are
    // per frame anyway.
    const int threads = std::clamp(_threads, 1, std::min(F, kMaxThreads));
    context.setWorkingFrames(threads);
    std::vector<std::unique_ptr<FrameCoder>> coders(static_cast<size_t>(threads));
    std::vector<std::vector<uint8_t>> records(static_cast<size_t>(F));
    size_t firstRecordEnd = 0;
    const auto code = [&](int _p, int _w) {
        std::unique_ptr<FrameCoder>& fc = coders[static_cast<size_t>(_w)];
        if (!fc) fc = std::make_unique<FrameCoder>(settings, context, _options, _qStep[2]);
        const int f = context.codingOrder[static_cast<size_t>(_p)];
        context.useWorkingFrame(f, _w);
        {
            const std::lock_guard<std::mutex> lock(slotsMutex);
            context.takeFrame(f, zeroSlots);
        }
        codeRecord(_p, *fc, context, settings, _positions, records[static_cast<size_t>(_p)]);
    };
    const auto deliver = [&](int _p) {
        std::vector<uint8_t>& record = records[static_cast<size_t>(_p)];
        stream.insert(stream.end(), record.begin(), record.end());
        if (_p == 0) firstRecordEnd = stream.size();
        std::vector<uint8_t>().swap(record);
        {
            const std::lock_guard<std::mutex> lock(slotsMutex);
            for (int f : releaseAfter[static_cast<size_t>(_p)]) context.releaseDetail(f);
        }
        if (stream.size() - 4 > 0xffffffffull) throw Error("the stream exceeds the 4 GiB its length field can hold");
        if (_progress) _progress(_p + 1, F);
    };
    runFramesInOrder(deps, threads, code, deliver);

    const uint64_t N = stream.size() - 4;
    for (int i = 0; i < 4; ++i) stream[i] = static_cast<uint8_t>(N >> (8 * i));
    EncodedSequence out{std::move(stream), std::move(context.GDec), choice.framesChanged};
    out.firstRecordEnd = firstRecordEnd;
    return out;
}

}  // namespace

EncodedSequence encodeSequence(const GeometryT<double>& _positions, const FaceList& _faces, const Settings& _settings,
                               const double _qStep[3], const EncodeProgress& _progress, int _threads,
                               LayeringCache* _layerings) {
    EncodedSequence out = encodeWith(_positions, _faces, _settings, _qStep, nullptr, _progress, _threads, false,
                                     _layerings);
    out.settings = _settings;
    out.settings.enhLayerPred = 0;
    for (int i = 0; i < 3; ++i) out.qStep[i] = _qStep[i];
    return out;
}

void stepsForOptions(double _q, const RdOptions& _options, double _qStep[3]) {
    _qStep[0] = _q * _options.firstFrameRatio;
    _qStep[1] = _q * _options.baseLayerRatio;
    _qStep[2] = _q;
}

EncodedSequence encodeSequence(const GeometryT<double>& _positions, const FaceList& _faces, const Settings& _settings,
                               double _q, const RdOptions& _options, const EncodeProgress& _progress,
                               int _threads, LayeringCache* _layerings) {
    if (_options.trialLevel > 0) {
        if (!stream_rules::stepSizeValid(_q)) {
            char text[256];
            std::snprintf(text, sizeof text, "the step is %.17g: %s", _q, stream_rules::kStepSizeRule);
            throw Error(text);
        }
        // The trials and the chosen encode share the mesh's layerings.
        std::optional<LayeringCache> own;
        if (!_layerings || !_layerings->serves(_faces, _positions.V)) _layerings = &own.emplace(_faces, _positions.V);
        EncodingPlan plan = planByTrial(_positions, _faces, _settings, _q, _options, _threads, _layerings);
        if (plan.encoded) {
            if (_progress) _progress(_positions.F, _positions.F);
            return std::move(*plan.encoded);
        }
        return encodeSequence(_positions, _faces, plan.settings, _q, plan.options, _progress, _threads, _layerings);
    }
    double steps[3];
    stepsForOptions(_q, _options, steps);
    Settings settings = _settings;
    if (_options.spatialLayers != 0) settings.nSL = _options.spatialLayers;
    const bool plain = !_options.deadZone && !_options.rdoq && !_options.emptyChunks;
    EncodedSequence out = encodeWith(_positions, _faces, settings, steps, plain ? nullptr : &_options, _progress,
                                     _threads, _options.chooseReferences, _layerings);
    out.settings = settings;
    out.settings.enhLayerPred = 0;
    for (int i = 0; i < 3; ++i) out.qStep[i] = steps[i];
    out.options = _options;
    return out;
}

}  // namespace orv
