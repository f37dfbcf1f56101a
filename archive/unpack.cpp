#include "archive/unpack.h"

#include "archive/failure.h"
#include "archive/linkcheck.h"
#include "archive/names.h"
#include "archive/platform.h"
#include "archive/progress.h"
#include "archive/zipreader.h"

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
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace zrv {

namespace {

// How many numbered names ("a (2)"...) are tried for one name before giving up.
constexpr int max_numbered_names = 100000;
// The longest link target a Linux system takes, and what all targets may hold together.
constexpr std::size_t max_link_target = 4095;
constexpr std::size_t max_link_bytes = 16 << 20;
// What is inflated but not yet written, so memory stays flat whatever the archive, also one of
// countless empty files.
constexpr std::size_t record_size = 1 << 20;
constexpr std::size_t max_bytes_in_flight = 8 << 20;
constexpr std::size_t max_records_in_flight = 1024;

using Kind = EntryKind;

// What is set on a file or folder once its contents are in place.
struct Attributes {
    mode_t perm;
    struct timespec mtime;
};

// One step of the unpacking, from the thread that reads and inflates the archive to the one
// that writes the files, in archive order. A file comes as one or more records of its data.
struct Record {
    Kind kind = Kind::file;
    std::vector<std::string> components;
    bool opens_file = true;  // the file's first record: the file is to be made
    bool closes_file = true; // its last: the file is complete
    std::vector<char> data;  // a file's data, or a link's target
    Attributes attributes{};
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

void push_or_stop(RecordQueue &queue, Record record) {
    if (!queue.push(std::move(record)))
        throw Failure("stopped");
}

// What has been made in the staging folder, as a tree of names: each folder is held once,
// whatever its depth, and found by its parent and name.
class StagingTree final : public NameTree {
public:
    struct Node {
        Node(int parent, std::string name, Kind kind)
            : parent(parent), name(std::move(name)), kind(kind) {}
        int parent;
        std::string name;
        Kind kind;
        bool has_attributes = false;
        Attributes attributes{};
        std::string link_target;
    };
    static constexpr int root = NameTree::top;

    StagingTree() { nodes.emplace_back(root, std::string(), Kind::folder); }

    Node &operator[](int id) { return nodes[static_cast<std::size_t>(id)]; }
    const Node &operator[](int id) const { return nodes[static_cast<std::size_t>(id)]; }
    std::size_t size() const { return nodes.size(); }
    std::size_t node_count() const override { return nodes.size(); }
    int parent_of(int node) const override { return (*this)[node].parent; }
    Kind kind_of(int node) const override { return (*this)[node].kind; }
    const std::string &target_of(int link) const override { return (*this)[link].link_target; }

    // The node called `name` in the folder `parent`, or -1.
    int find(int parent, const std::string &name) const override {
        const auto found = children.find({parent, name});
        return found == children.end() ? -1 : found->second;
    }
    int add(int parent, const std::string &name, Kind kind) {
        nodes.emplace_back(parent, name, kind);
        const int id = static_cast<int>(nodes.size() - 1);
        children[{parent, name}] = id;
        return id;
    }
    // The path of a node below `top`.
    std::string path(const std::string &top, int id) const {
        std::vector<const std::string *> names;
        for (; id != root; id = (*this)[id].parent)
            names.push_back(&(*this)[id].name);
        std::string result = top;
        for (auto it = names.rbegin(); it != names.rend(); ++it)
            result += "/" + **it;
        return result;
    }
    // The number to try next for another entry called `name` in `parent`.
    int &next_number(int parent, const std::string &name) {
        return numbers.try_emplace({parent, name}, 2).first->second;
    }

private:
    std::vector<Node> nodes;
    std::map<std::pair<int, std::string>, int> children;
    std::map<std::pair<int, std::string>, int> numbers;
};

class Unpacker {
public:
    Unpacker(const std::string &archive_path, const std::string &target, Progress &progress);
    ~Unpacker();
    void run();

private:
    [[noreturn]] void fail_archive(const std::string &what) const {
        fail("cannot unpack " + archive_path + ": " + what);
    }
    void survey();
    void make_staging_folder();
    void extract_entries();
    // On the reading thread: checks each entry and inflates its data.
    void read_entries(RecordQueue &queue);
    Record record_for(const ZipEntry &entry) const;
    void read_file_data(const ZipEntry &entry, Record record, RecordQueue &queue);
    // On the calling thread: makes what a record describes in the staging folder.
    void write_record(Record &record);
    int make_folders(const std::vector<std::string> &components, std::size_t count);
    int folder_fd(int folder);
    int claim_name(int parent, const std::string &leaf, Kind kind);
    void make_links();
    void apply_folder_attributes();
    void move_into_place();

    std::string archive_path;
    std::string target;
    Progress &progress;
    UniqueFd archive_file;
    std::unique_ptr<ZipReader> reader;
    bool names_are_gbk = false;
    mode_t umask = 022;
    std::string staging;
    StagingTree tree;
    // An open folder of the staging tree, moved a level at a time, so that nothing is reached
    // through a long path however deep the tree.
    int cursor = StagingTree::root;
    UniqueFd cursor_fd{-1};
    std::vector<int> links;
    // The file being written and its path.
    UniqueFd file{-1};
    std::string file_name;
    bool committed = false;
};

Unpacker::Unpacker(const std::string &archive_path, const std::string &target, Progress &progress)
    : archive_path(archive_path), target(target), progress(progress),
      // Not blocking, so a FIFO or device named as the archive fails below instead of waiting.
      archive_file(::open(archive_path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)),
      umask(process_umask()) {
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

// Reads the directory and checks what can be checked before anything is written; finds out
// whether names from Windows without the UTF-8 flag are UTF-8 or, from a Chinese Windows, GBK.
void Unpacker::survey() {
    reader = std::make_unique<ZipReader>(archive_file.get(), archive_path);
    std::uint64_t declared_total = 0;
    std::uint64_t file_data = 0; // what progress counts: link targets are not file data
    for (const ZipEntry &entry : reader->entries()) {
        if ((entry.flags & zip::flag_utf8) == 0 && entry.host != zip::host_unix &&
            entry.unicode_name.empty() && !is_valid_utf8(entry.name))
            names_are_gbk = true;
        if (declared_total + entry.size < declared_total)
            fail_archive("the declared sizes overflow");
        declared_total += entry.size;
        if (entry.host != zip::host_unix || !S_ISLNK(entry.external_attributes >> 16))
            file_data += entry.size;
    }
    const std::string parent = parent_path(target);
    struct statvfs space;
    if (::statvfs(parent.c_str(), &space) != 0)
        fail_errno("cannot unpack into", parent);
    const std::uint64_t available = static_cast<std::uint64_t>(space.f_bavail) * space.f_frsize;
    if (declared_total > available)
        fail_archive("it needs " + std::to_string(declared_total) + " bytes and " + parent +
                     " has " + std::to_string(available) + " free");
    progress.start(file_data);
}

// A short name of fixed length, so any target name that fits the folder fits here too.
void Unpacker::make_staging_folder() {
    staging = parent_path(target) + "/.zrv-XXXXXX";
    if (::mkdtemp(staging.data()) == nullptr) {
        staging.clear();
        fail_errno("cannot unpack into", parent_path(target));
    }
    cursor_fd.reset(::open(staging.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (cursor_fd.get() < 0)
        fail_errno("cannot unpack into", staging);
}

// An open descriptor of `folder`, reached from the cursor when it is a step away, and from the
// top one folder at a time otherwise.
int Unpacker::folder_fd(int folder) {
    if (folder == cursor)
        return cursor_fd.get();
    const auto open_below = [](int parent_fd, const char *name) {
        return ::openat(parent_fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    };
    int fd = -1;
    if (folder != StagingTree::root && tree[folder].parent == cursor) {
        fd = open_below(cursor_fd.get(), tree[folder].name.c_str());
    } else if (cursor != StagingTree::root && tree[cursor].parent == folder) {
        fd = open_below(cursor_fd.get(), "..");
    } else {
        std::vector<int> chain;
        for (int node = folder; node != StagingTree::root; node = tree[node].parent)
            chain.push_back(node);
        fd = ::open(staging.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        for (auto it = chain.rbegin(); fd >= 0 && it != chain.rend(); ++it) {
            const int next = open_below(fd, tree[*it].name.c_str());
            ::close(fd);
            fd = next;
        }
    }
    if (fd < 0)
        fail_errno("cannot unpack to", tree.path(staging, folder));
    cursor_fd.reset(fd);
    cursor = folder;
    return fd;
}

// Names as the entry says: Unix hosts write bytes as they are; a name from Windows without the
// UTF-8 flag is in the archive's legacy encoding, kept as bytes where it is not valid there.
Record Unpacker::record_for(const ZipEntry &entry) const {
    std::string name = entry.unicode_name.empty() ? entry.name : entry.unicode_name;
    const bool from_windows = entry.host != zip::host_unix;
    if (names_are_gbk && from_windows && entry.unicode_name.empty() &&
        (entry.flags & zip::flag_utf8) == 0)
        name = utf8_from_gbk(entry.name).value_or(entry.name);
    const auto components = entry_components(name, from_windows);
    if (!components)
        fail_archive("unsafe entry name \"" + name + "\"");

    Record record;
    record.components = *components;
    const mode_t unix_mode =
        entry.host == zip::host_unix ? static_cast<mode_t>(entry.external_attributes >> 16) : 0;
    const char last = name.empty() ? '\0' : name.back();
    const bool named_as_folder = last == '/' || (from_windows && last == '\\');
    switch (unix_mode & S_IFMT) {
    case 0:
    case S_IFREG:
    case S_IFDIR:
        record.kind = named_as_folder || S_ISDIR(unix_mode) ||
                              (unix_mode == 0 && (entry.external_attributes & 0x10) != 0)
                          ? Kind::folder
                          : Kind::file;
        break;
    case S_IFLNK:
        record.kind = Kind::link;
        break;
    default:
        fail_archive(name + " is a device, pipe or other special file");
    }
    if (record.components.empty() && record.kind != Kind::folder)
        fail_archive("unsafe entry name \"" + name + "\"");
    // Permission bits only: setuid, setgid and sticky bits are never set.
    mode_t perm = unix_mode & 0777;
    if (unix_mode == 0) {
        perm = (record.kind == Kind::folder ? 0777 : 0666) & ~umask;
        if ((entry.external_attributes & 0x01) != 0) // read-only on Windows
            perm &= ~0222;
    }
    record.attributes = {perm, entry.mtime};
    return record;
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

void Unpacker::read_entries(RecordQueue &queue) {
    std::size_t link_total = 0;
    for (const ZipEntry &entry : reader->entries()) {
        Record record = record_for(entry);
        if (record.kind == Kind::file) {
            read_file_data(entry, std::move(record), queue);
            continue;
        }
        if (record.kind == Kind::link) {
            const std::string name = join_components(record.components);
            if (entry.size > max_link_target)
                fail_archive("the link " + name + " has a target longer than " +
                             std::to_string(max_link_target) + " bytes");
            link_total += entry.size;
            if (link_total > max_link_bytes)
                fail_archive("its links' targets exceed " + std::to_string(max_link_bytes) +
                             " bytes together");
            reader->read(entry, [&](const unsigned char *data, std::size_t size) {
                record.data.insert(record.data.end(), data, data + size);
            });
            if (record.data.empty() ||
                std::find(record.data.begin(), record.data.end(), '\0') != record.data.end())
                fail_archive(name + " is an empty or malformed link");
        }
        push_or_stop(queue, std::move(record));
    }
}

// Makes the first `count` components as folders, each once; returns the last one's node.
int Unpacker::make_folders(const std::vector<std::string> &components, std::size_t count) {
    int folder = StagingTree::root;
    for (std::size_t i = 0; i < count; ++i) {
        const int child = tree.find(folder, components[i]);
        if (child >= 0) {
            if (tree[child].kind != Kind::folder)
                fail_archive(join_components(components) +
                             " needs a folder where the archive has a file or link");
            folder = child;
            continue;
        }
        // Made with the usual mode: only folders the archive lists get theirs at the end.
        if (::mkdirat(folder_fd(folder), components[i].c_str(), 0777 & ~umask) != 0)
            fail_errno("cannot unpack to", tree.path(staging, folder) + "/" + components[i]);
        folder = tree.add(folder, components[i], Kind::folder);
    }
    return folder;
}

// The name a file or link gets in `parent`: its own, or the next numbered one when the archive
// held it already, or the file system finds it taken (one that folds case or Unicode forms).
int Unpacker::claim_name(int parent, const std::string &leaf, Kind kind) {
    // The count of numbered names is kept only for names that are taken.
    int *next = nullptr;
    for (int tries = 0;; ++tries) {
        if (tries > max_numbered_names)
            fail_archive("too many entries named " + leaf);
        if (tries == 1 || (tries == 0 && tree.find(parent, leaf) >= 0))
            next = &tree.next_number(parent, leaf);
        const std::string name = next == nullptr ? leaf : numbered_name(leaf, (*next)++);
        if (tree.find(parent, name) >= 0)
            continue;
        const int id = tree.add(parent, name, kind);
        if (kind == Kind::link)
            return id; // made once every file is in place
        file_name = tree.path(staging, id);
        file.reset(::openat(folder_fd(parent), name.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (file.get() >= 0)
            return id;
        if (errno != EEXIST)
            fail_errno("cannot unpack to", file_name);
    }
}

void Unpacker::write_record(Record &record) {
    progress.stop_if_cancelled();
    const std::size_t count = record.components.size();
    if (record.opens_file)
        progress.set_entry(join_components(record.components));
    switch (record.kind) {
    case Kind::file: {
        if (record.opens_file)
            claim_name(make_folders(record.components, count - 1), record.components.back(),
                       Kind::file);
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
        progress.add_done(record.data.size());
        if (!record.closes_file)
            break;
        const struct timespec times[2] = {record.attributes.mtime, record.attributes.mtime};
        if (::fchmod(file.get(), record.attributes.perm) != 0 || ::futimens(file.get(), times) != 0)
            fail_errno("cannot unpack to", file_name);
        if (::close(file.release()) != 0)
            fail_errno("cannot write", file_name);
        break;
    }
    case Kind::folder: {
        if (count == 0)
            break; // "./": the folder itself
        auto &folder = tree[make_folders(record.components, count)];
        folder.has_attributes = true;
        folder.attributes = record.attributes;
        break;
    }
    case Kind::link: {
        const int id = claim_name(make_folders(record.components, count - 1),
                                  record.components.back(), Kind::link);
        tree[id].link_target.assign(record.data.begin(), record.data.end());
        links.push_back(id);
        break;
    }
    }
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
        fail_archive("cannot start a thread");
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

// Links are made after every file, so no file is ever written through one, and only when
// each, followed as the kernel follows it in the finished tree, ends inside the folder.
void Unpacker::make_links() {
    LinkCheck check(tree);
    for (const int id : links) {
        progress.stop_if_cancelled();
        const LinkCheck::Verdict verdict = check.verdict(id);
        const std::string name = tree.path(std::string(), id).substr(1);
        if (verdict == LinkCheck::Verdict::outside)
            fail_archive("the link " + name + " leads outside the folder");
        if (verdict == LinkCheck::Verdict::loops)
            fail_archive("the link " + name + " loops or passes through more than " +
                         std::to_string(LinkCheck::max_link_hops) + " links");
    }
    for (const int id : links) {
        if (::symlinkat(tree[id].link_target.c_str(), folder_fd(tree[id].parent),
                        tree[id].name.c_str()) != 0)
            fail_errno("cannot unpack to", tree.path(staging, id));
    }
}

// Folder times and permissions are set last, each folder after everything in it (made after
// it, so in reverse order of making), so that writing their contents neither changes the times
// nor runs into a read-only folder.
void Unpacker::apply_folder_attributes() {
    for (int node = static_cast<int>(tree.size()) - 1; node > StagingTree::root; --node) {
        if (!tree[node].has_attributes)
            continue;
        progress.stop_if_cancelled();
        const Attributes &attributes = tree[node].attributes;
        const int parent_fd = folder_fd(tree[node].parent);
        const char *name = tree[node].name.c_str();
        const struct timespec times[2] = {attributes.mtime, attributes.mtime};
        if (::utimensat(parent_fd, name, times, AT_SYMLINK_NOFOLLOW) != 0 ||
            ::fchmodat(parent_fd, name, attributes.perm, 0) != 0)
            fail_errno("cannot unpack to", tree.path(staging, node));
    }
    cursor_fd.reset(-1);
    if (::chmod(staging.c_str(), 0777 & ~umask) != 0)
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
    fail_archive("every name for " + target + " is taken");
}

void Unpacker::run() {
    survey();
    make_staging_folder();
    extract_entries();
    make_links();
    apply_folder_attributes();
    progress.stop_if_cancelled();
    move_into_place();
}

} // namespace

void unpack(const std::string &archive_path, const std::string &target) {
    Progress unwatched;
    Progress *watched = attached_progress();
    Unpacker(archive_path, target, watched != nullptr ? *watched : unwatched).run();
}

} // namespace zrv
