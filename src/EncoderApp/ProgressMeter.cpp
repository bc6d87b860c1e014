// Progress display of OrvEnc (see ProgressMeter.h). Redraws are rate-limited:
// a bar at most ten times a second; plain lines, once a phase has run for two
// seconds, every tenth of the work or every ten seconds, whichever comes first.
#include "EncoderApp/ProgressMeter.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace orv {

ProgressMeter::Style ProgressMeter::styleFor(bool _quiet) {
    if (_quiet) return Style::Silent;
    return isatty(fileno(stdout)) ? Style::Bar : Style::Lines;
}

ProgressMeter::ProgressMeter(std::FILE* _out, Style _style, std::string _label, int _total)
    : out_(_out), style_(_style), label_(std::move(_label)), total_(std::max(_total, 0)),
      start_(std::chrono::steady_clock::now()), lastDraw_(start_) {
    if (style_ == Style::Bar) draw(0, false);
}

double ProgressMeter::elapsedSeconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void ProgressMeter::update(int _done) {
    done_ = std::clamp(_done, 0, total_);
    if (style_ == Style::Silent) return;
    const auto now = std::chrono::steady_clock::now();
    const double sinceDraw = std::chrono::duration<double>(now - lastDraw_).count();
    if (style_ == Style::Bar) {
        if (sinceDraw >= 0.1 || done_ == total_) draw(done_, false);
    } else {
        // Short phases print only their closing line.
        const int percent = total_ > 0 ? static_cast<int>(100LL * done_ / total_) : 100;
        if (done_ < total_ && elapsedSeconds() >= 2.0 &&
            (percent / 10 > lastLinePercent_ / 10 || sinceDraw >= 10.0))
            draw(done_, false);
    }
}

void ProgressMeter::finish() {
    if (finished_) return;
    finished_ = true;
    if (style_ != Style::Silent) draw(done_, true);
}

void ProgressMeter::draw(int _done, bool _final) {
    lastDraw_ = std::chrono::steady_clock::now();
    const double elapsed = elapsedSeconds();
    const double rate = elapsed > 0 ? _done / elapsed : 0.0;
    const int remaining = total_ - _done;
    char text[256];
    if (_final) {
        std::snprintf(text, sizeof text, "%s: %d frames in %s (%.1f frames/s)", label_.c_str(), _done,
                      formatDuration(elapsed).c_str(), rate);
    } else {
        const std::string left = rate > 0 ? formatDuration(remaining / rate) + " left" : "--:-- left";
        std::snprintf(text, sizeof text, "%s %d/%d frames, %.1f frames/s, %s", label_.c_str(), _done, total_, rate,
                      left.c_str());
    }
    if (style_ == Style::Bar) {
        // The whole line must fit the terminal: a wrapped line cannot be
        // redrawn with '\r'.
        const int columns = terminalColumns();
        const int width = std::clamp(columns - 1 - 4 - static_cast<int>(std::strlen(text)), 0, 24);
        const int filled = total_ > 0 ? static_cast<int>(static_cast<long long>(width) * _done / total_) : width;
        std::string line = "\r  [" + std::string(static_cast<size_t>(filled), '#') +
                           std::string(static_cast<size_t>(width - filled), '-') + "] " + text;
        // Padding wipes the tail of a longer previous line.
        const size_t room = static_cast<size_t>(std::max(columns - 1, 10)) + 1;
        if (line.size() > room) line.resize(room);
        line.append(room - line.size(), ' ');
        std::fputs(line.c_str(), out_);
        if (_final) std::fputc('\n', out_);
    } else {
        lastLinePercent_ = total_ > 0 ? static_cast<int>(100LL * _done / total_) : 100;
        std::fprintf(out_, "  %s\n", text);
    }
    std::fflush(out_);
}

int ProgressMeter::terminalColumns() const {
    struct winsize size {};
    if (ioctl(fileno(out_), TIOCGWINSZ, &size) == 0 && size.ws_col >= 20) return size.ws_col;
    return 80;
}

std::string formatDuration(double _seconds) {
    if (!std::isfinite(_seconds) || _seconds < 0) _seconds = 0;
    const long long s = std::llround(_seconds);
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
    return text;
}

}  // namespace orv
