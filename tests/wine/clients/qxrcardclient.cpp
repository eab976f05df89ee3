// qxrcardclient: a test client of qxrtime.dll. It runs the commands of its command line in
// order and prints what the library returned, one line per call, so that the Wine tests can
// check the card's answers. Every record is pre-filled with a pattern, so that "zero=1"
// proves the library zero-filled it.
#include <windows.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "card_access/qxr_requests.h"
#include "card_access/qxrtime.h"

namespace {

constexpr unsigned char kPattern = 0xA5;

template <typename T>
void Prefill(T* record) {
    std::memset(record, kPattern, sizeof *record);
}

template <typename T>
int AllZero(const T& record) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(&record);
    for (size_t i = 0; i < sizeof record; ++i) {
        if (p[i] != 0) return 0;
    }
    return 1;
}

int64_t Counter() {
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return c.QuadPart;
}

int64_t CounterFrequency() {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f.QuadPart;
}

int64_t SystemNow() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    return static_cast<int64_t>((static_cast<uint64_t>(ft.dwHighDateTime) << 32) |
                                ft.dwLowDateTime);
}

void Version(const char* name, uint32_t(QXRAPI* get)(CardVersion*)) {
    CardVersion v;
    Prefill(&v);
    const uint32_t rc = get(&v);
    std::printf("%s rc=%" PRIu32 " %" PRId32 ".%" PRId32 ".%" PRId32 ".%" PRId32 " zero=%d\n", name,
                rc, v.part1, v.part2, v.part3, v.part4, AllZero(v));
}

void Signature() {
    char text[128];
    std::memset(text, 'x', sizeof text);
    const int32_t n = QxrGetHwSignature(text, static_cast<int32_t>(sizeof text) - 1);
    text[sizeof text - 1] = '\0';
    std::printf("signature n=%" PRId32 " empty=%d text=%s\n", n, text[0] == '\0' ? 1 : 0,
                n > 0 ? text : "");
}

void Status() {
    CardStatus s;
    Prefill(&s);
    const uint32_t rc = QxrGetHwStatus(&s);
    std::printf("status rc=%" PRIu32 " gps=%d flag4=%d reference=%" PRId32 " code11=%" PRId32
                " code13=%" PRId32 " byte2=%" PRId32 " byte3=%" PRId32 " tick=%" PRId32
                " zero=%d\n",
                rc, s.gpsPresent, s.statusFlag4, static_cast<int32_t>(s.reference), s.statusCode11,
                s.statusCode13, s.statusByte2, s.statusByte3, s.tickToggle, AllZero(s));
}

void Time() {
    CardTime t;
    Prefill(&t);
    const uint32_t rc = QxrGetTime(&t);
    std::printf("time rc=%" PRIu32 " %04" PRId32 "-%02" PRId32 "-%02" PRId32 " %02" PRId32
                ":%02" PRId32 ":%02" PRId32 ".%03" PRId32 " aux=%" PRId32 " latch=0x%08" PRIX32
                "%08" PRIX32 " zero=%d\n",
                rc, t.year, t.month, t.day, t.hour, t.minute, t.second, t.millisecond, t.auxWord,
                t.latchCounterHigh, t.latchCounterLow, AllZero(t));
}

void Quality() {
    CardSignalQuality q;
    Prefill(&q);
    const uint32_t rc = QxrGetSignalQuality(&q);
    std::printf("quality rc=%" PRIu32 " header=%" PRId32 ",%" PRId32 " a=", rc, q.header1,
                q.header2);
    for (int i = 0; i < 12; ++i) std::printf("%s%" PRId32, i ? "," : "", q.channelA[i]);
    std::printf(" b=");
    for (int i = 0; i < 12; ++i) std::printf("%s%" PRId32, i ? "," : "", q.channelB[i]);
    std::printf(" zero=%d\n", AllZero(q));
}

void Position() {
    CardPosition p;
    Prefill(&p);
    const uint32_t rc = QxrGetPosition(&p);
    std::printf("position rc=%" PRIu32 " c1=%" PRId32 "/%.6f/%" PRId32 " c2=%" PRId32
                "/%.6f/%" PRId32 " milli=%.3f deci1=%.1f deci2=%.1f zero=%d\n",
                rc, p.coord1Word, p.coord1Micro, p.coord1Tag, p.coord2Word, p.coord2Micro,
                p.coord2Tag, p.milliValue, p.deciValue1, p.deciValue2, AllZero(p));
}

void Checksum() {
    uint32_t sum = 0xA5A5A5A5u;
    const uint32_t rc = QxrGetFwChecksum(&sum);
    std::printf("checksum rc=%" PRIu32 " 0x%08" PRIX32 "\n", rc, sum);
}

