// Where the command-line operations print: standard output in the program, a buffer in tests.
#pragma once

#include <cstdio>
#include <string>

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

// Prints nowhere: runs that only look at what the operations did.
class NullConsole : public ConsoleOutput {
  public:
    void Write(const char*) override {}
};

// Keeps what was printed, for tests and fuzz targets to read.
class RecordingConsole : public ConsoleOutput {
  public:
    void Write(const char* text) override { text_ += text; }
    const std::string& Text() const { return text_; }
    void Clear() { text_.clear(); }

  private:
    std::string text_;
};

}  // namespace qxr::sync
