#include "archive/names.h"

#include <sys/stat.h>

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

bool is_valid_utf8(const std::string &text) {
    size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        size_t length = 0;
        char32_t code = 0;
        if (lead < 0x80) {
            ++i;
            continue;
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
            return false;
        }
        if (i + length > text.size())
            return false;
        for (size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (next & 0x3F);
        }
        const char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000))
            return false;
        i += length;
    }
    return true;
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
    if (dot == std::string::npos || dot == 0)
        return name + suffix;
    return name.substr(0, dot) + suffix + name.substr(dot);
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

std::vector<std::string> safe_components(const std::string &name) {
    if (name.empty() || name[0] == '/')
        return {};
    if (name.size() >= 2 && name[1] == ':')
        return {};
    std::vector<std::string> components;
    std::string current;
    for (char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || c == '\\')
            return {};
        if (c != '/') {
            current += c;
            continue;
        }
        if (current == "..")
            return {};
        if (!current.empty() && current != ".")
            components.push_back(current);
        current.clear();
    }
    if (current == "..")
        return {};
    if (!current.empty() && current != ".")
        components.push_back(current);
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
