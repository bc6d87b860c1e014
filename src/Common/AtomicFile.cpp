// The temporary-then-rename writer (see AtomicFile.h) and the list of live
// temporaries that the interrupt handler removes. The list must be readable
// from a signal handler at any moment: it is a chain of fixed blocks of
// atomic pointers that only ever grows, and an entry is published only after
// its text is complete.
#include "Common/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "Common/Check.h"

namespace orv {

namespace {

constexpr int kBlockSlots = 1024;

struct SlotBlock {
    std::atomic<char*> path[kBlockSlots] = {};
    std::atomic<SlotBlock*> next{nullptr};
};

std::atomic<SlotBlock*> g_blocks{nullptr};
std::vector<int> g_freeSlots;
int g_slotCount = 0;

extern "C" void removeTemporariesAndStop(int _signal) {
    for (SlotBlock* b = g_blocks.load(); b; b = b->next.load())
        for (auto& slot : b->path)
            if (char* p = slot.load()) unlink(p);
    std::signal(_signal, SIG_DFL);
    std::raise(_signal);
}

void installHandlers() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction current {};
        // A signal the caller chose to ignore stays ignored.
        if (sigaction(sig, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
        struct sigaction action {};
        action.sa_handler = removeTemporariesAndStop;
        sigemptyset(&action.sa_mask);
        sigaction(sig, &action, nullptr);
    }
}

std::atomic<char*>& slotAt(int _slot) {
    SlotBlock* b = g_blocks.load();
    // Blocks are chained newest first.
    for (int skip = (g_slotCount - 1) / kBlockSlots - _slot / kBlockSlots; skip > 0; --skip) b = b->next.load();
    return b->path[_slot % kBlockSlots];
}

int registerTemporary(const std::string& _path) {
    installHandlers();
    int slot;
    if (!g_freeSlots.empty()) {
        slot = g_freeSlots.back();
        g_freeSlots.pop_back();
    } else {
        if (g_slotCount % kBlockSlots == 0) {
            auto* block = new SlotBlock;
            block->next.store(g_blocks.load());
            g_blocks.store(block);
        }
        slot = g_slotCount++;
    }
    char* copy = strdup(_path.c_str());
    if (!copy) throw std::bad_alloc();
    slotAt(slot).store(copy);
    return slot;
}

void unregisterTemporary(int _slot) {
    if (_slot < 0) return;
    std::free(slotAt(_slot).exchange(nullptr));
    g_freeSlots.push_back(_slot);
}

}  // namespace

AtomicFile::AtomicFile(std::string _path) : path_(std::move(_path)) {
    // A target that could not be opened for writing (a folder, a read-only
    // file, a name too long for the file system, ...) is refused now, not
    // only when the finished file is renamed onto it.
    struct stat target;
    errno = 0;
    if (stat(path_.c_str(), &target) == 0 ? (S_ISDIR(target.st_mode) || access(path_.c_str(), W_OK) != 0)
                                          : errno != ENOENT)
        throw Error("Creating file " + path_ + " failed!");
    // The temporary file lives in the target's folder, so that the rename is
    // atomic; its name is the target's + ".tmp" + the process id, and a target
    // name near the file system's limit gets a short name of its own.
    // O_EXCL refuses to reuse an existing name: no user file is ever truncated.
    const std::string pid = std::to_string(getpid());
    const size_t slash = path_.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : path_.substr(0, slash + 1);
    std::string base = path_ + ".tmp" + pid;
    // The interrupt signals wait while a temporary is created and listed, so
    // that none exists unlisted and no listed name is anybody else's file.
    sigset_t interrupts, previous;
    sigemptyset(&interrupts);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&interrupts, sig);
    sigprocmask(SIG_BLOCK, &interrupts, &previous);
    int err = 0;
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        tempPath_ = attempt == 0 ? base : base + "-" + std::to_string(attempt);
        fd_ = ::open(tempPath_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        err = errno;
        if (fd_ < 0 && err == ENAMETOOLONG && base != folder + ".orv" + pid) {
            base = folder + ".orv" + pid;
            attempt = -1;
        } else if (fd_ < 0 && err != EEXIST) {
            break;
        }
    }
    if (fd_ >= 0) {
        try {
            slot_ = registerTemporary(tempPath_);
        } catch (...) {
            ::close(fd_);
            ::unlink(tempPath_.c_str());
            sigprocmask(SIG_SETMASK, &previous, nullptr);
            throw;
        }
    }
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    if (fd_ < 0) throw Error("Creating file " + path_ + " failed!");
}

AtomicFile::AtomicFile(AtomicFile&& _other) noexcept
    : path_(std::move(_other.path_)), tempPath_(std::move(_other.tempPath_)), fd_(_other.fd_), slot_(_other.slot_),
      done_(_other.done_) {
    _other.fd_ = -1;
    _other.slot_ = -1;
    _other.done_ = true;
}

AtomicFile::~AtomicFile() { discard(); }

void AtomicFile::failWriting(int _errno) {
    discard();
    throw Error("Writing file " + path_ + " failed: " + std::strerror(_errno));
}

void AtomicFile::write(const void* _data, size_t _n) {
    if (fd_ < 0) throw Error("Writing file " + path_ + " failed: the file is already closed");
    const char* p = static_cast<const char*>(_data);
    while (_n > 0) {
        const ssize_t w = ::write(fd_, p, _n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) failWriting(w < 0 ? errno : ENOSPC);
        p += w;
        _n -= static_cast<size_t>(w);
    }
}

void AtomicFile::close() {
    if (fd_ < 0) return;
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) failWriting(errno);
}

void AtomicFile::commit() {
    if (done_) throw Error("Writing file " + path_ + " failed: the file was discarded");
    close();
    if (std::rename(tempPath_.c_str(), path_.c_str()) != 0) failWriting(errno);
    done_ = true;
    unregisterTemporary(slot_);
    slot_ = -1;
}

void AtomicFile::discard() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!done_) {
        done_ = true;
        if (slot_ >= 0) ::unlink(tempPath_.c_str());
    }
    unregisterTemporary(slot_);
    slot_ = -1;
}

void writeFileAtomically(const std::string& _path, std::string_view _bytes) {
    AtomicFile file(_path);
    file.write(_bytes);
    file.commit();
}

}  // namespace orv
