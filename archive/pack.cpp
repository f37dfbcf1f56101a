#include "archive/pack.h"

#include "archive/failure.h"
#include "archive/names.h"
#include "archive/platform.h"

#include <archive.h>
#include <archive_entry.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <set>
#include <utility>

namespace zrv {

namespace {

constexpr size_t read_buffer_size = 256 * 1024;

struct ArchiveDeleter {
    void operator()(struct archive *a) const { archive_write_free(a); }
};
struct EntryDeleter {
    void operator()(archive_entry *e) const { archive_entry_free(e); }
};
using ArchivePtr = std::unique_ptr<struct archive, ArchiveDeleter>;
using EntryPtr = std::unique_ptr<archive_entry, EntryDeleter>;

bool same_file(const struct stat &a, const struct stat &b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool same_contents_state(const struct stat &a, const struct stat &b) {
    return same_file(a, b) && a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
           a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

// Writes one archive; removes its temporary file unless it was completed.
class ArchiveWriter {
public:
    ArchiveWriter(const std::string &archive_path, Compression compression);
    ~ArchiveWriter();

    void add_file(const std::string &path, const std::string &name, bool follow_link);
    void add_folder(const std::string &path, const std::string &name);
    void finish();

private:
    EntryPtr new_entry(const std::string &name, const struct stat &info, mode_t type);
    void write_header(archive_entry *entry, const std::string &path);
    void add_child(const std::string &path, const std::string &name);

    std::string final_path;
    std::string temp_path;
    int temp_fd = -1;
    struct stat temp_info {};
    ArchivePtr archive;
    std::vector<char> buffer;
    bool finished = false;
};

ArchiveWriter::ArchiveWriter(const std::string &archive_path, Compression compression)
    : final_path(archive_path), buffer(read_buffer_size) {
    const std::string folder = parent_path(archive_path);
    make_folders(folder);
    struct stat existing;
    if (::lstat(final_path.c_str(), &existing) == 0) {
        errno = EEXIST;
        fail_errno("cannot create archive", final_path);
    }

    temp_path = folder + "/." + base_name(archive_path) + ".XXXXXX";
    temp_fd = ::mkostemp(temp_path.data(), O_CLOEXEC);
    if (temp_fd < 0)
        fail_errno("cannot create archive", final_path);
    ::fstat(temp_fd, &temp_info);

    archive.reset(archive_write_new());
    if (!archive)
        fail("cannot create archive " + final_path + ": out of memory");
    archive_write_set_format_zip(archive.get());
    archive_write_set_bytes_in_last_block(archive.get(), 1);
    const char *options = compression == Compression::deflate
                              ? "zip:hdrcharset=UTF-8,zip:compression=deflate"
                              : "zip:hdrcharset=UTF-8,zip:compression=store";
    if (archive_write_set_options(archive.get(), options) != ARCHIVE_OK ||
        archive_write_open_fd(archive.get(), temp_fd) != ARCHIVE_OK)
        fail("cannot write archive " + final_path + ": " + archive_error_string(archive.get()));
}

ArchiveWriter::~ArchiveWriter() {
    archive.reset();
    if (temp_fd >= 0)
        ::close(temp_fd);
    if (!finished)
        ::unlink(temp_path.c_str());
}

EntryPtr ArchiveWriter::new_entry(const std::string &name, const struct stat &info, mode_t type) {
    EntryPtr entry(archive_entry_new());
    if (!entry)
        fail("cannot write archive " + final_path + ": out of memory");
    archive_entry_set_pathname_utf8(entry.get(), name.c_str());
    archive_entry_set_filetype(entry.get(), type);
    // Permission bits only: setuid, setgid and sticky bits never travel in an archive.
    archive_entry_set_perm(entry.get(), info.st_mode & 0777);
    archive_entry_set_mtime(entry.get(), info.st_mtim.tv_sec, info.st_mtim.tv_nsec);
    return entry;
}

void ArchiveWriter::write_header(archive_entry *entry, const std::string &path) {
    if (archive_write_header(archive.get(), entry) != ARCHIVE_OK)
        fail("cannot write " + path + " to archive " + final_path + ": " +
             archive_error_string(archive.get()));
}

void ArchiveWriter::add_file(const std::string &path, const std::string &name, bool follow_link) {
    const int flags = O_RDONLY | O_CLOEXEC | (follow_link ? 0 : O_NOFOLLOW);
    UniqueFd file(::open(path.c_str(), flags));
    if (file.get() < 0)
        fail_errno("cannot read", path);
    struct stat before;
    if (::fstat(file.get(), &before) != 0)
        fail_errno("cannot read", path);
    if (!S_ISREG(before.st_mode))
        fail("cannot pack " + path + ": not a regular file or folder");

    EntryPtr entry = new_entry(name, before, AE_IFREG);
    archive_entry_set_size(entry.get(), before.st_size);
    write_header(entry.get(), path);

    off_t total = 0;
    for (;;) {
        const ssize_t got = ::read(file.get(), buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR)
                continue;
            fail_errno("cannot read", path);
        }
        if (got == 0)
            break;
        total += got;
        if (total > before.st_size)
            break;
        if (archive_write_data(archive.get(), buffer.data(), static_cast<size_t>(got)) != got)
            fail("cannot write " + path + " to archive " + final_path + ": " +
                 archive_error_string(archive.get()));
    }
    struct stat after;
    if (total != before.st_size || ::fstat(file.get(), &after) != 0 ||
        !same_contents_state(before, after))
        fail("cannot pack " + path + ": the file changed while it was read");
    if (archive_write_finish_entry(archive.get()) != ARCHIVE_OK)
        fail("cannot write " + path + " to archive " + final_path + ": " +
             archive_error_string(archive.get()));
}

void ArchiveWriter::add_folder(const std::string &path, const std::string &name) {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0)
        fail_errno("cannot read", path);
    EntryPtr entry = new_entry(name + "/", info, AE_IFDIR);
    write_header(entry.get(), path);

    DIR *dir = ::opendir(path.c_str());
    if (dir == nullptr)
        fail_errno("cannot read folder", path);
    std::vector<std::string> children;
    errno = 0;
    while (const dirent *child = ::readdir(dir)) {
        const std::string child_name = child->d_name;
        if (child_name != "." && child_name != "..")
            children.push_back(child_name);
        errno = 0;
    }
    const int read_error = errno;
    ::closedir(dir);
    if (read_error != 0) {
        errno = read_error;
        fail_errno("cannot read folder", path);
    }
    // Sorted, so the same tree always gives the same archive.
    std::sort(children.begin(), children.end());
    for (const std::string &child : children)
        add_child(path + "/" + child, name + "/" + child);
}

void ArchiveWriter::add_child(const std::string &path, const std::string &name) {
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0)
        fail_errno("cannot read", path);
    if (same_file(info, temp_info))
        return; // the archive being written, inside a folder being packed
    if (S_ISREG(info.st_mode)) {
        add_file(path, name, false);
    } else if (S_ISDIR(info.st_mode)) {
        add_folder(path, name);
    } else if (S_ISLNK(info.st_mode)) {
        std::string target(static_cast<size_t>(info.st_size) + 1, '\0');
        const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
        if (length < 0)
            fail_errno("cannot read link", path);
        if (static_cast<size_t>(length) >= target.size())
            fail("cannot pack " + path + ": the link changed while it was read");
        target.resize(static_cast<size_t>(length));
        EntryPtr entry = new_entry(name, info, AE_IFLNK);
        archive_entry_set_symlink_utf8(entry.get(), target.c_str());
        write_header(entry.get(), path);
    } else {
        fail("cannot pack " + path + ": not a regular file, folder or link");
    }
}

void ArchiveWriter::finish() {
    if (archive_write_close(archive.get()) != ARCHIVE_OK)
        fail("cannot write archive " + final_path + ": " + archive_error_string(archive.get()));
    // The temporary file was private while it was written; the archive gets the usual mode.
    if (::fchmod(temp_fd, 0666 & ~process_umask()) != 0 || ::fsync(temp_fd) != 0)
        fail_errno("cannot write archive", final_path);
    const int fd = std::exchange(temp_fd, -1);
    if (::close(fd) != 0)
        fail_errno("cannot write archive", final_path);
    if (!rename_no_replace(temp_path, final_path))
        fail_errno("cannot create archive", final_path);
    finished = true;
    sync_folder(parent_path(final_path));
}

// The name an item gets at the top of the archive: its own, numbered when already taken.
std::string unique_top_name(const std::string &name, std::set<std::string> &taken) {
    std::string candidate = name;
    for (int n = 2; taken.count(candidate) != 0; ++n)
        candidate = numbered_name(name, n);
    taken.insert(candidate);
    return candidate;
}

} // namespace

void pack(const std::vector<std::string> &files, const std::vector<std::string> &folders,
          const std::string &archive_path, Compression compression) {
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
            fail_errno("cannot read", item.path);
        if (!S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode))
            fail("cannot pack " + item.path + ": not a regular file or folder");
        item.is_folder = S_ISDIR(info.st_mode);
    }

    ArchiveWriter writer(archive_path, compression);
    std::set<std::string> taken;
    for (const Item &item : items) {
        const std::string name = unique_top_name(base_name(item.path), taken);
        if (item.is_folder)
            writer.add_folder(item.path, name);
        else
            writer.add_file(item.path, name, true);
    }
    writer.finish();
}

} // namespace zrv
