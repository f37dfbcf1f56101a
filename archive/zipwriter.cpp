#include "archive/zipwriter.h"

#include "archive/failure.h"
#include "archive/names.h"
#include "archive/winzipaes.h"
#include "archive/zipformat.h"

#include <algorithm>
#include <ctime>

namespace zrv {

namespace {

// Entries from this size on get ZIP64 sizes up front: deflate may grow what does not
// compress, and the local header is written before the compressed size is known.
constexpr std::uint64_t zip64_threshold = 0xF0000000ULL;
constexpr std::uint16_t made_by_unix = zip::host_unix << 8 | 30;
constexpr std::uint16_t version_needed = 20;
constexpr std::uint16_t version_needed_zip64 = 45;

// The extended timestamp (modification time only, whole seconds), and where a time lies
// outside the 1901-2106 that it can carry, the NTFS field too (the same time for all three of
// its times, so archives of the same tree are identical).
std::string time_fields(const struct timespec &mtime) {
    std::string out;
    const std::int64_t seconds = mtime.tv_sec;
    zip::put_extended_timestamp(out, seconds);
    if (seconds < zip::earliest_unix_time || seconds > zip::latest_unix_time)
        zip::put_ntfs_times(out, zip::ntfs_ticks_of(mtime));
    return out;
}

std::uint16_t method_field_of(Method method) {
    return method == Method::deflated ? zip::method_deflated : zip::method_stored;
}

std::uint32_t narrow(std::uint64_t value) {
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(value, zip::size_overflow));
}

} // namespace

ZipWriter::ZipWriter(int fd, const std::string &path)
    : path(path), output(fd, path), directory(path) {}

std::uint16_t ZipWriter::flags() const {
    return static_cast<std::uint16_t>((is_valid_utf8(header.name) ? zip::flag_utf8 : 0) |
                                      (encrypted ? zip::flag_encrypted : 0));
}

std::uint16_t ZipWriter::method_field() const {
    return encrypted ? winzipaes::method : method_field_of(method);
}

std::uint16_t ZipWriter::version(bool needs_zip64) const {
    if (encrypted)
        return winzipaes::version_needed;
    return needs_zip64 ? version_needed_zip64 : version_needed;
}

zip::CommonFields ZipWriter::common_fields(bool needs_zip64, std::size_t extra_size) const {
    zip::CommonFields fields;
    fields.version_needed = version(needs_zip64);
    fields.flags = flags();
    fields.method = method_field();
    fields.time = zip::DosTime::of(header.mtime.tv_sec);
    fields.name_length = static_cast<std::uint16_t>(header.name.size());
    fields.extra_length = static_cast<std::uint16_t>(extra_size);
    return fields;
}

void ZipWriter::begin_entry(const EntryHeader &entry, Method entry_method, bool entry_encrypted) {
    header = entry;
    method = entry_method;
    encrypted = entry_encrypted;
    zip64 = header.size >= zip64_threshold;
    header_offset = output.offset();
    compressed = 0;

    std::string extra;
    if (zip64) {
        zip::put16(extra, zip::extra_zip64);
        zip::put16(extra, 16);
        zip::put64(extra, 0); // sizes, filled in at the end of the entry
        zip::put64(extra, 0);
    }
    extra += time_fields(header.mtime);
    if (encrypted)
        extra += winzipaes::extra_field(method_field_of(method));
    zip::LocalHeader local;
    local.common = common_fields(zip64, extra.size());
    local.common.sizes.compressed_size = zip64 ? zip::size_overflow : 0;
    local.common.sizes.size = zip64 ? zip::size_overflow : 0;
    std::string bytes;
    local.put(bytes);
    output.put(bytes + header.name + extra);
}

void ZipWriter::write(const unsigned char *data, std::size_t size) {
    compressed += size;
    output.write(data, size);
}

void ZipWriter::end_entry(std::uint64_t size, std::uint32_t data_crc) {
    const std::uint32_t crc = encrypted ? 0 : data_crc;
    if (!zip64 && (size >= zip::size_overflow || compressed >= zip::size_overflow))
        fail(FailureKind::cannot_write, "cannot write archive " + path + ": " + header.name +
                                            " grew past the size announced for it");
    zip::Sizes sizes;
    sizes.crc = crc;
    sizes.compressed_size = zip64 ? zip::size_overflow : narrow(compressed);
    sizes.size = zip64 ? zip::size_overflow : narrow(size);
    std::string sizes_bytes;
    sizes.put(sizes_bytes);
    output.patch(header_offset + zip::LocalHeader::sizes_offset, sizes_bytes);
    if (zip64) {
        std::string zip64_sizes;
        zip::put64(zip64_sizes, size);
        zip::put64(zip64_sizes, compressed);
        output.patch(header_offset + zip::local_header_size + header.name.size() +
                         zip::extra_header_size,
                     zip64_sizes);
    }
    put_central_record(size, sizes);
}

// The central record: ZIP64 values for whatever does not fit 32 bits.
void ZipWriter::put_central_record(std::uint64_t size, const zip::Sizes &sizes) {
    std::string zip64_values;
    if (size >= zip::size_overflow || zip64)
        zip::put64(zip64_values, size);
    if (compressed >= zip::size_overflow || zip64)
        zip::put64(zip64_values, compressed);
    if (header_offset >= zip::size_overflow)
        zip::put64(zip64_values, header_offset);
    std::string extra;
    if (!zip64_values.empty()) {
        zip::put16(extra, zip::extra_zip64);
        zip::put16(extra, static_cast<std::uint16_t>(zip64_values.size()));
        extra += zip64_values;
    }
    extra += time_fields(header.mtime);
    if (encrypted)
        extra += winzipaes::extra_field(method_field_of(method));
    zip::CentralHeader record;
    record.made_by = made_by_unix;
    record.common = common_fields(!zip64_values.empty(), extra.size());
    record.common.sizes = sizes;
    record.external_attributes = static_cast<std::uint32_t>(header.mode) << 16;
    if (S_ISDIR(header.mode))
        record.external_attributes |= zip::msdos_folder;
    record.header_offset = narrow(header_offset);
    std::string bytes;
    record.put(bytes);
    directory.add(bytes + header.name + extra);
}

void ZipWriter::close() {
    const std::uint64_t directory_offset = output.offset();
    const std::uint64_t directory_size = directory.size();
    const std::uint64_t entry_count = directory.count();
    directory.put_to(output);
    const std::uint64_t zip64_end_offset = output.offset();
    std::string end;
    if (entry_count >= zip::count_overflow || directory_size >= zip::size_overflow ||
        directory_offset >= zip::size_overflow) {
        zip::Zip64End zip64_end;
        zip64_end.made_by = made_by_unix;
        zip64_end.version_needed = version_needed_zip64;
        zip64_end.disk_count = entry_count;
        zip64_end.total_count = entry_count;
        zip64_end.directory_size = directory_size;
        zip64_end.directory_offset = directory_offset;
        zip64_end.put(end);
        zip::Zip64Locator locator;
        locator.end_offset = zip64_end_offset;
        locator.put(end);
    }
    const auto count =
        static_cast<std::uint16_t>(std::min<std::uint64_t>(entry_count, zip::count_overflow));
    zip::EndRecord record;
    record.disk_count = count;
    record.total_count = count;
    record.directory_size = narrow(directory_size);
    record.directory_offset = narrow(directory_offset);
    record.put(end);
    output.put(end);
    output.flush();
}

} // namespace zrv
