// The compression methods the reader reads, each behind one small interface: stored, deflate,
// bzip2, LZMA, XZ and Zstandard. A decoder is made on an archive's first entry of its method and
// reused for the later ones, so starting an entry allocates nothing.
#pragma once

#include "archive/failure.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace zrv {

// The most compressed data a decoder is given at once, and the most it hands on at once.
constexpr std::size_t run_size = 256 << 10;

// What a decoder finds wrong with an entry's data (damaged), or what it will not decode
// (unsupported: more memory than it allows); the reader words it with the entry's name.
class DecodeError : public std::runtime_error {
public:
    DecodeError(FailureKind kind, const std::string &what) : std::runtime_error(what), kind(kind) {}
    FailureKind kind;
};

class Decoder {
public:
    using Output = std::function<void(const unsigned char *data, std::size_t size)>;
    virtual ~Decoder() = default;
    // Readies the decoder for one entry: its general-purpose flags and declared sizes.
    virtual void start(std::uint16_t flags, std::uint64_t compressed_size, std::uint64_t size) = 0;
    // Decodes the next run of the entry's data, `last` when no more follows, and hands what it
    // makes to `output` in runs of up to run_size. True once the compressed stream has ended;
    // false while it wants more data.
    virtual bool decode(const unsigned char *data, std::size_t size, bool last,
                        const Output &output) = 0;
};

bool can_decode(std::uint16_t method);
// The method's number, with the name of a method that is known but not read: "98 (PPMd)".
std::string method_label(std::uint16_t method);

// One decoder per method, made on first use; they share one output buffer, so one entry is
// decoded at a time.
class Decoders {
public:
    Decoders();
    ~Decoders();
    Decoders(const Decoders &) = delete;
    Decoders &operator=(const Decoders &) = delete;

    // The method's decoder, started for an entry; the method is one can_decode() takes.
    Decoder &start(std::uint16_t method, std::uint16_t flags, std::uint64_t compressed_size,
                   std::uint64_t size);

private:
    std::vector<std::pair<std::uint16_t, std::unique_ptr<Decoder>>> made;
    std::vector<unsigned char> output;
};

} // namespace zrv
