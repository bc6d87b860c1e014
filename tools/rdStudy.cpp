// rdStudy: rate-distortion points of the library encoder per effort level, and
// of a generic baseline (quantized frame deltas squeezed by zstd -19 / xz -9),
// for one folder of OBJ frames. Prints one JSON object per line; the script
// tools/rdStudy.py turns them into BD-rates and docs/encoder-efficiency.md.
//
//   rdStudy DIR [--frames N] [--efforts 0,1,2] [--bits 7,8,9,10,11]
//               [--generic-bits 8,9,10,11,12] [--theta X] [--lambda X]
//               [--ratios q0/q,q1/q] [--nsl N] [--no-empty] [--no-rdoq]
//               [--max-empty X] [--guard X] [--target kg=X|max=X|bpvf=X] [--fixed]
//               [--zero-only]
//
// --fixed (implied by any tuning override) encodes each level's fixed
// candidate instead of choosing among the candidates by trial.
//
// Precisions are in bits of the bounding-box diagonal (step = diagonal / 2^bits),
// fractional values allowed. The generic baseline needs zstd and xz on PATH.
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#ifdef ORV_HAVE_MESHOPTIMIZER
#include <meshoptimizer.h>
#endif

#include "Connectivity/ConnectivityCodec.h"
#include "EncoderApp/FrameSource.h"
#include "Package/Package.h"
#include "SequenceEncoder/RateControl.h"
#include "SequenceEncoder/QualityMetrics.h"
#include "SequenceEncoder/RateDistortionOptions.h"
#include "SequenceEncoder/SequenceEncoder.h"

using namespace orv;

