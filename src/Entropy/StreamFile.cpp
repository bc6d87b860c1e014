// Reading and writing stream files. The length field is never trusted: it is
// compared with the file's real size before anything of that size is
// allocated. Writing goes through AtomicFile, so an interrupted or failed run
// never leaves a half-written stream behind.
#include "Entropy/StreamFile.h"

#include "Common/AtomicFile.h"
#include "Common/Check.h"
#include "Common/InputFile.h"

namespace orv {

std::vector<uint8_t> readStreamFile(const std::string& _path) { return readStreamFile(_path, [] {}); }

std::vector<uint8_t> readStreamFile(const std::string& _path, const std::function<void()>& _afterOpen) {
    InputFile file;
    if (!file.open(_path)) throw Error("Opening file " + _path + " failed!");
    _afterOpen();
    if (file.size() < 4) throw Error(_path + ": the file is shorter than its 4-byte length field");
    uint8_t length[4];
    file.read(length, 4);
    const uint64_t n = static_cast<uint64_t>(length[0]) | static_cast<uint64_t>(length[1]) << 8 |
                       static_cast<uint64_t>(length[2]) << 16 | static_cast<uint64_t>(length[3]) << 24;
    // The real size decides how much is allocated; a lying length cannot.
    const uint64_t rest = file.size() - 4;
    if (rest < n)
        throw Error(_path + ": the file is shorter than its length field promises (" + std::to_string(n) +
                    " bytes of bit stream announced, " + std::to_string(rest) + " present)");
    file.checkFits(n);
    std::vector<uint8_t> bytes(static_cast<size_t>(n));
    file.read(bytes.data(), n);
    return bytes;
}

void writeStreamFile(const std::string& _path, const uint8_t* _bitStream, uint64_t _nBytes) {
    StreamFileWriter writer(_path);
    writer.commit(_bitStream, _nBytes);
}

StreamFileWriter::StreamFileWriter(std::string _path) : file_(std::move(_path)) {}

void StreamFileWriter::commit(const uint8_t* _bitStream, uint64_t _nBytes) {
    if (_nBytes > 0xFFFFFFFFu) {
        file_.discard();
        throw Error("Writing file " + file_.path() + " failed: " + std::to_string(_nBytes) +
                    " bytes do not fit the 32-bit length field");
    }
    const uint8_t length[4] = {static_cast<uint8_t>(_nBytes), static_cast<uint8_t>(_nBytes >> 8),
                               static_cast<uint8_t>(_nBytes >> 16), static_cast<uint8_t>(_nBytes >> 24)};
    file_.write(length, 4);
    if (_nBytes > 0) file_.write(_bitStream, static_cast<size_t>(_nBytes));
    file_.commit();
}

}  // namespace orv
