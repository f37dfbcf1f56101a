#include "archive/deflater.h"

#include "archive/failure.h"

#include <libdeflate.h>

#include <algorithm>
#include <new>

namespace zrv {

namespace {

constexpr int level = 6;
// How much of a piece is tried to decide whether it compresses.
constexpr std::size_t piece_sample_size = 16 << 10;
constexpr std::size_t max_stored_block = 65535;

} // namespace

std::uint32_t crc32_of(const unsigned char *data, std::size_t size) {
    return libdeflate_crc32(0, data, size);
}

std::uint32_t crc32_joined(std::uint32_t first, std::uint32_t second, std::uint64_t second_size) {
    return static_cast<std::uint32_t>(
        crc32_combine64(first, second, static_cast<z_off64_t>(second_size)));
}

Deflater::Deflater() : whole(libdeflate_alloc_compressor(level)) {
    if (whole == nullptr ||
        deflateInit2(&stream, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        libdeflate_free_compressor(whole);
        throw std::bad_alloc();
    }
}

Deflater::~Deflater() {
    deflateEnd(&stream);
    libdeflate_free_compressor(whole);
}

bool Deflater::compress_whole(const unsigned char *data, std::size_t size,
                              std::vector<unsigned char> &out) {
    // Only an output smaller than the input is worth having, so the buffer stops there.
    out.resize(size > 0 ? size - 1 : 0);
    if (out.empty())
        return false;
    const std::size_t written =
        libdeflate_deflate_compress(whole, data, size, out.data(), out.size());
    out.resize(written);
    return written > 0;
}

bool Deflater::worth_deflating(const unsigned char *sample, std::size_t size) {
    return compress_whole(sample, size, scratch) && scratch.size() < size - size / 32;
}

void Deflater::store_piece(const unsigned char *data, std::size_t size, bool last,
                           std::vector<unsigned char> &out) {
    out.clear();
    out.reserve(size + (size / max_stored_block + 1) * 5);
    std::size_t offset = 0;
    do {
        const std::size_t length = std::min(max_stored_block, size - offset);
        const bool final_block = last && offset + length == size;
        // A stored block: its header bits (final flag, type 00) padded to a byte, then the
        // length and its complement.
        out.push_back(final_block ? 1 : 0);
        out.push_back(static_cast<unsigned char>(length));
        out.push_back(static_cast<unsigned char>(length >> 8));
        out.push_back(static_cast<unsigned char>(~length));
        out.push_back(static_cast<unsigned char>(~length >> 8));
        out.insert(out.end(), data + offset, data + offset + length);
        offset += length;
    } while (offset < size);
}

void Deflater::compress_piece(const unsigned char *history, std::size_t history_size,
                              const unsigned char *data, std::size_t size, bool last,
                              std::vector<unsigned char> &out) {
    if (!worth_deflating(data, std::min(size, piece_sample_size))) {
        store_piece(data, size, last, out);
        return;
    }
    if (deflateReset(&stream) != Z_OK ||
        (history_size > 0 &&
         deflateSetDictionary(&stream, history, static_cast<uInt>(history_size)) != Z_OK))
        fail(FailureKind::other, "cannot compress: zlib refused its input");
    out.resize(deflateBound(&stream, static_cast<uLong>(size)) + 16);
    stream.next_in = const_cast<unsigned char *>(data);
    stream.avail_in = static_cast<uInt>(size);
    std::size_t produced = 0;
    for (;;) {
        stream.next_out = out.data() + produced;
        stream.avail_out = static_cast<uInt>(out.size() - produced);
        const int status = deflate(&stream, last ? Z_FINISH : Z_SYNC_FLUSH);
        produced = out.size() - stream.avail_out;
        if (status == Z_STREAM_END || (!last && status == Z_OK && stream.avail_out > 0))
            break;
        if (status != Z_OK && status != Z_BUF_ERROR)
            fail(FailureKind::other, "cannot compress: zlib failed");
        out.resize(out.size() * 2);
    }
    out.resize(produced);
}

} // namespace zrv
