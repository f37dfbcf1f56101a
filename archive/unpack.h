// Unpacking: turns a ZIP archive into a new folder, all or nothing.
//
// The archive is read from its central directory (see zipreader.h for the checks on its
// structure). On top of those, every entry passes these guards, each checked in one place:
//  - names: no absolute names, no "..", no drive letters from Windows, no control characters;
//    "./" is the folder itself (entry_components, names.h, called by EntryCheck::record_for);
//  - types: files, folders and links only; devices, pipes and sockets fail the archive
//    (EntryCheck::record_for);
//  - bits: permission bits only, never setuid, setgid or sticky (EntryCheck::record_for);
//  - link sizes: a target is at most max_link_target bytes, all targets together at most
//    max_link_bytes, and none is empty or holds a NUL (EntryCheck::check_link_size,
//    EntryCheck::check_link_target);
//  - links: made after every file, so nothing is written through one, and only when every
//    link, followed through the others as the kernel follows it in the finished tree, stays
//    inside the folder and passes through at most max_link_hops links (LinkCheck::verdict,
//    called by Staging::make_links);
//  - sizes: what an entry inflates to must be exactly its declared size (EntryStream::read), and
//    all declared sizes together must fit in the free space (EntryCheck::survey);
//  - collisions: a name taken twice is numbered "a (2).txt", "a (3).txt"... (Staging::claim_name);
//    a file where a folder is needed fails the archive (Staging::make_folders);
//  - the target: everything is made in a staging folder beside it and renamed into place only
//    when complete, to the first free of "target", "target (2)"...; nothing is ever merged
//    (StagingFolder::move_into_place); on any failure the staging folder goes
//    (StagingFolder::~StagingFolder).
// The thresholds are side by side in unpacklimits.h.
#pragma once

#include <string>

namespace zrv {

// Unpacks the archive at `archive_path` into the new folder `target`, or the first of
// "target (2)", "target (3)"... that is free. Encrypted entries need `password` (UTF-8), which
// is checked against every one of them before anything is written. Throws Failure; on failure
// nothing is left.
void unpack(const std::string &archive_path, const std::string &target,
            const std::string &password = std::string());

} // namespace zrv
