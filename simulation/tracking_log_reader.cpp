#include "simulation/tracking_log_reader.h"

#include <cerrno>
#include <cstdlib>
#include <limits>

#include "platform/system_time.h"

namespace qxr::simulation {

namespace {

bool Digits(const std::string& text, size_t at, size_t count, int* value) {
    if (at + count > text.size()) return false;
    int v = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        v = v * 10 + (text[i] - '0');
    }
    *value = v;
    return true;
}

bool ParseInteger(const std::string& text, long long min, long long max, long long* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < min || v > max) return false;
    *value = v;
    return true;
}

std::vector<std::string> SplitFields(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        const size_t comma = line.find(',', start);
        fields.push_back(line.substr(start, comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return fields;
}

}  // namespace

bool ParseIsoTime(const std::string& text, int64_t* fileTime) {
    // YYYY-MM-DDTHH:MM:SS.mmmZ
    if (text.size() != 24 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':' || text[19] != '.' || text[23] != 'Z') {
        return false;
    }
    int year, month, day, hour, minute, second, ms;
    if (!Digits(text, 0, 4, &year) || !Digits(text, 5, 2, &month) || !Digits(text, 8, 2, &day) ||
        !Digits(text, 11, 2, &hour) || !Digits(text, 14, 2, &minute) ||
        !Digits(text, 17, 2, &second) || !Digits(text, 20, 3, &ms)) {
        return false;
    }
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59) {
        return false;
    }
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(year);
    st.wMonth = static_cast<WORD>(month);
    st.wDay = static_cast<WORD>(day);
    st.wHour = static_cast<WORD>(hour);
    st.wMinute = static_cast<WORD>(minute);
    st.wSecond = static_cast<WORD>(second);
    st.wMilliseconds = static_cast<WORD>(ms);
    return SystemTimeFieldsToFileTime(st, fileTime);
}

bool ParseTrackingLine(const std::string& line, sync::TrackingRecord* record, std::string* error) {
    const std::vector<std::string> f = SplitFields(line);
    if (f.size() != 8) {
        *error = "expected 8 fields, found " + std::to_string(f.size());
        return false;
    }
    sync::TrackingRecord r;
    if (!ParseIsoTime(f[0], &r.systemTime)) {
        *error = "bad system time \"" + f[0] + "\"";
        return false;
    }
    if (!ParseIsoTime(f[1], &r.cardTime)) {
        *error = "bad card time \"" + f[1] + "\"";
        return false;
    }
    long long v = 0;
    if (!ParseInteger(f[2], std::numeric_limits<int32_t>::min(),
                      std::numeric_limits<int32_t>::max(), &v)) {
        *error = "bad offset \"" + f[2] + "\"";
        return false;
    }
    r.offsetMs = static_cast<int32_t>(v);
    bool known = false;
    for (sync::TrackingAction a :
         {sync::TrackingAction::kNone, sync::TrackingAction::kSlew, sync::TrackingAction::kStep}) {
        if (f[3] == sync::TrackingActionName(a)) r.action = a, known = true;
    }
    if (!known) {
        *error = "bad action \"" + f[3] + "\"";
        return false;
    }
    constexpr long long kDwordMax = std::numeric_limits<uint32_t>::max();
    if (!ParseInteger(f[4], 0, kDwordMax, &v)) {
        *error = "bad adjustment \"" + f[4] + "\"";
        return false;
    }
    r.adjustment = static_cast<DWORD>(v);
    if (!ParseInteger(f[5], 1, kDwordMax, &v)) {
        *error = "bad increment \"" + f[5] + "\"";
        return false;
    }
    r.increment = static_cast<DWORD>(v);
    known = false;
    for (int32_t reference = 0; reference <= 2; ++reference) {
        if (f[6] == sync::TrackingReferenceName(reference)) r.reference = reference, known = true;
    }
    if (!known) {
        *error = "bad reference \"" + f[6] + "\"";
        return false;
    }
    if (f[7] != "0" && f[7] != "1") {
        *error = "bad GPS flag \"" + f[7] + "\"";
        return false;
    }
    r.gpsFitted = f[7] == "1";
    *record = r;
    return true;
}

bool ReadTrackingLog(std::istream& in, std::vector<sync::TrackingRecord>* records,
                     std::string* error, bool* lastLineCut) {
    *lastLineCut = false;
    std::string header = sync::kTrackingLogHeader;
    header.resize(header.size() - 2);  // without its CR LF
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        const bool ended = !in.eof();
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (number == 1) {
            if (line != header) {
                *error = "line 1: not a QxrSync tracking log (the header is missing)";
                return false;
            }
            continue;
        }
        sync::TrackingRecord record;
        std::string reason;
        if (!ParseTrackingLine(line, &record, &reason)) {
            if (!ended) {
                *lastLineCut = true;
                break;
            }
            *error = "line " + std::to_string(number) + ": " + reason;
            return false;
        }
        records->push_back(record);
    }
    if (number == 0) {
        *error = "the file is empty";
        return false;
    }
    return true;
}

}  // namespace qxr::simulation
