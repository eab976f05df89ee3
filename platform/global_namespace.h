// Names of kernel objects that processes of every session share. Windows 2000 (NT 5.0) and
// later keep named objects per session: a service runs in session 0 and a reader may sit in
// another (a Terminal Services session), so there a shared name goes into the global
// namespace with the prefix "Global\". NT 4.0 and Windows 9x have one namespace and do not
// know the prefix.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace qxr::platform {

// From GetVersionExA's platform id (2: VER_PLATFORM_WIN32_NT) and major version.
inline bool UsesGlobalNamespace(uint32_t platformId, uint32_t majorVersion) {
    return platformId == 2 && majorVersion >= 5;
}

// `name` as this Windows must be given it; false (and `out` empty) when it does not fit.
inline bool SharedObjectName(const char* name, uint32_t platformId, uint32_t majorVersion,
                             char* out, size_t size) {
    const int length = std::snprintf(
        out, size, "%s%s", UsesGlobalNamespace(platformId, majorVersion) ? "Global\\" : "", name);
    if (length < 0 || static_cast<size_t>(length) >= size) {
        if (size > 0) out[0] = '\0';
        return false;
    }
    return true;
}

}  // namespace qxr::platform
