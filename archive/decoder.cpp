#include "archive/decoder.h"

#include "archive/zipformat.h"

#include <bzlib.h>
#include <lzma.h>
#include <zlib.h>
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <cstring>

namespace zrv {

namespace {

// The most memory an XZ stream may take, and the largest LZMA dictionary and Zstandard window:
// what xz -9 and zstd -19 need, with room to spare.
constexpr std::uint64_t memory_limit = std::uint64_t{128} << 20;
constexpr int zstd_window_log = 27;

[[noreturn]] void out_of_memory() {
    throw DecodeError(FailureKind::other, "out of memory");
}

class Stored : public Decoder {
public:
    void start(std::uint16_t, std::uint64_t compressed_size, std::uint64_t size) override {
        if (compressed_size != size)
            throw DecodeError(FailureKind::damaged, "wrong size for a stored entry");
    }
    bool decode(const unsigned char *data, std::size_t size, bool last,
                const Output &output) override {
        if (size > 0)
            output(data, size);
        return last;
    }
};

class Inflate : public Decoder {
public:
    explicit Inflate(std::vector<unsigned char> &buffer) : buffer(buffer) {
        if (::inflateInit2(&stream, -MAX_WBITS) != Z_OK)
            out_of_memory();
    }
    ~Inflate() override { ::inflateEnd(&stream); }

    void start(std::uint16_t, std::uint64_t, std::uint64_t) override { ::inflateReset(&stream); }

    bool decode(const unsigned char *data, std::size_t size, bool, const Output &output) override {
        stream.next_in = const_cast<Bytef *>(data);
        stream.avail_in = static_cast<uInt>(size);
        for (;;) {
            stream.next_out = buffer.data();
            stream.avail_out = static_cast<uInt>(buffer.size());
            const int status = ::inflate(&stream, Z_NO_FLUSH);
            if (status == Z_MEM_ERROR)
                out_of_memory();
            if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR)
                throw DecodeError(FailureKind::damaged,
                                  stream.msg != nullptr ? stream.msg : "invalid deflate data");
            if (stream.avail_out != buffer.size())
                output(buffer.data(), buffer.size() - stream.avail_out);
            if (status == Z_STREAM_END)
                return true;
            // Room left in the buffer: everything the input gives is out.
            if (stream.avail_in == 0 && (stream.avail_out != 0 || status == Z_BUF_ERROR))
                return false;
        }
    }

private:
    std::vector<unsigned char> &buffer;
    z_stream stream{};
};

class Bunzip2 : public Decoder {
public:
    explicit Bunzip2(std::vector<unsigned char> &buffer) : buffer(buffer) {}
    ~Bunzip2() override { close(); }

    // libbz2 has no reset: each entry gets a stream of its own.
    void start(std::uint16_t, std::uint64_t, std::uint64_t) override {
        close();
        stream = bz_stream{};
        if (::BZ2_bzDecompressInit(&stream, 0, 0) != BZ_OK)
            out_of_memory();
        open = true;
    }

    bool decode(const unsigned char *data, std::size_t size, bool, const Output &output) override {
        stream.next_in = reinterpret_cast<char *>(const_cast<unsigned char *>(data));
        stream.avail_in = static_cast<unsigned>(size);
        for (;;) {
            stream.next_out = reinterpret_cast<char *>(buffer.data());
            stream.avail_out = static_cast<unsigned>(buffer.size());
            const int status = ::BZ2_bzDecompress(&stream);
            if (status == BZ_MEM_ERROR)
                out_of_memory();
            if (status != BZ_OK && status != BZ_STREAM_END)
                throw DecodeError(FailureKind::damaged, "invalid bzip2 data");
            if (stream.avail_out != buffer.size())
                output(buffer.data(), buffer.size() - stream.avail_out);
            if (status == BZ_STREAM_END)
                return true;
            if (stream.avail_in == 0 && stream.avail_out != 0)
                return false;
        }
    }

private:
    void close() {
        if (open)
            ::BZ2_bzDecompressEnd(&stream);
        open = false;
    }

