// qxrperfprobe: reads QxrSync's performance counters the way perflib does, with the counter
// DLL's own three functions: Library, Open, Collect and Close from the service's Performance
// key; Open; Collect of "Global" into a buffer that starts too small and grows (on each
// ERROR_MORE_DATA nothing may have been written); Close. Then it checks the PERF_OBJECT_TYPE
// and prints each counter by the name lodctr would have given it (from qxrperf.ini and
// qxrperf.h at First Counter + offset). Wine 8.0's own HKEY_PERFORMANCE_DATA misplaces what
// a Collect returns, hence the probe.
//
//   qxrperfprobe INI H [--times N]   the object; N more collections timed (collect_us=)
//   qxrperfprobe INI H --query TEXT  Collect with that value name: status, bytes, objects
//   qxrperfprobe --dacl              the access entries of the counters' section
//   qxrperfprobe INI H --perflib     RegQueryValueEx(HKEY_PERFORMANCE_DATA, "Global") as is:
//                                    the block's header, and our object where it lies in it
// Exit code 0 when the object was read and is well formed, 1 otherwise.
#include <windows.h>
#include <winperf.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

const char kPerformanceKey[] = "SYSTEM\\CurrentControlSet\\Services\\QxrSync\\Performance";
using OpenFn = DWORD(APIENTRY*)(LPWSTR);
using CollectFn = DWORD(APIENTRY*)(LPWSTR, LPVOID*, LPDWORD, LPDWORD);
using CloseFn = DWORD(APIENTRY*)();

std::string ReadString(HKEY key, const char* name) {
    char value[MAX_PATH] = {}, expanded[MAX_PATH] = {};
    DWORD type = 0, size = sizeof value - 1;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return "";
    }
    ExpandEnvironmentStringsA(value, expanded, sizeof expanded);
    return expanded;
}

DWORD ReadDword(HKEY key, const char* name) {
    DWORD value = 0, size = sizeof value;
    RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
    return value;
}

// The names lodctr would register: symbol offsets from the .h, texts from the .ini.
std::map<DWORD, std::string> Names(const char* iniPath, const char* hPath) {
    std::map<std::string, DWORD> offsets;
    std::map<DWORD, std::string> names;
    FILE* h = std::fopen(hPath, "r");
    char line[1024];
    while (h != nullptr && std::fgets(line, sizeof line, h)) {
        char symbol[128];
        unsigned long offset = 0;
        if (std::sscanf(line, "#define %127s %lu", symbol, &offset) == 2) offsets[symbol] = offset;
    }
    if (h != nullptr) std::fclose(h);
    FILE* ini = std::fopen(iniPath, "r");
    while (ini != nullptr && std::fgets(line, sizeof line, ini)) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        const size_t at = text.find("_009_NAME=");
        if (at == std::string::npos) continue;
        auto it = offsets.find(text.substr(0, at));
        if (it != offsets.end()) names[it->second] = text.substr(at + 10);
    }
    if (ini != nullptr) std::fclose(ini);
    return names;
}

struct Dll {
    HMODULE module = nullptr;
    OpenFn open = nullptr;
    CollectFn collect = nullptr;
    CloseFn close = nullptr;
    DWORD firstCounter = 0;
    DWORD firstHelp = 0;
};

bool LoadDll(Dll* dll) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPerformanceKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        std::printf("error=no Performance key\n");
        return false;
    }
    const std::string library = ReadString(key, "Library"), open = ReadString(key, "Open"),
                      collect = ReadString(key, "Collect"), close = ReadString(key, "Close");
    dll->firstCounter = ReadDword(key, "First Counter");
    dll->firstHelp = ReadDword(key, "First Help");
    RegCloseKey(key);
    std::printf("library=%s open=%s collect=%s close=%s first_counter=%lu first_help=%lu\n",
                library.c_str(), open.c_str(), collect.c_str(), close.c_str(),
                static_cast<unsigned long>(dll->firstCounter),
                static_cast<unsigned long>(dll->firstHelp));
    dll->module = LoadLibraryA(library.c_str());
    if (dll->module == nullptr) {
        std::printf("error=LoadLibrary %lu\n", static_cast<unsigned long>(GetLastError()));
        return false;
    }
    // Through void*: FARPROC's type is none of the three.
    dll->open = reinterpret_cast<OpenFn>(
        reinterpret_cast<void*>(GetProcAddress(dll->module, open.c_str())));
    dll->collect = reinterpret_cast<CollectFn>(
        reinterpret_cast<void*>(GetProcAddress(dll->module, collect.c_str())));
    dll->close = reinterpret_cast<CloseFn>(
        reinterpret_cast<void*>(GetProcAddress(dll->module, close.c_str())));
    if (dll->open == nullptr || dll->collect == nullptr || dll->close == nullptr) {
        std::printf("error=an entry point is missing\n");
        return false;
    }
    return true;
}

