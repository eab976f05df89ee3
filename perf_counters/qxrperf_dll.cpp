// qxrperf.dll: QxrSync's performance counters as Performance Monitor loads them, by the names
// under the service's Performance key. It runs inside the reading process (Performance
// Monitor, or on NT 4.0 the system's logon process for a remote reader, where a fault stops
// the machine): it opens QxrSync's section read-only for each collection, never waits, never
// allocates, and leaves every decision to perf_collect.h. Imports: kernel32 and advapi32
// functions that NT 4.0 has.
#include <windows.h>
#include <winperf.h>

#include <cstddef>

#include "perf_counters/counter_record.h"
#include "perf_counters/perf_collect.h"
#include "perf_counters/perf_data.h"
#include "platform/global_namespace.h"

// The portable records are <winperf.h>'s, field for field.
static_assert(sizeof(qxr::perf::PerfObjectType) == sizeof(PERF_OBJECT_TYPE), "layout");
static_assert(offsetof(qxr::perf::PerfObjectType, PerfTime) == offsetof(PERF_OBJECT_TYPE, PerfTime),
              "layout");
static_assert(offsetof(qxr::perf::PerfObjectType, NumInstances) ==
                  offsetof(PERF_OBJECT_TYPE, NumInstances),
              "layout");
static_assert(sizeof(qxr::perf::PerfCounterDefinition) == sizeof(PERF_COUNTER_DEFINITION),
              "layout");
static_assert(offsetof(qxr::perf::PerfCounterDefinition, CounterOffset) ==
                  offsetof(PERF_COUNTER_DEFINITION, CounterOffset),
              "layout");
static_assert(qxr::perf::kPerfCounterCounter == PERF_COUNTER_COUNTER, "types");
static_assert(qxr::perf::kPerfCounterRawcount == PERF_COUNTER_RAWCOUNT, "types");
static_assert(qxr::perf::kPerfCounterLargeRawcount == PERF_COUNTER_LARGE_RAWCOUNT, "types");
static_assert(qxr::perf::kErrorMoreData == ERROR_MORE_DATA, "codes");

namespace {

constexpr char kPerformanceKey[] = "SYSTEM\\CurrentControlSet\\Services\\QxrSync\\Performance";

// Perflib calls Open once per using thread of a process and Close as often.
volatile LONG openCount = 0;
qxr::perf::PerfTitles titles;
char sectionName[64];

DWORD ReadDword(HKEY key, const char* name, DWORD* value) {
    DWORD type = 0, size = sizeof *value;
    const LONG status =
        RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    if (status != ERROR_SUCCESS) return static_cast<DWORD>(status);
    return type == REG_DWORD && size == sizeof *value ? ERROR_SUCCESS : ERROR_BADKEY;
}

}  // namespace

extern "C" DWORD APIENTRY OpenQxrPerformanceData(LPWSTR /*devices*/) {
    if (openCount > 0) {
        InterlockedIncrement(&openCount);
        return ERROR_SUCCESS;
    }
    // The indexes lodctr gave our names and help texts.
    HKEY key = nullptr;
    LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPerformanceKey, 0, KEY_READ, &key);
    if (status != ERROR_SUCCESS) return static_cast<DWORD>(status);
    DWORD firstCounter = 0, firstHelp = 0;
    DWORD error = ReadDword(key, "First Counter", &firstCounter);
    if (error == ERROR_SUCCESS) error = ReadDword(key, "First Help", &firstHelp);
    RegCloseKey(key);
    if (error != ERROR_SUCCESS) return error;
    titles.firstCounter = firstCounter;
    titles.firstHelp = firstHelp;

    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version)) version = OSVERSIONINFOA{};
    if (!qxr::platform::SharedObjectName(qxr::perf::kSectionBaseName, version.dwPlatformId,
                                         version.dwMajorVersion, sectionName, sizeof sectionName)) {
        return ERROR_INVALID_NAME;
    }
    InterlockedIncrement(&openCount);
    return ERROR_SUCCESS;
}

extern "C" DWORD APIENTRY CollectQxrPerformanceData(LPWSTR valueName, LPVOID* data,
                                                    LPDWORD totalBytes, LPDWORD numObjectTypes) {
    if (openCount <= 0) {
        *totalBytes = 0;
        *numObjectTypes = 0;
        return ERROR_SUCCESS;
    }
    // Opened for each collection, so that a service restarted since is seen, and no handle
    // keeps a stopped service's section alive.
    const void* view = nullptr;
    HANDLE section = OpenFileMappingA(FILE_MAP_READ, FALSE, sectionName);
    if (section != nullptr) {
        // A section smaller than the record (not ours) fails to map and counts as none.
        view = MapViewOfFile(section, FILE_MAP_READ, 0, 0, qxr::perf::kSharedRecordSize);
    }
    uint32_t bytes = *totalBytes, objects = 0;
    const uint32_t status = qxr::perf::CollectCounters(
        valueName, titles, view, view != nullptr ? qxr::perf::kSharedRecordSize : 0, GetTickCount(),
        data, &bytes, &objects);
    if (view != nullptr) UnmapViewOfFile(view);
    if (section != nullptr) CloseHandle(section);
    *totalBytes = bytes;
    *numObjectTypes = objects;
    return status;
}

extern "C" DWORD APIENTRY CloseQxrPerformanceData() {
    if (openCount > 0) InterlockedDecrement(&openCount);
    return ERROR_SUCCESS;
}
