#include "job/workerthread.h"

#include <boost/thread.hpp>

void start_worker_thread(std::function<void()> work) {
    boost::thread worker(std::move(work));
    worker.detach();
}
