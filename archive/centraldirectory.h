// The reading stage: walks the central directory, from where the end records place it
// (zipend.h), a record at a time, and makes each record an entry with its ZIP64 sizes and
// offset, its most exact time and its encryption worked out. Of the reader's guards it
// enforces the number of records against the end record, that they fill the directory exactly
// (walk), and the kinds of encryption it reads (check_encryption).
#pragma once

#include "archive/zipend.h"
#include "archive/zipentry.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zrv {

class ArchiveFile;

class CentralDirectory {
public:
    // Finds the central directory of `file` from its end records.
    explicit CentralDirectory(const ArchiveFile &file);
    CentralDirectory(const CentralDirectory &) = delete;
    CentralDirectory &operator=(const CentralDirectory &) = delete;

    // Where the directory begins: no entry's data may reach into it.
    std::uint64_t offset() const { return place.offset; }
    // Parses every central record, with its encryption worked out, for `visit`; checks their
    // number against the end record.
    void walk(const std::function<void(ZipEntry &entry)> &visit) const;
    ZipEntry entry_at(std::size_t index) const;
    // Where the next entry's data begins, once its local header is checked; later walks give it
    // as the entry's data_offset.
    void keep_data_offset(std::uint64_t data_offset) { data_offsets.push_back(data_offset); }

private:
    ZipEntry parse_central(const zip::CentralHeader &header, const std::string &name,
                           const unsigned char *extra, std::size_t index) const;
    void check_encryption(ZipEntry &entry) const;

    const ArchiveFile &file;
    DirectoryPlace place;
    // Where each entry's data begins, by entry: all the directory keeps of its entries.
    std::vector<std::uint64_t> data_offsets;
};

} // namespace zrv
