// Where the command-line operations print: standard output in the program, a buffer in tests.
#pragma once

#include <cstdio>

namespace qxr::sync {

class ConsoleOutput {
  public:
    virtual ~ConsoleOutput() = default;
    virtual void Write(const char* text) = 0;
};

class StdoutConsole : public ConsoleOutput {
  public:
    void Write(const char* text) override {
        std::fputs(text, stdout);
        std::fflush(stdout);
    }
};

}  // namespace qxr::sync