    std::vector<unsigned char> &buffer;
    bz_stream stream{};
    bool open = false;
};

// XZ streams, and ZIP's LZMA: a header of its own (version, properties size, the five bytes of
// LZMA properties), then raw LZMA, with an end marker where flag bit 1 says so.
class Unxz : public Decoder {
public:
    Unxz(std::vector<unsigned char> &buffer, bool zip_lzma) : buffer(buffer), zip_lzma(zip_lzma) {}
    ~Unxz() override { ::lzma_end(&stream); }

    void start(std::uint16_t flags, std::uint64_t, std::uint64_t size) override {
        if (zip_lzma) {
            header_size = 0;
            end_marker = (flags & zip::flag_lzma_end_marker) != 0;
            entry_size = size;
        } else {
            // liblzma reuses the stream's memory from the entry before.
            check(::lzma_stream_decoder(&stream, memory_limit, LZMA_CONCATENATED));
        }
    }

    bool decode(const unsigned char *data, std::size_t size, bool last,
                const Output &output) override {
        if (zip_lzma && header_size < sizeof header) {
            const std::size_t part = std::min(size, sizeof header - header_size);
            std::memcpy(header + header_size, data, part);
            header_size += part;
            data += part;
            size -= part;
            if (header_size < sizeof header)
                return false;
            start_raw();
        }
        stream.next_in = data;
        stream.avail_in = size;
        const lzma_action action = last ? LZMA_FINISH : LZMA_RUN;
        for (;;) {
            stream.next_out = buffer.data();
            stream.avail_out = buffer.size();
            const lzma_ret status = ::lzma_code(&stream, action);
            if (status == LZMA_BUF_ERROR)
                return false; // cut short: no progress without more data
            check(status);
            if (stream.avail_out != buffer.size())
                output(buffer.data(), buffer.size() - stream.avail_out);
            if (status == LZMA_STREAM_END)
                return true;
            if (stream.avail_in == 0 && stream.avail_out != 0 && !last)
                return false;
        }
    }

private:
    void start_raw() {
        if (zip::get16(header + 2) != 5 || header[4] >= 9 * 5 * 5)
            throw DecodeError(FailureKind::damaged, "invalid LZMA header");
        options = lzma_options_lzma{};
        options.lc = header[4] % 9;
        options.lp = header[4] / 9 % 5;
        options.pb = header[4] / 45;
        // Matches reach back no further than the entry's start: a larger dictionary is never
        // used, and the entry may not grow past its declared size.
        options.dict_size = static_cast<std::uint32_t>(std::min<std::uint64_t>(
            zip::get32(header + 5), std::max<std::uint64_t>(entry_size, LZMA_DICT_SIZE_MIN)));
        if (options.dict_size > memory_limit)
            throw DecodeError(FailureKind::unsupported, "its LZMA dictionary exceeds 128 MiB");
        options.ext_flags = end_marker ? LZMA_LZMA1EXT_ALLOW_EOPM : 0;
        options.ext_size_low = static_cast<std::uint32_t>(entry_size);
        options.ext_size_high = static_cast<std::uint32_t>(entry_size >> 32);
        const lzma_filter filters[] = {{LZMA_FILTER_LZMA1EXT, &options},
                                       {LZMA_VLI_UNKNOWN, nullptr}};
        check(::lzma_raw_decoder(&stream, filters));
    }

    void check(lzma_ret status) const {
        switch (status) {
        case LZMA_OK:
        case LZMA_STREAM_END:
            return;
        case LZMA_MEM_ERROR:
            out_of_memory();
        case LZMA_MEMLIMIT_ERROR:
            throw DecodeError(FailureKind::unsupported, "decoding it takes more than 128 MiB");
        case LZMA_OPTIONS_ERROR:
            throw DecodeError(FailureKind::unsupported,
                              zip_lzma ? "it uses LZMA options that are not supported"
                                       : "it uses XZ options that are not supported");
        default:
            throw DecodeError(FailureKind::damaged,
                              zip_lzma ? "invalid LZMA data" : "invalid XZ data");
        }
    }

