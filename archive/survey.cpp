#include "archive/survey.h"

#include "archive/names.h"
#include "archive/platform.h"
#include "archive/unpacklimits.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace zrv {

namespace {

void cannot_pack(Survey &survey, const std::string &path, const std::string &why) {
    FailureCause cause;
    cause.kind = FailureKind::cannot_pack;
    cause.path = path;
    cause.message = "cannot pack " + path + ": " + why;
    survey.cannot_pack.push_back(std::move(cause));
}

// The current errno as the cause, worded as the packer words it.
void cannot_read(Survey &survey, const std::string &what, const std::string &path) {
    FailureCause cause;
    cause.error_number = errno;
    cause.kind = kind_of_errno(cause.error_number, FailureKind::cannot_read);
    cause.path = path;
    cause.message = what + " " + path + ": " + std::strerror(cause.error_number);
    survey.cannot_pack.push_back(std::move(cause));
}

void walk(const std::string &path, const std::string &name, bool top, Survey &survey);

// Opened without blocking, so a file that turned into a FIFO meanwhile cannot stop the survey.
void survey_file(const std::string &path, const struct stat &info, bool follow_link,
                 Survey &survey) {
    const UniqueFd file(
        ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | (follow_link ? 0 : O_NOFOLLOW)));
    if (file.get() < 0)
        return cannot_read(survey, "cannot read", path);
    survey.total += static_cast<std::uint64_t>(info.st_size);
}

// Children in the packer's order, sorted by name.
void survey_folder(const std::string &path, const std::string &name, Survey &survey) {
    std::vector<std::string> children;
    if (!list_folder(path, children))
        return cannot_read(survey, "cannot read folder", path);
    for (const std::string &child : children) {
        if (has_control_characters(child))
            cannot_pack(survey, path + "/" + child, "its name holds a control character");
        else
            walk(path + "/" + child, name + "/" + child, false, survey);
    }
}

void survey_link(const std::string &path, const std::string &name, const struct stat &info,
                 Survey &survey) {
    std::string target(static_cast<std::size_t>(info.st_size) + 1, '\0');
    const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
    if (length < 0)
        return cannot_read(survey, "cannot read link", path);
    if (static_cast<std::size_t>(length) >= target.size())
        return cannot_pack(survey, path, "the link changed while it was read");
    target.resize(static_cast<std::size_t>(length));
    struct stat led_to;
    const bool leads_somewhere = ::stat(path.c_str(), &led_to) == 0;
    // The unpacker refuses a link the kernel cannot follow to its end.
    if (!leads_somewhere && errno == ELOOP)
        return cannot_pack(survey, path,
                           "the link loops or passes through more than " +
                               std::to_string(max_link_hops) + " links");
    if (stays_in_top_folder(name, target))
        return;
    if (!leads_somewhere)
        return cannot_pack(survey, path, "the link leads outside the folder, to nothing");
    if (S_ISDIR(led_to.st_mode))
        return cannot_pack(survey, path, "the link leads outside the folder, to a folder");
    if (!S_ISREG(led_to.st_mode))
        return cannot_pack(survey, path,
                           "the link leads outside the folder, to " +
                               special_file_type(led_to.st_mode));
    survey_file(path, led_to, true, survey);
}

void walk(const std::string &path, const std::string &name, bool top, Survey &survey) {
    struct stat info;
    if ((top ? ::stat(path.c_str(), &info) : ::lstat(path.c_str(), &info)) != 0)
        return cannot_read(survey, "cannot read", path);
    if (S_ISREG(info.st_mode))
        survey_file(path, info, top, survey);
    else if (S_ISDIR(info.st_mode))
        survey_folder(path, name, survey);
    else if (S_ISLNK(info.st_mode))
        survey_link(path, name, info, survey);
    else
        cannot_pack(survey, path,
                    "not a regular file, folder or link, but " + special_file_type(info.st_mode));
}

} // namespace

void survey_input(const std::string &path, Survey &survey) {
    walk(path, "top", true, survey);
}

std::string special_file_type(mode_t mode) {
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISSOCK(mode))
        return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    return "a special file";
}

bool stays_in_top_folder(const std::string &name, const std::string &target) {
    if (target.empty() || target[0] == '/')
        return false;
    // How deep below the top folder the path has got: the link's own folder to start with.
    std::ptrdiff_t depth = std::count(name.begin(), name.end(), '/') - 1;
    for (const std::string &component : path_components(target)) {
        depth += component == ".." ? -1 : 1;
        if (depth < 0)
            return false;
    }
    return true;
}

} // namespace zrv
