// The ZIP format's records and fields as both the reader and the writer use them: signatures,
// sizes, flags, extra-field ids, host bytes, and little-endian access.
#pragma once

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

} // namespace zrv::zip
