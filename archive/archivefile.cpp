#include "archive/archivefile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace zrv {

ArchiveFile::ArchiveFile(int fd, const std::string &path) : fd(fd), archive_path(path) {
    struct stat info;
    if (::fstat(fd, &info) != 0)
        fail_errno(FailureKind::cannot_read, "cannot read archive", path);
    file_size = static_cast<std::uint64_t>(info.st_size);
}

void ArchiveFile::fail_archive(FailureKind kind, const std::string &what,
                               const std::string &entry) const {
    zrv::fail_archive(kind, archive_path, what, entry);
}

void ArchiveFile::read_at(std::uint64_t offset, void *buffer, std::size_t size) const {
    if (offset > file_size || size > file_size - offset)
        fail_archive(FailureKind::damaged,
                     "damaged archive: a record lies beyond the end of the file");
    auto *out = static_cast<char *>(buffer);
    while (size > 0) {
        const ssize_t got = ::pread(fd, out, size, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            fail_errno(FailureKind::cannot_read, "cannot read archive", archive_path);
        if (got == 0)
            fail_archive(FailureKind::damaged, "the archive ended early");
        out += got;
        offset += static_cast<std::uint64_t>(got);
        size -= static_cast<std::size_t>(got);
    }
}

} // namespace zrv
