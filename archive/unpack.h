// Unpacking: turns a ZIP archive into a new folder, all or nothing.
//
// The archive is read from its central directory (see zipreader.h for the checks on its
// structure). On top of those, every entry passes these guards, each checked in one place:
//  - names: no absolute names, no "..", no drive letters from Windows, no control characters
//    (entry_components in names.h); "./" is the folder itself;
//  - types: files, folders and links only; devices, pipes and sockets fail the archive;
//  - bits: permission bits only, never setuid, setgid or sticky;
//  - links: made after every file, so nothing is written through one, and only when every
//    link, followed through the others as the kernel follows it (linkcheck.h), stays inside
//    the folder and passes through at most 40 links; a target is at most
//    max_link_target bytes, all targets together at most max_link_bytes;
//  - sizes: what an entry inflates to must be exactly its declared size, and all declared
//    sizes together must fit in the free space;
//  - collisions: a name taken twice is numbered "a (2).txt", "a (3).txt"...; a file where a
//    folder is needed fails the archive;
//  - the target: everything is made in a staging folder beside it and renamed into place only
//    when complete, to the first free of "target", "target (2)"...; nothing is ever merged.
#pragma once

#include <string>

namespace zrv {

// Unpacks the archive at `archive_path` into the new folder `target`, or the first of
// "target (2)", "target (3)"... that is free. Throws Failure; on failure nothing is left.
void unpack(const std::string &archive_path, const std::string &target);

} // namespace zrv
