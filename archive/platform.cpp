#include "archive/platform.h"

#include "archive/failure.h"
#include "archive/names.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

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

void remove_tree(const std::string &path) {
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0)
        return;
    if (!S_ISDIR(info.st_mode)) {
        ::unlink(path.c_str());
        return;
    }
    ::chmod(path.c_str(), 0700);
    if (DIR *dir = ::opendir(path.c_str())) {
        std::vector<std::string> children;
        while (const dirent *entry = ::readdir(dir)) {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                children.push_back(path + "/" + entry->d_name);
        }
        ::closedir(dir);
        for (const std::string &child : children)
            remove_tree(child);
    }
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

void make_folders(const std::string &path) {
    struct stat info;
    if (::stat(path.c_str(), &info) == 0) {
        if (!S_ISDIR(info.st_mode)) {
            errno = ENOTDIR;
            fail_errno("cannot create folder", path);
        }
        return;
    }
    const std::string parent = parent_path(path);
    if (parent != path)
        make_folders(parent);
    if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST)
        fail_errno("cannot create folder", path);
}

} // namespace zrv
