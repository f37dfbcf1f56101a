// The keys of the encrypted entries, derived from the password once, before anything is read:
// the reader keeps them by entry, never the password. They are secrets, wiped when the reader
// goes and when deriving them fails. It fails the archive where an encrypted entry has no
// password (derive, of) or the password does not open every one (derive).
//
// Threads: a batch of entries is shared out among every core; each thread writes only the keys
// of the entries it takes, and the calling thread files them in the list once all have joined.
#pragma once

#include "archive/zipentry.h"

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace zrv {

class ArchiveFile;
class CentralDirectory;

class EntryKeys {
public:
    EntryKeys(const ArchiveFile &file, const CentralDirectory &directory)
        : file(file), directory(directory) {}
    ~EntryKeys();
    EntryKeys(const EntryKeys &) = delete;
    EntryKeys &operator=(const EntryKeys &) = delete;

    // Derives the keys of every encrypted entry from `password` (UTF-8): fails with
    // password_needed when it is empty and with password_wrong when it does not open one.
    void derive(const std::string &password);
    // The keys of the encrypted `entry`; fails with password_needed where it has none.
    const std::string &of(const ZipEntry &entry) const;

private:
    const ArchiveFile &file;
    const CentralDirectory &directory;
    // The keys of the encrypted entries, by entry index in increasing order: secrets.
    std::vector<std::pair<std::size_t, std::string>> keys;
};

} // namespace zrv
