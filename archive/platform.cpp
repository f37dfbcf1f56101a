#include "archive/platform.h"

#include "archive/failure.h"
#include "archive/names.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace zrv {

UniqueFd::~UniqueFd() {
    if (fd >= 0)
        ::close(fd);
}

void UniqueFd::reset(int owned) {
    if (fd >= 0)
        ::close(fd);
    fd = owned;
}

bool rename_no_replace(const std::string &from, const std::string &to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // File systems without the flag: a hard link cannot replace anything either.
    struct stat info;
    if (::lstat(from.c_str(), &info) == 0 && !S_ISDIR(info.st_mode)) {
        if (::link(from.c_str(), to.c_str()) != 0)
            return false;
        ::unlink(from.c_str());
        return true;
    }
    if (::lstat(to.c_str(), &info) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::rename(from.c_str(), to.c_str()) == 0;
}

void sync_folder(const std::string &path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

namespace {

// Removes the files and links in the open folder `fd` at once, and returns its folders, which
// wait their turn.
std::vector<std::string> remove_files(int fd) {
    std::vector<std::string> folders;
    ::fchmod(fd, 0700);
    const int listing = ::dup(fd);
    DIR *dir = listing >= 0 ? ::fdopendir(listing) : nullptr;
    while (const dirent *entry = dir ? ::readdir(dir) : nullptr) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        struct stat child;
        if (::fstatat(fd, entry->d_name, &child, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISDIR(child.st_mode))
            folders.push_back(entry->d_name);
        else
            ::unlinkat(fd, entry->d_name, 0);
    }
    if (dir != nullptr)
        ::closedir(dir);
    else if (listing >= 0)
        ::close(listing);
    return folders;
}

} // namespace

// Works one folder at a time through open descriptors, going back up by "..", so that neither
// the depth of the tree nor the length of its paths limits it.
void remove_tree(const std::string &path) {
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0)
        return;
    if (!S_ISDIR(info.st_mode)) {
        ::unlink(path.c_str());
        return;
    }
    struct Level {
        std::vector<std::string> children; // its folders still to remove
        std::string current;               // the one being removed now
    };
    std::vector<Level> levels;
    int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    bool entered = true;
    while (fd >= 0) {
        if (entered) {
            levels.emplace_back();
            levels.back().children = remove_files(fd);
        }
        Level &level = levels.back();
        if (!level.children.empty()) {
            std::string name = std::move(level.children.back());
            level.children.pop_back();
            const int child =
                ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (child < 0)
                continue;
            ::close(fd);
            fd = child;
            entered = true;
            levels.back().current = std::move(name);
            continue;
        }
        levels.pop_back();
        if (levels.empty())
            break;
        const int parent = ::openat(fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = parent;
        if (fd >= 0)
            ::unlinkat(fd, levels.back().current.c_str(), AT_REMOVEDIR);
        entered = false;
    }
    if (fd >= 0)
        ::close(fd);
    ::rmdir(path.c_str());
}

mode_t process_umask() {
    std::FILE *status = std::fopen("/proc/self/status", "re");
    if (status == nullptr)
        return 022;
    unsigned mask = 022;
    char line[256];
    while (std::fgets(line, sizeof line, status) != nullptr) {
        if (std::sscanf(line, "Umask: %o", &mask) == 1)
            break;
    }
    std::fclose(status);
    return static_cast<mode_t>(mask);
}

std::vector<std::string> make_folders(const std::string &path) {
    struct stat info;
    if (::stat(path.c_str(), &info) == 0) {
        if (!S_ISDIR(info.st_mode)) {
            errno = ENOTDIR;
            fail_errno(FailureKind::cannot_create_target, "cannot create folder", path);
        }
        return {};
    }
    const std::string parent = parent_path(path);
    std::vector<std::string> created;
    if (parent != path)
        created = make_folders(parent);
    if (::mkdir(path.c_str(), 0777) == 0) {
        created.push_back(path);
    } else if (errno != EEXIST) {
        const int error = errno;
        for (auto it = created.rbegin(); it != created.rend(); ++it)
            ::rmdir(it->c_str());
        errno = error;
        fail_errno(FailureKind::cannot_create_target, "cannot create folder", path);
    }
    return created;
}

bool list_folder(const std::string &path, std::vector<std::string> &names) {
    names.clear();
    DIR *dir = ::opendir(path.c_str());
    if (dir == nullptr)
        return false;
    errno = 0;
    while (const dirent *child = ::readdir(dir)) {
        const std::string name = child->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
        errno = 0;
    }
    const int read_error = errno;
    ::closedir(dir);
    errno = read_error;
    std::sort(names.begin(), names.end());
    return read_error == 0;
}

} // namespace zrv
