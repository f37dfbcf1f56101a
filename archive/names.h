// Text handling for archive entry names and the path lists the component is given.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zrv {

// Converts a zero-terminated wide string (UTF-16 or UTF-32, as wchar_t is) to UTF-8.
std::string utf8_from_wide(const wchar_t *text);

bool is_valid_utf8(const std::string &text);

// The code page of an archive's names without the UTF-8 flag, decided from those names that are
// not UTF-8, seen one at a time: CP932 (as a Japanese Windows writes names) when every one is
// valid CP932 and not every one valid GBK; GBK (code page 936, a Chinese Windows) otherwise.
class LegacyNames {
public:
    void consider(const std::string &name);
    // `name` in UTF-8; as it is when no name was considered or it is not valid in the code page.
    std::string decoded(const std::string &name) const;

private:
    bool seen = false;
    bool all_gbk = true;
    bool all_cp932 = true;
};

// Control characters: C0, DEL, and C1 (U+0080-U+009F) where the text is UTF-8.
bool has_control_characters(const std::string &text);

// `text` fit for one line of a message: control characters and bytes that are not UTF-8
// become escapes such as \x1B or \u0085.
std::string escaped(const std::string &text);

// Splits a comma-joined list of absolute paths. A comma inside a name is kept in that name:
// the list is cut only where every piece then names an existing file or folder, and where no
// such cut exists, at every comma that starts another absolute path.
std::vector<std::string> split_path_list(const std::string &list);

// The longest name a file system takes, in bytes.
constexpr std::size_t max_name_bytes = 255;

// "name.ext" numbered n: "name (n).ext"; a name without extension gets " (n)" at its end. The
// stem is shortened, at a character boundary, so the result fits `max_name_bytes`.
std::string numbered_name(const std::string &name, int n);

// The last component of a path, ignoring trailing slashes.
std::string base_name(const std::string &path);
// Everything before the last component; "." for a bare name.
std::string parent_path(const std::string &path);

// The components of an entry name as they are made on disk; an empty list for the archive's
// root ("./"); nothing when the name is unsafe: absolute, "..", control characters. A backslash
// separates components only in names from Windows, where a drive letter also makes a name
// absolute; but a backslash counts as a separator for the check whatever the host, so no name
// leaves the folder on either system.
std::optional<std::vector<std::string>> entry_components(const std::string &name,
                                                         bool from_windows);

std::string join_components(const std::vector<std::string> &components);

// The components of a "/"-separated path, without empty and "." ones; ".." is kept.
std::vector<std::string> path_components(const std::string &path);

} // namespace zrv
