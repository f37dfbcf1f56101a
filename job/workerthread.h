// Starts a job's worker thread, detached. In a unit of its own so that a test can put a
// starter in its place that fails as a system out of threads does.
#pragma once

#include <functional>

// Runs `work` on a new detached thread; throws boost::thread_resource_error when no thread can
// be started.
void start_worker_thread(std::function<void()> work);
