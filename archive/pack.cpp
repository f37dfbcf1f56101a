#include "archive/pack.h"

#include "archive/deflater.h"
#include "archive/failure.h"
#include "archive/names.h"
#include "archive/pipeline.h"
#include "archive/platform.h"
#include "archive/progress.h"
#include "archive/survey.h"
#include "archive/unpacklimits.h"
#include "archive/zipwriter.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <set>
#include <vector>

namespace zrv {

namespace {

bool same_contents_state(const struct stat &a, const struct stat &b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

// The archive's temporary file beside its final path; removed unless it was completed.
class TemporaryArchive {
public:
    explicit TemporaryArchive(const std::string &archive_path);
    ~TemporaryArchive();
    int fd() const { return file.get(); }
    const struct stat &identity() const { return info; }
    // Flushes the file to disk and gives it its final name, which must still be free, unless
    // the call was cancelled meanwhile.
    void complete(const Progress &progress);

private:
    void remove_created_folders();

    std::string final_path;
    std::string temp_path;
    std::vector<std::string> created_folders;
    UniqueFd file{-1};
    struct stat info {};
    bool completed = false;
};

TemporaryArchive::TemporaryArchive(const std::string &archive_path) : final_path(archive_path) {
    const std::string folder = parent_path(archive_path);
    struct stat existing;
    if (::lstat(final_path.c_str(), &existing) == 0) {
        errno = EEXIST;
        fail_errno(FailureKind::cannot_write, "cannot create archive", final_path);
    }
    created_folders = make_folders(folder);
    // A short name of fixed length, so any archive name that fits the folder fits here too.
    temp_path = folder + "/.zrv-XXXXXX";
    const int fd = ::mkostemp(temp_path.data(), O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        remove_created_folders();
        errno = error;
        fail_errno(FailureKind::cannot_write, "cannot create archive", final_path);
    }
    file.reset(fd);
    ::fstat(fd, &info);
}

TemporaryArchive::~TemporaryArchive() {
    if (completed)
        return;
    ::unlink(temp_path.c_str());
    remove_created_folders();
}

// Only the folders this call made, and only while they are empty.
void TemporaryArchive::remove_created_folders() {
    for (auto it = created_folders.rbegin(); it != created_folders.rend(); ++it)
        ::rmdir(it->c_str());
}

void TemporaryArchive::complete(const Progress &progress) {
    // The temporary file was private while it was written; the archive gets the usual mode.
    if (::fchmod(file.get(), 0666 & ~process_umask()) != 0 || ::fsync(file.get()) != 0)
        fail_errno(FailureKind::cannot_write, "cannot write archive", final_path);
    progress.stop_if_cancelled();
    if (::close(file.release()) != 0)
        fail_errno(FailureKind::cannot_write, "cannot write archive", final_path);
    if (!rename_no_replace(temp_path, final_path))
        fail_errno(FailureKind::cannot_write, "cannot create archive", final_path);
    completed = true;
    sync_folder(parent_path(final_path));
}

// Walks the inputs in a fixed order and feeds their data to the pipeline.
class Packer {
public:
    // Leaves out the items at the paths in `skipped`, which the user chose to skip.
    Packer(const std::string &archive_path, Compression compression, const std::string &password,
           Progress &progress, const std::set<std::string> &skipped);
    void add_file(const std::string &path, const std::string &name, bool follow_link);
    void add_folder(const std::string &path, const std::string &name);
    void finish();

private:
    void add_child(const std::string &path, const std::string &name);
    void add_link(const std::string &path, const std::string &name, const struct stat &info);
    // A folder (no data) or a link (its target as data).
    void add_from_memory(const EntryHeader &header, std::vector<unsigned char> data);

    Compression compression;
    Progress &progress;
    const std::set<std::string> &skipped;
    TemporaryArchive temporary;
    ZipWriter writer;
    Pipeline pipeline;
    Deflater sampler;
};

Packer::Packer(const std::string &archive_path, Compression compression,
               const std::string &password, Progress &progress,
               const std::set<std::string> &skipped)
    : compression(compression), progress(progress), skipped(skipped), temporary(archive_path),
      writer(temporary.fd(), archive_path), pipeline(writer, compression, password, progress) {}

EntryHeader header_for(const std::string &name, const struct stat &info, mode_t type) {
    // Permission bits only: setuid, setgid and sticky bits never travel in an archive.
    return {name, static_cast<mode_t>(type | (info.st_mode & 0777)), info.st_mtim, 0};
}

void Packer::add_from_memory(const EntryHeader &header, std::vector<unsigned char> data) {
    auto entry = std::make_shared<Entry>();
    entry->header = header;
    entry->header.size = data.size();
    auto piece = std::make_unique<Piece>();
    piece->entry = std::move(entry);
    piece->input = std::move(data);
    pipeline.add(std::move(piece));
}

// Fills `buffer` from `fd` unless the file ends first; returns how much it read.
std::size_t read_fully(int fd, std::vector<unsigned char> &buffer, const std::string &path) {
    std::size_t got = 0;
    while (got < buffer.size()) {
        const ssize_t n = ::read(fd, buffer.data() + got, buffer.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            fail_errno(FailureKind::cannot_read, "cannot read", path);
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    return got;
}

void Packer::add_file(const std::string &path, const std::string &name, bool follow_link) {
    // Not blocking, so a FIFO met in place of a file fails below instead of waiting.
    UniqueFd file(
        ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | (follow_link ? 0 : O_NOFOLLOW)));
    if (file.get() < 0)
        fail_errno(FailureKind::cannot_read, "cannot read", path);
    struct stat before;
    if (::fstat(file.get(), &before) != 0)
        fail_errno(FailureKind::cannot_read, "cannot read", path);
    if (!S_ISREG(before.st_mode))
        fail(FailureKind::cannot_pack, "cannot pack " + path + ": not a regular file or folder");

    auto entry = std::make_shared<Entry>();
    entry->header = header_for(name, before, S_IFREG);
    entry->header.size = static_cast<std::uint64_t>(before.st_size);
    entry->pieces = std::max<std::uint64_t>(1, (entry->header.size + piece_size - 1) / piece_size);

    std::vector<unsigned char> history;
    std::uint64_t read_so_far = 0;
    for (std::size_t index = 0; index < entry->pieces; ++index) {
        progress.stop_if_cancelled();
        auto piece = std::make_unique<Piece>();
        piece->entry = entry;
        piece->first = index == 0;
        piece->last = index + 1 == entry->pieces;
        const std::size_t wanted = static_cast<std::size_t>(
            std::min<std::uint64_t>(piece_size, entry->header.size - read_so_far));
        // One byte more than the last piece needs shows a file that grew.
        piece->input.resize(wanted + (piece->last ? 1 : 0));
        const std::size_t got = read_fully(file.get(), piece->input, path);
        if (got != wanted)
            fail(FailureKind::cannot_pack, "cannot pack " + path + ": its size is not the " +
                                               std::to_string(entry->header.size) +
                                               " bytes it had when it was listed");
        piece->input.resize(wanted);
        read_so_far += wanted;

        if (piece->first && entry->pieces > 1)
            entry->method =
                compression == Compression::deflate &&
                        sampler.worth_deflating(piece->input.data(),
                                                std::min(piece->input.size(), sample_size))
                    ? Method::deflated
                    : Method::stored;
        if (entry->method == Method::deflated) {
            piece->history = std::move(history);
            const std::size_t kept = std::min(history_size, piece->input.size());
            history.assign(piece->input.end() - static_cast<std::ptrdiff_t>(kept),
                           piece->input.end());
        }
        pipeline.add(std::move(piece));
    }
    struct stat after;
    if (::fstat(file.get(), &after) != 0 || !same_contents_state(before, after))
        fail(FailureKind::cannot_pack,
             "cannot pack " + path + ": the file changed while it was read");
}

void Packer::add_folder(const std::string &path, const std::string &name) {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0)
        fail_errno(FailureKind::cannot_read, "cannot read", path);
    add_from_memory(header_for(name + "/", info, S_IFDIR), {});

    // Sorted, so the same tree always gives the same archive.
    std::vector<std::string> children;
    if (!list_folder(path, children))
        fail_errno(FailureKind::cannot_read, "cannot read folder", path);
    for (const std::string &child : children)
        add_child(path + "/" + child, name + "/" + child);
}

// A name the unpacker would refuse is refused here, so no archive is written that cannot be read.
void check_name(const std::string &path, const std::string &name) {
    if (has_control_characters(name))
        fail(FailureKind::cannot_pack,
             "cannot pack " + path + ": its name holds a control character");
}

void Packer::add_child(const std::string &path, const std::string &name) {
    progress.stop_if_cancelled();
    if (skipped.count(path) != 0)
        return;
    check_name(path, name);
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0)
        fail_errno(FailureKind::cannot_read, "cannot read", path);
    const struct stat &archive = temporary.identity();
    if (info.st_dev == archive.st_dev && info.st_ino == archive.st_ino)
        return; // the archive being written, inside a folder being packed
    if (S_ISREG(info.st_mode)) {
        add_file(path, name, false);
    } else if (S_ISDIR(info.st_mode)) {
        add_folder(path, name);
    } else if (S_ISLNK(info.st_mode)) {
        add_link(path, name, info);
    } else {
        fail(FailureKind::cannot_pack, "cannot pack " + path +
                                           ": not a regular file, folder or link, but " +
                                           special_file_type(info.st_mode));
    }
}

// A link inside the folder stays a link; one that leads out is stored as the file it leads
// to, as zip does, and fails when it leads to a folder or to nothing.
void Packer::add_link(const std::string &path, const std::string &name, const struct stat &info) {
    std::vector<unsigned char> target(static_cast<std::size_t>(info.st_size) + 1);
    const ssize_t length =
        ::readlink(path.c_str(), reinterpret_cast<char *>(target.data()), target.size());
    if (length < 0)
        fail_errno(FailureKind::cannot_read, "cannot read link", path);
    if (static_cast<std::size_t>(length) >= target.size())
        fail(FailureKind::cannot_pack,
             "cannot pack " + path + ": the link changed while it was read");
    target.resize(static_cast<std::size_t>(length));
    struct stat led_to;
    const bool leads_somewhere = ::stat(path.c_str(), &led_to) == 0;
    // The unpacker refuses a link the kernel cannot follow to its end.
    if (!leads_somewhere && errno == ELOOP)
        fail(FailureKind::cannot_pack, "cannot pack " + path +
                                           ": the link loops or passes through more than " +
                                           std::to_string(max_link_hops) + " links");
    if (stays_in_top_folder(name, std::string(target.begin(), target.end()))) {
        add_from_memory(header_for(name, info, S_IFLNK), std::move(target));
        return;
    }
    if (!leads_somewhere)
        fail(FailureKind::cannot_pack,
             "cannot pack " + path + ": the link leads outside the folder, to nothing");
    if (S_ISDIR(led_to.st_mode))
        fail(FailureKind::cannot_pack,
             "cannot pack " + path + ": the link leads outside the folder, to a folder");
    if (!S_ISREG(led_to.st_mode))
        fail(FailureKind::cannot_pack, "cannot pack " + path +
                                           ": the link leads outside the folder, to " +
                                           special_file_type(led_to.st_mode));
    add_file(path, name, true);
}

void Packer::finish() {
    pipeline.finish();
    progress.stop_if_cancelled();
    writer.close();
    temporary.complete(progress);
}

// The name an item gets at the top of the archive: its own, numbered when already taken.
std::string unique_top_name(const std::string &name, std::set<std::string> &taken) {
    std::string candidate = name;
    for (int n = 2; taken.count(candidate) != 0; ++n)
        candidate = numbered_name(name, n);
    taken.insert(candidate);
    return candidate;
}

// The name a picked path denotes: "a/b/." is b and "a/b/.." is a.
std::string top_name(const std::string &path) {
    std::string name = base_name(path);
    if (name == "." || name == "..") {
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved) == nullptr)
            fail_errno(FailureKind::cannot_read, "cannot read", path);
        name = base_name(resolved);
    }
    if (name.empty() || name == "/")
        fail(FailureKind::cannot_pack,
             "cannot pack " + path + ": the folder has no name to pack it under");
    return name;
}

