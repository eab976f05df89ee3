// The opt-in tracking log: one line per correction appended to a file an administrator
// names in the registry value "TrackingLog" (REG_SZ or REG_EXPAND_SZ) under the service's
// Parameters key. The value is absent by default and installation does not seed it, so by default
// no file is written. "TrackingLogMaxKB" (REG_DWORD, default 10240) bounds the file: a line that
// would take it past the limit first renames it to "<path>.1" (replacing the older generation) and
// starts a new one.
//
// The file is opened, appended to and closed for every line rather than held open: a line
// comes at most about once a second (every ten seconds by default), and a file that is not
// held open can be read, moved or deleted by the administrator at any time, is renamed
// without sharing trouble, and is created afresh (or written again after a full disk or a
// lost share) at the next line without any recovery logic.
#pragma once

#include <cstdint>

#include "platform/ports/file_system.h"
#include "platform/ports/registry.h"
#include "sync_service/tracking_record.h"

namespace qxr::sync {

inline constexpr char kTrackingLogValue[] = "TrackingLog";
inline constexpr char kTrackingLogMaxKbValue[] = "TrackingLogMaxKB";
inline constexpr int32_t kDefaultTrackingLogMaxKb = 10240;

struct TrackingLogSettings {
    char path[MAX_PATH] = {};  // empty = no log
    int32_t maxKb = kDefaultTrackingLogMaxKb;
    bool expand = false;  // REG_EXPAND_SZ: %NAME% forms still to be expanded
    bool Enabled() const { return path[0] != '\0'; }
};

// Reads both values from the open Parameters key. "TrackingLog" counts when it is a string (REG_SZ
// or REG_EXPAND_SZ) that fits MAX_PATH; "TrackingLogMaxKB" when it has 4 bytes and is at least 1.
// Anything else leaves the log off, or the limit at its default.
void ReadTrackingLogSettings(platform::Registry& registry, HKEY parameters,
                             TrackingLogSettings* settings);

// Expands the %NAME% forms of a REG_EXPAND_SZ path and refuses a path that is not absolute
// ("X:\..." or "\\server\share\..."): the service runs in the system directory, where a
// relative one would land. ERROR_SUCCESS, or the error to report with the path as written
// (ERROR_BAD_PATHNAME, or ERROR_FILENAME_EXCED_RANGE for an expansion past MAX_PATH); the
// settings are left as they were then.
DWORD ResolveTrackingLogPath(platform::FileSystem& files, TrackingLogSettings* settings);

class TrackingLog {
  public:
    TrackingLog(platform::FileSystem& files, const TrackingLogSettings& settings);
    TrackingLog(const TrackingLog&) = delete;
    TrackingLog& operator=(const TrackingLog&) = delete;

    const char* Path() const { return settings_.path; }

    // Appends the record's line (after the header when the file is new or empty), rotating
    // first when the line would take the file past its limit. Returns 0 or the Win32 error
    // that stopped it; the line is then lost, and the file is left no larger than before.
    DWORD Append(const TrackingRecord& record);

  private:
    // Opens (creates) the file for appending; its size in *size.
    DWORD Open(HANDLE* file, uint64_t* size);
    DWORD Write(HANDLE file, const char* data, DWORD length);

    platform::FileSystem& files_;
    TrackingLogSettings settings_;
    char oldPath_[MAX_PATH + 2];  // "<path>.1"
    uint64_t limit_;              // bytes
};

}  // namespace qxr::sync
