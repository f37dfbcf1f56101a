#include "archive/stagingfolder.h"

#include "archive/failure.h"
#include "archive/names.h"
#include "archive/platform.h"
#include "archive/unpacklimits.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

namespace zrv {

// A short name of fixed length, so any target name that fits the folder fits here too.
StagingFolder::StagingFolder(const std::string &archive_path, const std::string &target)
    : archive_path(archive_path), target(target) {
    folder_path = parent_path(target) + "/.zrv-XXXXXX";
    if (::mkdtemp(folder_path.data()) == nullptr)
        fail_errno(FailureKind::cannot_create_target, "cannot unpack into", parent_path(target));
}

StagingFolder::~StagingFolder() {
    if (!committed)
        remove_tree(folder_path);
}

// mkdtemp makes the folder for its owner alone; once it is complete it gets a new folder's mode.
void StagingFolder::set_usual_mode(mode_t umask) {
    if (::chmod(folder_path.c_str(), 0777 & ~umask) != 0)
        fail_errno(FailureKind::cannot_write, "cannot unpack to", folder_path);
}

// An existing folder is never merged into: the archive takes the first free numbered name.
std::string StagingFolder::move_into_place() {
    for (int n = 1; n <= max_numbered_names; ++n) {
        const std::string candidate = n == 1 ? target : target + " (" + std::to_string(n) + ")";
        if (rename_no_replace(folder_path, candidate)) {
            committed = true;
            return candidate;
        }
        if (errno != EEXIST && errno != ENOTEMPTY)
            fail_errno(FailureKind::cannot_write, "cannot unpack to", candidate);
    }
    fail_archive(FailureKind::cannot_create_target, archive_path,
                 "every name for " + target + " is taken");
}

} // namespace zrv
