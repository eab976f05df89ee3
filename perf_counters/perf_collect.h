// The counter DLL's Collect, apart from Windows: given perflib's query, its buffer and the
// published record (or none), it writes the one PERF_OBJECT_TYPE of "QXR Time Service" with
// its counter definitions and counter block, or nothing, following perflib's rules:
//  - an object not asked for: ERROR_SUCCESS, no bytes, no objects;
//  - a buffer too small: ERROR_MORE_DATA, no bytes written, *totalBytes and *numObjectTypes 0
//    and *data unchanged;
//  - otherwise ERROR_SUCCESS, the object at *data, *data moved past it, *totalBytes its length
//    (a multiple of 8, so that whatever follows stays aligned), *numObjectTypes 1.
// No record, or one that cannot be read, is a service that does not run: the object is there
// with "Service Running" 0 and every other counter 0.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qxr::perf {

// The title indexes lodctr gave the object: its name is at firstCounter, its help at
// firstHelp, each counter's at those plus the offset of qxrperf.h.
struct PerfTitles {
    uint32_t firstCounter = 0;
    uint32_t firstHelp = 0;
};

// The object's whole length in bytes.
uint32_t ObjectByteLength();

// `query`: perflib's value name (NUL-terminated UTF-16) or null; `record`, `recordSize`: the
// mapped section or null, 0; `nowTick`: the tick counter now.
uint32_t CollectCounters(const void* query, const PerfTitles& titles, const void* record,
                         size_t recordSize, uint32_t nowTick, void** data, uint32_t* totalBytes,
                         uint32_t* numObjectTypes);

}  // namespace qxr::perf
