#include "sync_service/tracking_record.h"

#include <cstdio>

#include "platform/system_time.h"

namespace qxr::sync {

const char* TrackingActionName(TrackingAction action) {
    switch (action) {
        case TrackingAction::kSlew:
            return "slew";
        case TrackingAction::kStep:
            return "step";
        default:
            return "none";
    }
}

const char* TrackingReferenceName(int32_t reference) {
    static constexpr const char* kNames[3] = {"?", "GPS", "on-board clock"};
    return reference >= 0 && reference <= 2 ? kNames[reference] : kNames[0];
}

bool FormatIsoTime(int64_t fileTime, char* out, int size) {
    SYSTEMTIME t{};
    if (!FileTimeToSystemTimeFields(fileTime, &t)) return false;
    const int n =
        std::snprintf(out, static_cast<std::size_t>(size), "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ",
                      t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
    return n > 0 && n < size;
}

int FormatTrackingLine(const TrackingRecord& record, char* out, int size) {
    char system[32], card[32];
    if (!FormatIsoTime(record.systemTime, system, sizeof system) ||
        !FormatIsoTime(record.cardTime, card, sizeof card)) {
        return 0;
    }
    const int n = std::snprintf(
        out, static_cast<std::size_t>(size), "%s,%s,%d,%s,%lu,%lu,%s,%d\r\n", system, card,
        static_cast<int>(record.offsetMs), TrackingActionName(record.action),
        static_cast<unsigned long>(record.adjustment), static_cast<unsigned long>(record.increment),
        TrackingReferenceName(record.reference), record.gpsFitted ? 1 : 0);
    return n > 0 && n < size ? n : 0;
}

}  // namespace qxr::sync
