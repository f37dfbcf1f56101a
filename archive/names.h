// Text handling for archive entry names and the path lists the component is given.
#pragma once

#include <string>
#include <vector>

namespace zrv {

// Converts a zero-terminated wide string (UTF-16 or UTF-32, as wchar_t is) to UTF-8.
std::string utf8_from_wide(const wchar_t *text);

bool is_valid_utf8(const std::string &text);

// Splits a comma-joined list of absolute paths. A comma inside a name is kept in that name:
// the list is cut only where every piece then names an existing file or folder, and where no
// such cut exists, at every comma that starts another absolute path.
std::vector<std::string> split_path_list(const std::string &list);

// "name.ext" numbered n: "name (n).ext"; a name without extension gets " (n)" at its end.
std::string numbered_name(const std::string &name, int n);

// The last component of a path, ignoring trailing slashes.
std::string base_name(const std::string &path);
// Everything before the last component; "." for a bare name.
std::string parent_path(const std::string &path);

// The components of an entry name as the archive holds it, or an empty list when the name is
// unsafe to create: absolute, drive-letter or backslash forms, "..", control characters.
std::vector<std::string> safe_components(const std::string &name);

std::string join_components(const std::vector<std::string> &components);

} // namespace zrv
