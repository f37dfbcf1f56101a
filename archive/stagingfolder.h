// The staging folder's own life: made beside the target for its owner alone, given a new
// folder's mode once complete, and moved to the first free name; until then it is removed with
// everything in it when this goes.
#pragma once

#include <sys/types.h>

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
    // Gives the folder the mode a new folder gets under `umask`, once everything is in it.
    void set_usual_mode(mode_t umask);
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
