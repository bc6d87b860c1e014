// OrvPacketize: reports the layers of a stream, or writes a new stream holding
// all layers of the base temporal layer and only the requested spatial and
// temporal layers of the other frames.
//
// Only V, F and the step sizes of the header are used, so memory stays
// proportional to the file size: the output buffer is sized from the input
// length (the output is never longer). Corrupt input ends in one line naming
// the file and the problem, exit status -1, and no output file.
#include <cstdio>
#include <exception>
#include <new>
#include <string>

#include "Common/CConsole.h"
#include "Common/Check.h"
#include "Common/ProgramArgs.h"
#include "Encoder/RedundancyMinCoder.h"
#include "Entropy/BitBuffer.h"
#include "Entropy/StreamFile.h"
#include "Packetizer/LayerExtractor.h"

namespace {

// No log file: see CConsole.cpp.
orv::CConsole console("");

const char* const kUsage =
    "Usage: OrvPacketize orvfile [nSL] [nTL]\n\nOptions:\nnSL\tnumber of spatial layers to packetize per frame "
    "(nSL>0).\n   \tThis parameter does not affect frames of the base temporal layer.\nnTL\tnumber of temporal "
    "layers to packetize (nTL>0).\n\nDescription:\nOrvPacketize extracts parts of encoded data and packetizes these "
    "parts\nin a new orvfile. A packetized file contains always all spatial layers\nof the base temporal layer. If "
    "nSL and nTL are not specified, the number\nof spatial and temporal layers contained in the orvfile is "
    "printed.\n";

const char* const kDashes = "---------------------------------------\n";

int usage() { return orv::printUsage(kUsage); }

int fail(const std::string& _message) { return orv::printFailure(_message); }

void printLayers(const orv::Settings& _settings) {
    std::printf("Embedded bit stream contains:\n");
    std::printf("  %d spatial layers\n", _settings.nSL);
    std::printf("  %d temporal layers\n", _settings.nTL);
}

int packetize(int argc, char** argv) {
    using namespace orv;
    if (argc < 2 || argc > 4) return usage();
    const std::string path = argv[1];
    if (path.size() < 4) {
        std::printf("Error: The stream file name %s is shorter than four characters!\n", path.c_str());
        std::fflush(stdout);
        return -1;
    }

    std::vector<uint8_t> bytes;
    try {
        bytes = readStreamFile(path, [&] { std::printf("Reading data from file: %s\n", path.c_str()); });
    } catch (const Error& e) {
        std::printf("Error: %s\n", e.what());
        std::fflush(stdout);
        return -1;
    }

    BitBuffer in(std::move(bytes));
    Settings settings;
    StreamHeader header;
    try {
        header = RedundancyMinCoder::readStreamHeaderFields(in, settings);
        RedundancyMinCoder::checkRecordsFit(header, settings, in.bytesLeft());
    } catch (const std::exception& e) {
        std::printf("Error: %s: %s\n", path.c_str(), e.what());
        std::fflush(stdout);
        return -1;
    }

    if (argc == 2) {
        printLayers(settings);
        return 0;
    }

    // The spatial count is checked before the temporal one is read.
    const int nSLreq = parseCount(argv[2]);
    if (nSLreq < 1) return usage();
    const int nTLreq = argc == 4 ? parseCount(argv[3]) : settings.nTL;
    if (nTLreq < 1) return usage();

    printLayers(settings);
    std::printf("%s", kDashes);
    std::printf("Settings:\n");
    std::printf("  packetize %d/%d spatial layers\n", nSLreq, settings.nSL);
    std::printf("  packetize %d/%d temporal layers\n", nTLreq, settings.nTL);

    BitBuffer out(in.size());
    std::printf("%s", kDashes);
    std::printf("Packetizing...\n");
    try {
        RedundancyMinCoder::writeStreamHeader(out, settings, static_cast<int>(header.V), header.F, header.qStep);
        extractLayers(in, settings.nSL, header.F, nSLreq, nTLreq, out);
    } catch (const std::exception& e) {
        return fail(path + ": " + e.what());
    }
    std::printf("COMPLETED!%29s\n", "");
    std::printf("%s", kDashes);

    const std::string name =
        path.substr(0, path.size() - 4) + "Pack" + std::to_string(nSLreq) + std::to_string(nTLreq) + ".orv";
    try {
        StreamFileWriter writer(name);
        std::printf("Writing packetized data into file:\n  %s\n", name.c_str());
        const int64_t n = out.padToByte();
        writer.commit(out.data(), static_cast<uint64_t>(n));
        std::printf("  %lld bytes written\n", static_cast<long long>(n + 4));
    } catch (const Error& e) {
        std::printf("Error: %s\n", e.what());
        std::fflush(stdout);
        return -1;
    }
    std::fflush(stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return packetize(argc, argv);
    } catch (const std::bad_alloc&) {
        std::printf("Error: out of memory\n");
    } catch (const std::exception& e) {
        std::printf("Error: %s\n", e.what());
    }
    std::fflush(stdout);
    return -1;
}
