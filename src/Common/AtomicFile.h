// AtomicFile: the one way the programs write an output file. The bytes go to
// a temporary name in the target's folder and are renamed onto the target
// only once all of them were written and the file was closed without error,
// so a failed or interrupted run leaves no partial file under a final name
// and never damages a file that was there before. While a temporary exists it
// is listed for the SIGINT/SIGTERM/SIGHUP handler, which removes it; after a
// SIGKILL only temporaries (name + ".tmp<pid>") can remain.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace orv {

class AtomicFile {
public:
    // Creates the temporary file. A target that could never be written (a
    // folder, a read-only file, a missing folder) is refused here, before any
    // long work: orv::Error "Creating file <path> failed!".
    explicit AtomicFile(std::string _path);
    // Removes the temporary file unless commit() renamed it into place.
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    AtomicFile(AtomicFile&& _other) noexcept;
    AtomicFile& operator=(AtomicFile&&) = delete;

    // Appends bytes; orv::Error "Writing file <path> failed: <reason>".
    void write(const void* _data, size_t _n);
    void write(std::string_view _text) { write(_text.data(), _text.size()); }
    // Closes the temporary file (checking the close: a full disk often shows
    // only there); the file stays under its temporary name until commit().
    void close();
    // close() if still open, then renames the temporary file onto the target.
    void commit();
    // Removes the temporary file now.
    void discard();

    const std::string& path() const { return path_; }
    const std::string& temporaryPath() const { return tempPath_; }

private:
    [[noreturn]] void failWriting(int _errno);

    std::string path_;
    std::string tempPath_;
    int fd_ = -1;
    int slot_ = -1;
    bool done_ = false;
};

// Writes _bytes as the whole file _path through an AtomicFile.
void writeFileAtomically(const std::string& _path, std::string_view _bytes);

}  // namespace orv
