#include "archive/failure.h"

#include <cerrno>
#include <cstring>

namespace zrv {

void fail_errno(const std::string &what, const std::string &path) {
    throw Failure(what + " " + path + ": " + std::strerror(errno));
}

void fail(const std::string &message) {
    throw Failure(message);
}

} // namespace zrv
