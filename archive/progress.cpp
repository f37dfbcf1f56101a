#include "archive/progress.h"

#include "archive/failure.h"

namespace zrv {

namespace {

thread_local Progress *attached = nullptr;

} // namespace

std::string Progress::entry() const {
    std::lock_guard<std::mutex> lock(entry_mutex);
    return entry_name;
}

void Progress::start(std::uint64_t total) {
    done_bytes.store(0, std::memory_order_relaxed);
    total_bytes.store(total, std::memory_order_relaxed);
    set_entry(std::string());
}

void Progress::set_entry(const std::string &name) {
    std::lock_guard<std::mutex> lock(entry_mutex);
    entry_name = name;
}

FailureCause Progress::failure() const {
    std::lock_guard<std::mutex> lock(entry_mutex);
    return last_failure;
}

void Progress::set_failure(FailureCause cause) {
    std::lock_guard<std::mutex> lock(entry_mutex);
    last_failure = std::move(cause);
}

std::string Progress::made() const {
    std::lock_guard<std::mutex> lock(entry_mutex);
    return made_path;
}

void Progress::set_made(const std::string &path) {
    std::lock_guard<std::mutex> lock(entry_mutex);
    made_path = path;
}

void Progress::stop_if_cancelled() const {
    if (cancel_requested())
        fail(FailureKind::cancelled, "cancelled");
}

void attach_progress(Progress *progress) {
    attached = progress;
}

Progress *attached_progress() {
    return attached;
}

} // namespace zrv
