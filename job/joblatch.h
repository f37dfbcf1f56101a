// Counts the job worker threads still running, so their window can wait for them before it
// goes away. A finished worker may still be on its way out when the next job starts.
#pragma once

#include <condition_variable>
#include <mutex>

class JobLatch {
public:
    void begin();
    void end();
    void wait_until_idle();

private:
    std::mutex mutex;
    std::condition_variable idle;
    int running = 0;
};
