#include "archive/unpack.h"

#include "archive/failure.h"
#include "archive/names.h"
#include "archive/platform.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace zrv {

namespace {

constexpr int max_link_hops = 40;
constexpr int max_numbered_names = 10000;
// Bounds what is inflated but not yet written, so memory stays flat whatever the archive,
// also one of countless empty files.
constexpr std::size_t max_bytes_in_flight = 8 << 20;
constexpr std::size_t max_records_in_flight = 1024;

struct ReaderDeleter {
    void operator()(struct archive *a) const { archive_read_free(a); }
};
using ReaderPtr = std::unique_ptr<struct archive, ReaderDeleter>;

struct DeferredLink {
    std::vector<std::string> components;
    std::string target;
};

// What is set on a file or folder once its contents are in place.
struct Attributes {
    mode_t perm;
    struct timespec mtime;
};

// One step of the unpacking, from the thread that reads and inflates the archive to the one
// that writes the files, in archive order. A file comes as one or more records of its data.
struct Record {
    enum class Kind { file, folder, link } kind = Kind::file;
    std::vector<std::string> components;
    bool opens_file = true;  // the file's first record: the file is to be made
    bool closes_file = true; // its last: the file is complete
    std::vector<char> data;
    Attributes attributes{};
    std::string link_target;
};

// Hands records from the reading thread to the writing one, holding a bounded amount. The
// reader ends it with its failure, if any; the writer cancels it when it fails itself.
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

bool RecordQueue::push(Record record) {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] {
        return cancelled || records.empty() ||
               (records.size() < max_records_in_flight &&
                bytes + record.data.size() <= max_bytes_in_flight);
    });
    if (cancelled)
        return false;
    bytes += record.data.size();
    records.push_back(std::move(record));
    changed.notify_all();
    return true;
}

void RecordQueue::finish(std::exception_ptr reader_failure) {
    std::lock_guard<std::mutex> lock(mutex);
    finished = true;
    failure = std::move(reader_failure);
    changed.notify_all();
}

bool RecordQueue::pop(Record &record) {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return finished || !records.empty(); });
    if (records.empty()) {
        if (failure)
            std::rethrow_exception(failure);
        return false;
    }
    record = std::move(records.front());
    records.pop_front();
    bytes -= record.data.size();
    changed.notify_all();
    return true;
}

void RecordQueue::cancel() {
    std::lock_guard<std::mutex> lock(mutex);
    cancelled = true;
    changed.notify_all();
}

class Unpacker {
public:
    Unpacker(const std::string &archive_path, const std::string &target);
    ~Unpacker();
    void run();

private:
    ReaderPtr open_reader(bool gbk_names);
    [[noreturn]] void fail_archive(struct archive *reader, const std::string &what);
    // Reads every entry header in order; damage of any kind ends the unpacking.
    void for_each_entry(bool gbk_names,
                        const std::function<void(struct archive *, archive_entry *)> &visit);
    bool survey_names_are_utf8();
    void make_staging_folder();
    void extract_entries(bool gbk_names);
    // On the reading thread: checks each entry and inflates its data.
    void read_entries(bool gbk_names, RecordQueue &queue);
    void read_file_data(struct archive *reader, archive_entry *entry, Record record,
                        RecordQueue &queue);
    // On the calling thread: makes what a record describes in the staging folder.
    void write_record(Record &record);
    void open_file(std::vector<std::string> components);
    void make_parent_folders(const std::vector<std::string> &components);
    void make_links();
    bool stays_inside(std::vector<std::string> &location, const std::string &link_target,
                      int &hops) const;
    void apply_folder_attributes();
    void move_into_place();

    std::string archive_path;
    std::string target;
    UniqueFd archive_file;
    std::string staging;
    std::uint64_t declared_total = 0;
    std::vector<DeferredLink> links;
    std::map<std::string, Attributes> folders;
    // Folders already made in the staging folder, so each is made once.
    std::set<std::string> known_folders;
    // The file being written and its name in the staging folder.
    UniqueFd file{-1};
    std::string file_name;
    bool committed = false;
};

