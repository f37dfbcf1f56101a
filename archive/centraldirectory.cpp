#include "archive/centraldirectory.h"

#include "archive/archivefile.h"
#include "archive/entrycipher.h"
#include "archive/extrafields.h"
#include "archive/winzipaes.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <ctime>

namespace zrv {

namespace {

constexpr std::uint16_t flag_strong_encryption = 0x0040;

// The most exact time the entry carries: NTFS ticks, then Unix seconds, then DOS local time.
struct timespec entry_time(const ExtraFields &fields, const zip::DosTime &dos) {
    if (fields.has_ntfs_time)
        return zip::time_of_ntfs_ticks(fields.ntfs_ticks);
    if (fields.has_unix_time) {
        // Signed, so 1901-1969 read right; a writer that means 2038-2106 says so in the DOS
        // date, as Info-ZIP does.
        std::int64_t seconds = fields.unix_time;
        if (seconds < 0 && dos.year() >= 2038)
            seconds += std::int64_t{1} << 32;
        return {static_cast<time_t>(seconds), 0};
    }
    return {dos.seconds(), 0};
}

// Reads the central directory a buffer at a time.
class DirectoryCursor {
public:
    DirectoryCursor(const ArchiveFile &file, std::uint64_t offset, std::uint64_t size)
        : file(file), next(offset), end(offset + size) {}

    bool at_end() const { return position == buffer.size() && next == end; }

    // The next `size` bytes, valid until the next call.
    const unsigned char *take(std::size_t size) {
        if (buffer.size() - position < size) {
            buffer.erase(0, position);
            position = 0;
            const std::uint64_t wanted = std::max<std::uint64_t>(size - buffer.size(), 64 << 10);
            const std::size_t more = static_cast<std::size_t>(std::min(wanted, end - next));
            if (buffer.size() + more < size)
                file.fail_archive(FailureKind::damaged, "damaged central directory");
            const std::size_t had = buffer.size();
            buffer.resize(had + more);
            file.read_at(next, buffer.data() + had, more);
            next += more;
        }
        const auto *data = reinterpret_cast<const unsigned char *>(buffer.data()) + position;
        position += size;
        return data;
    }

private:
    const ArchiveFile &file;
    std::string buffer;
    std::size_t position = 0;
    std::uint64_t next;
    std::uint64_t end;
};

} // namespace

CentralDirectory::CentralDirectory(const ArchiveFile &file) : file(file) {
    place = find_directory(
        file.size(),
        [&file](std::uint64_t offset, void *buffer, std::size_t size) {
            file.read_at(offset, buffer, size);
        },
        file.path());
}

void CentralDirectory::walk(const std::function<void(ZipEntry &entry)> &visit) const {
    DirectoryCursor cursor(file, place.offset, place.size);
    std::size_t count = 0;
    while (!cursor.at_end()) {
        if (count == place.declared_count)
            file.fail_archive(FailureKind::damaged,
                              "the central directory holds more entries than the end record says");
        // Each take() may move the buffer, so what is still needed is copied first.
        std::array<unsigned char, zip::central_header_size> header;
        std::memcpy(header.data(), cursor.take(header.size()), header.size());
        const zip::CentralHeader central = zip::CentralHeader::read(header.data());
        if (central.signature != zip::central_header_signature)
            file.fail_archive(FailureKind::damaged, "damaged central directory");
        const std::size_t name_length = central.common.name_length;
        const std::string name(reinterpret_cast<const char *>(cursor.take(name_length)),
                               name_length);
        const unsigned char *extra = cursor.take(central.common.extra_length);
        ZipEntry entry = parse_central(central, name, extra, count++);
        cursor.take(central.comment_length);
        visit(entry);
    }
    if (count != place.declared_count)
        file.fail_archive(FailureKind::damaged, "the central directory holds " +
                                                    std::to_string(count) +
                                                    " entries and the end record says " +
                                                    std::to_string(place.declared_count));
}

ZipEntry CentralDirectory::parse_central(const zip::CentralHeader &header, const std::string &name,
                                         const unsigned char *extra, std::size_t index) const {
    ZipEntry entry;
    entry.index = index;
    entry.host = header.made_by >> 8;
    entry.flags = header.common.flags;
    entry.method = header.common.method;
    entry.method_field = entry.method;
    entry.dos_time = header.common.time.time;
    entry.dos_date = header.common.time.date;
    entry.crc = header.common.sizes.crc;
    entry.compressed_size = header.common.sizes.compressed_size;
    entry.size = header.common.sizes.size;
    const std::size_t extra_length = header.common.extra_length;
    entry.external_attributes = header.external_attributes;
    entry.header_offset = header.header_offset;
    entry.name = name;
    std::uint64_t *const zip64[] = {&entry.size, &entry.compressed_size, &entry.header_offset};
    const ExtraFields fields = parse_extra(extra, extra_length, entry.name, zip64, 3);
    if (entry.header_offset <= file.size())
        entry.header_offset += place.shift;
    entry.unicode_name = fields.unicode_name;
    entry.mtime = entry_time(fields, header.common.time);
    entry.aes_version = fields.aes_version;
    entry.aes_strength = fields.aes_strength;
    entry.aes_method = fields.aes_method;
    check_encryption(entry);
    if (index < data_offsets.size())
        entry.data_offset = data_offsets[index];
    return entry;
}

ZipEntry CentralDirectory::entry_at(std::size_t index) const {
    ZipEntry found;
    walk([&](ZipEntry &entry) {
        if (entry.index == index)
            found = std::move(entry);
    });
    return found;
}

// Which encryption the entry uses; for WinZip AES its method becomes the real one.
void CentralDirectory::check_encryption(ZipEntry &entry) const {
    const std::string &name = entry.name;
    const bool encrypted = (entry.flags & zip::flag_encrypted) != 0;
    if (encrypted && (entry.flags & flag_strong_encryption) != 0)
        file.fail_archive(FailureKind::unsupported,
                          name + " uses PKWARE's strong encryption, which is not supported", name);
    if (entry.method == winzipaes::method) {
        if (!encrypted || entry.aes_version == 0)
            file.fail_archive(FailureKind::unsupported,
                              name + " uses method 99 without a valid WinZip AES field", name);
        entry.encryption = Encryption::aes;
        entry.method = entry.aes_method;
    } else if (encrypted) {
        entry.encryption = Encryption::zipcrypto;
    }
    if (entry.compressed_size < EntryCipher::header_size(entry) + EntryCipher::trailer_size(entry))
        file.fail_archive(FailureKind::damaged,
                          "damaged entry " + name + ": too short for its encryption", name);
}

} // namespace zrv
