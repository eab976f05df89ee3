#include "platform/sim/sim_file_system.h"

#include <algorithm>
#include <cctype>
#include <chrono>

namespace qxr::sim {

std::string SimFileSystem::Lower(const std::string& text) {
    std::string out = text;
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

DWORD SimFileSystem::Failing(Operation operation, const std::string& lowerPath) const {
    for (const Failure& f : failures_) {
        if (f.operation == operation && lowerPath.compare(0, f.prefix.size(), f.prefix) == 0) {
            return f.error;
        }
    }
    return ERROR_SUCCESS;
}

bool SimFileSystem::OpenWithoutDeleteSharing(const std::string& lowerPath) const {
    for (const auto& [handle, open] : handles_) {
        if (open.path == lowerPath && (open.shareMode & FILE_SHARE_DELETE) == 0) return true;
    }
    return false;
}

HANDLE SimFileSystem::CreateFileA(LPCSTR name, DWORD access, DWORD shareMode, DWORD disposition,
                                  DWORD) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (name == nullptr || *name == '\0') {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    const std::string path = Lower(name);
    if (const DWORD error = Failing(kCreate, path); error != ERROR_SUCCESS) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    auto it = files_.find(path);
    const bool exists = it != files_.end();
    if ((disposition == OPEN_EXISTING && !exists) || (disposition == CREATE_NEW && exists)) {
        SetLastError(exists ? ERROR_ALREADY_EXISTS : ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (!exists) {
        it = files_.emplace(path, File{name, std::string()}).first;
    } else if (disposition == CREATE_ALWAYS) {
        it->second.data.clear();
    }
    const HANDLE handle = reinterpret_cast<HANDLE>(nextHandle_);
    nextHandle_ += 4;
    handles_[handle] = Open{path, access, shareMode, 0};
    ++createCount_;
    SetLastError(exists && (disposition == OPEN_ALWAYS || disposition == CREATE_ALWAYS)
                     ? ERROR_ALREADY_EXISTS
                     : ERROR_SUCCESS);
    return handle;
}

BOOL SimFileSystem::WriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written) {
    std::unique_lock<std::mutex> lock(mutex_);
    ++writeCount_;
    released_.notify_all();
    if (holding_ && !released_.wait_for(lock, std::chrono::milliseconds(holdLimitMs_),
                                        [this] { return !holding_; })) {
        ++holdsTimedOut_;
    }
    if (written != nullptr) *written = 0;
    const auto it = handles_.find(file);
    if (it == handles_.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    Open& open = it->second;
    if ((open.access & (FILE_APPEND_DATA | GENERIC_WRITE)) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (const DWORD error = Failing(kWrite, open.path); error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    std::string& contents = files_[open.path].data;
    // Append-only access writes at the end whatever the position, as on Windows.
    if ((open.access & GENERIC_WRITE) == 0) open.position = contents.size();
    const auto* bytes = static_cast<const char*>(data);
    if (open.position > contents.size()) contents.resize(open.position, '\0');
    contents.replace(open.position, std::min<uint64_t>(size, contents.size() - open.position),
                     bytes, size);
    open.position += size;
    if (written != nullptr) *written = size;
    return TRUE;
}

DWORD SimFileSystem::GetFileSize(HANDLE file, LPDWORD high) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = handles_.find(file);
    if (it == handles_.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_FILE_SIZE;
    }
    if (const DWORD error = Failing(kSize, it->second.path); error != ERROR_SUCCESS) {
        SetLastError(error);
        return INVALID_FILE_SIZE;
    }
    const uint64_t size = files_[it->second.path].data.size();
    if (high != nullptr) *high = static_cast<DWORD>(size >> 32);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(size & 0xFFFFFFFFu);
}

BOOL SimFileSystem::MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (from == nullptr || to == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::string source = Lower(from), target = Lower(to);
    DWORD error = Failing(kMove, source);
    const auto it = files_.find(source);
    if (error == ERROR_SUCCESS && it == files_.end()) error = ERROR_FILE_NOT_FOUND;
    if (error == ERROR_SUCCESS && files_.count(target) != 0 &&
        (flags & MOVEFILE_REPLACE_EXISTING) == 0) {
        error = ERROR_ALREADY_EXISTS;
    }
    if (error == ERROR_SUCCESS &&
        (OpenWithoutDeleteSharing(source) || OpenWithoutDeleteSharing(target))) {
        error = ERROR_SHARING_VIOLATION;
    }
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    File moved{to, std::move(it->second.data)};
    files_.erase(it);
    files_[target] = std::move(moved);
    return TRUE;
}

BOOL SimFileSystem::CloseHandle(HANDLE file) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (handles_.erase(file) == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

DWORD SimFileSystem::ExpandEnvironmentStringsA(LPCSTR source, LPSTR destination, DWORD size) {
    std::string out;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const std::string text = source != nullptr ? source : "";
        std::size_t i = 0;
        while (i < text.size()) {
            const std::size_t end = text[i] == '%' ? text.find('%', i + 1) : std::string::npos;
            const auto known = end != std::string::npos
                                   ? environment_.find(Lower(text.substr(i + 1, end - i - 1)))
                                   : environment_.end();
            if (known != environment_.end()) {
                out += known->second;
                i = end + 1;
            } else {
                out += text[i++];
            }
        }
    }
    const DWORD needed = static_cast<DWORD>(out.size() + 1);
    if (destination != nullptr && needed <= size) {
        std::copy(out.begin(), out.end(), destination);
        destination[out.size()] = '\0';
    }
    return needed;
}

void SimFileSystem::HoldWrites(int limitMs) {
    std::lock_guard<std::mutex> lock(mutex_);
    holding_ = true;
    holdLimitMs_ = limitMs;
}

void SimFileSystem::ReleaseWrites() {
    std::lock_guard<std::mutex> lock(mutex_);
    holding_ = false;
    released_.notify_all();
}

bool SimFileSystem::WaitForWrites(int count, int timeoutMs) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return released_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return writeCount_ >= count; });
}

int SimFileSystem::HoldsTimedOut() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return holdsTimedOut_;
}

void SimFileSystem::SetEnvironment(const std::string& name, const std::string& value) {
    std::lock_guard<std::mutex> lock(mutex_);
    environment_[Lower(name)] = value;
}

void SimFileSystem::SetContents(const std::string& path, const std::string& contents) {
    std::lock_guard<std::mutex> lock(mutex_);
    File& file = files_[Lower(path)];
    if (file.path.empty()) file.path = path;
    file.data = contents;
}

bool SimFileSystem::Exists(const std::string& path) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return files_.count(Lower(path)) != 0;
}

std::string SimFileSystem::Contents(const std::string& path) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = files_.find(Lower(path));
    return it == files_.end() ? std::string() : it->second.data;
}

std::vector<std::string> SimFileSystem::Paths() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> out;
    for (const auto& [lower, file] : files_) out.push_back(file.path);
    return out;
}

void SimFileSystem::FailOperation(Operation operation, const std::string& pathPrefix, DWORD error) {
    std::lock_guard<std::mutex> lock(mutex_);
    failures_.push_back(Failure{operation, Lower(pathPrefix), error});
}

void SimFileSystem::ClearFailures() {
    std::lock_guard<std::mutex> lock(mutex_);
    failures_.clear();
}

int SimFileSystem::OpenHandleCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(handles_.size());
}

int SimFileSystem::CreateCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return createCount_;
}

}  // namespace qxr::sim
