// The data path: reads an entry's data from the archive, decrypts it where it is encrypted,
// decodes it and hands it on, checking it on the way. Of the reader's guards it enforces those
// made while an entry is read: data beyond its declared size, short data, a wrong CRC and a
// wrong authentication code (read, check_code); the decoders refuse what needs too much memory.
#pragma once

#include "archive/decoder.h"
#include "archive/zipentry.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace zrv {

class ArchiveFile;
class EntryCipher;
class EntryKeys;

class EntryStream {
public:
    using Sink = std::function<void(const unsigned char *data, std::size_t size)>;

    EntryStream(const ArchiveFile &file, const EntryKeys &keys) : file(file), keys(keys) {}
    EntryStream(const EntryStream &) = delete;
    EntryStream &operator=(const EntryStream &) = delete;

    // Hands the entry's data, decoded where needed, to `sink` in runs of up to run_size. One
    // entry at a time: the input buffer and the decoders are reused from entry to entry.
    void read(const ZipEntry &entry, const Sink &sink);

private:
    // Where an entry's compressed data lies, and the cipher that decrypts it, if any.
    struct DataSpan {
        std::uint64_t offset;
        std::uint64_t left;
        std::unique_ptr<EntryCipher> cipher;
    };
    DataSpan data_of(const ZipEntry &entry) const;
    void fetch_data(DataSpan &span, unsigned char *buffer, std::size_t size) const;
    void check_code(const ZipEntry &entry, DataSpan &span);

    const ArchiveFile &file;
    const EntryKeys &keys;
    std::vector<unsigned char> input;
    Decoders decoders;
};

} // namespace zrv