// Surveys the inputs for a watched call: the progress learns the total, and is asked whether
// to leave out what cannot be packed. Returns the paths to leave out; fails with the first of
// them when the answer is no, or as cancelled when the call was cancelled meanwhile.
std::set<std::string> survey_inputs(const std::vector<std::string> &files,
                                    const std::vector<std::string> &folders, Progress &progress) {
    Survey survey;
    for (const std::string &path : files)
        survey_input(path, survey);
    for (const std::string &path : folders)
        survey_input(path, survey);
    progress.start(survey.total);
    std::set<std::string> skipped;
    if (survey.cannot_pack.empty())
        return skipped;
    const bool skip = progress.skip_what_cannot_be_packed(survey.cannot_pack);
    progress.stop_if_cancelled();
    if (!skip)
        fail(survey.cannot_pack.front());
    for (const FailureCause &item : survey.cannot_pack)
        skipped.insert(item.path);
    return skipped;
}

} // namespace

void pack(const std::vector<std::string> &files, const std::vector<std::string> &folders,
          const std::string &archive_path, Compression compression, const std::string &password) {
    struct Item {
        std::string path;
        bool is_folder;
    };
    std::vector<Item> items;
    for (const std::string &path : files)
        items.push_back({path, false});
    for (const std::string &path : folders)
        items.push_back({path, true});

    // Every input is checked before anything is written.
    for (Item &item : items) {
        struct stat info;
        if (::stat(item.path.c_str(), &info) != 0)
            fail_errno(FailureKind::cannot_read, "cannot read", item.path);
        if (!S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode))
            fail(FailureKind::cannot_pack,
                 "cannot pack " + item.path + ": not a regular file or folder");
        item.is_folder = S_ISDIR(info.st_mode);
    }

    Progress unwatched;
    Progress *watched = attached_progress();
    Progress &progress = watched != nullptr ? *watched : unwatched;
    const std::set<std::string> skipped =
        watched != nullptr ? survey_inputs(files, folders, progress) : std::set<std::string>();

    Packer packer(archive_path, compression, password, progress, skipped);
    std::set<std::string> taken;
    for (const Item &item : items) {
        if (skipped.count(item.path) != 0)
            continue;
        const std::string name = unique_top_name(top_name(item.path), taken);
        check_name(item.path, name);
        if (item.is_folder)
            packer.add_folder(item.path, name);
        else
            packer.add_file(item.path, name, true);
    }
    packer.finish();
    progress.set_made(archive_path);
}

} // namespace zrv
