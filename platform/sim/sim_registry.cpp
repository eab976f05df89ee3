#include "platform/sim/sim_registry.h"

#include <cstring>
#include <iterator>

namespace qxr::sim {

std::string SimRegistry::Lower(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

bool SimRegistry::Resolve(HKEY parent, LPCSTR subKey, std::string* path) const {
    std::string base;
    if (parent != HKEY_LOCAL_MACHINE) {
        const auto it = handles_.find(parent);
        if (it == handles_.end()) return false;
        base = it->second;
    }
    std::string sub = subKey != nullptr ? Lower(subKey) : std::string();
    while (!sub.empty() && sub.back() == '\\') sub.pop_back();
    if (base.empty()) {
        *path = sub;
    } else {
        *path = sub.empty() ? base : base + "\\" + sub;
    }
    return true;
}

LSTATUS SimRegistry::Failing(Operation operation, const std::string& lowerPath,
                             LPCSTR valueName) const {
    for (const Failure& failure : failures_) {
        const bool valueMatches = failure.valueName.empty() ||
                                  (valueName != nullptr && Lower(valueName) == failure.valueName);
        if (failure.operation == operation && valueMatches &&
            lowerPath.compare(0, failure.prefix.size(), failure.prefix) == 0) {
            return failure.error;
        }
    }
    return ERROR_SUCCESS;
}

HKEY SimRegistry::NewHandle(const std::string& lowerPath) {
    const HKEY handle = reinterpret_cast<HKEY>(nextHandle_);
    nextHandle_ += 0x10;
    handles_[handle] = lowerPath;
    return handle;
}

void SimRegistry::CreateKeyLocked(const std::string& path) {
    // Every key on the way is created too, as RegCreateKey does.
    std::size_t start = 0;
    while (true) {
        const std::size_t end = path.find('\\', start);
        const std::string prefix = path.substr(0, end);
        const std::string lower = Lower(prefix);
        if (keys_.find(lower) == keys_.end()) keys_[lower].path = prefix;
        if (end == std::string::npos) break;
        start = end + 1;
    }
}

const SimRegistry::Key* SimRegistry::FindKey(const std::string& path) const {
    const auto it = keys_.find(Lower(path));
    return it == keys_.end() ? nullptr : &it->second;
}

SimRegistry::Key* SimRegistry::FindKey(const std::string& path) {
    const auto it = keys_.find(Lower(path));
    return it == keys_.end() ? nullptr : &it->second;
}

SimRegistry::Key* SimRegistry::KeyOfHandle(HKEY key, std::string* lowerPath) {
    const auto it = handles_.find(key);
    if (it == handles_.end()) return nullptr;
    *lowerPath = it->second;
    return FindKey(it->second);
}

LSTATUS SimRegistry::RegCreateKeyA(HKEY parent, LPCSTR subKey, HKEY* key) {
    DWORD disposition = 0;
    return RegCreateKeyExA(parent, subKey, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, key,
                           &disposition);
}

LSTATUS SimRegistry::RegCreateKeyExA(HKEY parent, LPCSTR subKey, DWORD /*options*/, REGSAM access,
                                     HKEY* key, DWORD* disposition) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (key == nullptr) return ERROR_INVALID_PARAMETER;
    std::string path;
    if (!Resolve(parent, subKey, &path)) return ERROR_INVALID_HANDLE;
    if (const LSTATUS error = Failing(kCreateKey, path)) return error;
    const bool existed = keys_.find(path) != keys_.end();
    if (!existed) {
        std::string original = subKey != nullptr ? subKey : "";
        if (parent != HKEY_LOCAL_MACHINE) original = keys_[handles_[parent]].path + "\\" + original;
        CreateKeyLocked(original);
    }
    if (disposition != nullptr) {
        *disposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    }
    *key = NewHandle(path);
    accesses_.push_back(KeyAccess{path, access});
    if (journal_ != nullptr) journal_->Add("RegCreateKey " + path);
    return ERROR_SUCCESS;
}

LSTATUS SimRegistry::RegOpenKeyExA(HKEY parent, LPCSTR subKey, REGSAM access, HKEY* key) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (key == nullptr) return ERROR_INVALID_PARAMETER;
    std::string path;
    if (!Resolve(parent, subKey, &path)) return ERROR_INVALID_HANDLE;
    if (const LSTATUS error = Failing(kOpenKey, path)) return error;
    if (keys_.find(path) == keys_.end()) return ERROR_FILE_NOT_FOUND;
    *key = NewHandle(path);
    accesses_.push_back(KeyAccess{path, access});
    return ERROR_SUCCESS;
}

