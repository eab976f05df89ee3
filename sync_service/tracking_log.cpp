#include "sync_service/tracking_log.h"

#include <cstdio>
#include <cstring>

namespace qxr::sync {

namespace {

constexpr int kHeaderLength = sizeof kTrackingLogHeader - 1;

class FileGuard {
  public:
    FileGuard(platform::FileSystem& files, HANDLE file) : files_(files), file_(file) {}
    ~FileGuard() { files_.CloseHandle(file_); }
    FileGuard(const FileGuard&) = delete;
    FileGuard& operator=(const FileGuard&) = delete;

  private:
    platform::FileSystem& files_;
    HANDLE file_;
};

DWORD LastErrorOr(DWORD fallback) {
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : fallback;
}

}  // namespace

void ReadTrackingLogSettings(platform::Registry& registry, HKEY key,
                             TrackingLogSettings* settings) {
    char path[MAX_PATH + 1] = {};
    DWORD type = 0;
    DWORD size = MAX_PATH;  // one byte spare: the data need not be terminated
    if (registry.RegQueryValueExA(key, kTrackingLogValue, &type, reinterpret_cast<BYTE*>(path),
                                  &size) == ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ) && std::strlen(path) < MAX_PATH) {
        std::memcpy(settings->path, path, std::strlen(path) + 1);
        settings->expand = type == REG_EXPAND_SZ;
    }
    int32_t maxKb = 0;
    size = sizeof maxKb;
    if (registry.RegQueryValueExA(key, kTrackingLogMaxKbValue, &type,
                                  reinterpret_cast<BYTE*>(&maxKb), &size) == ERROR_SUCCESS &&
        size == sizeof maxKb && maxKb >= 1) {
        settings->maxKb = maxKb;
    }
}

DWORD ResolveTrackingLogPath(platform::FileSystem& files, TrackingLogSettings* settings) {
    char path[MAX_PATH] = {};
    if (settings->expand) {
        const DWORD length = files.ExpandEnvironmentStringsA(settings->path, path, MAX_PATH);
        if (length == 0 || length > MAX_PATH) return ERROR_FILENAME_EXCED_RANGE;
    } else {
        std::memcpy(path, settings->path, sizeof path);
    }
    const bool drive =
        ((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z') && path[1] == ':' && path[2] == '\\';
    const bool unc = path[0] == '\\' && path[1] == '\\' && path[2] != '\0';
    if (!drive && !unc) return ERROR_BAD_PATHNAME;
    std::memcpy(settings->path, path, sizeof path);
    settings->expand = false;
    return ERROR_SUCCESS;
}

TrackingLog::TrackingLog(platform::FileSystem& files, const TrackingLogSettings& settings)
    : files_(files), settings_(settings), oldPath_{} {
    std::snprintf(oldPath_, sizeof oldPath_, "%s.1", settings_.path);
    const int32_t maxKb = settings_.maxKb >= 1 ? settings_.maxKb : kDefaultTrackingLogMaxKb;
    limit_ = static_cast<uint64_t>(maxKb) * 1024u;
}

DWORD TrackingLog::Open(HANDLE* file, uint64_t* size) {
    *file = files_.CreateFileA(settings_.path, FILE_APPEND_DATA, FILE_SHARE_READ, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL);
    if (*file == INVALID_HANDLE_VALUE) return LastErrorOr(ERROR_GEN_FAILURE);
    DWORD high = 0;
    SetLastError(ERROR_SUCCESS);
    const DWORD low = files_.GetFileSize(*file, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS) {
        const DWORD error = GetLastError();
        files_.CloseHandle(*file);
        *file = INVALID_HANDLE_VALUE;
        return error;
    }
    *size = (static_cast<uint64_t>(high) << 32) | low;
    return ERROR_SUCCESS;
}

DWORD TrackingLog::Write(HANDLE file, const char* data, DWORD length) {
    DWORD written = 0;
    if (!files_.WriteFile(file, data, length, &written)) return LastErrorOr(ERROR_GEN_FAILURE);
    return written == length ? ERROR_SUCCESS : ERROR_DISK_FULL;
}

DWORD TrackingLog::Append(const TrackingRecord& record) {
    if (!settings_.Enabled()) return ERROR_SUCCESS;
    // Header and line in one write, so that a new file never holds a header alone.
    char text[kHeaderLength + kTrackingLineSize];
    std::memcpy(text, kTrackingLogHeader, kHeaderLength);
    const int lineLength =
        FormatTrackingLine(record, text + kHeaderLength, sizeof text - kHeaderLength);
    if (lineLength == 0) return ERROR_INVALID_DATA;

    HANDLE file = INVALID_HANDLE_VALUE;
    uint64_t size = 0;
    if (const DWORD error = Open(&file, &size); error != ERROR_SUCCESS) return error;
    if (size > 0 && size + static_cast<uint64_t>(lineLength) > limit_) {
        // Closed before the rename, which an open handle would refuse.
        files_.CloseHandle(file);
        if (!files_.MoveFileExA(settings_.path, oldPath_, MOVEFILE_REPLACE_EXISTING)) {
            // Writing on would let the file grow without bound: the line is dropped instead.
            return LastErrorOr(ERROR_GEN_FAILURE);
        }
        if (const DWORD error = Open(&file, &size); error != ERROR_SUCCESS) return error;
    }
    FileGuard guard(files_, file);
    if (size == 0) return Write(file, text, static_cast<DWORD>(kHeaderLength + lineLength));
    return Write(file, text + kHeaderLength, static_cast<DWORD>(lineLength));
}

}  // namespace qxr::sync
