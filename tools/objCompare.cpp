// objCompare: the error of one OBJ frame sequence against another, with the
// measures OrvEnc reports (RMSE and maximum error relative to the original's
// bounding-box diagonal, KG error). Each side is a folder of OBJ files, a
// pattern such as out/walkDec%03d.obj, or one file; both need the same number
// of frames, vertices and faces.
//
// Usage: objCompare ORIGINAL RECONSTRUCTED
// Prints: "frames F, vertices V: RMSE/diag x, max/diag y, KG z"
#include <cstdio>
#include <exception>

#include "EncoderApp/FrameSource.h"
#include "SequenceEncoder/QualityMetrics.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::printf("Usage: objCompare ORIGINAL RECONSTRUCTED\n"
                    "Each is a folder of OBJ frames, a pattern such as dec/walkDec%%03d.obj, or a file.\n");
        return -1;
    }
    try {
        const orv::LoadedAnimation a = orv::loadAnimation(orv::expandFrameArguments({argv[1]}));
        const orv::LoadedAnimation b = orv::loadAnimation(orv::expandFrameArguments({argv[2]}));
        if (a.faces != b.faces) throw orv::Error("the two sequences have different faces");
        const orv::QualityMetrics q = orv::measureQuality(a.positions, b.positions);
        std::printf("frames %d, vertices %d: RMSE/diag %.4e, max/diag %.4e, KG %.5f\n", a.positions.F, a.positions.V,
                    q.rmseOverDiagonal(), q.maxOverDiagonal(), q.kg);
        return 0;
    } catch (const std::exception& e) {
        std::printf("objCompare: %s\n", e.what());
        return -1;
    }
}
