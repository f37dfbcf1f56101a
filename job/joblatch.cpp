#include "job/joblatch.h"

void JobLatch::begin() {
    std::lock_guard<std::mutex> lock(mutex);
    ++running;
}

// Notifies under the lock: the waiter may destroy this latch as soon as it wakes.
void JobLatch::end() {
    std::lock_guard<std::mutex> lock(mutex);
    --running;
    idle.notify_all();
}

void JobLatch::wait_until_idle() {
    std::unique_lock<std::mutex> lock(mutex);
    idle.wait(lock, [this] { return running == 0; });
}
