#include "archive/zrv_archive.h"

#include "archive/failure.h"
#include "archive/names.h"
#include "archive/pack.h"
#include "archive/platform.h"
#include "archive/unpack.h"

#include <cctype>
#include <cstdio>
#include <exception>
#include <string>

namespace {

// Runs one call of the component: every failure becomes one line on standard error and 0.
template <typename Work> int report_outcome(Work &&work) {
    try {
        work();
        return 1;
    } catch (const std::exception &error) {
        // One line, whatever a name in it holds: control characters are escaped.
        std::string message = error.what();
        while (!message.empty() && std::isspace(static_cast<unsigned char>(message.back())))
            message.pop_back();
        std::fprintf(stderr, "zrv: %s\n", zrv::escaped(message).c_str());
    } catch (...) {
        std::fprintf(stderr, "zrv: unexpected failure\n");
    }
    std::fflush(stderr);
    return 0;
}

std::string text_or_empty(const wchar_t *text) {
    return text == nullptr ? std::string() : zrv::utf8_from_wide(text);
}

} // namespace

extern "C" int ZWZipCompress_t(const wchar_t *file_list, const wchar_t *folder_list,
                               const wchar_t *archive_path, int flag) {
    return report_outcome([&] {
        const std::string archive = text_or_empty(archive_path);
        if (archive.empty())
            zrv::fail("cannot pack: no archive path");
        zrv::pack(zrv::split_path_list(text_or_empty(file_list)),
                  zrv::split_path_list(text_or_empty(folder_list)), archive,
                  flag != 0 ? zrv::Compression::deflate : zrv::Compression::stored);
    });
}

extern "C" int ZWZipExtract(const wchar_t *archive_path, const wchar_t *target_folder) {
    return report_outcome([&] {
        const std::string archive = text_or_empty(archive_path);
        const std::string target = text_or_empty(target_folder);
        if (archive.empty() || target.empty())
            zrv::fail("cannot unpack: no archive or target folder");
        zrv::unpack(archive, target);
    });
}
