// Consoles for tests, fuzz targets and the simulation.
#pragma once

#include <string>

#include "platform/ports/console_output.h"

namespace qxr::sim {

// Prints nowhere: runs that only look at what the operations did.
class NullConsole : public platform::ConsoleOutput {
  public:
    void Write(const char*) override {}
};

// Keeps what was printed, for tests and fuzz targets to read.
class RecordingConsole : public platform::ConsoleOutput {
  public:
    void Write(const char* text) override { text_ += text; }
    const std::string& Text() const { return text_; }
    void Clear() { text_.clear(); }

  private:
    std::string text_;
};

}  // namespace qxr::sim
