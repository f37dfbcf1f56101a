#include "archive/archiveoutput.h"

#include "archive/failure.h"
#include "archive/packlimits.h"

#include <unistd.h>

#include <cerrno>

namespace zrv {

void write_all_at(int file, std::uint64_t offset, const char *data, std::size_t size,
                  const std::string &path) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t written =
            ::pwrite(file, data + done, size - done, static_cast<off_t>(offset + done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (written == 0)
                errno = EIO;
            fail_errno(FailureKind::cannot_write, "cannot write archive", path);
        }
        done += static_cast<std::size_t>(written);
    }
}

void ArchiveOutput::flush() {
    write_all_at(fd, gathered_at, gathered.data(), gathered.size(), path);
    gathered_at += gathered.size();
    gathered.clear();
}

void ArchiveOutput::put(const std::string &bytes) {
    gathered += bytes;
    if (gathered.size() >= output_run_size)
        flush();
}

void ArchiveOutput::write(const unsigned char *data, std::size_t size) {
    if (gathered.size() + size < output_run_size)
        gathered.append(reinterpret_cast<const char *>(data), size);
    else
        write_through(reinterpret_cast<const char *>(data), size);
}

void ArchiveOutput::write_through(const char *data, std::size_t size) {
    flush();
    write_all_at(fd, gathered_at, data, size, path);
    gathered_at += size;
}

// A header is always put whole, so it lies either all in memory or all in the file.
void ArchiveOutput::patch(std::uint64_t offset, const std::string &bytes) {
    if (offset >= gathered_at)
        gathered.replace(static_cast<std::size_t>(offset - gathered_at), bytes.size(), bytes);
    else
        write_all_at(fd, offset, bytes.data(), bytes.size(), path);
}

} // namespace zrv
