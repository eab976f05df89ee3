// Loads qxrtime.dll (at load time, through its import library) on a machine without the
// driver and prints what every export answers, one "name=value" line each, for the test
// script to check.
#include <stdio.h>
#include <string.h>

#include "card_access/qxrtime.h"

namespace {

template <typename Record>
bool AllZero(const Record& record) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(&record);
    for (size_t i = 0; i < sizeof record; ++i) {
        if (p[i] != 0) return false;
    }
    return true;
}

// Fills a record with a pattern so that a zero-filled result is the library's doing.
template <typename Record>
void Scribble(Record* record) {
    memset(record, 0xA5, sizeof *record);
}

template <typename Record>
void Report(const char* name, uint32_t result, const Record& record) {
    printf("%s=%lu zero=%d\n", name, static_cast<unsigned long>(result), AllZero(record) ? 1 : 0);
}

}  // namespace

int main() {
    CardVersion version;
    Scribble(&version);
    Report("QxrGetDriverVersion", QxrGetDriverVersion(&version), version);
    Scribble(&version);
    Report("QxrGetFwVersion", QxrGetFwVersion(&version), version);
    CardStatus status;
    Scribble(&status);
    Report("QxrGetHwStatus", QxrGetHwStatus(&status), status);
    CardTime time;
    Scribble(&time);
    Report("QxrGetTime", QxrGetTime(&time), time);
    CardSignalQuality quality;
    Scribble(&quality);
    Report("QxrGetSignalQuality", QxrGetSignalQuality(&quality), quality);
    CardPosition position;
    Scribble(&position);
    Report("QxrGetPosition", QxrGetPosition(&position), position);
    uint32_t checksum = 0xA5A5A5A5u;
    Report("QxrGetFwChecksum", QxrGetFwChecksum(&checksum), checksum);

    char signature[16];
    memset(signature, 'x', sizeof signature);
    const int32_t n = QxrGetHwSignature(signature, sizeof signature);
    printf("QxrGetHwSignature=%ld empty=%d\n", static_cast<long>(n), signature[0] == '\0' ? 1 : 0);

    CardTime set = {2026, 12, 7, 10, 30, 0, 0, 0, 0, 0};
    printf("QxrSetTime=%lu\n", static_cast<unsigned long>(QxrSetTime(&set)));
    set.year = 2100;
    printf("QxrSetTime(year 2100)=%lu\n", static_cast<unsigned long>(QxrSetTime(&set)));

    printf("null:QxrGetDriverVersion=%lu\n",
           static_cast<unsigned long>(QxrGetDriverVersion(nullptr)));
    printf("null:QxrGetFwVersion=%lu\n", static_cast<unsigned long>(QxrGetFwVersion(nullptr)));
    printf("null:QxrGetHwStatus=%lu\n", static_cast<unsigned long>(QxrGetHwStatus(nullptr)));
    printf("null:QxrGetTime=%lu\n", static_cast<unsigned long>(QxrGetTime(nullptr)));
    printf("null:QxrSetTime=%lu\n", static_cast<unsigned long>(QxrSetTime(nullptr)));
    printf("null:QxrGetSignalQuality=%lu\n",
           static_cast<unsigned long>(QxrGetSignalQuality(nullptr)));
    printf("null:QxrGetPosition=%lu\n", static_cast<unsigned long>(QxrGetPosition(nullptr)));
    printf("null:QxrGetFwChecksum=%lu\n", static_cast<unsigned long>(QxrGetFwChecksum(nullptr)));
    printf("done\n");
    return 0;
}
