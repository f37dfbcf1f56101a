// What the reading thread hands the writing thread while unpacking, and the queue between them.
//
// Unpacking runs on two threads. The reading thread (started by the unpacker) walks the
// central directory in order, checks each entry (entrycheck.h) and inflates its data into
// records; the calling thread takes the records in the same order and makes what they describe
// in the staging folder (staging.h). The queue holds at most max_records_in_flight records and
// max_bytes_in_flight bytes of data, so memory stays flat. The first failure stops both: the
// reader's travels through the queue as the exception itself and is thrown by pop(); the
// writer's cancels the queue, which makes the reader's next push() fail, and the unpacker joins
// the reader before the failure leaves it.
#pragma once

#include "archive/linkcheck.h"

#include <sys/types.h>

#include <condition_variable>
#include <ctime>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <vector>

namespace zrv {

using Kind = EntryKind;

// What is set on a file or folder once its contents are in place.
struct Attributes {
    mode_t perm;
    struct timespec mtime;
};

// One step of the unpacking, in archive order. A file comes as one or more records of its data.
struct Record {
    Kind kind = Kind::file;
    std::vector<std::string> components;
    bool opens_file = true;  // the file's first record: the file is to be made
    bool closes_file = true; // its last: the file is complete
    std::vector<char> data;  // a file's data, or a link's target
    Attributes attributes{};
};

class RecordQueue {
public:
    // Waits for room; false once the writer has cancelled.
    bool push(Record record);
    // The reader is done: `reader_failure` is null when it read everything.
    void finish(std::exception_ptr reader_failure);
    // Waits for the next record; false after the last. Throws the reader's failure.
    bool pop(Record &record);
    void cancel();

private:
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Record> records;
    std::size_t bytes = 0;
    bool finished = false;
    bool cancelled = false;
    std::exception_ptr failure;
};

// Pushes `record`, or stops the reading thread once the writer has cancelled.
void push_or_stop(RecordQueue &queue, Record record);

} // namespace zrv
