#include "archive/names.h"

#include <iconv.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>

namespace zrv {

namespace {

void append_utf8(std::string &out, char32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

bool exists(const std::string &path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

bool starts_absolute_path(const std::string &text, size_t pos) {
    if (pos < text.size() && (text[pos] == '/' || text[pos] == '\\'))
        return true;
    return pos + 1 < text.size() && text[pos + 1] == ':';
}

} // namespace

std::string utf8_from_wide(const wchar_t *text) {
    std::string out;
    for (const wchar_t *p = text; *p != 0; ++p) {
        char32_t code = static_cast<char32_t>(*p);
        if constexpr (sizeof(wchar_t) == 2) {
            if (code >= 0xD800 && code < 0xDC00 && p[1] >= 0xDC00 && p[1] < 0xE000) {
                code = 0x10000 + ((code - 0xD800) << 10) + (static_cast<char32_t>(p[1]) - 0xDC00);
                ++p;
            }
        }
        if ((code >= 0xD800 && code < 0xE000) || code > 0x10FFFF)
            code = 0xFFFD;
        append_utf8(out, code);
    }
    return out;
}

// The length of the UTF-8 sequence at `i` and its code point in `code`; 0 when the bytes there
// are not UTF-8.
std::size_t utf8_sequence(const std::string &text, std::size_t i, char32_t &code) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    if (lead < 0x80) {
        code = lead;
        return 1;
    } else if (lead >= 0xC2 && lead < 0xE0) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead < 0xF0) {
        length = 3;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead < 0xF5) {
        length = 4;
        code = lead & 0x07;
    } else {
        return 0;
    }
    if (i + length > text.size())
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (next & 0x3F);
    }
    const char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000))
        return 0;
    return length;
}

bool is_control(char32_t code) {
    return code < 0x20 || (code >= 0x7F && code < 0xA0);
}

bool is_valid_utf8(const std::string &text) {
    char32_t code = 0;
    for (std::size_t i = 0, length = 0; i < text.size(); i += length) {
        length = utf8_sequence(text, i, code);
        if (length == 0)
            return false;
    }
    return true;
}

// `text` in the character set to UTF-8; nothing when it is not valid there.
std::optional<std::string> utf8_from(const char *charset, const std::string &text) {
    const iconv_t converter = ::iconv_open("UTF-8", charset);
    if (converter == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    // Room for the worst case: one byte (the euro sign in GBK, a half-width katakana in CP932)
    // becomes three in UTF-8.
    std::string out(text.size() * 3 + 4, '\0');
    char *in = const_cast<char *>(text.data());
    std::size_t in_left = text.size();
    char *to = out.data();
    std::size_t out_left = out.size();
    const std::size_t status = ::iconv(converter, &in, &in_left, &to, &out_left);
    ::iconv_close(converter);
    if (status == static_cast<std::size_t>(-1) || in_left != 0)
        return std::nullopt;
    out.resize(out.size() - out_left);
    return out;
}

void LegacyNames::consider(const std::string &name) {
    seen = true;
    all_gbk = all_gbk && utf8_from("GBK", name);
    all_cp932 = all_cp932 && utf8_from("CP932", name);
}

std::string LegacyNames::decoded(const std::string &name) const {
    if (!seen)
        return name;
    return utf8_from(all_cp932 && !all_gbk ? "CP932" : "GBK", name).value_or(name);
}

bool has_control_characters(const std::string &text) {
    const bool utf8 = is_valid_utf8(text);
    char32_t code = 0;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = utf8 ? utf8_sequence(text, i, code) : 1;
        if (!utf8)
            code = static_cast<unsigned char>(text[i]);
        // Outside UTF-8 a byte from 0x80 up is part of a legacy character, not C1.
        if (is_control(code) && (utf8 || code < 0x80))
            return true;
        i += length;
    }
    return false;
}

