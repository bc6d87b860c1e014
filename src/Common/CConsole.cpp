// The process-wide log object. Both programs construct it with an empty path,
// which means "no log file": a program run in some folder must never truncate
// a file the user owns there, and neither program logs anything through it.
// With a path, the file is opened (and truncated) at construction; every
// printLog text then goes to the file and to standard output.
#include "Common/CConsole.h"

#include <cstdarg>

namespace orv {

CConsole::CConsole(const std::string& _logPath) {
    if (!_logPath.empty()) file_ = std::fopen(_logPath.c_str(), "w");
}

CConsole::~CConsole() {
    printLog("%s", "");
    printLog("%s", "END OF LOG");
    if (file_) std::fclose(file_);
}

void CConsole::printLog(const char* _format, ...) {
    if (!file_) return;
    char text[4096];
    va_list args;
    va_start(args, _format);
    std::vsnprintf(text, sizeof text, _format, args);
    va_end(args);
    std::fputs(text, file_);
    std::fputs(text, stdout);
    std::fflush(file_);
}

}  // namespace orv
