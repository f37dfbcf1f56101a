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
//  - an entry is encrypted, or compressed by a method other than stored, deflate, bzip2, LZMA,
//    XZ and Zstandard (PPMd and Deflate64 are named in the cause).
// While an entry is read, data beyond its declared size, short data and a wrong CRC fail it;
// so does an XZ stream that needs more than 128 MiB, or an LZMA dictionary or Zstandard window
// larger than that.
#pragma once

#include "archive/decoder.h"
#include "archive/failure.h"
#include "archive/zipformat.h"

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zrv {

struct ZipEntry {
    std::string name;         // raw bytes, as the central directory holds them
    std::string unicode_name; // the Info-ZIP Unicode path field, where it belongs to `name`
    unsigned host = zip::host_msdos;
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint16_t dos_time = 0;
    std::uint16_t dos_date = 0;
    std::uint32_t crc = 0;
    std::uint32_t external_attributes = 0;
    std::uint64_t compressed_size = 0;
    std::uint64_t size = 0;
    std::uint64_t header_offset = 0;
    std::uint64_t data_offset = 0;
    struct timespec mtime {};
};

class ZipReader {
public:
    // Reads and checks the central directory and every local header of the open file `fd`;
    // `path` names the archive in failures.
    ZipReader(int fd, const std::string &path);

    const std::vector<ZipEntry> &entries() const { return list; }

    using Sink = std::function<void(const unsigned char *data, std::size_t size)>;
    // Hands the entry's data, decoded where needed, to `sink` in runs of up to 256 KiB. One
    // entry at a time: the buffers and decoders are the reader's own, reused from entry to entry.
    void read(const ZipEntry &entry, const Sink &sink) const;

    [[noreturn]] void fail_archive(FailureKind kind, const std::string &what,
                                   const std::string &entry = std::string()) const;

private:
    void read_at(std::uint64_t offset, void *buffer, std::size_t size) const;
    void read_directory();
    void check_local_headers();

    int fd;
    std::string path;
    std::uint64_t file_size = 0;
    std::uint64_t directory_offset = 0;
    std::uint64_t directory_size = 0;
    std::uint64_t declared_count = 0;
    std::vector<ZipEntry> list;
    mutable std::vector<unsigned char> input;
    mutable Decoders decoders;
};

} // namespace zrv
