#include "archive/extrafields.h"

#include "archive/winzipaes.h"
#include "archive/zipformat.h"

#include <zlib.h>

namespace zrv {

namespace {

// Reads the ZIP64 field's values for the 32-bit fields that overflowed, in their fixed order.
void apply_zip64(zip::FieldReader body, std::uint64_t *const values[], std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (*values[i] != zip::size_overflow)
            continue;
        if (body.left() < 8)
            return;
        *values[i] = body.take64();
    }
}

// The WinZip AES field: version, vendor "AE", key strength, and the real method.
void read_aes(zip::FieldReader body, ExtraFields &fields) {
    if (body.left() != winzipaes::extra_size)
        return;
    const std::uint16_t version = body.take16();
    const unsigned char *vendor = body.take(2);
    const std::uint8_t strength = body.take8();
    if ((version != winzipaes::ae_1 && version != winzipaes::ae_2) || vendor[0] != 'A' ||
        vendor[1] != 'E' || !winzipaes::valid_strength(strength))
        return;
    fields.aes_version = version;
    fields.aes_strength = strength;
    fields.aes_method = body.take16();
}

// The Unicode path field; only one written for this very name counts, as Info-ZIP and 7-Zip
// decide.
void read_unicode_path(zip::FieldReader body, const std::string &name, ExtraFields &fields) {
    if (body.left() < 5 || body.take8() != 1 ||
        body.take32() != ::crc32(0, reinterpret_cast<const Bytef *>(name.data()),
                                 static_cast<uInt>(name.size())))
        return;
    const std::size_t length = body.left();
    fields.unicode_name.assign(reinterpret_cast<const char *>(body.take(length)), length);
}

} // namespace

ExtraFields parse_extra(const unsigned char *data, std::size_t size, const std::string &name,
                        std::uint64_t *const zip64[], std::size_t zip64_count) {
    ExtraFields fields;
    zip::FieldReader in(data, size);
    while (in.left() >= zip::extra_header_size) {
        const std::uint16_t id = in.take16();
        const std::size_t length = in.take16();
        if (length > in.left())
            break;
        const zip::FieldReader body(in.take(length), length);
        if (id == zip::extra_zip64)
            apply_zip64(body, zip64, zip64_count);
        else if (id == zip::extra_timestamp)
            fields.has_unix_time |= zip::read_extended_timestamp(body, fields.unix_time);
        else if (id == zip::extra_ntfs)
            fields.has_ntfs_time |= zip::read_ntfs_times(body, fields.ntfs_ticks);
        else if (id == winzipaes::extra_id)
            read_aes(body, fields);
        else if (id == zip::extra_unicode_path)
            read_unicode_path(body, name, fields);
    }
    return fields;
}

} // namespace zrv
