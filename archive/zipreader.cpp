#include "archive/zipreader.h"

#include "archive/centraldirectory.h"
#include "archive/crypto.h"
#include "archive/entrycipher.h"
#include "archive/extrafields.h"
#include "archive/failure.h"
#include "archive/winzipaes.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <exception>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace zrv {

namespace {

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

} // namespace

ZipReader::ZipReader(int fd, const std::string &path) : file(fd, path), directory(file) {
    // Every local header is checked before anything is written; only what later walks and the
    // overlap check need is kept.
    std::vector<Extent> extents;
    directory.walk([&](ZipEntry &entry) {
        check_local_header(entry);
        directory.keep_data_offset(entry.data_offset);
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

void ZipReader::for_each(const std::function<void(const ZipEntry &entry)> &visit) const {
    directory.walk(visit);
}

ZipReader::~ZipReader() {
    for (auto &key : keys)
        crypto::cleanse(key.second);
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
    if (entry.data_offset > directory.offset() ||
        entry.compressed_size > directory.offset() - entry.data_offset)
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
        const std::string before = directory.entry_at(extents[i - 1].index).name;
        const std::string after = directory.entry_at(extents[i].index).name;
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
    directory.walk([&](ZipEntry &entry) {
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