namespace {

std::vector<double> parseList(const std::string& _text) {
    std::vector<double> out;
    std::stringstream in(_text);
    std::string item;
    while (std::getline(in, item, ',')) out.push_back(std::stod(item));
    return out;
}

GeometryT<double> firstFrames(const GeometryT<double>& _g, int _n) {
    GeometryT<double> out(_g.V, _n);
    for (int f = 0; f < _n; ++f)
        std::copy(_g.frame(f), _g.frame(f) + 3 * static_cast<size_t>(_g.V), out.frame(f));
    return out;
}

uint64_t fileSize(const std::filesystem::path& _p) {
    std::error_code ec;
    const auto n = std::filesystem::file_size(_p, ec);
    return ec ? 0 : n;
}

// Quantizes every coordinate on a grid of step _q, predicts each value from
// the same coordinate in the frame before (exact on integers), zigzags the
// differences and writes them in three layouts (frame by frame as byte
// planes; vertex by vertex through time as byte planes; frame by frame as
// 16-bit words when they fit). Returns the smallest file any layout gives
// with zstd -19 or xz -9 in bytes, and fills the reconstruction.
uint64_t genericBaseline(const GeometryT<double>& _g, double _q, const std::filesystem::path& _work,
                         GeometryT<double>& _rec, std::string& _winner,
                         std::vector<std::pair<std::string, uint64_t>>& _all) {
    const size_t n = 3 * static_cast<size_t>(_g.V);
    const size_t F = static_cast<size_t>(_g.F);
    const BoundingBox box = sequenceBoundingBox(_g);
    const double lo[3] = {box.lo.x, box.lo.y, box.lo.z};
    std::vector<int64_t> Q(n * F);
    for (size_t f = 0; f < F; ++f)
        for (size_t i = 0; i < n; ++i) {
            Q[f * n + i] = std::llround((_g.frame(static_cast<int>(f))[i] - lo[i % 3]) / _q);
            _rec.frame(static_cast<int>(f))[i] = lo[i % 3] + _q * static_cast<double>(Q[f * n + i]);
        }
    auto zig = [&](size_t f, size_t i) {
        const int64_t d = Q[f * n + i] - (f ? Q[(f - 1) * n + i] : 0);
        return static_cast<uint32_t>(d >= 0 ? 2 * d : -2 * d - 1);
    };
    std::vector<std::vector<uint8_t>> layouts(3);
    std::vector<uint32_t> frameMajor, vertexMajor;
    for (size_t f = 0; f < F; ++f)
        for (size_t i = 0; i < n; ++i) frameMajor.push_back(zig(f, i));
    for (size_t i = 0; i < n; ++i)
        for (size_t f = 0; f < F; ++f) vertexMajor.push_back(zig(f, i));
    bool fits16 = true;
    for (int b = 0; b < 4; ++b)
        for (uint32_t v : frameMajor) layouts[0].push_back(static_cast<uint8_t>(v >> (8 * b)));
    for (int b = 0; b < 4; ++b)
        for (uint32_t v : vertexMajor) layouts[1].push_back(static_cast<uint8_t>(v >> (8 * b)));
    for (uint32_t v : frameMajor) {
        fits16 = fits16 && v < 65536;
        layouts[2].push_back(static_cast<uint8_t>(v));
        layouts[2].push_back(static_cast<uint8_t>(v >> 8));
    }
    if (!fits16) layouts.pop_back();
    std::vector<std::string> names = {"frame planes", "vertex planes", "frame int16"};
    names.resize(layouts.size());
#ifdef ORV_HAVE_MESHOPTIMIZER
    // meshoptimizer's vertex codec on each frame's differences (three int16
    // and a zero pad per vertex when they fit, else three int32), the frames'
    // codes back to back.
    {
        const size_t V = static_cast<size_t>(_g.V);
        const size_t vertexSize = fits16 ? 8 : 12;
        std::vector<uint8_t> frame(V * vertexSize), all;
        for (size_t f = 0; f < F; ++f) {
            std::fill(frame.begin(), frame.end(), 0);
            for (size_t v = 0; v < V; ++v)
                for (size_t c = 0; c < 3; ++c) {
                    const int64_t d = Q[f * n + 3 * v + c] - (f ? Q[(f - 1) * n + 3 * v + c] : 0);
                    if (fits16) {
                        const int16_t x = static_cast<int16_t>(d);
                        std::memcpy(&frame[v * vertexSize + 2 * c], &x, 2);
                    } else {
                        const int32_t x = static_cast<int32_t>(d);
                        std::memcpy(&frame[v * vertexSize + 4 * c], &x, 4);
                    }
                }
            std::vector<uint8_t> code(meshopt_encodeVertexBufferBound(V, vertexSize));
            code.resize(meshopt_encodeVertexBuffer(code.data(), code.size(), frame.data(), V, vertexSize));
            all.insert(all.end(), code.begin(), code.end());
        }
        layouts.push_back(std::move(all));
        names.push_back("meshopt frame deltas");
    }
#endif
    uint64_t best = UINT64_MAX;
    for (size_t l = 0; l < layouts.size(); ++l) {
        const std::filesystem::path raw = _work / "deltas.bin";
        {
            std::ofstream out(raw, std::ios::binary);
            out.write(reinterpret_cast<const char*>(layouts[l].data()), static_cast<std::streamsize>(layouts[l].size()));
        }
        const std::string r = raw.string();
        const std::pair<const char*, std::string> tools[2] = {
            {"zstd -19", "zstd -q -19 -f -o '" + r + ".zst' '" + r + "'"},
            {"xz -9", "xz -9 -k -f -c '" + r + "' > '" + r + ".xz'"}};
        const std::string outs[2] = {r + ".zst", r + ".xz"};
        for (int t = 0; t < 2; ++t) {
            if (std::system(tools[t].second.c_str()) != 0) continue;
            const uint64_t s = fileSize(outs[t]);
            if (s) _all.emplace_back(std::string(tools[t].first) + ", " + names[l], s);
            if (s && s < best) {
                best = s;
                _winner = std::string(tools[t].first) + ", " + names[l];
            }
        }
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: rdStudy DIR [--frames N] [--efforts 0,1,2] [--bits 7,8,...] ...\n");
        return -1;
    }
    try {
        std::string dir = argv[1];
        int frames = 0, nsl = -1;
        std::vector<double> efforts{0, 1, 2}, bits{7, 8, 9, 10, 11}, genericBits;
        double guard = -1;
        std::string target;  // kg=X, max=X or bpvf=X: a step search instead of the curves
        double theta = -1, lambda = -1, r0 = -1, r1 = -1, maxEmpty = -1;
        bool noEmpty = false, noRdoq = false, fixed = false, zeroOnly = false;
        for (int i = 2; i < argc; ++i) {
            const std::string a = argv[i];
            auto next = [&]() -> std::string {
                if (i + 1 >= argc) throw Error(a + " needs a value");
                return argv[++i];
            };
            if (a == "--frames") frames = std::stoi(next());
            else if (a == "--efforts") efforts = parseList(next());
            else if (a == "--bits") bits = parseList(next());
            else if (a == "--generic-bits") genericBits = parseList(next());
            else if (a == "--theta") theta = std::stod(next());
            else if (a == "--lambda") lambda = std::stod(next());
            else if (a == "--guard") guard = std::stod(next());
            else if (a == "--target") target = next();

            else if (a == "--ratios") {
                const auto r = parseList(next());
                r0 = r.at(0);
                r1 = r.at(1);
            } else if (a == "--nsl") nsl = std::stoi(next());
            else if (a == "--max-empty") maxEmpty = std::stod(next());
            else if (a == "--no-empty") noEmpty = true;
            else if (a == "--no-rdoq") noRdoq = true;
            else if (a == "--fixed") fixed = true;
            else if (a == "--zero-only") zeroOnly = true;
            else throw Error("unknown option " + a);
        }
        LoadedAnimation anim = loadAnimation(expandFrameArguments({dir}));
        GeometryT<double> g = frames > 0 && frames < anim.positions.F ? firstFrames(anim.positions, frames)
                                                                       : std::move(anim.positions);
        const double diag = sequenceBoundingBox(g).diagonal();
        const double vf = static_cast<double>(g.V) * g.F;
        // The connectivity a complete file adds: orv's package codes it once
        // (the package is written for every point below); the generic peers
        // get meshoptimizer's index codec.
        Package package;
        package.sourceVertexCount = g.V;
        package.name = std::filesystem::path(dir).filename().string();
        for (const std::string& path : expandFrameArguments({dir}))
            if (static_cast<int>(package.frameNames.size()) < g.F)
                package.frameNames.push_back(std::filesystem::path(path).filename().string());
        package.connectivity.vertexCount = g.V;
        package.connectivity.indices = toFlatIndices(anim.faces);
        long long meshoptIndexBytes = -1;
#ifdef ORV_HAVE_MESHOPTIMIZER
        {
            std::vector<unsigned> u(package.connectivity.indices.begin(), package.connectivity.indices.end());
            std::vector<unsigned char> buf(meshopt_encodeIndexBufferBound(u.size(), static_cast<size_t>(g.V)));
            meshoptIndexBytes = static_cast<long long>(meshopt_encodeIndexBuffer(buf.data(), buf.size(), u.data(), u.size()));
        }
#endif
        std::printf("{\"kind\":\"info\",\"V\":%d,\"F\":%d,\"diag\":%.9g,\"meshopt_index_bytes\":%lld}\n", g.V, g.F,
                    diag, meshoptIndexBytes);
        std::fflush(stdout);
        if (!target.empty()) {
            const size_t eq = target.find('=');
            if (eq == std::string::npos) throw Error("--target wants kg=X, max=X or bpvf=X");
            const std::string kind = target.substr(0, eq);
            EncodingTarget t;
            t.value = std::stod(target.substr(eq + 1));
            t.kind = kind == "kg" ? TargetKind::KgError
                     : kind == "max" ? TargetKind::MaxErrorOverDiagonal
                                     : TargetKind::BitsPerVertexFrame;
            for (double e : efforts) {
                const auto t0 = std::chrono::steady_clock::now();
                const TargetedEncoding r =
                    encodeToTarget(g, anim.faces, Settings{}, RdOptions::forEffort(static_cast<int>(e)), t);
                const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
                std::printf("{\"kind\":\"target\",\"effort\":%g,\"target\":\"%s\",\"met\":%d,\"encodes\":%d,"
                            "\"bits\":%.4f,\"bpvf\":%.6f,\"kg\":%.6g,\"max_diag\":%.6g,\"seconds\":%.1f}\n",
                            e, target.c_str(), r.met ? 1 : 0, r.encodes, std::log2(diag / r.q), r.bitsPerVertexFrame,
                            r.quality.kg, r.quality.maxOverDiagonal(), s);
                std::fflush(stdout);
            }
            return 0;
        }
        for (double e : efforts) {
            // A tuning override means the level's fixed candidate, not the trials.
            fixed = fixed || theta >= 0 || guard >= 0 || r0 > 0 || lambda >= 0 || nsl >= 0 || noEmpty || noRdoq ||
                    maxEmpty > 0 || zeroOnly;
            RdOptions o = fixed ? RdOptions::fixedForEffort(static_cast<int>(e)) : RdOptions::forEffort(static_cast<int>(e));
            if (e >= 1 && theta >= 0) o.deadZoneTheta = theta;
            if (e >= 1 && guard >= 0) o.maxVertexError = guard;
            if (e >= 1 && zeroOnly) o.deadZoneZeroOnly = true;
            if (e >= 1 && r0 > 0) {
                o.firstFrameRatio = r0;
                o.baseLayerRatio = r1;
            }
            if (e >= 2 && lambda >= 0) o.lambdaFactor = lambda;
            if (e >= 2 && nsl >= 0) o.spatialLayers = nsl;
            if (e >= 2 && noEmpty) o.emptyChunks = false;
            if (e >= 2 && noRdoq) o.rdoq = false;
            if (e >= 2 && maxEmpty > 0) o.emptyChunkMaxError = maxEmpty;
            for (double b : bits) {
                const double q = diag / std::pow(2.0, b);
                const auto t0 = std::chrono::steady_clock::now();
                const EncodedSequence enc = encodeSequence(g, anim.faces, Settings{}, q, o);
                const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
                const QualityMetrics m = measureQuality(g, enc.reconstruction);
                package.stream = enc.streamFile;
                const size_t packageSize = packageBytes(package).size();
                const RdOptions& u = enc.options;
                char choice[200];
                std::snprintf(choice, sizeof choice, "r0 %.3g r1 %.3g %s%s%s nSL %d nTL %d rff %d blp %d", u.firstFrameRatio,
                              u.baseLayerRatio, u.deadZone ? "dz" : "round", u.rdoq ? " rdoq" : "",
                              u.emptyChunks ? " empty" : "", enc.settings.nSL, enc.settings.nTL,
                              enc.settings.refFirstFrame ? 1 : 0, enc.settings.baseLayerPred);
                std::printf("{\"kind\":\"orv\",\"effort\":%g,\"bits\":%g,\"bpvf\":%.6f,\"kg\":%.6g,\"max_diag\":%.6g,"
                            "\"rmse_diag\":%.6g,\"mvfps\":%.4f,\"bytes\":%zu,\"package_bytes\":%zu,\"choice\":\"%s\"}\n",
                            e, b, 8.0 * (enc.streamFile.size() - 4) / vf, m.kg, m.maxOverDiagonal(),
                            m.rmseOverDiagonal(), vf / s / 1e6, enc.streamFile.size(), packageSize, choice);
                std::fflush(stdout);
            }
        }
        if (!genericBits.empty()) {
            const std::filesystem::path work =
                std::filesystem::temp_directory_path() / ("rdStudy." + std::to_string(::getpid()));
            std::filesystem::create_directories(work);
            for (double b : genericBits) {
                GeometryT<double> rec(g.V, g.F);
                std::string winner;
                std::vector<std::pair<std::string, uint64_t>> all;
                const uint64_t bytes = genericBaseline(g, diag / std::pow(2.0, b), work, rec, winner, all);
                const QualityMetrics m = measureQuality(g, rec);
                std::printf("{\"kind\":\"generic\",\"order\":1,\"tool\":\"%s\",\"bits\":%g,\"bpvf\":%.6f,"
                            "\"kg\":%.6g,\"max_diag\":%.6g}\n",
                            winner.c_str(), b, 8.0 * bytes / vf, m.kg, m.maxOverDiagonal());
                for (const auto& [tool, size] : all)
                    std::printf("{\"kind\":\"peer\",\"tool\":\"%s\",\"bits\":%g,\"bpvf\":%.6f,\"kg\":%.6g,"
                                "\"max_diag\":%.6g}\n",
                                tool.c_str(), b, 8.0 * size / vf, m.kg, m.maxOverDiagonal());
                std::fflush(stdout);
            }
            std::filesystem::remove_all(work);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "rdStudy: %s\n", e.what());
        return -1;
    }
    return 0;
}
