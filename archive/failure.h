// The one error of the archive component: what went wrong, as one line for the user.
#pragma once

#include <stdexcept>
#include <string>

namespace zrv {

class Failure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A failure naming `path` and the system's reason for the current errno.
[[noreturn]] void fail_errno(const std::string &what, const std::string &path);
[[noreturn]] void fail(const std::string &message);

} // namespace zrv
