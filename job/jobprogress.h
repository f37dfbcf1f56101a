// What a running job shares with the window that watches it: the archive component's progress
// for the call in hand, which archive of how many that is when unpacking several, and a way for
// the worker to put a question to the user.
#pragma once

#include "archive/progress.h"

#include <atomic>
#include <functional>
#include <vector>

struct JobProgress : zrv::Progress {
    explicit JobProgress(int archive_count) : archive_count(archive_count) {}

    // The job's own progress, attached to the worker thread, or nullptr.
    static JobProgress *of_this_thread() {
        return dynamic_cast<JobProgress *>(zrv::attached_progress());
    }

    // Called on the worker thread: runs `ask` on the GUI thread and waits for the number it
    // hands to its `answer` (a dialog calls it when the user has answered, at any later time).
    // A cancelled job stops waiting at once and gets `when_cancelled`; an answer that comes
    // after that is dropped. The worker owns nothing of the GUI: `ask` makes and owns the
    // dialog, on the GUI thread.
    using Answer = std::function<void(int)>;
    int ask_user(std::function<void(const Answer &answer)> ask, int when_cancelled);

    // Asks the user whether to leave out what cannot be packed (skipquestion.cpp); 取消
    // cancels the job. Keeps what was left out in `skipped`, on the worker thread.
    bool skip_what_cannot_be_packed(const std::vector<zrv::FailureCause> &items) override;

    const int archive_count; // 0 when packing
    std::atomic<int> archive_number{0};
    std::vector<zrv::FailureCause> skipped;
};
