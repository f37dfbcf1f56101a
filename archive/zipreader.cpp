#include "archive/zipreader.h"

#include "archive/layoutcheck.h"

namespace zrv {

ZipReader::ZipReader(int fd, const std::string &path)
    : file(fd, path), directory(file), keys(file, directory), stream(file, keys) {
    // Every local header is checked before anything is written; only what later walks and the
    // overlap check need is kept.
    LayoutCheck layout(file, directory);
    directory.walk([&](ZipEntry &entry) {
        layout.check(entry);
        directory.keep_data_offset(entry.data_offset);
        if (entry.encryption != Encryption::none)
            ++encrypted_count;
    });
    layout.check_overlaps();
}

void ZipReader::fail_archive(FailureKind kind, const std::string &what,
                             const std::string &entry) const {
    file.fail_archive(kind, what, entry);
}

void ZipReader::for_each(const std::function<void(const ZipEntry &entry)> &visit) const {
    directory.walk(visit);
}

void ZipReader::use_password(const std::string &password) {
    if (encrypted_count == 0)
        return;
    keys.derive(password);
}

void ZipReader::read(const ZipEntry &entry, const Sink &sink) const {
    stream.read(entry, sink);
}

} // namespace zrv
