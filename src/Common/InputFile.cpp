// Opening and reading input files (see InputFile.h). The file is opened
// without blocking (a FIFO without writer would otherwise stop open itself)
// and its type is taken from the open descriptor, so the file checked is the
// file read.
#include "Common/InputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "Common/Check.h"

namespace orv {

uint64_t physicalMemoryBytes() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return UINT64_MAX;
    return static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize);
}

std::string gibibytesText(uint64_t _bytes) {
    char text[64];
    std::snprintf(text, sizeof text, "%.1f GiB", static_cast<double>(_bytes) / (1024.0 * 1024.0 * 1024.0));
    return text;
}

static const char* kindOf(mode_t _mode) {
    if (S_ISDIR(_mode)) return "a folder";
    if (S_ISFIFO(_mode)) return "a FIFO (named pipe)";
    if (S_ISSOCK(_mode)) return "a socket";
    if (S_ISCHR(_mode) || S_ISBLK(_mode)) return "a device";
    return "not a regular file";
}

bool InputFile::open(const std::string& _path) {
    path_ = _path;
    fd_ = ::open(_path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        // A folder may refuse O_RDONLY on some systems; say what it is.
        const int err = errno;
        struct stat st;
        if (err == EISDIR || (stat(_path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)))
            throw Error(_path + " is a folder, not a regular file");
        errno = err;
        return false;
    }
    struct stat st;
    if (fstat(fd_, &st) != 0) throw Error("Reading file " + _path + " failed: " + std::strerror(errno));
    if (!S_ISREG(st.st_mode)) {
        const std::string kind = kindOf(st.st_mode);
        throw Error(_path + " is " + kind + (kind == "not a regular file" ? "" : ", not a regular file"));
    }
    const int flags = fcntl(fd_, F_GETFL);
    if (flags >= 0) fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK);
    size_ = static_cast<uint64_t>(st.st_size);
    return true;
}

InputFile::~InputFile() {
    if (fd_ >= 0) ::close(fd_);
}

void InputFile::checkFits(uint64_t _n) const {
    const uint64_t memory = physicalMemoryBytes();
    if (_n > memory || _n > SIZE_MAX / 2)
        throw Error(path_ + " is too large to read: " + std::to_string(_n) + " bytes (" + gibibytesText(_n) +
                    "), this machine has " + gibibytesText(memory) + " of memory");
}

void InputFile::readInto(char* _out, uint64_t _n) {
    while (_n > 0) {
        const ssize_t r = ::read(fd_, _out, _n > (1u << 30) ? (1u << 30) : static_cast<size_t>(_n));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) throw Error("Reading file " + path_ + " failed: " + std::strerror(errno));
        if (r == 0) throw Error("Reading file " + path_ + " failed: the file became shorter while it was read");
        _out += r;
        _n -= static_cast<uint64_t>(r);
    }
}

void InputFile::readAll(std::string& _out) {
    checkFits(size_);
    _out.resize(static_cast<size_t>(size_));
    readInto(_out.data(), size_);
}

void InputFile::readAll(std::vector<uint8_t>& _out) {
    checkFits(size_);
    _out.resize(static_cast<size_t>(size_));
    readInto(reinterpret_cast<char*>(_out.data()), size_);
}

}  // namespace orv
