// The checks unpacking makes on the reading thread, before anything of an entry is written:
// the archive as a whole (sizes, free space, how legacy names are encoded), then each entry's
// name, type, permission bits and link limits, which turn it into a record for the writer.
#pragma once

#include "archive/names.h"
#include "archive/recordqueue.h"
#include "archive/zipreader.h"

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace zrv {

class EntryCheck {
public:
    // `archive_path` names the archive in failures; `umask` gives entries without Unix
    // permissions the usual ones.
    EntryCheck(const std::string &archive_path, mode_t umask);

    // Checks the whole archive before anything is written: the declared sizes must fit in the
    // free space of `parent`, where the target is made. Returns the bytes of file data to
    // write (what progress counts: link targets are not file data).
    std::uint64_t survey(const ZipReader &reader, const std::string &parent);

    // The record `entry` becomes: its name made safe, its kind and attributes. Throws when the
    // name is unsafe or the entry a special file.
    Record record_for(const ZipEntry &entry) const;

    // Counts a link's target against the limits before it is read; checks it once read.
    void check_link_size(const std::string &name, std::uint64_t size);
    void check_link_target(const std::string &name, const std::vector<char> &target) const;

private:
    [[noreturn]] void fail_archive(FailureKind kind, const std::string &what,
                                   const std::string &entry = std::string()) const;

    std::string archive_path;
    mode_t umask;
    LegacyNames legacy_names;
    std::size_t link_total = 0;
};

} // namespace zrv
