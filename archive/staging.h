// The disk side of unpacking: a staging folder beside the target where the records are made,
// reached through folder descriptors, then links, folder attributes, and the move into place.
// Runs on the calling thread only. Until it has been moved into place, the staging folder is
// removed with everything in it when this goes.
#pragma once

#include "archive/foldercursor.h"
#include "archive/platform.h"
#include "archive/progress.h"
#include "archive/recordqueue.h"
#include "archive/stagingfolder.h"
#include "archive/stagingtree.h"

#include <sys/types.h>

#include <string>
#include <vector>

namespace zrv {

class Staging {
public:
    // Makes the staging folder beside `target`; `archive_path` names the archive in failures.
    Staging(const std::string &archive_path, const std::string &target, mode_t umask,
            Progress &progress);
    Staging(const Staging &) = delete;
    Staging &operator=(const Staging &) = delete;

    // Makes what a record describes; links are only noted, and made by make_links().
    void write_record(Record &record);
    // Makes the links once every file is in place, when none leads outside the folder.
    void make_links();
    // Sets folder times and permissions, deepest last-made first.
    void apply_folder_attributes();
    // Renames the staging folder to the first free of the target and its numbered names.
    void move_into_place();

private:
    [[noreturn]] void fail_archive(FailureKind kind, const std::string &what,
                                   const std::string &entry = std::string()) const;
    int make_folders(const std::vector<std::string> &components, std::size_t count);
    int claim_name(int parent, const std::string &leaf, Kind kind);
    void write_file(Record &record);

    std::string archive_path;
    mode_t umask;
    Progress &progress;
    StagingFolder top;
    StagingTree tree;
    FolderCursor cursor;
    std::vector<int> links;
    // The file being written and its path.
    UniqueFd file{-1};
    std::string file_name;
};

} // namespace zrv
