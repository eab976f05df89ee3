// Simulated shared sections: named blocks of memory that a test reads back by name, as a
// reader in another process would.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/ports/shared_sections.h"

namespace qxr::sim {

class SimSharedSections : public platform::SharedSections {
  public:
    void* CreateSection(const char* name, DWORD size, DWORD* error) override;
    void CloseSection(void* view) override;

    // The section's memory while it is open, else null.
    const uint8_t* Find(const std::string& name) const;
    int OpenCount() const { return static_cast<int>(open_.size()); }
    // The next CreateSection fails with `error` (0: succeeds).
    void FailNextCreate(DWORD error) { failNext_ = error; }

  private:
    // 8-byte words, so that a view is aligned as a mapped page is.
    std::map<std::string, std::vector<uint64_t>> sections_;
    std::map<void*, std::string> open_;
    DWORD failNext_ = 0;
};

}  // namespace qxr::sim
