// Implementation of the shared test helpers (see TestSupport.h).
#include "TestSupport.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>

namespace fs = std::filesystem;

namespace orvtest {

std::string binPath(const std::string& program) { return std::string(ORV_BIN_DIR) + "/" + program; }

static std::string shellQuote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

RunResult run(const std::string& program, const std::vector<std::string>& args, const fs::path& cwd) {
    std::string cmd;
    if (!cwd.empty()) cmd += "cd " + shellQuote(cwd.string()) + " && ";
    cmd += shellQuote(binPath(program));
    for (const auto& a : args) cmd += " " + shellQuote(a);
    cmd += " 2>&1 </dev/null";
    RunResult r;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return r;
    std::array<char, 4096> buf;
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.output.append(buf.data(), n);
    int status = pclose(p);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    return r;
}

ScratchDir::ScratchDir() {
    static std::mt19937_64 rng(std::random_device{}());
    do {
        path_ = fs::temp_directory_path() / ("orvtest-" + std::to_string(getpid()) + "-" + std::to_string(rng() % 1000000000));
    } while (fs::exists(path_));
    fs::create_directories(path_);
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

fs::path sharedDir() {
    if (const char* env = std::getenv("ORV_SHARED_DIR")) return env;
    return ORV_SHARED_DIR;
}

fs::path sequenceDir(const std::string& name) {
    static std::mutex m;
    std::lock_guard<std::mutex> lock(m);
    const fs::path archive = sharedDir() / "data" / (name + ".tar.xz");
    if (!fs::exists(archive)) return {};
    // Unpacked once per machine into a cache folder. CTest runs every case in
    // a process of its own, so several processes may unpack at once: each
    // unpacks into a private folder and renames the result into place, which
    // is atomic; a sequence folder that exists is therefore always complete.
    const fs::path cache = fs::temp_directory_path() / "orv-shared-data.2";
    const fs::path dir = cache / name;
    if (fs::is_directory(dir)) return dir;
    std::error_code ec;
    fs::create_directories(cache, ec);
    const fs::path scratch = cache / (".unpack-" + name + "-" + std::to_string(getpid()));
    fs::remove_all(scratch, ec);
    fs::create_directories(scratch, ec);
    const std::string cmd = "tar xJf " + shellQuote(archive.string()) + " -C " + shellQuote(scratch.string());
    const bool unpacked = std::system(cmd.c_str()) == 0;
    // Losing the race to another process leaves its (equal) folder in place.
    if (unpacked) fs::rename(scratch / name, dir, ec);
    fs::remove_all(scratch, ec);
    return fs::is_directory(dir) ? dir : fs::path();
}

std::vector<fs::path> sequenceFrames(const fs::path& dir) {
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().extension() == ".obj") files.push_back(e.path());
    auto number = [](const fs::path& p) {
        const std::string s = p.stem().string();
        long v = 0;
        for (char c : s)
            if (c >= '0' && c <= '9') v = v * 10 + (c - '0');
        return v;
    };
    std::sort(files.begin(), files.end(), [&](const fs::path& a, const fs::path& b) {
        const long na = number(a), nb = number(b);
        return na != nb ? na < nb : a < b;
    });
    return files;
}

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The frame files without their second line, which carries the writing time.
std::string framesWithoutDate(const fs::path& dir, const std::string& prefix, int F) {
    std::string all;
    const int width = static_cast<int>(std::to_string(F - 1).size());
    for (int f = 0; f < F; ++f) {
        std::string number = std::to_string(f);
        number.insert(0, static_cast<size_t>(width) - number.size(), '0');
        std::istringstream text(readFile(dir / (prefix + number + ".obj")));
        std::string line;
        for (int n = 0; std::getline(text, line); ++n)
            if (n != 1) all += line + "\n";
        all += "--\n";
    }
    return all;
}

void writeFile(const fs::path& p, const std::string& text) {
    std::ofstream out(p, std::ios::binary);
    out << text;
}

std::unique_ptr<orv::GeometryT<double>> loadSequence(const fs::path& dir, int _maxFrames, orv::FaceList& _faces) {
    const std::vector<fs::path> files = sequenceFrames(dir);
    const int F = std::min<int>(_maxFrames, static_cast<int>(files.size()));
    if (F < 1) return nullptr;
    std::unique_ptr<orv::GeometryT<double>> first = orv::readOBJ(files[0].string(), _faces);
    if (!first) return nullptr;
    auto positions = std::make_unique<orv::GeometryT<double>>(first->V, F);
    for (int f = 0; f < F; ++f) {
        orv::FaceList ignored;
        auto g = f == 0 ? std::move(first) : orv::readOBJ(files[f].string(), ignored);
        if (!g || g->V != positions->V) return nullptr;
        std::memcpy(positions->frame(f), g->frame(0), sizeof(double) * 3 * static_cast<size_t>(positions->V));
    }
    return positions;
}

}  // namespace orvtest
