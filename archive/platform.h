// File-system operations the component needs beyond the plain POSIX calls.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace zrv {

// Owns an open file descriptor.
class UniqueFd {
public:
    explicit UniqueFd(int fd) : fd(fd) {}
    ~UniqueFd();
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;
    int get() const { return fd; }
    void reset(int owned);
    int release() {
        const int owned = fd;
        fd = -1;
        return owned;
    }

private:
    int fd;
};

// Renames `from` to `to` only when nothing exists at `to`; returns false with errno EEXIST when
// something does.
bool rename_no_replace(const std::string &from, const std::string &to);

// Flushes a folder's entries (a rename or a new file in it) to disk.
void sync_folder(const std::string &path);

// Removes a folder and everything below it, also parts whose permissions forbid writing.
void remove_tree(const std::string &path);

// The process's file-creation mask, read without changing it (changing it, even briefly, would
// race with other threads creating files).
mode_t process_umask();

// The names in the folder `path`, without "." and "..", sorted so that the same tree is always
// walked in the same order; false with errno set when the folder cannot be read.
bool list_folder(const std::string &path, std::vector<std::string> &names);

// Creates every missing folder of `path`; returns those it created, outermost first.
std::vector<std::string> make_folders(const std::string &path);

} // namespace zrv
