// CConsole: the process-wide log object. It writes a log only when its file
// could be opened, and echoes each logged text to standard output.
#pragma once

#include <cstdio>
#include <string>

namespace orv {

class CConsole {
public:
    explicit CConsole(const std::string& _logPath);
    virtual ~CConsole();
    CConsole(const CConsole&) = delete;
    CConsole& operator=(const CConsole&) = delete;

    void printLog(const char* _format, ...) __attribute__((format(printf, 2, 3)));

private:
    std::FILE* file_ = nullptr;
};

}  // namespace orv
