// One entry of an archive as the reader hands it on: its central record's fields, with what its
// extra fields and its local header add.
#pragma once

#include "archive/zipformat.h"

#include <ctime>

#include <cstddef>
#include <cstdint>
#include <string>

namespace zrv {

enum class Encryption { none, zipcrypto, aes };

struct ZipEntry {
    std::size_t index = 0;    // its place in the central directory, from 0
    std::string name;         // raw bytes, as the central directory holds them
    std::string unicode_name; // the Info-ZIP Unicode path field, where it belongs to `name`
    unsigned host = zip::host_msdos;
    std::uint16_t flags = 0;
    std::uint16_t method = 0;       // of compression: for WinZip AES, the real one from its field
    std::uint16_t method_field = 0; // the method as the headers hold it
    std::uint16_t dos_time = 0;
    std::uint16_t dos_date = 0;
    std::uint32_t crc = 0;
    std::uint32_t external_attributes = 0;
    std::uint64_t compressed_size = 0;
    std::uint64_t size = 0;
    std::uint64_t header_offset = 0;
    std::uint64_t data_offset = 0;
    struct timespec mtime {};
    Encryption encryption = Encryption::none;
    std::uint16_t aes_version = 0; // from the 0x9901 field: AE-1 or AE-2
    int aes_strength = 0;          // 1, 2 or 3 for 128, 192 or 256 bits
    std::uint16_t aes_method = 0;  // the compression method the field names
};

} // namespace zrv