// Collects `query` into a buffer that starts at 8 bytes and doubles; on each ERROR_MORE_DATA
// checks that nothing was written and nothing returned. The object's bytes in `object`.
DWORD GrowingCollect(const Dll& dll, const wchar_t* query, std::vector<BYTE>* object,
                     DWORD* objects, int* tooSmall, bool* untouched) {
    *tooSmall = 0;
    *untouched = true;
    for (DWORD size = 8;; size *= 2) {
        std::vector<BYTE> buffer(size + 64, 0xA5);
        void* data = buffer.data();
        DWORD bytes = size;
        *objects = 99;
        wchar_t name[256];
        lstrcpynW(name, query, 256);
        const DWORD status = dll.collect(name, &data, &bytes, objects);
        if (status == ERROR_MORE_DATA && size < (1u << 20)) {
            ++*tooSmall;
            for (BYTE b : buffer) {
                if (b != 0xA5) *untouched = false;
            }
            if (data != buffer.data() || bytes != 0 || *objects != 0) *untouched = false;
            continue;
        }
        if (status == ERROR_SUCCESS) {
            if (static_cast<BYTE*>(data) != buffer.data() + bytes) *untouched = false;
            for (size_t i = bytes; i < buffer.size(); ++i) {
                if (buffer[i] != 0xA5) *untouched = false;  // written past what it returned
            }
            object->assign(buffer.begin(), buffer.begin() + bytes);
        }
        return status;
    }
}

template <typename T>
T At(const std::vector<BYTE>& b, size_t offset) {
    T value{};
    if (offset + sizeof value <= b.size()) std::memcpy(&value, b.data() + offset, sizeof value);
    return value;
}

// Prints the object counter by counter; false when it is not well formed.
bool PrintObject(const std::vector<BYTE>& b, const Dll& dll,
                 const std::map<DWORD, std::string>& names) {
    const auto object = At<PERF_OBJECT_TYPE>(b, 0);
    auto name = [&](DWORD index) {
        auto it = names.find(index - dll.firstCounter);
        return it != names.end() ? it->second : std::string("?");
    };
    bool ok = b.size() >= sizeof object && object.TotalByteLength == b.size() &&
              object.TotalByteLength % 8 == 0 && object.HeaderLength == sizeof object &&
              object.DefinitionLength ==
                  sizeof object + object.NumCounters * sizeof(PERF_COUNTER_DEFINITION) &&
              object.DefinitionLength + sizeof(PERF_COUNTER_BLOCK) <= object.TotalByteLength &&
              object.NumInstances == PERF_NO_INSTANCES;
    std::printf(
        "object \"%s\" name_index=%lu help_index=%lu counters=%lu bytes=%lu "
        "definition=%lu header=%lu instances=%ld default=%ld\n",
        name(object.ObjectNameTitleIndex).c_str(),
        static_cast<unsigned long>(object.ObjectNameTitleIndex),
        static_cast<unsigned long>(object.ObjectHelpTitleIndex),
        static_cast<unsigned long>(object.NumCounters),
        static_cast<unsigned long>(object.TotalByteLength),
        static_cast<unsigned long>(object.DefinitionLength),
        static_cast<unsigned long>(object.HeaderLength), object.NumInstances,
        object.DefaultCounter);
    if (!ok) return false;
    const DWORD block = object.DefinitionLength;
    const DWORD blockLength = At<DWORD>(b, block);
    ok = block + blockLength == object.TotalByteLength;
    for (DWORD i = 0; i < object.NumCounters; ++i) {
        const auto d = At<PERF_COUNTER_DEFINITION>(
            b, object.HeaderLength + i * sizeof(PERF_COUNTER_DEFINITION));
        if (d.CounterOffset + d.CounterSize > blockLength || d.CounterOffset % d.CounterSize != 0 ||
            d.CounterHelpTitleIndex - dll.firstHelp != d.CounterNameTitleIndex - dll.firstCounter) {
            ok = false;
        }
        const unsigned long long value = d.CounterSize == 8
                                             ? At<unsigned long long>(b, block + d.CounterOffset)
                                             : At<DWORD>(b, block + d.CounterOffset);
        std::printf(
            "counter \"%s\" index=%lu type=0x%08lX size=%lu offset=%lu scale=%ld value=%llu\n",
            name(d.CounterNameTitleIndex).c_str(),
            static_cast<unsigned long>(d.CounterNameTitleIndex),
            static_cast<unsigned long>(d.CounterType), static_cast<unsigned long>(d.CounterSize),
            static_cast<unsigned long>(d.CounterOffset), d.DefaultScale, value);
    }
    return ok;
}

