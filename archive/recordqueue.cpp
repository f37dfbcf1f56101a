#include "archive/recordqueue.h"

#include "archive/failure.h"
#include "archive/unpacklimits.h"

#include <utility>

namespace zrv {

bool RecordQueue::push(Record record) {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] {
        return cancelled || records.empty() ||
               (records.size() < max_records_in_flight &&
                bytes + record.data.size() <= max_bytes_in_flight);
    });
    if (cancelled)
        return false;
    bytes += record.data.size();
    records.push_back(std::move(record));
    changed.notify_all();
    return true;
}

void RecordQueue::finish(std::exception_ptr reader_failure) {
    std::lock_guard<std::mutex> lock(mutex);
    finished = true;
    failure = std::move(reader_failure);
    changed.notify_all();
}

bool RecordQueue::pop(Record &record) {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return finished || !records.empty(); });
    if (records.empty()) {
        if (failure)
            std::rethrow_exception(failure);
        return false;
    }
    record = std::move(records.front());
    records.pop_front();
    bytes -= record.data.size();
    changed.notify_all();
    return true;
}

void RecordQueue::cancel() {
    std::lock_guard<std::mutex> lock(mutex);
    cancelled = true;
    changed.notify_all();
}

void push_or_stop(RecordQueue &queue, Record record) {
    if (!queue.push(std::move(record)))
        throw Failure(FailureKind::other, "stopped");
}

} // namespace zrv
