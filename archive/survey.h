// The look packing takes at its inputs before it writes anything: the bytes of file data it
// will read, and the items inside the picked folders that it cannot pack.
#pragma once

#include "archive/failure.h"

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace zrv {

struct Survey {
    std::uint64_t total = 0;               // bytes of file data packing reads
    std::vector<FailureCause> cannot_pack; // in the order packing meets them
};

// Adds what packing the picked file or folder `path` reads, and what it cannot pack, to
// `survey`. Makes the packer's choices: a link inside the folder stays a link, one leading out
// is packed as the regular file it leads to.
void survey_input(const std::string &path, Survey &survey);

// What an item that is no regular file, folder or link is: "a FIFO", "a socket", "a device".
std::string special_file_type(mode_t mode);

// Whether `target`, followed from the link `name`, stays inside the top folder the link was
// packed with: the unpacker makes no link that leads out.
bool stays_in_top_folder(const std::string &name, const std::string &target);

} // namespace zrv