// The card's time against the system clock, and the age of its latch counter.
void Compare() {
    CardTime t;
    Prefill(&t);
    const int64_t before = SystemNow();
    const int64_t counterBefore = Counter();
    const uint32_t rc = QxrGetTime(&t);
    const int64_t counterAfter = Counter();
    const int64_t after = SystemNow();
    if (rc != 0) {
        std::printf("compare rc=%" PRIu32 "\n", rc);
        return;
    }
    SYSTEMTIME st = {};
    st.wYear = static_cast<WORD>(t.year);
    st.wMonth = static_cast<WORD>(t.month);
    st.wDay = static_cast<WORD>(t.day);
    st.wHour = static_cast<WORD>(t.hour);
    st.wMinute = static_cast<WORD>(t.minute);
    st.wSecond = static_cast<WORD>(t.second);
    st.wMilliseconds = static_cast<WORD>(t.millisecond);
    FILETIME ft;
    if (!SystemTimeToFileTime(&st, &ft)) {
        std::printf("compare rc=0 bad_card_time=1\n");
        return;
    }
    const int64_t card =
        static_cast<int64_t>((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
    const int64_t system = before + (after - before) / 2;
    const int64_t latch =
        static_cast<int64_t>((static_cast<uint64_t>(t.latchCounterHigh) << 32) | t.latchCounterLow);
    const int64_t frequency = CounterFrequency();
    // The latch is when the card's current second began: within the last second of the call.
    const int latchOk = latch <= counterAfter && counterBefore - latch <= frequency ? 1 : 0;
    std::printf("compare rc=0 card_minus_system_ms=%" PRId64 " latch_age_ms=%" PRId64
                " card_ms=%" PRId32 " latch_ok=%d\n",
                (card - system) / 10000, (counterAfter - latch) * 1000 / frequency, t.millisecond,
                latchOk);
}

void SetTime(char** args) {
    CardTime t = {};
    t.year = std::atoi(args[0]);
    t.month = std::atoi(args[1]);
    t.day = std::atoi(args[2]);
    t.hour = std::atoi(args[3]);
    t.minute = std::atoi(args[4]);
    t.second = std::atoi(args[5]);
    std::printf("settime rc=%" PRIu32 "\n", QxrSetTime(&t));
}

void Ticks(int count, int intervalMs) {
    int ok = 0;
    int changes = 0;
    int last = -1;
    for (int i = 0; i < count; ++i) {
        CardStatus s;
        if (QxrGetHwStatus(&s) == 0) {
            ++ok;
            if (last >= 0 && s.tickToggle != last) ++changes;
            last = s.tickToggle;
        }
        Sleep(static_cast<DWORD>(intervalMs));
    }
    std::printf("ticks reads=%d ok=%d changes=%d\n", count, ok, changes);
}

void Loop(int count) {
    const int64_t begin = Counter();
    int ok = 0;
    uint32_t firstError = 0;
    for (int i = 0; i < count; ++i) {
        CardTime t;
        CardStatus s;
        const uint32_t rcTime = QxrGetTime(&t);
        const uint32_t rcStatus = QxrGetHwStatus(&s);
        if (rcTime == 0 && rcStatus == 0 && t.year >= 2000 && t.month >= 1) {
            ++ok;
        } else if (firstError == 0) {
            firstError = rcTime != 0 ? rcTime : rcStatus != 0 ? rcStatus : 0xFFFFFFFFu;
        }
    }
    const int64_t end = Counter();
    std::printf("loop reads=%d ok=%d failed=%d first_error=%" PRIu32 " begin=%" PRId64
                " end=%" PRId64 "\n",
                count, ok, count - ok, firstError, begin, end);
}

// Straight to the device, bypassing the library: the exact reply sizes and refusals.
void Raw() {
    HANDLE device =
        CreateFileA(QXR_DEVICE_NAME, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (device == INVALID_HANDLE_VALUE) {
        std::printf("raw open_error=%lu\n", GetLastError());
        return;
    }
    struct Request {
        const char* name;
        DWORD code;
        DWORD size;
    };
    const Request requests[] = {
        {"driver_version", IOCTL_QXR_GET_DRIVER_VERSION, QXR_VERSION_REPLY_SIZE},
        {"fw_version", IOCTL_QXR_GET_FW_VERSION, QXR_VERSION_REPLY_SIZE},
        {"hw_signature", IOCTL_QXR_GET_HW_SIGNATURE, 0},
        {"hw_status", IOCTL_QXR_GET_HW_STATUS, QXR_STATUS_REPLY_SIZE},
        {"time", IOCTL_QXR_GET_TIME, QXR_TIME_REPLY_SIZE},
        {"signal_quality", IOCTL_QXR_GET_SIGNAL_QUALITY, QXR_SIGNAL_QUALITY_REPLY_SIZE},
        {"position", IOCTL_QXR_GET_POSITION, QXR_POSITION_REPLY_SIZE},
        {"fw_checksum", IOCTL_QXR_GET_FW_CHECKSUM, QXR_CHECKSUM_REPLY_SIZE},
    };
    unsigned char reply[256];
    for (const Request& r : requests) {
        // A generous buffer: the driver must still return exactly the reply's size.
        DWORD n = 0;
        BOOL ok = DeviceIoControl(device, r.code, nullptr, 0, reply, 64, &n, nullptr);
        std::printf("raw %s ok=%d error=%lu bytes=%lu\n", r.name, ok ? 1 : 0,
                    ok ? 0 : GetLastError(), n);
        if (r.size == 0) continue;
        n = 0;
        ok = DeviceIoControl(device, r.code, nullptr, 0, reply, r.size - 1, &n, nullptr);
        std::printf("raw_short %s ok=%d error=%lu\n", r.name, ok ? 1 : 0, ok ? 0 : GetLastError());
    }
    DWORD n = 0;
    BOOL ok = DeviceIoControl(device, QXR_CTL_CODE(0x809u), nullptr, 0, reply, 64, &n, nullptr);
    std::printf("raw unknown ok=%d error=%lu\n", ok ? 1 : 0, ok ? 0 : GetLastError());
    // A set-time request of the wrong length changes nothing and is refused.
    const unsigned char shortSetTime[6] = {0xE8, 0x07, 1, 0, 1, 0};
    ok = DeviceIoControl(device, IOCTL_QXR_SET_TIME, const_cast<unsigned char*>(shortSetTime),
                         sizeof shortSetTime, nullptr, 0, &n, nullptr);
    std::printf("raw short_settime ok=%d error=%lu\n", ok ? 1 : 0, ok ? 0 : GetLastError());
    CloseHandle(device);
}

bool Wait(const char* path, int timeoutMs) {
    std::printf("waiting %s\n", path);
    const DWORD start = GetTickCount();
    while (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) {
        if (static_cast<int>(GetTickCount() - start) > timeoutMs) {
            std::printf("wait_timeout %s\n", path);
            return false;
        }
        Sleep(20);
    }
    std::printf("waited %s\n", path);
    return true;
}

int Usage() {
    std::fprintf(stderr,
                 "Usage: qxrcardclient COMMAND [COMMAND ...]\n"
                 "  all | driver | firmware | signature | status | time | quality | position\n"
                 "  checksum | compare | raw | settime Y M D h m s | ticks COUNT MS\n"
                 "  loop COUNT | wait PATH [TIMEOUT_MS] | sleep MS\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc < 2) return Usage();
    std::printf("client start pid=%lu\n", GetCurrentProcessId());
    for (int i = 1; i < argc; ++i) {
        const std::string c = argv[i];
        const int rest = argc - i - 1;
        if (c == "all") {
            Version("driver_version", QxrGetDriverVersion);
            Version("fw_version", QxrGetFwVersion);
            Signature();
            Status();
            Time();
            Quality();
            Position();
            Checksum();
        } else if (c == "driver") {
            Version("driver_version", QxrGetDriverVersion);
        } else if (c == "firmware") {
            Version("fw_version", QxrGetFwVersion);
        } else if (c == "signature") {
            Signature();
        } else if (c == "status") {
            Status();
        } else if (c == "time") {
            Time();
        } else if (c == "quality") {
            Quality();
        } else if (c == "position") {
            Position();
        } else if (c == "checksum") {
            Checksum();
        } else if (c == "compare") {
            Compare();
        } else if (c == "raw") {
            Raw();
        } else if (c == "settime" && rest >= 6) {
            SetTime(argv + i + 1);
            i += 6;
        } else if (c == "ticks" && rest >= 2) {
            Ticks(std::atoi(argv[i + 1]), std::atoi(argv[i + 2]));
            i += 2;
        } else if (c == "loop" && rest >= 1) {
            Loop(std::atoi(argv[++i]));
        } else if (c == "wait" && rest >= 1) {
            const char* path = argv[++i];
            int timeoutMs = 30000;
            if (rest >= 2 && argv[i + 1][0] >= '0' && argv[i + 1][0] <= '9') {
                timeoutMs = std::atoi(argv[++i]);
            }
            if (!Wait(path, timeoutMs)) return 3;
        } else if (c == "sleep" && rest >= 1) {
            Sleep(static_cast<DWORD>(std::atoi(argv[++i])));
        } else {
            std::fprintf(stderr, "qxrcardclient: bad command '%s'\n", c.c_str());
            return Usage();
        }
    }
    std::printf("client done\n");
    return 0;
}
