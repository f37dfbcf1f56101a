// The checking stage: holds each entry's local header against its central record and works out
// where its data lies, then checks that no two entries' data overlap. Of the reader's guards it
// enforces: the compression methods it reads, a local header that lies outside the file or
// disagrees with its central record, data that reaches into the central directory
// (check_local_header), and entries whose data overlap (check_overlaps).
#pragma once

#include "archive/zipentry.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zrv {

class ArchiveFile;
class CentralDirectory;

class LayoutCheck {
public:
    LayoutCheck(const ArchiveFile &file, const CentralDirectory &directory)
        : file(file), directory(directory) {}

    // Checks the entry's local header and sets where its data begins.
    void check(ZipEntry &entry);
    // Once every entry is checked: fails the archive where two entries' data overlap.
    void check_overlaps();

private:
    void check_local_header(ZipEntry &entry) const;

    const ArchiveFile &file;
    const CentralDirectory &directory;
    // The extent of each entry, for the overlap check.
    struct Extent {
        std::uint64_t begin;
        std::uint64_t end;
        std::size_t index;
    };
    std::vector<Extent> extents;
};

} // namespace zrv
