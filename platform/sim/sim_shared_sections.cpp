#include "platform/sim/sim_shared_sections.h"

namespace qxr::sim {

void* SimSharedSections::CreateSection(const char* name, DWORD size, DWORD* error) {
    if (failNext_ != 0) {
        *error = failNext_;
        failNext_ = 0;
        return nullptr;
    }
    // A section that exists keeps its contents, as one another process holds open would.
    std::vector<uint64_t>& memory = sections_[name];
    if (memory.size() * 8 < size) memory.resize((size + 7) / 8, 0);
    void* view = memory.data();
    open_[view] = name;
    *error = 0;
    return view;
}

void SimSharedSections::CloseSection(void* view) {
    auto it = open_.find(view);
    if (it == open_.end()) return;
    // With no other holder the section goes, as a paging-file section does.
    sections_.erase(it->second);
    open_.erase(it);
}

const uint8_t* SimSharedSections::Find(const std::string& name) const {
    auto it = sections_.find(name);
    return it != sections_.end() ? reinterpret_cast<const uint8_t*>(it->second.data()) : nullptr;
}

}  // namespace qxr::sim
