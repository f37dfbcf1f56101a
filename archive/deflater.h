// One compression worker's tools: libdeflate for entries that fit in memory whole, zlib for
// the pieces of a longer entry, which are compressed apart and joined into one stream.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <vector>

struct libdeflate_compressor;

namespace zrv {

std::uint32_t crc32_of(const unsigned char *data, std::size_t size);
// The CRC of two pieces one after the other, from the CRCs of each.
std::uint32_t crc32_joined(std::uint32_t first, std::uint32_t second, std::uint64_t second_size);

class Deflater {
public:
    Deflater();
    ~Deflater();
    Deflater(const Deflater &) = delete;
    Deflater &operator=(const Deflater &) = delete;

    // Compresses a whole entry into `out`; false when that would not make it smaller.
    bool compress_whole(const unsigned char *data, std::size_t size,
                        std::vector<unsigned char> &out);

    // Whether deflating is worth it for data like `sample`: it shrinks by a few percent at least.
    bool worth_deflating(const unsigned char *sample, std::size_t size);

    // Compresses one piece of a longer entry. `history` is the end of the previous piece, which
    // the piece may refer back to; every piece but the last ends on a byte boundary, so the
    // pieces' outputs joined in order are one deflate stream. A piece that does not compress
    // goes into the stream as stored blocks, at the cost of a copy.
    void compress_piece(const unsigned char *history, std::size_t history_size,
                        const unsigned char *data, std::size_t size, bool last,
                        std::vector<unsigned char> &out);

private:
    void store_piece(const unsigned char *data, std::size_t size, bool last,
                     std::vector<unsigned char> &out);

    libdeflate_compressor *whole = nullptr;
    std::vector<unsigned char> scratch;
    z_stream stream{};
};

} // namespace zrv