    std::vector<unsigned char> &buffer;
    const bool zip_lzma;
    lzma_stream stream = LZMA_STREAM_INIT;
    unsigned char header[9] = {};
    std::size_t header_size = 0;
    bool end_marker = false;
    std::uint64_t entry_size = 0;
    lzma_options_lzma options{};
};

// One Zstandard frame or several, one after the other.
class Unzstd : public Decoder {
public:
    explicit Unzstd(std::vector<unsigned char> &buffer)
        : buffer(buffer), context(::ZSTD_createDCtx()) {
        if (context == nullptr ||
            ::ZSTD_isError(::ZSTD_DCtx_setParameter(context, ZSTD_d_windowLogMax, zstd_window_log)))
            out_of_memory();
    }
    ~Unzstd() override { ::ZSTD_freeDCtx(context); }

    void start(std::uint16_t, std::uint64_t, std::uint64_t) override {
        ::ZSTD_DCtx_reset(context, ZSTD_reset_session_only);
        frame_open = true; // the data holds at least one frame
    }

    bool decode(const unsigned char *data, std::size_t size, bool last,
                const Output &output) override {
        ZSTD_inBuffer in{data, size, 0};
        for (;;) {
            ZSTD_outBuffer out{buffer.data(), buffer.size(), 0};
            const std::size_t status = ::ZSTD_decompressStream(context, &out, &in);
            if (::ZSTD_isError(status)) {
                if (::ZSTD_getErrorCode(status) == ZSTD_error_frameParameter_windowTooLarge)
                    throw DecodeError(FailureKind::unsupported,
                                      "its Zstandard window exceeds 128 MiB");
                if (::ZSTD_getErrorCode(status) == ZSTD_error_memory_allocation)
                    out_of_memory();
                throw DecodeError(FailureKind::damaged, std::string("invalid Zstandard data: ") +
                                                            ::ZSTD_getErrorName(status));
            }
            frame_open = status != 0;
            if (out.pos > 0)
                output(buffer.data(), out.pos);
            if (in.pos == in.size && out.pos < out.size)
                return last && !frame_open;
        }
    }

private:
    std::vector<unsigned char> &buffer;
    ZSTD_DCtx *context;
    bool frame_open = true;
};

} // namespace

bool can_decode(std::uint16_t method) {
    switch (method) {
    case zip::method_stored:
    case zip::method_deflated:
    case zip::method_bzip2:
    case zip::method_lzma:
    case zip::method_zstd:
    case zip::method_xz:
        return true;
    default:
        return false;
    }
}

std::string method_label(std::uint16_t method) {
    const std::string number = std::to_string(method);
    switch (method) {
    case 1:
        return number + " (Shrink)";
    case 6:
        return number + " (Implode)";
    case zip::method_deflate64:
        return number + " (Deflate64)";
    case zip::method_ppmd:
        return number + " (PPMd)";
    default:
        return number;
    }
}

Decoders::Decoders() = default;
Decoders::~Decoders() = default;

Decoder &Decoders::start(std::uint16_t method, std::uint16_t flags, std::uint64_t compressed_size,
                         std::uint64_t size) {
    auto found = std::find_if(made.begin(), made.end(),
                              [method](const auto &pair) { return pair.first == method; });
    if (found == made.end()) {
        if (method != zip::method_stored)
            output.resize(run_size);
        std::unique_ptr<Decoder> decoder;
        switch (method) {
        case zip::method_deflated:
            decoder = std::make_unique<Inflate>(output);
            break;
        case zip::method_bzip2:
            decoder = std::make_unique<Bunzip2>(output);
            break;
        case zip::method_lzma:
        case zip::method_xz:
            decoder = std::make_unique<Unxz>(output, method == zip::method_lzma);
            break;
        case zip::method_zstd:
            decoder = std::make_unique<Unzstd>(output);
            break;
        default:
            decoder = std::make_unique<Stored>();
            break;
        }
        made.emplace_back(method, std::move(decoder));
        found = made.end() - 1;
    }
    found->second->start(flags, compressed_size, size);
    return *found->second;
}

} // namespace zrv
