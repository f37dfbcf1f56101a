#include "archive/layoutcheck.h"

#include "archive/archivefile.h"
#include "archive/centraldirectory.h"
#include "archive/decoder.h"
#include "archive/extrafields.h"

#include <algorithm>
#include <string>

namespace zrv {

namespace {

// Names may differ in encoding only, as each header's own Unicode path field tells.
bool same_name(const ZipEntry &entry, const std::string &local_name,
               const std::string &local_unicode_name) {
    const std::string &name = entry.name;
    const std::string &unicode_name = entry.unicode_name.empty() ? name : entry.unicode_name;
    return local_name == name ||
           (local_unicode_name.empty() ? local_name : local_unicode_name) == unicode_name;
}

} // namespace

void LayoutCheck::check(ZipEntry &entry) {
    check_local_header(entry);
    extents.push_back(
        {entry.header_offset, entry.data_offset + entry.compressed_size, entry.index});
}

void LayoutCheck::check_local_header(ZipEntry &entry) const {
    const std::string &name = entry.name;
    if (!can_decode(entry.method))
        file.fail_archive(FailureKind::unsupported,
                          name + " uses compression method " + method_label(entry.method) +
                              ", which is not supported",
                          name);
    // The local header with room for the name and a usual extra field, in one read.
    std::string local(
        std::min<std::uint64_t>(zip::local_header_size + name.size() + 64,
                                file.size() - std::min(file.size(), entry.header_offset)),
        '\0');
    if (local.size() < zip::local_header_size)
        file.fail_archive(FailureKind::damaged,
                          "damaged entry " + name + ": its header lies beyond the end of the file",
                          name);
    file.read_at(entry.header_offset, local.data(), local.size());
    const zip::LocalHeader header =
        zip::LocalHeader::read(reinterpret_cast<const unsigned char *>(local.data()));
    if (header.signature != zip::local_header_signature)
        file.fail_archive(FailureKind::damaged,
                          "damaged entry " + name + ": no local header where the directory says",
                          name);
    const std::size_t name_length = header.common.name_length;
    const std::size_t extra_length = header.common.extra_length;
    const std::size_t wanted = zip::local_header_size + name_length + extra_length;
    if (local.size() < wanted) {
        local.resize(wanted);
        file.read_at(entry.header_offset, local.data(), wanted);
    }
    const std::string local_name = local.substr(zip::local_header_size, name_length);
    std::uint64_t local_compressed = header.common.sizes.compressed_size;
    std::uint64_t local_size = header.common.sizes.size;
    std::uint64_t unused_offset = 0;
    std::uint64_t *const zip64[] = {&local_size, &local_compressed, &unused_offset};
    const ExtraFields local_fields =
        parse_extra(reinterpret_cast<const unsigned char *>(local.data()) + zip::local_header_size +
                        name_length,
                    extra_length, local_name, zip64, 2);
    const std::uint32_t local_crc = header.common.sizes.crc;
    // With a data descriptor the local header may leave CRC and sizes at zero.
    const bool deferred = (header.common.flags & zip::flag_data_descriptor) != 0;
    const auto differs = [deferred](std::uint64_t local_value, std::uint64_t central_value) {
        return local_value != central_value && !(deferred && local_value == 0);
    };
    if (!same_name(entry, local_name, local_fields.unicode_name) ||
        header.common.method != entry.method_field || differs(local_crc, entry.crc) ||
        differs(local_compressed, entry.compressed_size) || differs(local_size, entry.size))
        file.fail_archive(FailureKind::damaged,
                          "damaged entry " + name +
                              ": its local header disagrees with the central directory",
                          name);
    entry.data_offset = entry.header_offset + wanted;
    if (entry.data_offset > directory.offset() ||
        entry.compressed_size > directory.offset() - entry.data_offset)
        file.fail_archive(FailureKind::damaged,
                          "overlapping entries: " + name + " reaches into the central directory",
                          name);
}

// Data ranges sorted by where they begin: each must end before the next begins.
void LayoutCheck::check_overlaps() {
    std::sort(extents.begin(), extents.end(),
              [](const Extent &a, const Extent &b) { return a.begin < b.begin; });
    for (std::size_t i = 1; i < extents.size(); ++i) {
        if (extents[i].begin >= extents[i - 1].end)
            continue;
        const std::string before = directory.entry_at(extents[i - 1].index).name;
        const std::string after = directory.entry_at(extents[i].index).name;
        file.fail_archive(FailureKind::damaged, "overlapping entries: " + before + " and " + after,
                          after);
    }
}

} // namespace zrv
