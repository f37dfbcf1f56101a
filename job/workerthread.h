// Starts a job's worker thread, detached. In a unit of its own so that a test can put a
// starter in its place that fails as a system out of threads does.
//
// The threads of a job: the GUI thread starts the worker and owns the window, the selection
// and every dialog; while the job runs, the controls that could change the selection or the
// mode stay disabled, so the worker reads them without a lock. The worker owns the job's
// JobProgress (shared with the progress window, which reads its counters and may cancel it),
// runs the archive component's calls, asks the user through JobProgress::ask_user and hands
// its result back only as the queued signal signal_end_work. The window's JobLatch counts
// running workers, so the window, when it goes, cancels a job and waits for it.
#pragma once

#include <functional>

// Runs `work` on a new detached thread; throws boost::thread_resource_error when no thread can
// be started.
void start_worker_thread(std::function<void()> work);
