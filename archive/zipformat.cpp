#include "archive/zipformat.h"

#include <algorithm>

namespace zrv::zip {

DosTime DosTime::of(std::int64_t seconds) {
    const std::time_t time = static_cast<std::time_t>(seconds);
    struct tm local {};
    if (::localtime_r(&time, &local) == nullptr || local.tm_year < 80) {
        local = {};
        local.tm_year = 80;
        local.tm_mday = 1;
    } else if (local.tm_year > 207) {
        local = {};
        local.tm_year = 207;
        local.tm_mon = 11;
        local.tm_mday = 31;
        local.tm_hour = 23;
        local.tm_min = 59;
        local.tm_sec = 58;
    }
    DosTime dos;
    dos.time =
        static_cast<std::uint16_t>(local.tm_hour << 11 | local.tm_min << 5 | local.tm_sec / 2);
    dos.date = static_cast<std::uint16_t>((local.tm_year - 80) << 9 | (local.tm_mon + 1) << 5 |
                                          local.tm_mday);
    return dos;
}

std::time_t DosTime::seconds() const {
    struct tm local {};
    local.tm_year = year() - 1900;
    local.tm_mon = ((date >> 5) & 0x0F) - 1;
    local.tm_mday = date & 0x1F;
    local.tm_hour = time >> 11;
    local.tm_min = (time >> 5) & 0x3F;
    local.tm_sec = (time & 0x1F) * 2;
    local.tm_isdst = -1;
    return std::mktime(&local);
}

// Times before 1601 become 1601 itself.
std::int64_t ntfs_ticks_of(const struct timespec &time) {
    const std::int64_t seconds = time.tv_sec;
    if (seconds < -ntfs_epoch_offset)
        return 0;
    return (seconds + ntfs_epoch_offset) * ntfs_ticks_per_second + time.tv_nsec / 100;
}

struct timespec time_of_ntfs_ticks(std::int64_t ticks) {
    std::int64_t seconds = ticks / ntfs_ticks_per_second;
    std::int64_t rest = ticks % ntfs_ticks_per_second;
    if (rest < 0) {
        rest += ntfs_ticks_per_second;
        --seconds;
    }
    return {static_cast<time_t>(seconds - ntfs_epoch_offset), static_cast<long>(rest * 100)};
}

void put_extended_timestamp(std::string &out, std::int64_t seconds) {
    put16(out, extra_timestamp);
    put16(out, 5);
    out += '\x01'; // modification time only
    put32(out,
          static_cast<std::uint32_t>(std::clamp(seconds, earliest_unix_time, latest_unix_time)));
}

void put_ntfs_times(std::string &out, std::int64_t ticks) {
    put16(out, extra_ntfs);
    put16(out, 32);
    put32(out, 0); // reserved
    put16(out, 1); // the times' tag and size
    put16(out, 24);
    for (int i = 0; i < 3; ++i)
        put64(out, static_cast<std::uint64_t>(ticks));
}

bool read_extended_timestamp(FieldReader body, std::int32_t &seconds) {
    if (body.left() < 5 || (body.take8() & 1) == 0)
        return false;
    seconds = static_cast<std::int32_t>(body.take32());
    return true;
}

bool read_ntfs_times(FieldReader body, std::int64_t &ticks) {
    if (body.left() < 32)
        return false;
    body.take32(); // reserved
    const std::uint16_t tag = body.take16();
    const std::uint16_t tag_size = body.take16();
    if (tag != 1 || tag_size < 24)
        return false;
    ticks = static_cast<std::int64_t>(body.take64());
    return true;
}

Sizes Sizes::read(FieldReader &in) {
    Sizes sizes;
    sizes.crc = in.take32();
    sizes.compressed_size = in.take32();
    sizes.size = in.take32();
    return sizes;
}

void Sizes::put(std::string &out) const {
    put32(out, crc);
    put32(out, compressed_size);
    put32(out, size);
}

CommonFields CommonFields::read(FieldReader &in) {
    CommonFields fields;
    fields.version_needed = in.take16();
    fields.flags = in.take16();
    fields.method = in.take16();
    fields.time.time = in.take16();
    fields.time.date = in.take16();
    fields.sizes = Sizes::read(in);
    fields.name_length = in.take16();
    fields.extra_length = in.take16();
    return fields;
}

void CommonFields::put(std::string &out) const {
    put16(out, version_needed);
    put16(out, flags);
    put16(out, method);
    put16(out, time.time);
    put16(out, time.date);
    sizes.put(out);
    put16(out, name_length);
    put16(out, extra_length);
}

LocalHeader LocalHeader::read(const unsigned char *data) {
    FieldReader in(data, local_header_size);
    LocalHeader header;
    header.signature = in.take32();
    header.common = CommonFields::read(in);
    return header;
}

void LocalHeader::put(std::string &out) const {
    put32(out, signature);
    common.put(out);
}

CentralHeader CentralHeader::read(const unsigned char *data) {
    FieldReader in(data, central_header_size);
    CentralHeader header;
    header.signature = in.take32();
    header.made_by = in.take16();
    header.common = CommonFields::read(in);
    header.comment_length = in.take16();
    header.disk = in.take16();
    header.internal_attributes = in.take16();
    header.external_attributes = in.take32();
    header.header_offset = in.take32();
    return header;
}

void CentralHeader::put(std::string &out) const {
    put32(out, signature);
    put16(out, made_by);
    common.put(out);
    put16(out, comment_length);
    put16(out, disk);
    put16(out, internal_attributes);
    put32(out, external_attributes);
    put32(out, header_offset);
}

EndRecord EndRecord::read(const unsigned char *data) {
    FieldReader in(data, end_size);
    EndRecord end;
    end.signature = in.take32();
    end.disk = in.take16();
    end.directory_disk = in.take16();
    end.disk_count = in.take16();
    end.total_count = in.take16();
    end.directory_size = in.take32();
    end.directory_offset = in.take32();
    end.comment_length = in.take16();
    return end;
}

void EndRecord::put(std::string &out) const {
    put32(out, signature);
    put16(out, disk);
    put16(out, directory_disk);
    put16(out, disk_count);
    put16(out, total_count);
    put32(out, directory_size);
    put32(out, directory_offset);
    put16(out, comment_length);
}

Zip64End Zip64End::read(const unsigned char *data) {
    FieldReader in(data, zip64_end_size);
    Zip64End end;
    end.signature = in.take32();
    end.record_size = in.take64();
    end.made_by = in.take16();
    end.version_needed = in.take16();
    end.disk = in.take32();
    end.directory_disk = in.take32();
    end.disk_count = in.take64();
    end.total_count = in.take64();
    end.directory_size = in.take64();
    end.directory_offset = in.take64();
    return end;
}

void Zip64End::put(std::string &out) const {
    put32(out, signature);
    put64(out, record_size);
    put16(out, made_by);
    put16(out, version_needed);
    put32(out, disk);
    put32(out, directory_disk);
    put64(out, disk_count);
    put64(out, total_count);
    put64(out, directory_size);
    put64(out, directory_offset);
}

Zip64Locator Zip64Locator::read(const unsigned char *data) {
    FieldReader in(data, zip64_locator_size);
    Zip64Locator locator;
    locator.signature = in.take32();
    locator.end_disk = in.take32();
    locator.end_offset = in.take64();
    locator.disk_total = in.take32();
    return locator;
}

void Zip64Locator::put(std::string &out) const {
    put32(out, signature);
    put32(out, end_disk);
    put64(out, end_offset);
    put32(out, disk_total);
}

} // namespace zrv::zip