Unpacker::Unpacker(const std::string &archive_path, const std::string &target)
    : archive_path(archive_path), target(target),
      archive_file(::open(archive_path.c_str(), O_RDONLY | O_CLOEXEC)) {
    if (archive_file.get() < 0)
        fail_errno("cannot open archive", archive_path);
    struct stat info;
    if (::fstat(archive_file.get(), &info) != 0)
        fail_errno("cannot open archive", archive_path);
    if (!S_ISREG(info.st_mode))
        fail("cannot open archive " + archive_path + ": not a regular file");
    while (this->target.size() > 1 && this->target.back() == '/')
        this->target.pop_back();
    const std::string name = base_name(this->target);
    if (name.empty() || name == "." || name == ".." || name == "/")
        fail("cannot unpack " + archive_path + ": no folder name in " + target);
}

Unpacker::~Unpacker() {
    if (!committed && !staging.empty())
        remove_tree(staging);
}

void Unpacker::fail_archive(struct archive *reader, const std::string &what) {
    const char *reason = archive_error_string(reader);
    fail("cannot unpack " + archive_path + ": " + what +
         (reason ? std::string(": ") + reason : ""));
}

// Only the ZIP reader that works from the central directory is enabled: it knows every entry's
// real size and rejects an archive that lacks its directory.
ReaderPtr Unpacker::open_reader(bool gbk_names) {
    ReaderPtr reader(archive_read_new());
    if (!reader)
        fail("cannot unpack " + archive_path + ": out of memory");
    archive_read_support_format_zip_seekable(reader.get());
    if (gbk_names && archive_read_set_options(reader.get(), "zip:hdrcharset=CP936") != ARCHIVE_OK)
        fail_archive(reader.get(), "cannot decode GBK names");
    if (::lseek(archive_file.get(), 0, SEEK_SET) != 0)
        fail_errno("cannot read archive", archive_path);
    if (archive_read_open_fd(reader.get(), archive_file.get(), 64 * 1024) != ARCHIVE_OK)
        fail_archive(reader.get(), "not a readable ZIP archive");
    return reader;
}

// Reads every header once: checks what can be checked before anything is written, and finds
// out whether names without the UTF-8 flag are UTF-8 or, from a Chinese Windows, GBK.
bool Unpacker::survey_names_are_utf8() {
    bool names_are_utf8 = true;
    for_each_entry(false, [&](struct archive *reader, archive_entry *entry) {
        const char *name = archive_entry_pathname(entry);
        if (name == nullptr)
            fail_archive(reader, "an entry has no name");
        names_are_utf8 = names_are_utf8 && is_valid_utf8(name);
        if (archive_entry_is_encrypted(entry))
            fail("cannot unpack " + archive_path + ": " + name + " is encrypted");
        if (!archive_entry_size_is_set(entry) || archive_entry_size(entry) < 0)
            fail("cannot unpack " + archive_path + ": " + name + " has no size");
        const auto size = static_cast<std::uint64_t>(archive_entry_size(entry));
        if (declared_total + size < declared_total)
            fail("cannot unpack " + archive_path + ": the declared sizes overflow");
        declared_total += size;
    });
    return names_are_utf8;
}

void Unpacker::make_staging_folder() {
    const std::string parent = parent_path(target);
    struct statvfs space;
    if (::statvfs(parent.c_str(), &space) != 0)
        fail_errno("cannot unpack into", parent);
    const std::uint64_t available = static_cast<std::uint64_t>(space.f_bavail) * space.f_frsize;
    if (declared_total > available)
        fail("cannot unpack " + archive_path + ": it needs " + std::to_string(declared_total) +
             " bytes and " + parent + " has " + std::to_string(available) + " free");
    staging = parent + "/." + base_name(target) + ".unpacking-XXXXXX";
    if (::mkdtemp(staging.data()) == nullptr) {
        staging.clear();
        fail_errno("cannot unpack into", parent);
    }
}

