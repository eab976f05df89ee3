#include "sync_service/counter_publisher.h"

namespace qxr::sync {

CounterPublisher::~CounterPublisher() {
    if (record_ != nullptr) sections_->CloseSection(record_);
}

DWORD CounterPublisher::Open() {
    if (sections_ == nullptr) return ERROR_NOT_SUPPORTED;
    if (record_ != nullptr) return 0;
    DWORD error = 0;
    void* view = sections_->CreateSection(perf::kSectionBaseName, perf::kSharedRecordSize, &error);
    if (view == nullptr) return error != 0 ? error : ERROR_NOT_ENOUGH_MEMORY;
    record_ = static_cast<perf::SharedRecord*>(view);
    perf::InitRecord(record_);
    last_ = perf::CounterValues{};
    perf::PublishRecord(record_, last_);
    return 0;
}

void CounterPublisher::Publish(const perf::CounterValues& values) {
    if (record_ == nullptr || values == last_) return;
    perf::PublishRecord(record_, values);
    last_ = values;
}

}  // namespace qxr::sync
