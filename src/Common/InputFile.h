// InputFile: how the programs open a file they read. Only a regular file is
// read: a FIFO would block forever, a device like /dev/zero never ends and a
// folder has no bytes, so each is refused by name before anything is read.
// The file's size is known before reading and checked against memory, so a
// huge file is a clear message rather than an out-of-memory end.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orv {

class InputFile {
public:
    // Opens _path. Returns false when it cannot be opened at all (missing,
    // no permission): the caller reports that in its own words. Throws
    // orv::Error "<path> is a folder|FIFO|device ..., not a regular file".
    bool open(const std::string& _path);
    ~InputFile();

    uint64_t size() const { return size_; }
    // The whole file; orv::Error when it is larger than this machine's
    // memory or reading fails.
    void readAll(std::string& _out);
    void readAll(std::vector<uint8_t>& _out);
    // The next _n bytes (the caller has checked them against size()).
    void read(void* _out, uint64_t _n) { readInto(static_cast<char*>(_out), _n); }
    // orv::Error when _n bytes are more than this machine's memory.
    void checkFits(uint64_t _n) const;

private:
    void readInto(char* _out, uint64_t _n);

    std::string path_;
    int fd_ = -1;
    uint64_t size_ = 0;
};

// Physical memory of this machine in bytes (UINT64_MAX when unknown).
uint64_t physicalMemoryBytes();
// "3.2 GiB".
std::string gibibytesText(uint64_t _bytes);

}  // namespace orv
