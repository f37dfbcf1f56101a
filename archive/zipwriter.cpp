#include "archive/zipwriter.h"

#include "archive/failure.h"

#include <minizip/zip.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <ctime>
#include <memory>
#include <vector>

namespace zrv {

namespace {

constexpr uLong version_made_by_unix = (3 << 8) | 30;
constexpr uLong utf8_name_flag = 0x800;
constexpr std::uint64_t zip64_threshold = 0xF0000000ULL;
constexpr uLong msdos_folder_attribute = 0x10;

} // namespace

// minizip writes a header a field at a time and goes back to patch each entry's local header,
// so its writes are gathered here and reach the file in large runs: one system call per
// megabyte or so instead of a dozen per entry. A patch of bytes still gathered is made in
// memory; any other goes to the file.
struct ZipWriter::Output {
    static constexpr std::size_t flush_size = 1 << 20;

    int fd;
    std::uint64_t position = 0; // where minizip's next write goes
    std::uint64_t end = 0;      // the length of the file as minizip sees it
    std::uint64_t gathered_at = 0;
    std::vector<unsigned char> gathered;

    bool flush() {
        std::size_t done = 0;
        while (done < gathered.size()) {
            const ssize_t written = ::pwrite(fd, gathered.data() + done, gathered.size() - done,
                                             static_cast<off_t>(gathered_at + done));
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0) {
                if (written == 0)
                    errno = EIO;
                return false;
            }
            done += static_cast<std::size_t>(written);
        }
        gathered_at += gathered.size();
        gathered.clear();
        return true;
    }

    bool write(const unsigned char *data, std::size_t size) {
        if (position < gathered_at || position > gathered_at + gathered.size()) {
            if (!flush())
                return false;
            gathered_at = position;
        }
        const std::size_t offset = static_cast<std::size_t>(position - gathered_at);
        const std::size_t overwritten = std::min(size, gathered.size() - offset);
        std::copy(data, data + overwritten, gathered.begin() + static_cast<std::ptrdiff_t>(offset));
        gathered.insert(gathered.end(), data + overwritten, data + size);
        position += size;
        end = std::max(end, position);
        return gathered.size() < flush_size || flush();
    }
};

namespace {

using Output = ZipWriter::Output;

voidpf ZCALLBACK open_output(voidpf opaque, const void *, int) {
    return opaque;
}

// The archive is only ever written, never read back.
uLong ZCALLBACK read_output(voidpf, voidpf, void *, uLong) {
    errno = EBADF;
    return 0;
}

uLong ZCALLBACK write_output(voidpf, voidpf stream, const void *buffer, uLong size) {
    return static_cast<Output *>(stream)->write(static_cast<const unsigned char *>(buffer), size)
               ? size
               : 0;
}

ZPOS64_T ZCALLBACK tell_output(voidpf, voidpf stream) {
    return static_cast<Output *>(stream)->position;
}

long ZCALLBACK seek_output(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    Output &output = *static_cast<Output *>(stream);
    const std::uint64_t base = origin == ZLIB_FILEFUNC_SEEK_SET   ? 0
                               : origin == ZLIB_FILEFUNC_SEEK_CUR ? output.position
                                                                  : output.end;
    output.position = base + offset;
    return 0;
}

int ZCALLBACK close_output(voidpf, voidpf stream) {
    return static_cast<Output *>(stream)->flush() ? 0 : -1;
}

int ZCALLBACK output_error(voidpf, voidpf) {
    return 0;
}

// The extended timestamp field: the modification time in UTC seconds, which DOS times in
// local time and two-second steps cannot carry.
void put_timestamp(unsigned char (&field)[9], std::int64_t mtime) {
    const auto seconds =
        static_cast<std::uint32_t>(mtime < 0 ? 0 : (mtime > INT32_MAX ? INT32_MAX : mtime));
    field[0] = 0x55;
    field[1] = 0x54;
    field[2] = 5;
    field[3] = 0;
    field[4] = 1;
    for (int i = 0; i < 4; ++i)
        field[5 + i] = static_cast<unsigned char>(seconds >> (8 * i));
}

} // namespace

ZipWriter::ZipWriter(int fd, const std::string &path)
    : output(std::make_unique<Output>()), path(path) {
    output->fd = fd;
    zlib_filefunc64_def io{};
    io.zopen64_file = open_output;
    io.zread_file = read_output;
    io.zwrite_file = write_output;
    io.ztell64_file = tell_output;
    io.zseek64_file = seek_output;
    io.zclose_file = close_output;
    io.zerror_file = output_error;
    io.opaque = output.get();
    zip = zipOpen2_64(path.c_str(), APPEND_STATUS_CREATE, nullptr, &io);
    if (zip == nullptr)
        fail_write("cannot write archive");
}

ZipWriter::~ZipWriter() {
    if (zip != nullptr)
        zipClose(zip, nullptr);
}

void ZipWriter::fail_write(const char *what) const {
    if (errno == 0)
        errno = EIO;
    fail_errno(what, path);
}

void ZipWriter::begin_entry(const EntryHeader &header, Method method) {
    zip_fileinfo info{};
    const std::time_t mtime = static_cast<std::time_t>(header.mtime);
    struct tm local {};
    if (::localtime_r(&mtime, &local) != nullptr) {
        info.tmz_date.tm_sec = static_cast<uInt>(local.tm_sec);
        info.tmz_date.tm_min = static_cast<uInt>(local.tm_min);
        info.tmz_date.tm_hour = static_cast<uInt>(local.tm_hour);
        info.tmz_date.tm_mday = static_cast<uInt>(local.tm_mday);
        info.tmz_date.tm_mon = static_cast<uInt>(local.tm_mon);
        info.tmz_date.tm_year = static_cast<uInt>(local.tm_year + 1900);
    }
    info.external_fa = static_cast<uLong>(header.mode) << 16;
    if (S_ISDIR(header.mode))
        info.external_fa |= msdos_folder_attribute;

    unsigned char timestamp[9];
    put_timestamp(timestamp, header.mtime);
    errno = 0;
    const int status = zipOpenNewFileInZip4_64(
        zip, header.name.c_str(), &info, timestamp, sizeof timestamp, timestamp, sizeof timestamp,
        nullptr, method == Method::deflated ? Z_DEFLATED : 0, Z_DEFAULT_COMPRESSION, 1, -MAX_WBITS,
        DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0, version_made_by_unix, utf8_name_flag,
        header.size >= zip64_threshold ? 1 : 0);
    if (status != ZIP_OK)
        fail_write("cannot write archive");
}

void ZipWriter::write(const unsigned char *data, std::size_t size) {
    while (size > 0) {
        const auto part = static_cast<unsigned>(std::min<std::size_t>(size, 1u << 30));
        errno = 0;
        if (zipWriteInFileInZip(zip, data, part) != ZIP_OK)
            fail_write("cannot write archive");
        data += part;
        size -= part;
    }
}

void ZipWriter::end_entry(std::uint64_t size, std::uint32_t crc) {
    errno = 0;
    if (zipCloseFileInZipRaw64(zip, size, crc) != ZIP_OK)
        fail_write("cannot write archive");
}

void ZipWriter::close() {
    errno = 0;
    void *closing = zip;
    zip = nullptr;
    if (zipClose(closing, nullptr) != ZIP_OK)
        fail_write("cannot write archive");
}

} // namespace zrv
