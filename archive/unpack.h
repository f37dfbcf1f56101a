// Unpacking: turns a ZIP archive into a new folder, all or nothing.
#pragma once

#include <string>

namespace zrv {

// Unpacks the archive at `archive_path` into the new folder `target`, or the first of
// "target (2)", "target (3)"... that is free. Throws Failure; on failure nothing is left.
void unpack(const std::string &archive_path, const std::string &target);

} // namespace zrv
