// Named shared memory that one process publishes and other processes read: a section of the
// paging file (CreateFileMappingA with INVALID_HANDLE_VALUE), mapped for writing by its
// creator. Readers open it by name, read-only, with calls of their own.
#pragma once

#include "platform/ports/win_defs.h"

namespace qxr::platform {

class SharedSections {
  public:
    virtual ~SharedSections() = default;
    // Creates (or opens, when it exists already) the section `name` of `size` bytes, readable
    // by every user and writable only by the system and administrators, in the namespace
    // every session of the machine sees; returns a view of it for writing, or null with the
    // error in *error. The name is given without a namespace prefix.
    virtual void* CreateSection(const char* name, DWORD size, DWORD* error) = 0;
    // Unmaps a view from CreateSection and closes its section.
    virtual void CloseSection(void* view) = 0;
};

}  // namespace qxr::platform
