// The decoder's run up to its report block: arguments, the connectivity, the
// stream file and its header, the requested layer counts. Every failure is one
// line on standard output and exit status -1; input files are never trusted
// (a lying header is refused before anything it sizes is allocated).
#include "Decoder/DecoderRun.h"

#include <cstdio>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "Common/Check.h"
#include "Common/ProgramArgs.h"
#include "Common/Types.h"
#include "Decoder/DecoderSteps.h"
#include "Decoder/MeshIO.h"
#include "Decoder/StreamingDecoder.h"
#include "Encoder/RedundancyMinCoder.h"
#include "Encoder/Settings.h"
#include "Entropy/BitBuffer.h"
#include "Entropy/StreamFile.h"

namespace orv {

namespace {

const char* const kUsage =
    "Usage: OrvDec orvfile confile [nSL] [nTL]\n\nOptions:\nnSL\tnumber of spatial layers to decode per frame "
    "(nSL>0).\n   \tThis parameter does not affect frames of the base temporal layer.\nnTL\tnumber of temporal "
    "layers to decode (nTL>0).\n\nDescription:\nOrvDec decodes animated mesh geometry in a scalable fashion from a "
    "orvfile.\nIf nSL and nTL are not specified all spatial and temporal layers contained\nin the orvfile are "
    "decoded. For frames of the base temporal layer always all\nspatial layers are decoded. Geometry of not decoded "
    "layers is interpolated.\n";

const char* const kDashes = "---------------------------------------\n";

int usage() { return printUsage(kUsage); }

int fail(const std::string& _message) { return printFailure(_message); }

int run(int argc, char** argv) {
    // 1. Arguments.
    if (argc < 3 || argc > 5) return usage();
    const std::string orvPath = argv[1];
    const std::string conPath = argv[2];
    // The frame names cut four characters off the stream path.
    if (orvPath.size() < 4) return fail("The stream file name " + orvPath + " is shorter than four characters!");

    // 2.-4. The connectivity; an unopenable file is reported by the reader,
    // one without faces ends the run silently.
    std::printf("Reading connectivity from file: %s\n", conPath.c_str());
    FaceList faces;
    faces.reserve(5000);
    try {
        readOBJ(conPath, faces);
    } catch (const Error& e) {
        return fail(e.what());
    }
    if (faces.empty()) {
        std::fflush(stdout);
        return -1;
    }

    // 5.-7. The stream file: "Opening file ... failed!" before the reading line.
    std::vector<uint8_t> bytes;
    try {
        bytes = readStreamFile(orvPath, [&] { std::printf("Reading data from file: %s\n", orvPath.c_str()); });
    } catch (const Error& e) {
        return fail(e.what());
    }
    BitBuffer buffer(std::move(bytes));

    // 8. The stream header; the decoder sizes its memory after scanning the records.
    Settings settings;
    StreamHeader header;
    try {
        header = RedundancyMinCoder::readCheckedStreamHeader(buffer, settings);
        // Every frame's positions are kept for the final write.
        StreamingDecoder::checkMemory(header, 1, static_cast<size_t>(header.F));
    } catch (const std::exception& e) {
        return fail(orvPath + ": " + e.what());
    }

    // 9. Requested layer counts, checked only now that both files are read.
    int nSLdec = settings.nSL;
    int nTLdec = settings.nTL;
    if (argc > 3) {
        nSLdec = parseCount(argv[3]);
        if (nSLdec < 1) return usage();
        if (argc > 4) {
            nTLdec = parseCount(argv[4]);
            if (nTLdec < 1) return usage();
        }
    }

    // 10. The report block.
    std::printf("Embedded bit stream contains:\n");
    std::printf("  %d spatial layers\n", settings.nSL);
    std::printf("  %d temporal layers\n", settings.nTL);
    std::printf("%s", kDashes);
    std::printf("Settings:\n");
    std::printf("  decode %d/%d spatial layers\n", nSLdec, settings.nSL);
    std::printf("  decode %d/%d temporal layers\n", nTLdec, settings.nTL);
    std::fflush(stdout);

    // A face naming a vertex the stream does not have is the connectivity
    // file's fault; its message names that file.
    try {
        checkFaceIndices(faces, static_cast<int>(header.V), conPath);
    } catch (const Error& e) {
        return fail(e.what());
    }

    // The decomposition, the coding order, the frame records and the frames.
    try {
        return decodeAndWriteFrames(orvPath, faces, buffer, settings, header, nSLdec, nTLdec);
    } catch (const std::bad_alloc&) {
        return fail(orvPath + ": out of memory");
    } catch (const std::exception& e) {
        return fail(orvPath + ": " + e.what());
    }
}

}  // namespace

int runOrvDec(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        return fail("out of memory");
    } catch (const std::exception& e) {
        return fail(e.what());
    }
}

}  // namespace orv
