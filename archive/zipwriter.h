// Writes a ZIP file entry by entry from data that is already compressed (or stored), so that
// compression can run elsewhere, in parallel. Every entry says "made by Unix" with its mode;
// names that are UTF-8 carry the UTF-8 flag, others go as their bytes without it. Times go in
// the DOS fields and the extended timestamp (whole seconds, 1901-2106), and beyond those years
// in the NTFS field as well. ZIP64 fields and the ZIP64 end record are written wherever a size, an
// offset or the entry count needs them.
#pragma once

#include "archive/archiveoutput.h"
#include "archive/centralrecords.h"
#include "archive/zipformat.h"

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

namespace zrv {

enum class Method { stored, deflated };

struct EntryHeader {
    std::string name; // folders end with "/"
    mode_t mode;      // file type and permission bits
    struct timespec mtime;
    std::uint64_t size; // uncompressed
};

class ZipWriter {
public:
    // Writes to the open, empty file `fd`; `path` names it in error messages.
    ZipWriter(int fd, const std::string &path);

    // An encrypted entry gets WinZip's AES method and field; its data, written as it is, must
    // be salt, verifier, ciphertext and code, and its CRC is not stored.
    void begin_entry(const EntryHeader &header, Method method, bool encrypted = false);
    void write(const unsigned char *data, std::size_t size);
    void end_entry(std::uint64_t size, std::uint32_t crc);
    // Writes the central directory. The file is complete when this returns.
    void close();

private:
    std::string path;
    ArchiveOutput output;
    CentralRecords directory;
    // The entry being written.
    EntryHeader header{};
    Method method = Method::stored;
    bool encrypted = false;
    bool zip64 = false;
    std::uint64_t header_offset = 0;
    std::uint64_t compressed = 0;

    std::uint16_t flags() const;
    std::uint16_t method_field() const;
    std::uint16_t version(bool needs_zip64) const;
    // The entry's header fields, its CRC and sizes left zero.
    zip::CommonFields common_fields(bool needs_zip64, std::size_t extra_size) const;
    // Adds the entry's central record to the directory.
    void put_central_record(std::uint64_t size, const zip::Sizes &sizes);
};

} // namespace zrv
