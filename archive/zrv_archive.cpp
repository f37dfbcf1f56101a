#include "archive/zrv_archive.h"

#include "archive/crypto.h"
#include "archive/failure.h"
#include "archive/names.h"
#include "archive/pack.h"
#include "archive/platform.h"
#include "archive/progress.h"
#include "archive/unpack.h"

#include <cctype>
#include <cstdio>
#include <exception>
#include <new>
#include <string>

namespace {

thread_local zrv::FailureKind last_failure_kind = zrv::FailureKind::none;

// Tells the caller how the call ended: through the attached progress, if any, and for
// ZWZipLastFailure.
void record_outcome(zrv::FailureCause cause) {
    last_failure_kind = cause.kind;
    if (zrv::Progress *progress = zrv::attached_progress())
        progress->set_failure(std::move(cause));
}

zrv::FailureCause cause_of(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const zrv::Failure &failure) {
        return failure.cause();
    } catch (const std::bad_alloc &) {
        return {zrv::FailureKind::other, {}, {}, 0, 0, 0, "out of memory"};
    } catch (const std::exception &other) {
        return {zrv::FailureKind::other, {}, {}, 0, 0, 0, other.what()};
    } catch (...) {
        return {zrv::FailureKind::other, {}, {}, 0, 0, 0, "unexpected failure"};
    }
}

// Runs one call of the component: every failure becomes one line on standard error and 0.
template <typename Work> int report_outcome(Work &&work) {
    if (zrv::Progress *progress = zrv::attached_progress())
        progress->set_made(std::string());
    try {
        work();
        record_outcome({});
        return 1;
    } catch (...) {
        zrv::FailureCause cause = cause_of(std::current_exception());
        // One line, whatever a name in it holds: control characters are escaped.
        std::string &message = cause.message;
        while (!message.empty() && std::isspace(static_cast<unsigned char>(message.back())))
            message.pop_back();
        message = zrv::escaped(message);
        std::fprintf(stderr, "zrv: %s\n", message.c_str());
        std::fflush(stderr);
        record_outcome(std::move(cause));
    }
    return 0;
}

std::string text_or_empty(const wchar_t *text) {
    return text == nullptr ? std::string() : zrv::utf8_from_wide(text);
}

// The password's UTF-8 copy, wiped when the call is over.
class PasswordCopy {
public:
    explicit PasswordCopy(const wchar_t *password) : text(text_or_empty(password)) {}
    ~PasswordCopy() { zrv::crypto::cleanse(text); }
    PasswordCopy(const PasswordCopy &) = delete;
    PasswordCopy &operator=(const PasswordCopy &) = delete;
    const std::string &get() const { return text; }

private:
    std::string text;
};

} // namespace

extern "C" int ZWZipCompressWithPassword(const wchar_t *file_list, const wchar_t *folder_list,
                                         const wchar_t *archive_path, int flag,
                                         const wchar_t *password) {
    return report_outcome([&] {
        const PasswordCopy secret(password);
        const std::string archive = text_or_empty(archive_path);
        if (archive.empty())
            zrv::fail(zrv::FailureKind::other, "cannot pack: no archive path");
        zrv::pack(zrv::split_path_list(text_or_empty(file_list)),
                  zrv::split_path_list(text_or_empty(folder_list)), archive,
                  flag != 0 ? zrv::Compression::deflate : zrv::Compression::stored, secret.get());
    });
}

extern "C" int ZWZipCompress_t(const wchar_t *file_list, const wchar_t *folder_list,
                               const wchar_t *archive_path, int flag) {
    return ZWZipCompressWithPassword(file_list, folder_list, archive_path, flag, nullptr);
}

extern "C" int ZWZipExtractWithPassword(const wchar_t *archive_path, const wchar_t *target_folder,
                                        const wchar_t *password) {
    return report_outcome([&] {
        const PasswordCopy secret(password);
        const std::string archive = text_or_empty(archive_path);
        const std::string target = text_or_empty(target_folder);
        if (archive.empty() || target.empty())
            zrv::fail(zrv::FailureKind::other, "cannot unpack: no archive or target folder");
        zrv::unpack(archive, target, secret.get());
    });
}

extern "C" int ZWZipExtract(const wchar_t *archive_path, const wchar_t *target_folder) {
    return ZWZipExtractWithPassword(archive_path, target_folder, nullptr);
}

extern "C" int ZWZipLastFailure(void) {
    return static_cast<int>(last_failure_kind);
}
