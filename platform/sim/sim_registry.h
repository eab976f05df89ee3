// The simulated registry: a tree of keys under HKEY_LOCAL_MACHINE with typed values, key
// handles that must be closed, and chosen operations that fail. Key paths and value names
// compare without regard to letter case, as on Windows. Safe to use from several threads.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ports/registry.h"
#include "platform/sim/sim_journal.h"

namespace qxr::sim {

struct SimRegistryValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

class SimRegistry : public platform::Registry {
  public:
    enum Operation { kCreateKey, kOpenKey, kQueryValue, kSetValue, kOperationCount };

    LSTATUS RegCreateKeyA(HKEY parent, LPCSTR subKey, HKEY* key) override;
    LSTATUS RegCreateKeyExA(HKEY parent, LPCSTR subKey, DWORD options, REGSAM access, HKEY* key,
                            DWORD* disposition) override;
    LSTATUS RegOpenKeyExA(HKEY parent, LPCSTR subKey, REGSAM access, HKEY* key) override;
    LSTATUS RegQueryValueExA(HKEY key, LPCSTR name, DWORD* type, BYTE* data, DWORD* size) override;
    LSTATUS RegSetValueExA(HKEY key, LPCSTR name, DWORD type, const BYTE* data,
                           DWORD size) override;
    LSTATUS RegDeleteValueA(HKEY key, LPCSTR name) override;
    LSTATUS RegCloseKey(HKEY key) override;

    // Scenario controls and inspection; paths are below HKEY_LOCAL_MACHINE.
    void CreateKey(const std::string& path);
    // Removes the key with everything below it.
    void DeleteKeyTree(const std::string& path);
    bool HasKey(const std::string& path) const;
    void SetValue(const std::string& path, const std::string& name, DWORD type,
                  std::vector<BYTE> data);
    void SetDword(const std::string& path, const std::string& name, DWORD value);
    void SetString(const std::string& path, const std::string& name, DWORD type,
                   const std::string& text);  // stored with its terminator
    void DeleteValue(const std::string& path, const std::string& name);
    bool HasValue(const std::string& path, const std::string& name) const;
    // False when missing.
    bool GetValue(const std::string& path, const std::string& name, SimRegistryValue* value) const;
    // False when missing or not 4 bytes long.
    bool GetDword(const std::string& path, const std::string& name, DWORD* value) const;
    // Operations on paths that start with `pathPrefix` fail with `error` until cleared; with a
    // `valueName`, only the value operations on that one value do.
    void FailOperation(Operation operation, const std::string& pathPrefix, LSTATUS error,
                       const std::string& valueName = std::string());
    void ClearFailures();
    int OpenHandleCount() const;
    int SetValueCount() const;
    // Every key opened or created, with the access asked for, in order (lower-case paths).
    struct KeyAccess {
        std::string path;
        REGSAM access;
    };
    std::vector<KeyAccess> KeyAccesses() const;
    // Writes (key creation, value set and delete) are recorded there as well.
    void SetJournal(SimJournal* journal) { journal_ = journal; }

  private:
    struct Key {
        std::string path;                                // as first written
        std::map<std::string, SimRegistryValue> values;  // by lower-case name
    };
    struct Failure {
        Operation operation;
        std::string prefix;  // lower case
        LSTATUS error;
        std::string valueName;  // lower case; empty for every value
    };

    static std::string Lower(const std::string& text);
    // Full lower-case path of parent + subKey; false for an unknown parent handle.
    bool Resolve(HKEY parent, LPCSTR subKey, std::string* path) const;
    LSTATUS Failing(Operation operation, const std::string& lowerPath,
                    LPCSTR valueName = nullptr) const;
    HKEY NewHandle(const std::string& lowerPath);
    void CreateKeyLocked(const std::string& path);
    const Key* FindKey(const std::string& path) const;
    Key* FindKey(const std::string& path);
    Key* KeyOfHandle(HKEY key, std::string* lowerPath);

    mutable std::mutex mutex_;
    std::map<std::string, Key> keys_;      // by lower-case path
    std::map<HKEY, std::string> handles_;  // open handle -> lower-case path
    std::vector<Failure> failures_;
    std::uintptr_t nextHandle_ = 0x1000;
    int setValueCount_ = 0;
    std::vector<KeyAccess> accesses_;
    SimJournal* journal_ = nullptr;
};

}  // namespace qxr::sim
