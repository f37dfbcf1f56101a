#include "archive/entrystream.h"

#include "archive/archivefile.h"
#include "archive/entrycipher.h"
#include "archive/entrykeys.h"
#include "archive/winzipaes.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <string>

namespace zrv {

EntryStream::DataSpan EntryStream::data_of(const ZipEntry &entry) const {
    DataSpan span{entry.data_offset, entry.compressed_size, nullptr};
    if (entry.encryption == Encryption::none)
        return span;
    span.cipher = std::make_unique<EntryCipher>(entry, keys.of(entry));
    span.offset += EntryCipher::header_size(entry);
    span.left -= EntryCipher::header_size(entry) + EntryCipher::trailer_size(entry);
    return span;
}

void EntryStream::fetch_data(DataSpan &span, unsigned char *buffer, std::size_t size) const {
    file.read_at(span.offset, buffer, size);
    span.offset += size;
    span.left -= size;
    if (span.cipher)
        span.cipher->decrypt(buffer, size);
}

// The code covers all the ciphertext, also what a deflate stream left unread.
void EntryStream::check_code(const ZipEntry &entry, DataSpan &span) {
    while (span.left > 0)
        fetch_data(span, input.data(),
                   static_cast<std::size_t>(std::min<std::uint64_t>(span.left, input.size())));
    std::array<unsigned char, winzipaes::code_size> trailer{};
    file.read_at(span.offset, trailer.data(), EntryCipher::trailer_size(entry));
    if (!span.cipher->authentic(trailer.data()))
        file.fail_archive(
            FailureKind::damaged,
            "damaged entry " + entry.name + ": its authentication code does not match", entry.name);
}

void EntryStream::read(const ZipEntry &entry, const Sink &sink) {
    const std::string &name = entry.name;
    DataSpan span = data_of(entry);
    std::uint64_t produced = 0;
    uLong crc = ::crc32(0, nullptr, 0);
    const Decoder::Output deliver = [&](const unsigned char *data, std::size_t size) {
        if (size > entry.size - produced)
            file.fail_archive(FailureKind::damaged, name + " holds more than it declares", name);
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
            file.fail_archive(FailureKind::damaged,
                              "damaged entry " + name + ": its data ends early (wrong size)", name);
    } catch (const DecodeError &error) {
        file.fail_archive(
            error.kind,
            (error.kind == FailureKind::damaged ? "damaged entry " + name + ": " : name + ": ") +
                error.what(),
            name);
    }
    if (produced != entry.size)
        file.fail_archive(FailureKind::damaged, name + " is shorter than it declares (wrong size)",
                          name);
    if (span.cipher)
        check_code(entry, span);
    // AE-2 stores no CRC: the authentication code stands in for it.
    const bool crc_stored =
        entry.encryption != Encryption::aes || entry.aes_version != winzipaes::ae_2;
    if (crc_stored && crc != entry.crc)
        file.fail_archive(FailureKind::damaged, "damaged entry " + name + ": CRC mismatch", name);
}

} // namespace zrv
