// The ZIP format as both the reader and the writer use it: each record's fields in order, with
// a read and a put, the time codecs, signatures, sizes, flags, extra-field ids, host bytes, and
// little-endian access.
#pragma once

#include <ctime>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>

namespace zrv::zip {

constexpr std::uint32_t local_header_signature = 0x04034B50;
constexpr std::uint32_t central_header_signature = 0x02014B50;
constexpr std::uint32_t end_signature = 0x06054B50;
constexpr std::uint32_t zip64_end_signature = 0x06064B50;
constexpr std::uint32_t zip64_locator_signature = 0x07064B50;

constexpr std::size_t local_header_size = 30;
constexpr std::size_t central_header_size = 46;
constexpr std::size_t end_size = 22;
constexpr std::size_t zip64_end_size = 56;
constexpr std::size_t zip64_locator_size = 20;
constexpr std::size_t max_comment_size = 0xFFFF;
// An extra field's id and length, before its body.
constexpr std::size_t extra_header_size = 4;

constexpr std::uint16_t flag_encrypted = 0x0001;
constexpr std::uint16_t flag_lzma_end_marker = 0x0002;
constexpr std::uint16_t flag_data_descriptor = 0x0008;
constexpr std::uint16_t flag_utf8 = 0x0800;

constexpr std::uint16_t method_stored = 0;
constexpr std::uint16_t method_deflated = 8;
constexpr std::uint16_t method_deflate64 = 9;
constexpr std::uint16_t method_bzip2 = 12;
constexpr std::uint16_t method_lzma = 14;
constexpr std::uint16_t method_zstd = 93;
constexpr std::uint16_t method_xz = 95;
constexpr std::uint16_t method_ppmd = 98;

constexpr std::uint16_t extra_zip64 = 0x0001;
constexpr std::uint16_t extra_ntfs = 0x000A;
constexpr std::uint16_t extra_timestamp = 0x5455;
constexpr std::uint16_t extra_unicode_path = 0x7075;

// The high byte of "version made by": which system wrote the entry, and so how to read its
// attributes and name.
constexpr unsigned host_msdos = 0;
constexpr unsigned host_unix = 3;

// Where a 16- or 32-bit field holds this, the real value is in the ZIP64 field.
constexpr std::uint16_t count_overflow = 0xFFFF;
constexpr std::uint32_t size_overflow = 0xFFFFFFFF;

// External attribute bits that MS-DOS and Windows set.
constexpr std::uint32_t msdos_read_only = 0x01;
constexpr std::uint32_t msdos_folder = 0x10;

// The range of the extended timestamp's 32 bits: signed before 1970, unsigned from 2038.
constexpr std::int64_t earliest_unix_time = INT32_MIN;
constexpr std::int64_t latest_unix_time = UINT32_MAX;

// Seconds between 1601-01-01 (NTFS times) and 1970-01-01, and NTFS ticks per second.
constexpr std::int64_t ntfs_epoch_offset = 11644473600;
constexpr std::int64_t ntfs_ticks_per_second = 10000000;

inline std::uint16_t get16(const unsigned char *p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
inline std::uint32_t get32(const unsigned char *p) {
    return static_cast<std::uint32_t>(get16(p)) | static_cast<std::uint32_t>(get16(p + 2)) << 16;
}
inline std::uint64_t get64(const unsigned char *p) {
    return static_cast<std::uint64_t>(get32(p)) | static_cast<std::uint64_t>(get32(p + 4)) << 32;
}

inline void put16(std::string &out, std::uint16_t value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>(value >> 8);
}
inline void put32(std::string &out, std::uint32_t value) {
    put16(out, static_cast<std::uint16_t>(value));
    put16(out, static_cast<std::uint16_t>(value >> 16));
}
inline void put64(std::string &out, std::uint64_t value) {
    put32(out, static_cast<std::uint32_t>(value));
    put32(out, static_cast<std::uint32_t>(value >> 32));
}

// Takes little-endian fields one after the other from bytes the caller has checked are there.
class FieldReader {
public:
    FieldReader(const unsigned char *data, std::size_t size) : data(data), size(size) {}
    std::uint8_t take8() { return *take(1); }
    std::uint16_t take16() { return get16(take(2)); }
    std::uint32_t take32() { return get32(take(4)); }
    std::uint64_t take64() { return get64(take(8)); }
    const unsigned char *take(std::size_t count) {
        const unsigned char *at = data;
        data += count;
        size -= count;
        return at;
    }
    std::size_t left() const { return size; }

private:
    const unsigned char *data;
    std::size_t size;
};

// MS-DOS time and date fields, local time in two-second steps, 1980 to 2107.
struct DosTime {
    std::uint16_t time = 0;
    std::uint16_t date = 0;

    // Clamped to the years the fields can hold.
    static DosTime of(std::int64_t seconds);
    int year() const { return 1980 + (date >> 9); }
    std::time_t seconds() const;
};

// NTFS time: 100-nanosecond ticks since 1601.
std::int64_t ntfs_ticks_of(const struct timespec &time);
struct timespec time_of_ntfs_ticks(std::int64_t ticks);

// The extended timestamp field with the modification time only, clamped to its range.
void put_extended_timestamp(std::string &out, std::int64_t seconds);
// The NTFS field with `ticks` for all three of its times.
void put_ntfs_times(std::string &out, std::int64_t ticks);
// From an extended timestamp's body, its modification time where it holds one.
bool read_extended_timestamp(FieldReader body, std::int32_t &seconds);
// From an NTFS field's body, its modification time where it holds one.
bool read_ntfs_times(FieldReader body, std::int64_t &ticks);

// The CRC and sizes, where local and central headers (and data descriptors) hold them.
struct Sizes {
    std::uint32_t crc = 0;
    std::uint32_t compressed_size = 0;
    std::uint32_t size = 0;

    static Sizes read(FieldReader &in);
    void put(std::string &out) const;
};

// The fields that local and central headers share, in the order both hold them.
struct CommonFields {
    std::uint16_t version_needed = 0;
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    DosTime time;
    Sizes sizes;
    std::uint16_t name_length = 0;
    std::uint16_t extra_length = 0;

    static CommonFields read(FieldReader &in);
    void put(std::string &out) const;
};

struct LocalHeader {
    std::uint32_t signature = local_header_signature;
    CommonFields common;

    // Where the CRC and sizes lie in the header, for filling them in once known.
    static constexpr std::size_t sizes_offset = 4 + 5 * 2;

    static LocalHeader read(const unsigned char *data);
    void put(std::string &out) const;
};

struct CentralHeader {
    std::uint32_t signature = central_header_signature;
    std::uint16_t made_by = 0;
    CommonFields common;
    std::uint16_t comment_length = 0;
    std::uint16_t disk = 0;
    std::uint16_t internal_attributes = 0;
    std::uint32_t external_attributes = 0;
    std::uint32_t header_offset = 0;

    static CentralHeader read(const unsigned char *data);
    void put(std::string &out) const;
};

struct EndRecord {
    std::uint32_t signature = end_signature;
    std::uint16_t disk = 0;
    std::uint16_t directory_disk = 0;
    std::uint16_t disk_count = 0;
    std::uint16_t total_count = 0;
    std::uint32_t directory_size = 0;
    std::uint32_t directory_offset = 0;
    std::uint16_t comment_length = 0;

    static EndRecord read(const unsigned char *data);
    void put(std::string &out) const;
};

struct Zip64End {
    std::uint32_t signature = zip64_end_signature;
    std::uint64_t record_size = zip64_end_size - 12; // what follows this field
    std::uint16_t made_by = 0;
    std::uint16_t version_needed = 0;
    std::uint32_t disk = 0;
    std::uint32_t directory_disk = 0;
    std::uint64_t disk_count = 0;
    std::uint64_t total_count = 0;
    std::uint64_t directory_size = 0;
    std::uint64_t directory_offset = 0;

    static Zip64End read(const unsigned char *data);
    void put(std::string &out) const;
};

struct Zip64Locator {
    std::uint32_t signature = zip64_locator_signature;
    std::uint32_t end_disk = 0;
    std::uint64_t end_offset = 0;
    std::uint32_t disk_total = 1;

    static Zip64Locator read(const unsigned char *data);
    void put(std::string &out) const;
};

} // namespace zrv::zip
