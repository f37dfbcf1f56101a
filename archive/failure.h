// The one error of the archive component: what went wrong, as data for the caller to word and as
// one English line for standard error.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>

namespace zrv {

// What kind of thing went wrong. The numbers are those ZWZipLastFailure returns.
enum class FailureKind : int {
    none = 0,
    other = 1,
    password_needed = 2,       // an entry is encrypted and no password was given
    password_wrong = 3,        // the password given does not open the archive
    cannot_read = 4,           // a file, folder or the archive could not be read
    cannot_write = 5,          // the archive or an unpacked file could not be written
    no_permission = 6,         // the system refused access
    disk_full = 7,             // no space left (bytes_needed and bytes_free where known)
    damaged = 8,               // the archive is not a sound ZIP archive
    unsafe = 9,                // an entry would land outside the target, or is of a refused kind
    unsupported = 10,          // a method or feature the component does not read
    exists = 11,               // the archive to write exists already
    cannot_create_target = 12, // the target folder, or the archive's folder, cannot be made
    cancelled = 13,            // the caller cancelled the call
    cannot_pack = 14,          // an input cannot be packed (its type, its name, it changed)
};

struct FailureCause {
    FailureKind kind = FailureKind::none;
    std::string path;               // the file or folder on disk, as the caller named it
    std::string entry;              // the entry of the archive, as the archive names it
    int error_number = 0;           // the system's errno, where the system reported the failure
    std::uint64_t bytes_needed = 0; // for disk_full: what the work needs
    std::uint64_t bytes_free = 0;   // and what the disk has
    std::string message;            // the English line written to standard error
};

class Failure : public std::runtime_error {
public:
    explicit Failure(FailureCause cause)
        : std::runtime_error(cause.message), failure_cause(std::move(cause)) {}
    Failure(FailureKind kind, const std::string &message)
        : Failure(FailureCause{kind, {}, {}, 0, 0, 0, message}) {}
    const FailureCause &cause() const { return failure_cause; }

private:
    FailureCause failure_cause;
};

// The kind a system error stands for; `otherwise` where errno says nothing more particular,
// and for a folder that cannot be made (cannot_create_target) unless the disk is full.
FailureKind kind_of_errno(int error_number, FailureKind otherwise);

// A failure naming `path` and the system's reason for the current errno; its kind comes from
// errno, or is `otherwise`.
[[noreturn]] void fail_errno(FailureKind otherwise, const std::string &what,
                             const std::string &path);
[[noreturn]] void fail(FailureKind kind, const std::string &message,
                       const std::string &path = std::string(),
                       const std::string &entry = std::string());
[[noreturn]] void fail(FailureCause cause);
// A failure of the archive being unpacked: "cannot unpack ARCHIVE: WHAT".
[[noreturn]] void fail_archive(FailureKind kind, const std::string &archive,
                               const std::string &what, const std::string &entry = std::string());

} // namespace zrv