LSTATUS SimRegistry::RegQueryValueExA(HKEY key, LPCSTR name, DWORD* type, BYTE* data, DWORD* size) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string path;
    const Key* k = KeyOfHandle(key, &path);
    if (k == nullptr) return ERROR_INVALID_HANDLE;
    if (const LSTATUS error = Failing(kQueryValue, path, name)) return error;
    const auto it = k->values.find(Lower(name != nullptr ? name : ""));
    if (it == k->values.end()) return ERROR_FILE_NOT_FOUND;
    const SimRegistryValue& value = it->second;
    if (type != nullptr) *type = value.type;
    const DWORD needed = static_cast<DWORD>(value.data.size());
    if (data == nullptr) {
        if (size != nullptr) *size = needed;
        return ERROR_SUCCESS;
    }
    if (size == nullptr) return ERROR_INVALID_PARAMETER;
    if (*size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    if (needed > 0) std::memcpy(data, value.data.data(), needed);
    *size = needed;
    return ERROR_SUCCESS;
}

LSTATUS SimRegistry::RegSetValueExA(HKEY key, LPCSTR name, DWORD type, const BYTE* data,
                                    DWORD size) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string path;
    Key* k = KeyOfHandle(key, &path);
    if (k == nullptr) return ERROR_INVALID_HANDLE;
    if (const LSTATUS error = Failing(kSetValue, path, name)) return error;
    if (data == nullptr && size > 0) return ERROR_INVALID_PARAMETER;
    SimRegistryValue value;
    value.type = type;
    if (size > 0) value.data.assign(data, data + size);
    k->values[Lower(name != nullptr ? name : "")] = value;
    ++setValueCount_;
    if (journal_ != nullptr) journal_->Add("RegSetValue " + path + "\\" + Lower(name ? name : ""));
    return ERROR_SUCCESS;
}

LSTATUS SimRegistry::RegDeleteValueA(HKEY key, LPCSTR name) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string path;
    Key* k = KeyOfHandle(key, &path);
    if (k == nullptr) return ERROR_INVALID_HANDLE;
    return k->values.erase(Lower(name != nullptr ? name : "")) > 0 ? ERROR_SUCCESS
                                                                   : ERROR_FILE_NOT_FOUND;
}

LSTATUS SimRegistry::RegCloseKey(HKEY key) {
    std::lock_guard<std::mutex> lock(mutex_);
    return handles_.erase(key) > 0 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

void SimRegistry::CreateKey(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    CreateKeyLocked(path);
}

void SimRegistry::DeleteKeyTree(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string lower = Lower(path);
    for (auto it = keys_.begin(); it != keys_.end();) {
        const bool below =
            it->first == lower || it->first.compare(0, lower.size() + 1, lower + "\\") == 0;
        it = below ? keys_.erase(it) : std::next(it);
    }
}

bool SimRegistry::HasKey(const std::string& path) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return FindKey(path) != nullptr;
}

void SimRegistry::SetValue(const std::string& path, const std::string& name, DWORD type,
                           std::vector<BYTE> data) {
    std::lock_guard<std::mutex> lock(mutex_);
    CreateKeyLocked(path);
    SimRegistryValue& value = FindKey(path)->values[Lower(name)];
    value.type = type;
    value.data = std::move(data);
}

void SimRegistry::SetDword(const std::string& path, const std::string& name, DWORD value) {
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&value);
    SetValue(path, name, REG_DWORD, std::vector<BYTE>(bytes, bytes + sizeof value));
}

void SimRegistry::SetString(const std::string& path, const std::string& name, DWORD type,
                            const std::string& text) {
    SetValue(path, name, type, std::vector<BYTE>(text.c_str(), text.c_str() + text.size() + 1));
}

void SimRegistry::DeleteValue(const std::string& path, const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (Key* k = FindKey(path)) k->values.erase(Lower(name));
}

bool SimRegistry::HasValue(const std::string& path, const std::string& name) const {
    SimRegistryValue value;
    return GetValue(path, name, &value);
}

bool SimRegistry::GetValue(const std::string& path, const std::string& name,
                           SimRegistryValue* value) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const Key* k = FindKey(path);
    if (k == nullptr) return false;
    const auto it = k->values.find(Lower(name));
    if (it == k->values.end()) return false;
    *value = it->second;
    return true;
}

bool SimRegistry::GetDword(const std::string& path, const std::string& name, DWORD* value) const {
    SimRegistryValue v;
    if (!GetValue(path, name, &v) || v.data.size() != sizeof(DWORD)) return false;
    std::memcpy(value, v.data.data(), sizeof(DWORD));
    return true;
}

void SimRegistry::FailOperation(Operation operation, const std::string& pathPrefix, LSTATUS error,
                                const std::string& valueName) {
    std::lock_guard<std::mutex> lock(mutex_);
    failures_.push_back(Failure{operation, Lower(pathPrefix), error, Lower(valueName)});
}

void SimRegistry::ClearFailures() {
    std::lock_guard<std::mutex> lock(mutex_);
    failures_.clear();
}

int SimRegistry::OpenHandleCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(handles_.size());
}

int SimRegistry::SetValueCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return setValueCount_;
}

std::vector<SimRegistry::KeyAccess> SimRegistry::KeyAccesses() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return accesses_;
}

}  // namespace qxr::sim
