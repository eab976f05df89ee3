// The simulated file system: files held in memory by path (compared without regard to letter
// case, as on Windows), handles that must be closed, a rename refused while the file is open
// without delete sharing, chosen operations that fail, and writes that block. Safe to use from
// several threads.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ports/file_system.h"

namespace qxr::sim {

class SimFileSystem : public platform::FileSystem {
  public:
    enum Operation { kCreate, kWrite, kSize, kMove, kOperationCount };

    HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD shareMode, DWORD disposition,
                       DWORD flags) override;
    BOOL WriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written) override;
    DWORD GetFileSize(HANDLE file, LPDWORD high) override;
    BOOL MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags) override;
    BOOL CloseHandle(HANDLE file) override;
    DWORD ExpandEnvironmentStringsA(LPCSTR source, LPSTR destination, DWORD size) override;

    // Scenario controls and inspection.
    void SetContents(const std::string& path, const std::string& contents);
    // An environment variable for ExpandEnvironmentStringsA (names compared without case).
    void SetEnvironment(const std::string& name, const std::string& value);
    bool Exists(const std::string& path) const;
    // Empty when missing.
    std::string Contents(const std::string& path) const;
    // Every file's path as first written, in order of the lower-case paths.
    std::vector<std::string> Paths() const;
    // Operations on paths that start with `pathPrefix` (for a write: the path the handle was
    // opened with) fail with `error` until cleared.
    void FailOperation(Operation operation, const std::string& pathPrefix, DWORD error);
    void ClearFailures();
    // Writes block, as on a share whose server has gone, until released or for at most
    // `limitMs` (then counted in HoldsTimedOut): a held caller never hangs a test for good.
    void HoldWrites(int limitMs);
    void ReleaseWrites();
    // Waits until `count` writes have begun (held ones included).
    bool WaitForWrites(int count, int timeoutMs) const;
    int HoldsTimedOut() const;
    int OpenHandleCount() const;
    int CreateCount() const;

  private:
    struct File {
        std::string path;  // as first written
        std::string data;
    };
    struct Open {
        std::string path;  // lower case
        DWORD access;
        DWORD shareMode;
        uint64_t position;
    };
    struct Failure {
        Operation operation;
        std::string prefix;  // lower case
        DWORD error;
    };

    static std::string Lower(const std::string& text);
    DWORD Failing(Operation operation, const std::string& lowerPath) const;
    bool OpenWithoutDeleteSharing(const std::string& lowerPath) const;

    mutable std::mutex mutex_;
    std::map<std::string, File> files_;  // by lower-case path
    std::map<HANDLE, Open> handles_;
    std::vector<Failure> failures_;
    std::map<std::string, std::string> environment_;  // by lower-case name
    mutable std::condition_variable released_;
    bool holding_ = false;
    int holdLimitMs_ = 0;
    int holdsTimedOut_ = 0;
    int writeCount_ = 0;
    std::uintptr_t nextHandle_ = 0x2000;
    int createCount_ = 0;
};

}  // namespace qxr::sim
