#include "job/jobprogress.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>

namespace {

// One question's answer, shared by the waiting worker and the GUI thread's dialog, whichever
// lives longer.
struct PendingAnswer {
    std::mutex mutex;
    std::condition_variable answered;
    std::optional<int> value;
};

// How often a waiting worker looks whether the job was cancelled: cancelling sets a flag and
// wakes nobody.
constexpr std::chrono::milliseconds cancel_poll{50};

} // namespace

int JobProgress::ask_user(std::function<void(const Answer &answer)> ask, int when_cancelled) {
    const auto pending = std::make_shared<PendingAnswer>();
    const Answer answer = [pending](int value) {
        std::lock_guard<std::mutex> lock(pending->mutex);
        if (!pending->value)
            pending->value = value;
        pending->answered.notify_all();
    };
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [ask = std::move(ask), answer] { ask(answer); },
        Qt::QueuedConnection);
    std::unique_lock<std::mutex> lock(pending->mutex);
    while (!pending->value) {
        if (cancel_requested())
            return when_cancelled;
        pending->answered.wait_for(lock, cancel_poll);
    }
    return *pending->value;
}
