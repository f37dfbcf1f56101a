// What a running job shares with the window that watches it: the archive component's progress
// for the call in hand, and which archive of how many that is when unpacking several.
#pragma once

#include "archive/progress.h"

#include <atomic>

struct JobProgress : zrv::Progress {
    explicit JobProgress(int archive_count) : archive_count(archive_count) {}

    // The job's own progress, attached to the worker thread, or nullptr.
    static JobProgress *of_this_thread() {
        return dynamic_cast<JobProgress *>(zrv::attached_progress());
    }

    const int archive_count; // 0 when packing
    std::atomic<int> archive_number{0};
};