int Dacl() {
    char name[64];
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    std::snprintf(name, sizeof name, "%sQxrSyncCounters",
                  version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion >= 5
                      ? "Global\\"
                      : "");
    HANDLE section = OpenFileMappingA(READ_CONTROL, FALSE, name);
    if (section == nullptr) {
        std::printf("error=OpenFileMapping %s %lu\n", name,
                    static_cast<unsigned long>(GetLastError()));
        return 1;
    }
    BYTE buffer[1024];
    DWORD needed = 0;
    if (!GetKernelObjectSecurity(section, DACL_SECURITY_INFORMATION, buffer, sizeof buffer,
                                 &needed)) {
        std::printf("error=GetKernelObjectSecurity %lu\n",
                    static_cast<unsigned long>(GetLastError()));
        return 1;
    }
    BOOL present = FALSE, defaulted = FALSE;
    PACL acl = nullptr;
    GetSecurityDescriptorDacl(buffer, &present, &acl, &defaulted);
    std::printf("section=%s dacl_present=%d null_dacl=%d\n", name, present ? 1 : 0,
                present && acl == nullptr ? 1 : 0);
    for (DWORD i = 0; acl != nullptr && i < acl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(acl, i, &ace)) break;
        const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        PSID sid = const_cast<DWORD*>(&allowed->SidStart);
        std::string text = "S-1";
        const SID_IDENTIFIER_AUTHORITY* authority = GetSidIdentifierAuthority(sid);
        text += "-" + std::to_string(authority->Value[5]);
        for (BYTE k = 0; k < *GetSidSubAuthorityCount(sid); ++k) {
            text += "-" + std::to_string(*GetSidSubAuthority(sid, k));
        }
        std::printf("ace type=%u sid=%s mask=0x%08lX\n", allowed->Header.AceType, text.c_str(),
                    static_cast<unsigned long>(allowed->Mask));
    }
    CloseHandle(section);
    return 0;
}

