// The central directory while an archive is written: its latest records in memory, and those
// before them in a nameless file beside the archive, so memory stays flat however many entries
// there are.
#pragma once

#include "archive/platform.h"

#include <cstdint>
#include <string>

namespace zrv {

class ArchiveOutput;

class CentralRecords {
public:
    // `archive_path` names the archive, beside which the spill file goes, in failures.
    explicit CentralRecords(const std::string &archive_path) : archive_path(archive_path) {}

    // Adds one entry's record: header, name and extra fields.
    void add(const std::string &record);
    std::uint64_t count() const { return entry_count; }
    std::uint64_t size() const { return spilled + directory.size(); }
    // Puts every record, in the order added, to `output`.
    void put_to(ArchiveOutput &output);

private:
    // Moves the records held in memory to the spill file.
    void spill_directory();
    // Writes the spill file's records to `output`.
    void copy_spilled_directory(ArchiveOutput &output);

    std::string archive_path;
    std::string directory;
    UniqueFd spill{-1};
    std::uint64_t spilled = 0;
    std::uint64_t entry_count = 0;
};

} // namespace zrv
