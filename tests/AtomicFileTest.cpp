// Output files: the temporary-then-rename writer under failures and
// interrupts, and the programs' use of it (a full file system is imitated
// with RLIMIT_FSIZE, which makes write() fail with EFBIG as a full disk makes
// it fail with ENOSPC).
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

#include "Common/AtomicFile.h"
#include "Common/Check.h"
#include "StreamBuilder.h"
#include "TestSupport.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> filesIn(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Runs a program in _cwd with every file it writes limited to _limit bytes
// (its output goes through a pipe, which the limit does not cover); returns
// its exit status and what it printed.
orvtest::RunResult runWithFileSizeLimit(const std::string& _program, const std::vector<std::string>& _args,
                                        const fs::path& _cwd, rlim_t _limit) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        if (chdir(_cwd.c_str()) != 0) _exit(100);
        dup2(fds[1], 1);
        dup2(fds[1], 2);
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{_limit, _limit};
        setrlimit(RLIMIT_FSIZE, &limit);
        std::vector<std::string> args = {orvtest::binPath(_program)};
        args.insert(args.end(), _args.begin(), _args.end());
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(101);
    }
    close(fds[1]);
    orvtest::RunResult r;
    char buf[4096];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) r.output.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

const std::string kTetra = "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 0 0 1\nf 1 3 2\nf 1 2 4\nf 2 3 4\nf 1 4 3\n";

}  // namespace

TEST(AtomicFile, TheTargetChangesOnlyOnCommit) {
    orvtest::ScratchDir dir;
    const std::string target = (dir / "out.txt").string();
    orvtest::writeFile(target, "old");
    {
        orv::AtomicFile file(target);
        file.write("new text");
        file.close();
        EXPECT_EQ(orvtest::readFile(target), "old");
        EXPECT_EQ(filesIn(dir.path()).size(), 2u);
    }
    // Never committed: the old file stays, the temporary is gone.
    EXPECT_EQ(orvtest::readFile(target), "old");
    EXPECT_EQ(filesIn(dir.path()), std::vector<std::string>{"out.txt"});
    orv::writeFileAtomically(target, "new text");
    EXPECT_EQ(orvtest::readFile(target), "new text");
    EXPECT_EQ(filesIn(dir.path()), std::vector<std::string>{"out.txt"});
    // Targets that can never be written are refused before anything is written.
    EXPECT_THROW(orv::AtomicFile((dir / "missing" / "x").string()), orv::Error);
    EXPECT_THROW(orv::AtomicFile(dir.path().string()), orv::Error);
}

TEST(AtomicFile, AnInterruptRemovesTheTemporariesAndKeepsTheOldFile) {
    orvtest::ScratchDir dir;
    for (int sig : {SIGINT, SIGTERM}) {
        orvtest::writeFile(dir / "a.txt", "old a");
        const pid_t pid = fork();
        if (pid == 0) {
            orv::AtomicFile a((dir / "a.txt").string());
            orv::AtomicFile b((dir / "b.txt").string());
            a.write(std::string(100000, 'a'));
            b.write("partial");
            std::raise(sig);
            _exit(0);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig);
        EXPECT_EQ(filesIn(dir.path()), std::vector<std::string>{"a.txt"});
        EXPECT_EQ(orvtest::readFile(dir / "a.txt"), "old a");
    }
}

TEST(AtomicFile, AWriteFailureNamesTheFileAndTheReason) {
    orvtest::ScratchDir dir;
    orvtest::writeFile(dir / "a.txt", "old a");
    const pid_t pid = fork();
    if (pid == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{1000, 1000};
        setrlimit(RLIMIT_FSIZE, &limit);
        try {
            orv::writeFileAtomically((dir / "a.txt").string(), std::string(5000, 'x'));
        } catch (const orv::Error& e) {
            _exit(std::string(e.what()) == "Writing file " + (dir / "a.txt").string() + " failed: File too large" ? 7
                                                                                                                 : 8);
        }
        _exit(9);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 7) << status;
    EXPECT_EQ(filesIn(dir.path()), std::vector<std::string>{"a.txt"});
    EXPECT_EQ(orvtest::readFile(dir / "a.txt"), "old a");
}