void Unpacker::make_parent_folders(const std::vector<std::string> &components) {
    std::string relative;
    for (size_t i = 0; i + 1 < components.size(); ++i) {
        relative += (i == 0 ? "" : "/") + components[i];
        if (known_folders.count(relative) != 0)
            continue;
        const std::string path = staging + "/" + relative;
        struct stat info;
        if (::mkdir(path.c_str(), 0777) != 0 &&
            (errno != EEXIST || ::lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)))
            fail("cannot unpack " + archive_path + ": " + join_components(components) +
                 " needs a folder where the archive has a file or link");
        known_folders.insert(relative);
    }
}

void Unpacker::open_file(std::vector<std::string> components) {
    make_parent_folders(components);
    // A name the archive holds twice, or one equal on this file system, keeps both files.
    const std::string leaf = components.back();
    for (int n = 2;; ++n) {
        const std::string path = staging + "/" + join_components(components);
        file.reset(
            ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (file.get() >= 0)
            break;
        if (errno != EEXIST || n > max_numbered_names)
            fail_errno("cannot unpack to", path);
        components.back() = numbered_name(leaf, n);
    }
    file_name = staging + "/" + join_components(components);
}

void Unpacker::write_record(Record &record) {
    switch (record.kind) {
    case Record::Kind::file: {
        if (record.opens_file)
            open_file(record.components);
        const char *data = record.data.data();
        std::size_t left = record.data.size();
        while (left > 0) {
            const ssize_t done = ::write(file.get(), data, left);
            if (done < 0) {
                if (errno == EINTR)
                    continue;
                fail_errno("cannot write", file_name);
            }
            data += done;
            left -= static_cast<std::size_t>(done);
        }
        if (!record.closes_file)
            break;
        const struct timespec times[2] = {record.attributes.mtime, record.attributes.mtime};
        // Permission bits only: setuid, setgid and sticky bits are never set.
        if (::fchmod(file.get(), record.attributes.perm) != 0 || ::futimens(file.get(), times) != 0)
            fail_errno("cannot unpack to", file_name);
        if (::close(file.release()) != 0)
            fail_errno("cannot write", file_name);
        break;
    }
    case Record::Kind::folder: {
        std::vector<std::string> with_leaf = record.components;
        with_leaf.push_back(".");
        make_parent_folders(with_leaf);
        folders[join_components(record.components)] = record.attributes;
        break;
    }
    case Record::Kind::link:
        links.push_back({std::move(record.components), std::move(record.link_target)});
        break;
    }
}

void push_or_stop(RecordQueue &queue, Record record) {
    if (!queue.push(std::move(record)))
        throw Failure("stopped");
}

// Inflates one file's data into records of up to a megabyte. The data must come in order and
// add up to exactly the declared size.
void Unpacker::read_file_data(struct archive *reader, archive_entry *entry, Record record,
                              RecordQueue &queue) {
    constexpr std::size_t record_size = 1 << 20;
    const std::string name = join_components(record.components);
    const auto declared = static_cast<std::uint64_t>(archive_entry_size(entry));
    const auto reserve = [&](Record &next, std::uint64_t read) {
        next.data.reserve(
            static_cast<std::size_t>(std::min<std::uint64_t>(declared - read, record_size)));
    };
    std::uint64_t read = 0;
    reserve(record, read);
    for (;;) {
        const void *block = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        const int status = archive_read_data_block(reader, &block, &size, &offset);
        if (status == ARCHIVE_EOF)
            break;
        if (status != ARCHIVE_OK)
            fail_archive(reader, "damaged entry " + name);
        if (offset < 0 || static_cast<std::uint64_t>(offset) != read)
            fail("cannot unpack " + archive_path + ": damaged entry " + name);
        // Inflating does not stop at the declared size: a bomb is stopped here.
        if (size > declared - read)
            fail("cannot unpack " + archive_path + ": " + name + " holds more than it declares");
        if (record.data.size() + size > record_size && !record.data.empty()) {
            Record rest;
            rest.components = record.components;
            rest.attributes = record.attributes;
            rest.opens_file = false;
            reserve(rest, read);
            record.closes_file = false;
            push_or_stop(queue, std::move(record));
            record = std::move(rest);
        }
        const char *data = static_cast<const char *>(block);
        record.data.insert(record.data.end(), data, data + size);
        read += size;
    }
    if (read != declared)
        fail("cannot unpack " + archive_path + ": " + name + " is shorter than it declares");
    push_or_stop(queue, std::move(record));
}

void Unpacker::for_each_entry(bool gbk_names,
                              const std::function<void(struct archive *, archive_entry *)> &visit) {
    ReaderPtr reader = open_reader(gbk_names);
    for (;;) {
        archive_entry *entry = nullptr;
        const int status = archive_read_next_header(reader.get(), &entry);
        if (status == ARCHIVE_EOF)
            return;
        if (status != ARCHIVE_OK)
            fail_archive(reader.get(), "damaged archive");
        visit(reader.get(), entry);
    }
}

// Inflating runs on a thread of its own while this one writes the files, so the two overlap.
void Unpacker::extract_entries(bool gbk_names) {
    RecordQueue queue;
    std::thread reading;
    try {
        reading = std::thread([&] {
            try {
                // Names are converted in the thread's locale, as on the calling thread.
                const Utf8ThreadLocale utf8;
                read_entries(gbk_names, queue);
                queue.finish(nullptr);
            } catch (...) {
                queue.finish(std::current_exception());
            }
        });
    } catch (const std::system_error &) {
        fail("cannot unpack " + archive_path + ": cannot start a thread");
    }
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
        write_record(record);
}

void Unpacker::read_entries(bool gbk_names, RecordQueue &queue) {
    for_each_entry(gbk_names, [&](struct archive *reader, archive_entry *entry) {
        // The name libarchive will use, which may come from an extra field rather than the
        // central directory, is the one that is checked.
        const char *raw_name = archive_entry_pathname(entry);
        const std::string name = raw_name ? raw_name : "";
        Record record;
        record.components = safe_components(name);
        if (record.components.empty() || !is_valid_utf8(name))
            fail("cannot unpack " + archive_path + ": unsafe entry name \"" + name + "\"");
        if (archive_entry_hardlink(entry) != nullptr)
            fail("cannot unpack " + archive_path + ": " + name + " is a hard link");
        record.attributes = {static_cast<mode_t>(archive_entry_perm(entry) & 0777),
                             {archive_entry_mtime(entry), archive_entry_mtime_nsec(entry)}};

        switch (archive_entry_filetype(entry)) {
        case AE_IFREG:
            read_file_data(reader, entry, std::move(record), queue);
            return;
        case AE_IFDIR:
            record.kind = Record::Kind::folder;
            break;
        case AE_IFLNK: {
            const char *link_target = archive_entry_symlink(entry);
            if (link_target == nullptr || *link_target == '\0')
                fail("cannot unpack " + archive_path + ": " + name + " is an empty link");
            record.kind = Record::Kind::link;
            record.link_target = link_target;
            break;
        }
        default:
            fail("cannot unpack " + archive_path + ": " + name +
                 " is a device, pipe or other special file");
        }
        push_or_stop(queue, std::move(record));
    });
}

// Follows `link_target` from the folder `location` through the links in the staging tree;
// false when any step leaves the tree. `location` ends where the path leads.
bool Unpacker::stays_inside(std::vector<std::string> &location, const std::string &link_target,
                            int &hops) const {
    if (link_target.empty() || link_target[0] == '/')
        return false;
    size_t start = 0;
    while (start <= link_target.size()) {
        size_t end = link_target.find('/', start);
        if (end == std::string::npos)
            end = link_target.size();
        const std::string component = link_target.substr(start, end - start);
        start = end + 1;
        if (component.empty() || component == ".")
            continue;
        if (component == "..") {
            if (location.empty())
                return false;
            location.pop_back();
            continue;
        }
        location.push_back(component);
        const std::string path = staging + "/" + join_components(location);
        struct stat info;
        if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            continue;
        if (++hops > max_link_hops)
            return false;
        std::string next(static_cast<size_t>(info.st_size) + 1, '\0');
        const ssize_t length = ::readlink(path.c_str(), next.data(), next.size());
        if (length < 0 || static_cast<size_t>(length) >= next.size())
            return false;
        next.resize(static_cast<size_t>(length));
        location.pop_back();
        if (!stays_inside(location, next, hops))
            return false;
    }
    return true;
}

// Links are made after every file, so no file is ever written through one, and each is then
// checked to lead nowhere outside the tree, also by way of other links.
void Unpacker::make_links() {
    for (DeferredLink &link : links) {
        make_parent_folders(link.components);
        const std::string leaf = link.components.back();
        for (int n = 2;; ++n) {
            const std::string path = staging + "/" + join_components(link.components);
            if (::symlink(link.target.c_str(), path.c_str()) == 0)
                break;
            if (errno != EEXIST || n > max_numbered_names)
                fail_errno("cannot unpack to", path);
            link.components.back() = numbered_name(leaf, n);
        }
    }
    for (const DeferredLink &link : links) {
        std::vector<std::string> location(link.components.begin(), link.components.end() - 1);
        int hops = 0;
        if (!stays_inside(location, link.target, hops))
            fail("cannot unpack " + archive_path + ": the link " +
                 join_components(link.components) + " leads outside the folder");
    }
}

// Folder times and permissions are set last and deepest first, so that writing their contents
// neither changes the times nor runs into a read-only folder.
void Unpacker::apply_folder_attributes() {
    std::vector<std::pair<std::string, Attributes>> ordered(folders.begin(), folders.end());
    std::sort(ordered.begin(), ordered.end(), [](const auto &a, const auto &b) {
        return std::count(a.first.begin(), a.first.end(), '/') >
               std::count(b.first.begin(), b.first.end(), '/');
    });
    for (const auto &[name, attributes] : ordered) {
        const std::string path = staging + "/" + name;
        const struct timespec times[2] = {attributes.mtime, attributes.mtime};
        if (::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0 ||
            ::chmod(path.c_str(), attributes.perm) != 0)
            fail_errno("cannot unpack to", path);
    }
    if (::chmod(staging.c_str(), 0777 & ~process_umask()) != 0)
        fail_errno("cannot unpack to", staging);
}

// An existing folder is never merged into: the archive takes the first free numbered name.
void Unpacker::move_into_place() {
    for (int n = 1; n <= max_numbered_names; ++n) {
        const std::string candidate = n == 1 ? target : target + " (" + std::to_string(n) + ")";
        if (rename_no_replace(staging, candidate)) {
            committed = true;
            return;
        }
        if (errno != EEXIST && errno != ENOTEMPTY)
            fail_errno("cannot unpack to", candidate);
    }
    fail("cannot unpack " + archive_path + ": every name for " + target + " is taken");
}

void Unpacker::run() {
    const bool names_are_utf8 = survey_names_are_utf8();
    make_staging_folder();
    extract_entries(!names_are_utf8);
    make_links();
    apply_folder_attributes();
    move_into_place();
}

} // namespace

void unpack(const std::string &archive_path, const std::string &target) {
    Unpacker(archive_path, target).run();
}

} // namespace zrv
