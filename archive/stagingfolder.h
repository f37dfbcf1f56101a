// The staging folder's own life: made beside the target, removed with everything in it when
// this goes unless it has been moved into place, and moved to the first free name.
#pragma once

#include <string>

namespace zrv {

class StagingFolder {
public:
    // Makes the folder beside `target`; `archive_path` names the archive in failures.
    StagingFolder(const std::string &archive_path, const std::string &target);
    ~StagingFolder();
    StagingFolder(const StagingFolder &) = delete;
    StagingFolder &operator=(const StagingFolder &) = delete;

    const std::string &path() const { return folder_path; }
    // Renames the folder to the first free of the target and its numbered names; returns the
    // name it took.
    std::string move_into_place();

private:
    std::string archive_path;
    std::string target;
    std::string folder_path;
    bool committed = false;
};

} // namespace zrv
