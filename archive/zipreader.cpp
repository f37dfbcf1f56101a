#include "archive/zipreader.h"

#include "archive/crypto.h"
#include "archive/entrycipher.h"
#include "archive/extrafields.h"
#include "archive/failure.h"
#include "archive/winzipaes.h"
#include "archive/zipend.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <ctime>
#include <exception>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

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

// Runs `task` for 0 to count - 1 on every core; the first failure stops the rest and is thrown.
void run_in_parallel(std::size_t count, const std::function<void(std::size_t)> &task) {
    std::atomic<std::size_t> next{0};
    std::mutex mutex;
    std::exception_ptr failure;
    const auto work = [&] {
        try {
            for (std::size_t n = next++; n < count; n = next++)
                task(n);
        } catch (...) {
            next = count;
            std::lock_guard<std::mutex> lock(mutex);
            if (!failure)
                failure = std::current_exception();
        }
    };
    std::vector<std::thread> helpers;
    const std::size_t wanted = std::min<std::size_t>(std::thread::hardware_concurrency(), count);
    try {
        while (helpers.size() + 1 < wanted)
            helpers.emplace_back(work);
    } catch (const std::system_error &) {
        // Fewer threads only make it slower.
    }
    work();
    for (std::thread &helper : helpers)
        helper.join();
    if (failure)
        std::rethrow_exception(failure);
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

ZipReader::ZipReader(int fd, const std::string &path) : file(fd, path) {
    const DirectoryPlace place = find_directory(
        file.size(),
        [this](std::uint64_t offset, void *buffer, std::size_t size) {
            file.read_at(offset, buffer, size);
        },
        path);
    directory_offset = place.offset;
    directory_size = place.size;
    declared_count = place.declared_count;
    shift = place.shift;
    // Every local header is checked before anything is written; only what later walks and the
    // overlap check need is kept.
    std::vector<Extent> extents;
    walk([&](ZipEntry &entry) {
        check_local_header(entry);
        data_offsets.push_back(entry.data_offset);
        extents.push_back(
            {entry.header_offset, entry.data_offset + entry.compressed_size, entry.index});
        if (entry.encryption != Encryption::none)
            ++encrypted_count;
    });
    check_overlaps(std::move(extents));
}

void ZipReader::fail_archive(FailureKind kind, const std::string &what,
                             const std::string &entry) const {
    file.fail_archive(kind, what, entry);
}

void ZipReader::walk(const std::function<void(ZipEntry &entry)> &visit) const {
    DirectoryCursor cursor(file, directory_offset, directory_size);
    std::size_t count = 0;
    while (!cursor.at_end()) {
        if (count == declared_count)
            fail_archive(FailureKind::damaged,
                         "the central directory holds more entries than the end record says");
        // Each take() may move the buffer, so what is still needed is copied first.
        std::array<unsigned char, zip::central_header_size> header;
        std::memcpy(header.data(), cursor.take(header.size()), header.size());
        const zip::CentralHeader central = zip::CentralHeader::read(header.data());
        if (central.signature != zip::central_header_signature)
            fail_archive(FailureKind::damaged, "damaged central directory");
        const std::size_t name_length = central.common.name_length;
        const std::string name(reinterpret_cast<const char *>(cursor.take(name_length)),
                               name_length);
        const unsigned char *extra = cursor.take(central.common.extra_length);
        ZipEntry entry = parse_central(central, name, extra, count++);
        cursor.take(central.comment_length);
        visit(entry);
    }
    if (count != declared_count)
        fail_archive(FailureKind::damaged, "the central directory holds " + std::to_string(count) +
                                               " entries and the end record says " +
                                               std::to_string(declared_count));
}

ZipEntry ZipReader::parse_central(const zip::CentralHeader &header, const std::string &name,
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
        entry.header_offset += shift;
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

void ZipReader::for_each(const std::function<void(const ZipEntry &entry)> &visit) const {
    walk(visit);
}

ZipEntry ZipReader::entry_at(std::size_t index) const {
    ZipEntry found;
    walk([&](ZipEntry &entry) {
        if (entry.index == index)
            found = std::move(entry);
    });
    return found;
}

ZipReader::~ZipReader() {
    for (auto &key : keys)
        crypto::cleanse(key.second);
}

// Which encryption the entry uses; for WinZip AES its method becomes the real one.
void ZipReader::check_encryption(ZipEntry &entry) const {
    const std::string &name = entry.name;
    const bool encrypted = (entry.flags & zip::flag_encrypted) != 0;
    if (encrypted && (entry.flags & flag_strong_encryption) != 0)
        fail_archive(FailureKind::unsupported,
                     name + " uses PKWARE's strong encryption, which is not supported", name);
    if (entry.method == winzipaes::method) {
        if (!encrypted || entry.aes_version == 0)
            fail_archive(FailureKind::unsupported,
                         name + " uses method 99 without a valid WinZip AES field", name);
        entry.encryption = Encryption::aes;
        entry.method = entry.aes_method;
    } else if (encrypted) {
        entry.encryption = Encryption::zipcrypto;
    }
    if (entry.compressed_size < EntryCipher::header_size(entry) + EntryCipher::trailer_size(entry))
        fail_archive(FailureKind::damaged,
                     "damaged entry " + name + ": too short for its encryption", name);
}

void ZipReader::check_local_header(ZipEntry &entry) const {
    const std::string &name = entry.name;
    if (!can_decode(entry.method))
        fail_archive(FailureKind::unsupported,
                     name + " uses compression method " + method_label(entry.method) +
                         ", which is not supported",
                     name);
    // The local header with room for the name and a usual extra field, in one read.
    std::string local(
        std::min<std::uint64_t>(zip::local_header_size + name.size() + 64,
                                file.size() - std::min(file.size(), entry.header_offset)),
        '\0');
    if (local.size() < zip::local_header_size)
        fail_archive(FailureKind::damaged,
                     "damaged entry " + name + ": its header lies beyond the end of the file",
                     name);
    file.read_at(entry.header_offset, local.data(), local.size());
    const zip::LocalHeader header =
        zip::LocalHeader::read(reinterpret_cast<const unsigned char *>(local.data()));
    if (header.signature != zip::local_header_signature)
        fail_archive(FailureKind::damaged,
                     "damaged entry " + name + ": no local header where the directory says", name);
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
    // Names may differ in encoding only, as each header's own Unicode path field tells.
    const std::string &unicode_name = entry.unicode_name.empty() ? name : entry.unicode_name;
    const bool same_name = local_name == name || (local_fields.unicode_name.empty()
                                                      ? local_name
                                                      : local_fields.unicode_name) == unicode_name;
    const std::uint32_t local_crc = header.common.sizes.crc;
    // With a data descriptor the local header may leave CRC and sizes at zero.
    const bool deferred = (header.common.flags & zip::flag_data_descriptor) != 0;
    const auto differs = [deferred](std::uint64_t local_value, std::uint64_t central_value) {
        return local_value != central_value && !(deferred && local_value == 0);
    };
    if (!same_name || header.common.method != entry.method_field || differs(local_crc, entry.crc) ||
        differs(local_compressed, entry.compressed_size) || differs(local_size, entry.size))
        fail_archive(FailureKind::damaged,
                     "damaged entry " + name +
                         ": its local header disagrees with the central directory",
                     name);
    entry.data_offset = entry.header_offset + wanted;
    if (entry.data_offset > directory_offset ||
        entry.compressed_size > directory_offset - entry.data_offset)
        fail_archive(FailureKind::damaged,
                     "overlapping entries: " + name + " reaches into the central directory", name);
}

// Data ranges sorted by where they begin: each must end before the next begins.
void ZipReader::check_overlaps(std::vector<Extent> extents) const {
    std::sort(extents.begin(), extents.end(),
              [](const Extent &a, const Extent &b) { return a.begin < b.begin; });
    for (std::size_t i = 1; i < extents.size(); ++i) {
        if (extents[i].begin >= extents[i - 1].end)
            continue;
        const std::string before = entry_at(extents[i - 1].index).name;
        const std::string after = entry_at(extents[i].index).name;
        fail_archive(FailureKind::damaged, "overlapping entries: " + before + " and " + after,
                     after);
    }
}

void ZipReader::use_password(const std::string &password) {
    if (encrypted_count == 0)
        return;
    // Entries taken in batches, so what waits for its keys stays small however many there are.
    constexpr std::size_t batch_size = 1024;
    std::vector<ZipEntry> batch;
    const auto open_batch = [&] {
        if (password.empty())
            fail_archive(FailureKind::password_needed,
                         batch[0].name + " is encrypted and no password was given", batch[0].name);
        std::vector<std::string> opened(batch.size());
        // Deriving an entry's keys costs about a millisecond, so it runs on every core.
        try {
            run_in_parallel(batch.size(), [&](std::size_t n) {
                const ZipEntry &entry = batch[n];
                std::vector<unsigned char> header(EntryCipher::header_size(entry));
                file.read_at(entry.data_offset, header.data(), header.size());
                opened[n] = EntryCipher::open(entry, password, header.data());
                if (opened[n].empty())
                    fail_archive(FailureKind::password_wrong, "wrong password for " + entry.name,
                                 entry.name);
            });
        } catch (...) {
            for (std::string &key : opened)
                crypto::cleanse(key);
            throw;
        }
        for (std::size_t n = 0; n < batch.size(); ++n)
            keys.emplace_back(batch[n].index, std::move(opened[n]));
        batch.clear();
    };
    walk([&](ZipEntry &entry) {
        if (entry.encryption == Encryption::none)
            return;
        batch.push_back(std::move(entry));
        if (batch.size() == batch_size)
            open_batch();
    });
    if (!batch.empty())
        open_batch();
}

ZipReader::DataSpan ZipReader::data_of(const ZipEntry &entry) const {
    DataSpan span{entry.data_offset, entry.compressed_size, nullptr};
    if (entry.encryption == Encryption::none)
        return span;
    const auto key = std::lower_bound(keys.begin(), keys.end(), entry.index,
                                      [](const std::pair<std::size_t, std::string> &k,
                                         std::size_t index) { return k.first < index; });
    if (key == keys.end() || key->first != entry.index || key->second.empty())
        fail_archive(FailureKind::password_needed, entry.name + " is encrypted", entry.name);
    span.cipher = std::make_unique<EntryCipher>(entry, key->second);
    span.offset += EntryCipher::header_size(entry);
    span.left -= EntryCipher::header_size(entry) + EntryCipher::trailer_size(entry);
    return span;
}

void ZipReader::fetch_data(DataSpan &span, unsigned char *buffer, std::size_t size) const {
    file.read_at(span.offset, buffer, size);
    span.offset += size;
    span.left -= size;
    if (span.cipher)
        span.cipher->decrypt(buffer, size);
}

// The code covers all the ciphertext, also what a deflate stream left unread.
void ZipReader::check_code(const ZipEntry &entry, DataSpan &span,
                           std::vector<unsigned char> &buffer) const {
    while (span.left > 0)
        fetch_data(span, buffer.data(),
                   static_cast<std::size_t>(std::min<std::uint64_t>(span.left, buffer.size())));
    std::array<unsigned char, winzipaes::code_size> trailer{};
    file.read_at(span.offset, trailer.data(), EntryCipher::trailer_size(entry));
    if (!span.cipher->authentic(trailer.data()))
        fail_archive(FailureKind::damaged,
                     "damaged entry " + entry.name + ": its authentication code does not match",
                     entry.name);
}

void ZipReader::read(const ZipEntry &entry, const Sink &sink) const {
    const std::string &name = entry.name;
    DataSpan span = data_of(entry);
    std::uint64_t produced = 0;
    uLong crc = ::crc32(0, nullptr, 0);
    const Decoder::Output deliver = [&](const unsigned char *data, std::size_t size) {
        if (size > entry.size - produced)
            fail_archive(FailureKind::damaged, name + " holds more than it declares", name);
        produced += size;
        crc = ::crc32_z(crc, data, size);
        sink(data, size);
    };
    if (input.size() < run_size)
        input.resize(run_size);
    try {
        Decoder &decoder = decoders.start(entry.method, entry.flags, span.left, entry.size);
        bool ended = false;
        do {
            const auto part =
                static_cast<std::size_t>(std::min<std::uint64_t>(span.left, run_size));
            fetch_data(span, input.data(), part);
            ended = decoder.decode(input.data(), part, span.left == 0, deliver);
        } while (!ended && span.left > 0);
        if (!ended)
            fail_archive(FailureKind::damaged,
                         "damaged entry " + name + ": its data ends early (wrong size)", name);
    } catch (const DecodeError &error) {
        fail_archive(
            error.kind,
            (error.kind == FailureKind::damaged ? "damaged entry " + name + ": " : name + ": ") +
                error.what(),
            name);
    }
    if (produced != entry.size)
        fail_archive(FailureKind::damaged, name + " is shorter than it declares (wrong size)",
                     name);
    if (span.cipher)
        check_code(entry, span, input);
    // AE-2 stores no CRC: the authentication code stands in for it.
    const bool crc_stored =
        entry.encryption != Encryption::aes || entry.aes_version != winzipaes::ae_2;
    if (crc_stored && crc != entry.crc)
        fail_archive(FailureKind::damaged, "damaged entry " + name + ": CRC mismatch", name);
}

} // namespace zrv
