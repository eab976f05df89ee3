// Where the command-line operations print: standard output in the programs
// (win32/win32_console.h), a buffer or nowhere in tests and simulations (sim/sim_console.h).
#pragma once

namespace qxr::platform {

class ConsoleOutput {
  public:
    virtual ~ConsoleOutput() = default;
    virtual void Write(const char* text) = 0;
};

}  // namespace qxr::platform
