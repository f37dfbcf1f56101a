// What the fuzz targets share: unpacking one archive in a sandbox and checking, after it, every
// promise the unpacker makes. A broken promise aborts with a line saying which.
#pragma once

#include <string>

namespace fuzz {

// Unpacks `archive` (its bytes) into a new folder of the sandbox, checks the promises and
// removes what was made.
void unpack_and_check(const std::string &archive);

} // namespace fuzz
