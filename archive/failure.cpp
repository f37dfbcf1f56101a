#include "archive/failure.h"

#include <cerrno>
#include <cstring>

namespace zrv {

FailureKind kind_of_errno(int error_number, FailureKind otherwise) {
    switch (error_number) {
    case EACCES:
    case EPERM:
    case EROFS:
        // A folder that cannot be made stays that, whatever stopped it short of a full disk.
        return otherwise == FailureKind::cannot_create_target ? otherwise
                                                              : FailureKind::no_permission;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return FailureKind::disk_full;
    case EEXIST:
        return FailureKind::exists;
    default:
        return otherwise;
    }
}

void fail_errno(FailureKind otherwise, const std::string &what, const std::string &path) {
    const int error_number = errno;
    FailureCause cause;
    cause.kind = kind_of_errno(error_number, otherwise);
    cause.path = path;
    cause.error_number = error_number;
    cause.message = what + " " + path + ": " + std::strerror(error_number);
    throw Failure(std::move(cause));
}

void fail(FailureKind kind, const std::string &message, const std::string &path,
          const std::string &entry) {
    throw Failure(FailureCause{kind, path, entry, 0, 0, 0, message});
}

void fail(FailureCause cause) {
    throw Failure(std::move(cause));
}

void fail_archive(FailureKind kind, const std::string &archive, const std::string &what,
                  const std::string &entry) {
    fail(kind, "cannot unpack " + archive + ": " + what, archive, entry);
}

} // namespace zrv
