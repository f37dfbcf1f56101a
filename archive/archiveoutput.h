// The bytes of an archive on their way to its file: gathered in memory and written in runs of
// about a megabyte, at offsets that only grow, except for headers patched once their entry is
// written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zrv {

// Writes all of `data` at `offset` of `file`; `path` names the archive in failures.
void write_all_at(int file, std::uint64_t offset, const char *data, std::size_t size,
                  const std::string &path);

class ArchiveOutput {
public:
    // Writes to the open, empty file `fd`; `path` names it in failures.
    ArchiveOutput(int fd, const std::string &path) : fd(fd), path(path) {}

    // Where the next byte goes.
    std::uint64_t offset() const { return gathered_at + gathered.size(); }
    void put(const std::string &bytes);
    void write(const unsigned char *data, std::size_t size);
    // Writes what is gathered, then `data` straight to the file.
    void write_through(const char *data, std::size_t size);
    // Writes `bytes` at `offset`, in memory while they are still gathered there.
    void patch(std::uint64_t offset, const std::string &bytes);
    void flush();

private:
    int fd;
    std::string path;
    std::string gathered;
    std::uint64_t gathered_at = 0;
};

} // namespace zrv
