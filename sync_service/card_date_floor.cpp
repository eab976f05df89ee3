#include "sync_service/card_date_floor.h"

#include <cstdio>

namespace qxr::sync {

void FormatCardDate(const CardTime& time, char* out, std::size_t size) {
    if (size == 0) return;
    std::snprintf(out, size, "%04d-%02d-%02d", static_cast<int>(time.year),
                  static_cast<int>(time.month), static_cast<int>(time.day));
}

}  // namespace qxr::sync
