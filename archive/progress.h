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
#include <vector>

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
    // What the last call that reported to this progress made, once it succeeded: the archive,
    // or the folder the archive went into ("target (2)" when "target" was taken).
    std::string made() const;

    // Asked on the packing thread before anything is written, when items inside the picked
    // folders cannot be packed (each with its cause, in the order packing meets them): true
    // leaves them out of the archive, false fails the call with the first one. A watcher that
    // can put the question to someone overrides it; a call cancelled meanwhile fails as such.
    virtual bool skip_what_cannot_be_packed(const std::vector<FailureCause> &) { return false; }

    // For the component.
    void start(std::uint64_t total);
    void add_done(std::uint64_t bytes) {
        done_bytes.fetch_add(bytes, std::memory_order_relaxed);
        advanced();
    }
    void set_entry(const std::string &name);
    void set_failure(FailureCause cause);
    void set_made(const std::string &path);
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
    mutable std::mutex entry_mutex; // guards the three below
    std::string entry_name;
    FailureCause last_failure;
    std::string made_path;
};

// Attaches `progress` to the calling thread: the component's calls made on this thread report
// to it until another (or nothing, with nullptr) is attached.
void attach_progress(Progress *progress);

// The progress attached to the calling thread, or nullptr.
Progress *attached_progress();

} // namespace zrv
