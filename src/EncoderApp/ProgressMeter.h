// ProgressMeter: OrvEnc's progress display for one long phase (loading,
// encoding). On a terminal a bar redrawn in place with '\r'; otherwise a plain
// line now and then, so logs stay readable; nothing in quiet mode.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

namespace orv {

class ProgressMeter {
public:
    enum class Style { Bar, Lines, Silent };

    // The style OrvEnc uses for standard output.
    static Style styleFor(bool _quiet);

    ProgressMeter(std::FILE* _out, Style _style, std::string _label, int _total);
    ProgressMeter(const ProgressMeter&) = delete;
    ProgressMeter& operator=(const ProgressMeter&) = delete;

    // _done of the total units are finished; draws when enough time has passed
    // (always at the end).
    void update(int _done);
    // Ends the phase: the final state is shown and the bar's line closed.
    void finish();
    double elapsedSeconds() const;

private:
    void draw(int _done, bool _final);
    int terminalColumns() const;

    std::FILE* out_;
    Style style_;
    std::string label_;
    int total_;
    int done_ = 0;
    bool finished_ = false;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastDraw_;
    int lastLinePercent_ = -1;
};

// "1:05" or "1:02:03" for a count of seconds.
std::string formatDuration(double _seconds);

}  // namespace orv
