#include "archive/zipend.h"

#include "archive/failure.h"
#include "archive/zipformat.h"

#include <algorithm>

namespace zrv {

namespace {

class EndRecords {
public:
    EndRecords(std::uint64_t file_size, const ReadAt &read_at, const std::string &path)
        : file_size(file_size), read_at(read_at), path(path) {}
    DirectoryPlace locate();

private:
    bool signature_at(std::uint64_t offset, std::uint32_t signature) const;
    // Finds the end record; gives its offset.
    std::uint64_t find_end_record(zip::EndRecord &end) const;
    std::uint64_t read_zip64_end(std::uint64_t end_offset, bool &split);

    std::uint64_t file_size;
    const ReadAt &read_at;
    const std::string &path;
    DirectoryPlace place;
};

bool EndRecords::signature_at(std::uint64_t offset, std::uint32_t signature) const {
    unsigned char bytes[4];
    if (offset > file_size || file_size - offset < sizeof bytes)
        return false;
    read_at(offset, bytes, sizeof bytes);
    return zip::get32(bytes) == signature;
}

// The end record sits in the last 64 KiB + 22 bytes, before a comment of its own length.
std::uint64_t EndRecords::find_end_record(zip::EndRecord &end) const {
    const std::size_t tail_size = static_cast<std::size_t>(
        std::min<std::uint64_t>(file_size, zip::end_size + zip::max_comment_size));
    std::string tail(tail_size, '\0');
    read_at(file_size - tail_size, tail.data(), tail_size);
    const auto *bytes = reinterpret_cast<const unsigned char *>(tail.data());
    for (std::size_t i = tail_size >= zip::end_size ? tail_size - zip::end_size + 1 : 0; i-- > 0;) {
        end = zip::EndRecord::read(bytes + i);
        if (end.signature == zip::end_signature &&
            i + zip::end_size + end.comment_length <= tail_size)
            return file_size - tail_size + i;
    }
    zrv::fail_archive(FailureKind::damaged, path,
                      "not a ZIP archive: no end of central directory record");
}

// Where a ZIP64 end record stands, its values count, disk numbers included: the end record
// may hold 0xFFFF in every field. Gives where the central directory must end.
std::uint64_t EndRecords::read_zip64_end(std::uint64_t end_offset, bool &split) {
    if (end_offset < zip::zip64_locator_size)
        return end_offset;
    unsigned char locator_bytes[zip::zip64_locator_size];
    read_at(end_offset - zip::zip64_locator_size, locator_bytes, sizeof locator_bytes);
    const zip::Zip64Locator locator = zip::Zip64Locator::read(locator_bytes);
    if (locator.signature != zip::zip64_locator_signature)
        return end_offset;
    std::uint64_t zip64_offset = locator.end_offset;
    // Data before the archive leaves the locator's offset short of the record, which then
    // stands right before the locator, where unzip and Python look for it.
    const std::uint64_t adjacent =
        end_offset - std::min(end_offset, zip::zip64_locator_size + zip::zip64_end_size);
    if (!signature_at(zip64_offset, zip::zip64_end_signature) && adjacent > zip64_offset &&
        signature_at(adjacent, zip::zip64_end_signature))
        zip64_offset = adjacent;
    unsigned char record_bytes[zip::zip64_end_size];
    read_at(zip64_offset, record_bytes, sizeof record_bytes);
    const zip::Zip64End record = zip::Zip64End::read(record_bytes);
    if (record.signature != zip::zip64_end_signature)
        zrv::fail_archive(FailureKind::damaged, path, "damaged ZIP64 end record");
    split = locator.end_disk != 0 || locator.disk_total > 1 || record.disk != 0 ||
            record.directory_disk != 0;
    place.declared_count = record.total_count;
    place.size = record.directory_size;
    place.offset = record.directory_offset;
    return zip64_offset;
}

DirectoryPlace EndRecords::locate() {
    zip::EndRecord end;
    const std::uint64_t end_offset = find_end_record(end);
    bool split = end.disk != 0 || end.directory_disk != 0;
    place.declared_count = end.total_count;
    place.size = end.directory_size;
    place.offset = end.directory_offset;
    const std::uint64_t directory_end_limit = read_zip64_end(end_offset, split);
    if (split)
        zrv::fail_archive(FailureKind::unsupported, path,
                          "archives split over several disks are not supported");
    // Data before the archive, such as a self-extractor's program, shifts every offset by its
    // size; the central directory then ends where the end records begin, as unzip and Python
    // find it. It is read there only when the declared place holds no central header and that
    // one does.
    if (place.declared_count > 0 && place.size <= directory_end_limit) {
        const std::uint64_t found = directory_end_limit - place.size;
        if (found > place.offset && !signature_at(place.offset, zip::central_header_signature) &&
            signature_at(found, zip::central_header_signature)) {
            place.shift = found - place.offset;
            place.offset = found;
        }
    }
    if (place.offset > directory_end_limit || place.size > directory_end_limit - place.offset)
        zrv::fail_archive(FailureKind::damaged, path, "damaged central directory");
    return place;
}

} // namespace

DirectoryPlace find_directory(std::uint64_t file_size, const ReadAt &read_at,
                              const std::string &path) {
    return EndRecords(file_size, read_at, path).locate();
}

} // namespace zrv