std::string escaped(const std::string &text) {
    std::string out;
    char32_t code = 0;
    char buffer[12];
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = utf8_sequence(text, i, code);
        if (length == 0) {
            std::snprintf(buffer, sizeof buffer, "\\x%02X", static_cast<unsigned char>(text[i]));
            out += buffer;
            ++i;
            continue;
        }
        if (is_control(code)) {
            std::snprintf(buffer, sizeof buffer, code < 0x80 ? "\\x%02X" : "\\u%04X",
                          static_cast<unsigned>(code));
            out += buffer;
        } else {
            out.append(text, i, length);
        }
        i += length;
    }
    return out;
}

std::vector<std::string> split_path_list(const std::string &list) {
    if (list.empty())
        return {};
    std::vector<size_t> cuts; // commas that may separate two paths
    for (size_t i = 0; i < list.size(); ++i) {
        if (list[i] == ',' && starts_absolute_path(list, i + 1))
            cuts.push_back(i);
    }
    cuts.push_back(list.size());

    // Tries the shortest existing first piece, then the rest, remembering dead ends.
    std::map<size_t, bool> dead_end;
    std::vector<std::string> pieces;
    auto split_from = [&](auto &&self, size_t start) -> bool {
        if (start > list.size())
            return true;
        if (dead_end.count(start))
            return false;
        for (size_t cut : cuts) {
            if (cut < start)
                continue;
            const std::string piece = list.substr(start, cut - start);
            if (!piece.empty() && exists(piece)) {
                pieces.push_back(piece);
                if (self(self, cut + 1))
                    return true;
                pieces.pop_back();
            }
        }
        dead_end[start] = true;
        return false;
    };
    if (split_from(split_from, 0))
        return pieces;

    pieces.clear();
    size_t start = 0;
    for (size_t cut : cuts) {
        pieces.push_back(list.substr(start, cut - start));
        start = cut + 1;
    }
    return pieces;
}

std::string numbered_name(const std::string &name, int n) {
    const std::string suffix = " (" + std::to_string(n) + ")";
    const size_t dot = name.rfind('.');
    const bool has_extension = dot != std::string::npos && dot != 0;
    std::string stem = has_extension ? name.substr(0, dot) : name;
    const std::string extension = has_extension ? name.substr(dot) : std::string();
    const std::size_t room =
        max_name_bytes - std::min(max_name_bytes, suffix.size() + extension.size());
    if (stem.size() > room) {
        stem.resize(room);
        // Never cut a character in half.
        while (!stem.empty() && !is_valid_utf8(stem) &&
               (static_cast<unsigned char>(stem.back()) & 0x80) != 0)
            stem.pop_back();
    }
    return stem + suffix + extension;
}

std::string base_name(const std::string &path) {
    size_t end = path.size();
    while (end > 1 && path[end - 1] == '/')
        --end;
    const size_t slash = path.rfind('/', end - 1);
    return slash == std::string::npos ? path.substr(0, end)
                                      : path.substr(slash + 1, end - slash - 1);
}

std::string parent_path(const std::string &path) {
    size_t end = path.size();
    while (end > 1 && path[end - 1] == '/')
        --end;
    const size_t slash = path.rfind('/', end - 1);
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::optional<std::vector<std::string>> entry_components(const std::string &name,
                                                         bool from_windows) {
    if (name.empty() || has_control_characters(name))
        return std::nullopt;
    // The check sees backslashes as separators, as Windows would.
    std::string checked = name;
    std::replace(checked.begin(), checked.end(), '\\', '/');
    if (checked[0] == '/')
        return std::nullopt;
    if (from_windows && checked.size() >= 2 && checked[1] == ':' &&
        std::isalpha(static_cast<unsigned char>(checked[0])))
        return std::nullopt;
    for (const std::string &component : path_components(checked)) {
        if (component == "..")
            return std::nullopt;
    }
    return path_components(from_windows ? checked : name);
}

std::vector<std::string> path_components(const std::string &path) {
    std::vector<std::string> components;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        std::string component = path.substr(start, end - start);
        if (!component.empty() && component != ".")
            components.push_back(std::move(component));
        start = end + 1;
    }
    return components;
}

std::string join_components(const std::vector<std::string> &components) {
    std::string path;
    for (const std::string &component : components) {
        if (!path.empty())
            path += '/';
        path += component;
    }
    return path;
}

} // namespace zrv