// OrvDec on a full file system: one line naming the frame, status 255, and
// the frames of an earlier run as they were (no frame is renamed into place
// before all were written).
TEST(AtomicFile, OrvDecReportsAFailedFrameWriteAndKeepsEarlierFrames) {
    orvtest::ScratchDir dir;
    orvtest::writeFile(dir / "tetra.obj", kTetra);
    orvtest::writeFile(dir / "tetra.orv",
                       orvtest::streamFile(orvtest::bitStream(4, 2, orvtest::settings(2, 1),
                                                              {{0, 0, {}, {{}, {}}}, {0, 1, {0}, {{}, {}}}})));
    const auto good = orvtest::run("OrvDec", {"tetra.orv", "tetra.obj"}, dir.path());
    ASSERT_EQ(good.exitCode, 0) << good.output;
    const std::string frame0 = orvtest::readFile(dir / "tetraDec0.obj");
    orvtest::writeFile(dir / "tetraDec1.obj", "earlier run");
    const auto r = runWithFileSizeLimit("OrvDec", {"tetra.orv", "tetra.obj"}, dir.path(), 150);
    EXPECT_EQ(r.exitCode, 255);
    EXPECT_NE(r.output.find("Error: Writing file tetraDec0.obj failed: File too large\n"), std::string::npos)
        << r.output;
    EXPECT_EQ(r.output.find("COMPLETED"), std::string::npos);
    EXPECT_EQ(filesIn(dir.path()),
              (std::vector<std::string>{"tetra.obj", "tetra.orv", "tetraDec0.obj", "tetraDec1.obj"}));
    EXPECT_EQ(orvtest::readFile(dir / "tetraDec0.obj"), frame0);
    EXPECT_EQ(orvtest::readFile(dir / "tetraDec1.obj"), "earlier run");
}

// The package, glb and OBJ-frame writers on a full file system: one line
// naming the file, status 255, nothing under the final name (an earlier file
// stays as it was) and no temporary left.
TEST(AtomicFile, PackageGlbAndObjFrameWritesFailWithoutPartialFiles) {
    orvtest::ScratchDir dir;
    orvtest::writeFile(dir / "a.obj", kTetra);
    orvtest::writeFile(dir / "b.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 0 0 1.5\nf 1 3 2\nf 1 2 4\nf 2 3 4\nf 1 4 3\n");
    const auto made = orvtest::run("OrvEnc", {"--package", "t.orvp", "a.obj", "b.obj"}, dir.path());
    ASSERT_EQ(made.exitCode, 0) << made.output;
    const std::string package = orvtest::readFile(dir / "t.orvp");

    const auto enc = runWithFileSizeLimit("OrvEnc", {"--package", "t.orvp", "a.obj", "b.obj"}, dir.path(), 64);
    EXPECT_EQ(enc.exitCode, 255) << enc.output;
    EXPECT_NE(enc.output.find("Writing file t.orvp failed: File too large"), std::string::npos) << enc.output;
    EXPECT_EQ(orvtest::readFile(dir / "t.orvp"), package);

    const auto glb = runWithFileSizeLimit("OrvExport", {"t.orvp", "t.glb"}, dir.path(), 200);
    EXPECT_EQ(glb.exitCode, 255) << glb.output;
    EXPECT_NE(glb.output.find("Writing file t.glb failed: File too large"), std::string::npos) << glb.output;
    EXPECT_EQ(std::count(glb.output.begin(), glb.output.end(), '\n'), 1) << glb.output;

    const auto obj = runWithFileSizeLimit("OrvExport", {"t.orvp", "frames"}, dir.path(), 40);
    EXPECT_EQ(obj.exitCode, 255) << obj.output;
    EXPECT_NE(obj.output.find("frame0.obj failed: File too large"), std::string::npos) << obj.output;
    EXPECT_TRUE(fs::is_empty(dir / "frames"));
    EXPECT_EQ(filesIn(dir.path()), (std::vector<std::string>{"a.obj", "b.obj", "frames", "t.orvp"}));

    // An unwritable glb target is refused before any frame is decoded.
    fs::create_directories(dir / "t.glb");
    const auto folder = orvtest::run("OrvExport", {"t.orvp", "t.glb"}, dir.path());
    EXPECT_EQ(folder.exitCode, 255);
    EXPECT_NE(folder.output.find("Creating file t.glb failed!"), std::string::npos) << folder.output;
}
