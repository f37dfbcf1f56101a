// Reads a ZIP archive from its central directory: the table of contents that unzip, 7-Zip,
// Python and every file manager list, so what they show is what is unpacked. Data before the
// archive, such as a self-extractor's program, shifts every offset; where the declared offset
// holds no central directory and the place right before the end records does, as unzip and
// Python find it, the archive is read from there.
//
// The archive is refused whole, before anything is written, when:
//  - no end record is found, or the archive spans several disks (where a ZIP64 end record
//    stands, its disk numbers count, not those of the end record);
//  - the number of central records differs from what the end record (the ZIP64 one where
//    present) says, or the records do not fill the central directory exactly;
//  - a record or local header lies outside the file;
//  - a local header disagrees with its central record: name (as each header's own Unicode path
//    field gives it, where the raw names differ), method, sizes, CRC (where the local header
//    carries them);
//  - two entries' data overlap, or an entry reaches into the central directory;
//  - an entry is compressed by a method other than stored, deflate, bzip2, LZMA, XZ and
//    Zstandard (PPMd and Deflate64 are named in the cause), or encrypted otherwise than with
//    WinZip AES or the traditional PKWARE encryption.
// While an entry is read, data beyond its declared size, short data, a wrong CRC and, for an
// encrypted entry, a wrong authentication code fail it; so does an XZ stream that needs more
// than 128 MiB, or an LZMA dictionary or Zstandard window larger than that.
#pragma once

#include "archive/archivefile.h"
#include "archive/centraldirectory.h"
#include "archive/entrykeys.h"
#include "archive/entrystream.h"
#include "archive/failure.h"
#include "archive/zipentry.h"

#include <cstddef>
#include <functional>
#include <string>

namespace zrv {

class ZipReader {
public:
    // Reads and checks the central directory and every local header of the open file `fd`;
    // `path` names the archive in failures.
    ZipReader(int fd, const std::string &path);
    ZipReader(const ZipReader &) = delete;
    ZipReader &operator=(const ZipReader &) = delete;

    // Checks `password` (UTF-8; may be empty) against every encrypted entry before anything is
    // read: where there is one, fails with password_needed when the password is empty and with
    // password_wrong when it does not open them all. Keeps each entry's keys, not the password.
    void use_password(const std::string &password);

    // Hands every entry to `visit`, in central-directory order, read afresh from the archive a
    // record at a time: the reader keeps only a few numbers an entry, so its memory stays small
    // however many entries there are.
    void for_each(const std::function<void(const ZipEntry &entry)> &visit) const;

    using Sink = EntryStream::Sink;
    // Hands the entry's data, decoded where needed, to `sink` in runs of up to 256 KiB. One
    // entry at a time: the buffers and decoders are the reader's own, reused from entry to entry.
    void read(const ZipEntry &entry, const Sink &sink) const;

    [[noreturn]] void fail_archive(FailureKind kind, const std::string &what,
                                   const std::string &entry = std::string()) const;

private:
    ArchiveFile file;
    CentralDirectory directory;
    std::size_t encrypted_count = 0;
    EntryKeys keys;
    mutable EntryStream stream;
};

} // namespace zrv
