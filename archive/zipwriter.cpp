#include "archive/zipwriter.h"

#include "archive/failure.h"

#include <minizip/zip.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <ctime>

namespace zrv {

namespace {

constexpr uLong version_made_by_unix = (3 << 8) | 30;
constexpr uLong utf8_name_flag = 0x800;
constexpr std::uint64_t zip64_threshold = 0xF0000000ULL;
constexpr uLong msdos_folder_attribute = 0x10;

// minizip reaches the archive only through these, on the descriptor the caller opened.
voidpf ZCALLBACK open_descriptor(voidpf opaque, const void *, int) {
    return opaque;
}

uLong ZCALLBACK read_descriptor(voidpf, voidpf stream, void *buffer, uLong size) {
    const ssize_t got = ::read(*static_cast<int *>(stream), buffer, size);
    return got < 0 ? 0 : static_cast<uLong>(got);
}

uLong ZCALLBACK write_descriptor(voidpf, voidpf stream, const void *buffer, uLong size) {
    const char *data = static_cast<const char *>(buffer);
    uLong left = size;
    while (left > 0) {
        const ssize_t done = ::write(*static_cast<int *>(stream), data, left);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return size - left;
        data += done;
        left -= static_cast<uLong>(done);
    }
    return size;
}

ZPOS64_T ZCALLBACK tell_descriptor(voidpf, voidpf stream) {
    const off_t position = ::lseek(*static_cast<int *>(stream), 0, SEEK_CUR);
    return position < 0 ? static_cast<ZPOS64_T>(-1) : static_cast<ZPOS64_T>(position);
}

long ZCALLBACK seek_descriptor(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    const int whence = origin == ZLIB_FILEFUNC_SEEK_SET   ? SEEK_SET
                       : origin == ZLIB_FILEFUNC_SEEK_CUR ? SEEK_CUR
                                                          : SEEK_END;
    return ::lseek(*static_cast<int *>(stream), static_cast<off_t>(offset), whence) < 0 ? -1 : 0;
}

int ZCALLBACK close_descriptor(voidpf, voidpf) {
    return 0;
}

int ZCALLBACK descriptor_error(voidpf, voidpf) {
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

ZipWriter::ZipWriter(int fd, const std::string &path) : fd(fd), path(path) {
    zlib_filefunc64_def io{};
    io.zopen64_file = open_descriptor;
    io.zread_file = read_descriptor;
    io.zwrite_file = write_descriptor;
    io.ztell64_file = tell_descriptor;
    io.zseek64_file = seek_descriptor;
    io.zclose_file = close_descriptor;
    io.zerror_file = descriptor_error;
    io.opaque = &this->fd;
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
