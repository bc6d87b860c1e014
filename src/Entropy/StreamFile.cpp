// Reading and writing stream files. The length field is never trusted: it is
// compared with the file's real size before anything of that size is
// allocated. Writing goes through a temporary file beside the target, so an
// interrupted or failed run never leaves a half-written stream behind.
#include "Entropy/StreamFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>

#include "Common/Check.h"

namespace orv {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

std::vector<uint8_t> readStreamFile(const std::string& _path) { return readStreamFile(_path, [] {}); }

std::vector<uint8_t> readStreamFile(const std::string& _path, const std::function<void()>& _afterOpen) {
    FilePtr file(std::fopen(_path.c_str(), "rb"));
    if (!file) throw Error("Opening file " + _path + " failed!");
    _afterOpen();

    uint8_t length[4];
    if (std::fread(length, 1, 4, file.get()) != 4) {
        if (std::ferror(file.get())) throw Error(_path + ": reading the file failed");
        throw Error(_path + ": the file is shorter than its 4-byte length field");
    }
    const uint64_t n = static_cast<uint64_t>(length[0]) | static_cast<uint64_t>(length[1]) << 8 |
                       static_cast<uint64_t>(length[2]) << 16 | static_cast<uint64_t>(length[3]) << 24;

    // The real size decides how much is allocated; a lying length cannot.
    int64_t rest = -1;
    if (std::fseek(file.get(), 0, SEEK_END) == 0) {
        const long end = std::ftell(file.get());
        if (end >= 4 && std::fseek(file.get(), 4, SEEK_SET) == 0) rest = end - 4;
    }
    if (rest < 0) throw Error(_path + ": the file cannot be read");
    if (static_cast<uint64_t>(rest) < n)
        throw Error(_path + ": the file is shorter than its length field promises (" + std::to_string(n) +
                    " bytes of bit stream announced, " + std::to_string(rest) + " present)");

    std::vector<uint8_t> bytes(static_cast<size_t>(n));
    if (n > 0 && std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size())
        throw Error(_path + ": reading the file failed");
    return bytes;
}

void writeStreamFile(const std::string& _path, const uint8_t* _bitStream, uint64_t _nBytes) {
    StreamFileWriter writer(_path);
    writer.commit(_bitStream, _nBytes);
}

StreamFileWriter::StreamFileWriter(std::string _path) : path_(std::move(_path)) {
    // A target that could not be opened for writing (a folder, a name too
    // long for the file system, ...) is refused now, not only when the
    // finished file is renamed onto it.
    struct stat target;
    errno = 0;
    if (stat(path_.c_str(), &target) == 0 ? (S_ISDIR(target.st_mode) || access(path_.c_str(), W_OK) != 0)
                                          : errno != ENOENT)
        throw Error("Creating file " + path_ + " failed!");
    // The temporary file lives in the target's folder, so that the rename is
    // atomic; its first name is the target's name + ".tmp" + the process id
    // (the encoder removes it under that name when interrupted), and a target
    // name near the file system's limit gets a short name of its own. "x"
    // refuses to reuse an existing name: no user file is ever truncated.
    const std::string pid = std::to_string(getpid());
    const size_t slash = path_.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : path_.substr(0, slash + 1);
    std::string base = path_ + ".tmp" + pid;
    for (int attempt = 0; attempt < 100 && !file_; ++attempt) {
        tempPath_ = attempt == 0 ? base : base + "-" + std::to_string(attempt);
        errno = 0;
        file_ = std::fopen(tempPath_.c_str(), "wbx");
        if (!file_ && errno == ENAMETOOLONG && base != folder + ".orv" + pid) {
            base = folder + ".orv" + pid;
            attempt = -1;
        } else if (!file_ && errno != EEXIST) {
            break;
        }
    }
    if (!file_) throw Error("Creating file " + path_ + " failed!");
}

StreamFileWriter::~StreamFileWriter() { discard(); }

void StreamFileWriter::discard() {
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
        std::remove(tempPath_.c_str());
    }
}

void StreamFileWriter::commit(const uint8_t* _bitStream, uint64_t _nBytes) {
    if (!file_) throw Error("Creating file " + path_ + " failed!");
    if (_nBytes > 0xFFFFFFFFu) {
        discard();
        throw Error("Writing file " + path_ + " failed: " + std::to_string(_nBytes) +
                    " bytes do not fit the 32-bit length field");
    }
    const uint8_t length[4] = {static_cast<uint8_t>(_nBytes), static_cast<uint8_t>(_nBytes >> 8),
                               static_cast<uint8_t>(_nBytes >> 16), static_cast<uint8_t>(_nBytes >> 24)};
    bool ok = std::fwrite(length, 1, 4, file_) == 4;
    if (ok && _nBytes > 0) ok = std::fwrite(_bitStream, 1, static_cast<size_t>(_nBytes), file_) == _nBytes;
    std::FILE* f = file_;
    file_ = nullptr;
    ok = (std::fclose(f) == 0) && ok;
    if (ok) ok = std::rename(tempPath_.c_str(), path_.c_str()) == 0;
    if (!ok) {
        std::remove(tempPath_.c_str());
        throw Error("Writing file " + path_ + " failed!");
    }
}

}  // namespace orv