// What Wine's perflib makes of it, printed as it is: the block's header and where our object
// lies in it, decoded.
int Perflib(const Dll& dll, const std::map<DWORD, std::string>& names) {
    const DWORD firstCounter = dll.firstCounter;
    std::vector<BYTE> buffer(1 << 16);
    DWORD size = static_cast<DWORD>(buffer.size()), type = 0;
    LONG status;
    while ((status = RegQueryValueExA(HKEY_PERFORMANCE_DATA, "Global", nullptr, &type,
                                      buffer.data(), &size)) == ERROR_MORE_DATA &&
           buffer.size() < (1u << 24)) {
        buffer.resize(buffer.size() * 2);
        size = static_cast<DWORD>(buffer.size());
    }
    RegCloseKey(HKEY_PERFORMANCE_DATA);
    if (status != ERROR_SUCCESS) {
        std::printf("perflib status=%ld\n", status);
        return 1;
    }
    const auto block = At<PERF_DATA_BLOCK>(buffer, 0);
    std::printf("perf_data_block signature=%.4ls total=%lu header=%lu objects=%lu returned=%lu\n",
                block.Signature, static_cast<unsigned long>(block.TotalByteLength),
                static_cast<unsigned long>(block.HeaderLength),
                static_cast<unsigned long>(block.NumObjectTypes), static_cast<unsigned long>(size));
    for (DWORD at = 0; at + sizeof(PERF_OBJECT_TYPE) <= size; at += 8) {
        const auto object = At<PERF_OBJECT_TYPE>(buffer, at);
        if (object.ObjectNameTitleIndex == firstCounter && object.HeaderLength == sizeof object) {
            std::printf("perflib object at=%lu (header %lu, %ld past it) bytes=%lu\n",
                        static_cast<unsigned long>(at),
                        static_cast<unsigned long>(block.HeaderLength),
                        static_cast<long>(at) - static_cast<long>(block.HeaderLength),
                        static_cast<unsigned long>(object.TotalByteLength));
            // Wine's block is short by as much as the object is misplaced: decoded from the
            // buffer as the query left it.
            if (at + object.TotalByteLength <= buffer.size()) {
                std::printf(
                    "object ends %ld bytes past the returned length\n",
                    static_cast<long>(at + object.TotalByteLength) - static_cast<long>(size));
                const std::vector<BYTE> found(buffer.begin() + at,
                                              buffer.begin() + at + object.TotalByteLength);
                std::printf("well_formed=%d\n", PrintObject(found, dll, names) ? 1 : 0);
            }
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--dacl") == 0) return Dacl();
    Dll dll;
    if (!LoadDll(&dll)) return 1;
    if (argc >= 4 && std::strcmp(argv[3], "--perflib") == 0) {
        return Perflib(dll, Names(argv[1], argv[2]));
    }
    const DWORD opened = dll.open(nullptr);
    std::printf("open_status=%lu\n", static_cast<unsigned long>(opened));
    if (opened != ERROR_SUCCESS) return 1;

    int result = 0;
    if (argc >= 5 && std::strcmp(argv[3], "--query") == 0) {
        wchar_t query[256];
        MultiByteToWideChar(CP_ACP, 0, argv[4], -1, query, 256);
        std::vector<BYTE> object;
        DWORD objects = 0;
        int tooSmall = 0;
        bool untouched = true;
        const DWORD status = GrowingCollect(dll, query, &object, &objects, &tooSmall, &untouched);
        std::printf("query=\"%s\" status=%lu bytes=%lu objects=%lu too_small=%d untouched=%d\n",
                    argv[4], static_cast<unsigned long>(status),
                    static_cast<unsigned long>(object.size()), static_cast<unsigned long>(objects),
                    tooSmall, untouched ? 1 : 0);
    } else if (argc >= 3) {
        std::vector<BYTE> object;
        DWORD objects = 0;
        int tooSmall = 0;
        bool untouched = true;
        const DWORD status =
            GrowingCollect(dll, L"Global", &object, &objects, &tooSmall, &untouched);
        std::printf(
            "collect_status=%lu objects=%lu too_small=%d nothing_written_when_too_small=%d\n",
            static_cast<unsigned long>(status), static_cast<unsigned long>(objects), tooSmall,
            untouched ? 1 : 0);
        const bool wellFormed = status == ERROR_SUCCESS && objects == 1 && untouched &&
                                PrintObject(object, dll, Names(argv[1], argv[2]));
        std::printf("well_formed=%d\n", wellFormed ? 1 : 0);
        if (!wellFormed) result = 1;
        if (argc >= 5 && std::strcmp(argv[3], "--times") == 0) {
            const int times = std::atoi(argv[4]);
            std::vector<BYTE> buffer(object.size() + 64);
            LARGE_INTEGER frequency, start, end;
            QueryPerformanceFrequency(&frequency);
            QueryPerformanceCounter(&start);
            for (int i = 0; i < times; ++i) {
                void* data = buffer.data();
                DWORD bytes = static_cast<DWORD>(buffer.size()), n = 0;
                wchar_t global[] = L"Global";
                dll.collect(global, &data, &bytes, &n);
            }
            QueryPerformanceCounter(&end);
            std::printf("collect_us=%.1f (mean of %d collections)\n",
                        1e6 * static_cast<double>(end.QuadPart - start.QuadPart) /
                            static_cast<double>(frequency.QuadPart) / (times > 0 ? times : 1),
                        times);
        }
    } else {
        std::printf("usage: qxrperfprobe INI H [--times N | --query TEXT | --perflib] | --dacl\n");
        result = 2;
    }
    std::printf("close_status=%lu\n", static_cast<unsigned long>(dll.close()));
    return result;
}
