// The fixed part of a program's version resource (VS_VERSIONINFO) as it lies in memory once
// the resource has been found, loaded and locked: a 6-byte header, the key "VS_VERSION_INFO" in
// UTF-16 with its terminator, padding to 32 bits, then VS_FIXEDFILEINFO. Reading it from the
// program's own resource needs neither version.dll nor the program's path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/ports/threads.h"

namespace qxr::platform {

inline constexpr std::size_t kFixedInfoOffset = 40;  // 6 + 2 * 16, rounded up to 4
inline constexpr std::size_t kFixedInfoSize = 52;    // sizeof(VS_FIXEDFILEINFO)
inline constexpr uint32_t kFixedInfoSignature = 0xFEEF04BDu;

// False when the block is too short, its fixed part is empty or it is not a version block.
inline bool ReadFixedFileVersion(const void* resource, std::size_t size, FileVersion* version) {
    if (resource == nullptr || version == nullptr || size < kFixedInfoOffset + kFixedInfoSize) {
        return false;
    }
    const auto* bytes = static_cast<const unsigned char*>(resource);
    const auto word = [bytes](std::size_t at) {
        return static_cast<uint16_t>(bytes[at] | (bytes[at + 1] << 8));
    };
    const auto dword = [&word](std::size_t at) {
        return static_cast<uint32_t>(word(at)) | (static_cast<uint32_t>(word(at + 2)) << 16);
    };
    const uint16_t length = word(0);
    const uint16_t valueLength = word(2);
    if (length < kFixedInfoOffset + kFixedInfoSize || valueLength < kFixedInfoSize) return false;
    const char16_t key[] = u"VS_VERSION_INFO";
    for (std::size_t i = 0; i < sizeof key / sizeof key[0]; ++i) {
        if (word(6 + 2 * i) != key[i]) return false;
    }
    if (dword(kFixedInfoOffset) != kFixedInfoSignature) return false;
    const uint32_t ms = dword(kFixedInfoOffset + 8);   // dwFileVersionMS
    const uint32_t ls = dword(kFixedInfoOffset + 12);  // dwFileVersionLS
    version->major = static_cast<WORD>(ms >> 16);
    version->minor = static_cast<WORD>(ms & 0xFFFF);
    version->build = static_cast<WORD>(ls >> 16);
    version->revision = static_cast<WORD>(ls & 0xFFFF);
    return true;
}

}  // namespace qxr::platform
