// Finds the central directory from the end records: the end record within the file's last
// 64 KiB and 22 bytes, and the ZIP64 end record where a locator stands before it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace zrv {

// Where the central directory lies and how many records it should hold.
struct DirectoryPlace {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    std::uint64_t declared_count = 0;
    std::uint64_t shift = 0; // of every offset, by data before the archive
};

using ReadAt = std::function<void(std::uint64_t offset, void *buffer, std::size_t size)>;

// Fails the archive `path` where no end record is found, the archive spans several disks, or
// the directory does not lie before the end records.
DirectoryPlace find_directory(std::uint64_t file_size, const ReadAt &read_at,
                              const std::string &path);

} // namespace zrv
