#include "archive/unpack.h"

#include "archive/entrycheck.h"
#include "archive/failure.h"
#include "archive/names.h"
#include "archive/platform.h"
#include "archive/progress.h"
#include "archive/recordqueue.h"
#include "archive/staging.h"
#include "archive/unpacklimits.h"
#include "archive/zipreader.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

namespace zrv {

namespace {

// One call's unpacking: the reader and the checks on a reading thread of their own, the
// staging folder on the calling thread, the queue between them (recordqueue.h).
class Unpacker {
public:
    Unpacker(const std::string &archive_path, const std::string &target,
             const std::string &password, Progress &progress);
    void run();

private:
    void extract_entries();
    // On the reading thread: checks each entry and inflates its data.
    void read_entries(RecordQueue &queue);
    void read_file_data(const ZipEntry &entry, Record record, RecordQueue &queue);
    void read_link(const ZipEntry &entry, Record &record);

    std::string archive_path;
    std::string target;
    const std::string &password;
    Progress &progress;
    UniqueFd archive_file;
    mode_t umask;
    std::unique_ptr<ZipReader> reader;
    EntryCheck check;
    std::optional<Staging> staging;
};

Unpacker::Unpacker(const std::string &archive_path, const std::string &target,
                   const std::string &password, Progress &progress)
    : archive_path(archive_path), target(target), password(password), progress(progress),
      // Not blocking, so a FIFO or device named as the archive fails below instead of waiting.
      archive_file(::open(archive_path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)),
      umask(process_umask()), check(archive_path, umask) {
    if (archive_file.get() < 0)
        fail_errno(FailureKind::cannot_read, "cannot open archive", archive_path);
    struct stat info;
    if (::fstat(archive_file.get(), &info) != 0)
        fail_errno(FailureKind::cannot_read, "cannot open archive", archive_path);
    if (!S_ISREG(info.st_mode))
        fail(FailureKind::cannot_read,
             "cannot open archive " + archive_path + ": not a regular file");
    while (this->target.size() > 1 && this->target.back() == '/')
        this->target.pop_back();
    const std::string name = base_name(this->target);
    if (name.empty() || name == "." || name == ".." || name == "/")
        fail(FailureKind::cannot_create_target,
             "cannot unpack " + archive_path + ": no folder name in " + target, target);
}

// Inflates one file's data into records of up to a megabyte.
void Unpacker::read_file_data(const ZipEntry &entry, Record record, RecordQueue &queue) {
    const auto reserve = [&](Record &next, std::uint64_t done) {
        next.data.reserve(
            static_cast<std::size_t>(std::min<std::uint64_t>(entry.size - done, record_size)));
    };
    std::uint64_t done = 0;
    reserve(record, done);
    reader->read(entry, [&](const unsigned char *data, std::size_t size) {
        progress.stop_if_cancelled();
        if (record.data.size() + size > record_size && !record.data.empty()) {
            Record rest;
            rest.components = record.components;
            rest.attributes = record.attributes;
            rest.opens_file = false;
            reserve(rest, done);
            record.closes_file = false;
            push_or_stop(queue, std::move(record));
            record = std::move(rest);
        }
        record.data.insert(record.data.end(), data, data + size);
        done += size;
    });
    push_or_stop(queue, std::move(record));
}

void Unpacker::read_link(const ZipEntry &entry, Record &record) {
    const std::string name = join_components(record.components);
    check.check_link_size(name, entry.size);
    reader->read(entry, [&](const unsigned char *data, std::size_t size) {
        record.data.insert(record.data.end(), data, data + size);
    });
    check.check_link_target(name, record.data);
}

void Unpacker::read_entries(RecordQueue &queue) {
    reader->for_each([&](const ZipEntry &entry) {
        Record record = check.record_for(entry);
        if (record.kind == Kind::file) {
            read_file_data(entry, std::move(record), queue);
            return;
        }
        if (record.kind == Kind::link)
            read_link(entry, record);
        push_or_stop(queue, std::move(record));
    });
}

// Inflating runs on a thread of its own while this one writes the files, so the two overlap.
void Unpacker::extract_entries() {
    RecordQueue queue;
    std::thread reading;
    try {
        reading = std::thread([&] {
            try {
                read_entries(queue);
                queue.finish(nullptr);
            } catch (...) {
                queue.finish(std::current_exception());
            }
        });
    } catch (const std::system_error &) {
        fail_archive(FailureKind::other, archive_path, "cannot start a thread");
    }
    // The reader is stopped and joined before a failure of the writer leaves this function.
    struct StopReading {
        RecordQueue &queue;
        std::thread &thread;
        ~StopReading() {
            queue.cancel();
            thread.join();
        }
    } stop_reading{queue, reading};
    Record record;
    while (queue.pop(record))
        staging->write_record(record);
}

void Unpacker::run() {
    reader = std::make_unique<ZipReader>(archive_file.get(), archive_path);
    reader->use_password(password);
    progress.start(check.survey(*reader, parent_path(target)));
    staging.emplace(archive_path, target, umask, progress);
    extract_entries();
    staging->make_links();
    staging->apply_folder_attributes();
    progress.stop_if_cancelled();
    staging->move_into_place();
}

} // namespace

void unpack(const std::string &archive_path, const std::string &target,
            const std::string &password) {
    Progress unwatched;
    Progress *watched = attached_progress();
    Unpacker(archive_path, target, password, watched != nullptr ? *watched : unwatched).run();
}

} // namespace zrv
