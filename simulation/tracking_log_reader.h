// Reads a tracking log written by QxrSync (or by qxrsim through the service's code) back into
// records: the header line, then one line per correction. CR LF or LF line ends.
#pragma once

#include <istream>
#include <string>
#include <vector>

#include "sync_service/tracking_record.h"

namespace qxr::simulation {

// "2026-12-07T13:05:09.250Z" -> FILETIME count; false unless exactly that shape and a valid
// calendar time.
bool ParseIsoTime(const std::string& text, int64_t* fileTime);

// One line without its line end; false with the reason in `error`.
bool ParseTrackingLine(const std::string& line, sync::TrackingRecord* record, std::string* error);

// The whole log; false with "line N: reason" in `error` for the first bad line (a missing or
// different header included). A last line that is cut short (no line end, and not a whole
// line: the machine stopped mid-write) is left out and `*lastLineCut` set.
bool ReadTrackingLog(std::istream& in, std::vector<sync::TrackingRecord>* records,
                     std::string* error, bool* lastLineCut);

}  // namespace qxr::simulation
