// The extra fields of a central record or a local header, as far as the reader reads them:
// the ZIP64 sizes and offset, the NTFS and Unix times, the WinZip AES field and the Info-ZIP
// Unicode path. Other fields are passed over; one that runs past the end stops the walk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zrv {

struct ExtraFields {
    bool has_ntfs_time = false;
    bool has_unix_time = false;
    std::int64_t ntfs_ticks = 0;
    std::int32_t unix_time = 0;
    std::string unicode_name;
    std::uint16_t aes_version = 0; // 0 when there is no valid WinZip AES field
    int aes_strength = 0;
    std::uint16_t aes_method = 0;
};

// Walks the extra fields of the entry `name`; `zip64` gets the overflowed sizes and offset.
ExtraFields parse_extra(const unsigned char *data, std::size_t size, const std::string &name,
                        std::uint64_t *const zip64[], std::size_t zip64_count);

} // namespace zrv
