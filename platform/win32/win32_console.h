// The console of the real programs: standard output, flushed after every text.
#pragma once

#include <cstdio>

#include "platform/ports/console_output.h"

namespace qxr::win32 {

class StdoutConsole : public platform::ConsoleOutput {
  public:
    void Write(const char* text) override {
        std::fputs(text, stdout);
        std::fflush(stdout);
    }
};

}  // namespace qxr::win32
