// The engine's trace hook. The programs leave the sink empty, so the lines are discarded;
// tests and diagnostics install a sink to see the engine's decisions.
#pragma once

#include <functional>

namespace qxr::discipline {

using DisciplineTraceSink = std::function<void(const char* line)>;

// Installs the sink that receives every formatted line (an empty sink discards them) and
// returns the one it replaces. Not thread-safe: set it before the engine runs.
DisciplineTraceSink SetDisciplineTraceSink(DisciplineTraceSink sink);

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void DisciplineTrace(const char* format, ...);

}  // namespace qxr::discipline
