#include "fuzz/promises.h"

#include "archive/platform.h"
#include "archive/zrv_archive.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace fuzz {

namespace {

// Deeper parts of an unpacked tree are left unchecked: paths to them grow past what one call
// takes.
constexpr std::size_t max_checked_path = 3000;

[[noreturn]] void broken(const std::string &promise, const std::string &path) {
    std::fprintf(stderr, "broken promise: %s: %s\n", promise.c_str(), path.c_str());
    std::abort();
}

std::vector<std::string> listing(const std::string &folder) {
    std::vector<std::string> names;
    if (DIR *dir = ::opendir(folder.c_str())) {
        while (const dirent *entry = ::readdir(dir))
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                names.emplace_back(entry->d_name);
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::size_t open_descriptors() {
    return listing("/proc/self/fd").size();
}

std::wstring wide(const std::string &text) {
    return std::wstring(text.begin(), text.end());
}

// A folder holding the archive, a file that nothing may change, and the folder the archive is
// unpacked into; removed at exit.
struct Sandbox {
    Sandbox() {
        const char *tmp = std::getenv("TMPDIR");
        root = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/zrv-fuzz-XXXXXX";
        if (::mkdtemp(root.data()) == nullptr)
            broken("a sandbox can be made", root);
        archive = root + "/in.zip";
        outside = root + "/outside.txt";
        work = root + "/work";
        target = work + "/out";
        FILE *file = std::fopen(outside.c_str(), "w");
        if (file == nullptr || std::fputs("unmodified\n", file) < 0 || std::fclose(file) != 0 ||
            ::mkdir(work.c_str(), 0700) != 0 || ::stat(outside.c_str(), &outside_info) != 0)
            broken("a sandbox can be made", root);
    }
    ~Sandbox() { zrv::remove_tree(root); }
    std::string root, archive, outside, work, target;
    struct stat outside_info = {};
};

// Links made, followed by the kernel from the top of the tree, never leave it nor loop; files
// and folders carry permission bits only; no file has a second name.
void check_tree(int top, const std::string &path) {
    const std::string folder = path.empty() ? "." : path;
    const int fd = ::openat(top, folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return; // a folder without read permission for this user
    DIR *dir = ::fdopendir(fd);
    while (const dirent *entry = dir != nullptr ? ::readdir(dir) : nullptr) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        const std::string child = path.empty() ? name : path + "/" + name;
        struct stat info;
        if (::fstatat(fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
            broken("what was made can be read", child);
        if (!S_ISLNK(info.st_mode) && (info.st_mode & 07000) != 0)
            broken("no setuid, setgid or sticky bit", child);
        if (S_ISREG(info.st_mode) && info.st_nlink != 1)
            broken("no hard-linked files", child);
        if (!S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode) && !S_ISLNK(info.st_mode))
            broken("files, folders and links only", child);
        if (child.size() > max_checked_path)
            continue;
        if (S_ISLNK(info.st_mode)) {
            struct open_how how = {};
            how.flags = O_PATH | O_CLOEXEC;
            how.resolve = RESOLVE_BENEATH;
            const int led_to = int(::syscall(SYS_openat2, top, child.c_str(), &how, sizeof how));
            if (led_to >= 0)
                ::close(led_to);
            else if (errno == EXDEV)
                broken("no link leads outside", child);
            else if (errno == ELOOP)
                broken("no link loops", child);
        } else if (S_ISDIR(info.st_mode)) {
            check_tree(top, child);
        }
    }
    if (dir != nullptr)
        ::closedir(dir);
    else
        ::close(fd);
}

} // namespace

void unpack_and_check(const std::string &archive) {
    static Sandbox sandbox;
    FILE *file = std::fopen(sandbox.archive.c_str(), "wb");
    if (file == nullptr || std::fwrite(archive.data(), 1, archive.size(), file) != archive.size() ||
        std::fclose(file) != 0)
        broken("the archive can be written", sandbox.archive);
    const std::size_t descriptors = open_descriptors();

    const bool unpacked =
        ZWZipExtract(wide(sandbox.archive).c_str(), wide(sandbox.target).c_str()) != 0;

    if (open_descriptors() != descriptors)
        broken("no descriptor is left open", "/proc/self/fd");
    if (listing(sandbox.root) != std::vector<std::string>{"in.zip", "outside.txt", "work"})
        broken("nothing outside the target changes", sandbox.root);
    struct stat outside;
    if (::stat(sandbox.outside.c_str(), &outside) != 0 ||
        outside.st_mtim.tv_nsec != sandbox.outside_info.st_mtim.tv_nsec ||
        outside.st_mtim.tv_sec != sandbox.outside_info.st_mtim.tv_sec ||
        outside.st_size != sandbox.outside_info.st_size)
        broken("nothing outside the target changes", sandbox.outside);
    const std::vector<std::string> made = listing(sandbox.work);
    if (!unpacked) {
        if (!made.empty())
            broken("nothing is left on failure", sandbox.work + "/" + made.front());
        return;
    }
    if (made != std::vector<std::string>{"out"})
        broken("the archive is unpacked into the target alone", sandbox.work);
    struct stat top_info;
    const int top = ::open(sandbox.target.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (top < 0 || ::fstat(top, &top_info) != 0 || (top_info.st_mode & 07000) != 0)
        broken("the target is an ordinary folder", sandbox.target);
    check_tree(top, std::string());
    ::close(top);
    zrv::remove_tree(sandbox.target);
}

} // namespace fuzz
