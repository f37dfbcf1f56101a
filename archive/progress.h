// How far a call of the component has got, and a way to cancel it: a thread attaches a
// Progress before it calls ZWZipCompress_t or ZWZipExtract, reads it from anywhere while the
// call runs, and may cancel it. The component updates it between pieces of work (a piece is at
// most a megabyte), never per byte, and checks for cancellation as often. Nothing is counted
// and no input is measured for totals when no Progress is attached.
#pragma once

#include "archive/failure.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace zrv {

class Progress {
public:
    virtual ~Progress() = default;

    // Asks the call to stop; it then fails as if it had met an error, leaving nothing behind.
    void cancel() { cancelled.store(true, std::memory_order_relaxed); }
    bool cancel_requested() const { return cancelled.load(std::memory_order_relaxed); }

    // Bytes of file data the call will handle (read when packing, written when unpacking),
    // known before it writes anything, and how many it has handled so far.
    std::uint64_t total() const { return total_bytes.load(std::memory_order_relaxed); }
    std::uint64_t done() const { return done_bytes.load(std::memory_order_relaxed); }
    // The name of the entry in hand, as the archive holds it.
    std::string entry() const;
    // Why the last call that reported to this progress failed; kind `none` after a success.
    FailureCause failure() const;

    // For the component.
    void start(std::uint64_t total);
    void add_done(std::uint64_t bytes) {
        done_bytes.fetch_add(bytes, std::memory_order_relaxed);
        advanced();
    }
    void set_entry(const std::string &name);
    void set_failure(FailureCause cause);
    // Throws the component's failure once the call has been cancelled.
    void stop_if_cancelled() const;

protected:
    // Called on the component's threads each time `done` grows: a place for a watcher that
    // must act at an exact point of the work.
    virtual void advanced() {}

private:
    std::atomic<std::uint64_t> total_bytes{0};
    std::atomic<std::uint64_t> done_bytes{0};
    std::atomic<bool> cancelled{false};
    mutable std::mutex entry_mutex; // guards the two below
    std::string entry_name;
    FailureCause last_failure;
};

// Attaches `progress` to the calling thread: the component's calls made on this thread report
// to it until another (or nothing, with nullptr) is attached.
void attach_progress(Progress *progress);

// The progress attached to the calling thread, or nullptr.
Progress *attached_progress();

} // namespace zrv
