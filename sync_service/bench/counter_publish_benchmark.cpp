// What publishing the performance counters' figures costs the synchronizer loop: one
// CounterPublisher::Publish per pass, which copies the record into the section when a figure
// changed (every correction) and only compares otherwise; and, for the reader's side, one
// Collect of the object from the record. Prints nanoseconds per call; the goal is under
// 1 us per correction.
#include <chrono>
#include <cstdio>

#include "perf_counters/perf_collect.h"
#include "platform/sim/sim_shared_sections.h"
#include "sync_service/counter_publisher.h"

namespace {

template <typename F>
double NanosecondsPerCall(int calls, F&& call) {
    double best = 0;
    for (int round = 0; round < 5; ++round) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < calls; ++i) call(i);
        const double ns =
            std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start)
                .count() /
            calls;
        if (best == 0 || ns < best) best = ns;
    }
    return best;
}

}  // namespace

int main() {
    using namespace qxr;
    sim::SimSharedSections sections;
    sync::CounterPublisher publisher(&sections);
    if (publisher.Open() != 0) return 1;
    perf::CounterValues values;
    values.serviceRunning = 1;
    values.referenceState = perf::kStateGps;
    constexpr int kCalls = 2000000;

    const double changed = NanosecondsPerCall(kCalls, [&](int i) {
        values.corrections = static_cast<uint64_t>(i);
        values.offsetUs = static_cast<uint64_t>(i) * 7;
        publisher.Publish(values);
    });
    const double unchanged = NanosecondsPerCall(kCalls, [&](int) { publisher.Publish(values); });

    const uint8_t* record = sections.Find(perf::kSectionBaseName);
    static unsigned char buffer[4096];
    const char16_t global[] = u"Global";
    perf::PerfTitles titles{1500, 1501};
    uint64_t sink = 0;
    const double collect = NanosecondsPerCall(kCalls / 10, [&](int i) {
        void* data = buffer;
        uint32_t bytes = sizeof buffer, objects = 0;
        perf::CollectCounters(global, titles, record, perf::kSharedRecordSize,
                              static_cast<uint32_t>(i), &data, &bytes, &objects);
        sink += bytes;
    });
    std::printf(
        "counter publishing, per correction (figures changed): %.1f ns (goal: under 1000 ns)\n",
        changed);
    std::printf("counter publishing, per pass without a change: %.1f ns\n", unchanged);
    std::printf(
        "Collect of the object from the record, native, without opening the section: "
        "%.1f ns (%llu bytes)\n",
        collect, static_cast<unsigned long long>(sink / (kCalls / 10) / 5));
    return changed < 1000 ? 0 : 1;
}
