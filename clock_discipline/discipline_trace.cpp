#include "clock_discipline/discipline_trace.h"

#include <cstdarg>
#include <cstdio>
#include <utility>

namespace qxr::discipline {

namespace {
DisciplineTraceSink& Sink() {
    static DisciplineTraceSink sink;
    return sink;
}
}  // namespace

DisciplineTraceSink SetDisciplineTraceSink(DisciplineTraceSink sink) {
    DisciplineTraceSink previous = std::move(Sink());
    Sink() = std::move(sink);
    return previous;
}

void DisciplineTrace(const char* format, ...) {
    if (!Sink()) return;
    // Every message of the engine is one short line; a longer one is cut, never overrun.
    char line[256];
    va_list args;
    va_start(args, format);
    const int written = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (written < 0) return;
    Sink()(line);
}

}  // namespace qxr::discipline
