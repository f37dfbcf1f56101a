// The archive being read: the open file, its size and its name in failures, shared by every
// stage of the reader. Of the reader's guards it enforces that no record lies outside the file
// (read_at).
#pragma once

#include "archive/failure.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace zrv {

class ArchiveFile {
public:
    // Takes the size of the open file `fd`; `path` names the archive in failures.
    ArchiveFile(int fd, const std::string &path);

    const std::string &path() const { return archive_path; }
    std::uint64_t size() const { return file_size; }
    // Reads exactly `size` bytes at `offset`; fails the archive where they lie beyond its end.
    void read_at(std::uint64_t offset, void *buffer, std::size_t size) const;
    [[noreturn]] void fail_archive(FailureKind kind, const std::string &what,
                                   const std::string &entry = std::string()) const;

private:
    int fd;
    std::string archive_path;
    std::uint64_t file_size = 0;
};

} // namespace zrv
