// Writes a ZIP file entry by entry from data that is already compressed (or stored), so that
// compression can run elsewhere, in parallel. Names are UTF-8 with the UTF-8 flag; Unix modes,
// times and ZIP64 fields are written where they apply.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <memory>
#include <string>

namespace zrv {

enum class Method { stored, deflated };

struct EntryHeader {
    std::string name; // folders end with "/"
    mode_t mode;      // file type and permission bits
    std::int64_t mtime;
    std::uint64_t size; // uncompressed
};

class ZipWriter {
public:
    // Writes to the open, empty, seekable file `fd`; `path` names it in error messages.
    ZipWriter(int fd, const std::string &path);
    ~ZipWriter();
    ZipWriter(const ZipWriter &) = delete;
    ZipWriter &operator=(const ZipWriter &) = delete;

    void begin_entry(const EntryHeader &header, Method method);
    void write(const unsigned char *data, std::size_t size);
    void end_entry(std::uint64_t size, std::uint32_t crc);
    // Writes the central directory. The file is complete when this returns.
    void close();

    // The archive file as minizip's I/O callbacks see it; public only so they can name it.
    struct Output;

private:
    [[noreturn]] void fail_write(const char *what) const;

    std::unique_ptr<Output> output;
    std::string path;
    void *zip = nullptr;
};

} // namespace zrv
