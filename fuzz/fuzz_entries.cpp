// The bytes as a list of entries (files, folders, links and chains of links, their names,
// modes and targets drawn from a few short names, "..", "." and "/"), written as a stored ZIP
// archive, so that link graphs are reached that random archive bytes seldom are.
#include "fuzz/promises.h"

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

namespace {

// Hands out the input's bytes, zeros once they run out.
struct Bytes {
    const std::uint8_t *data;
    std::size_t size;
    bool empty() const { return size == 0; }
    unsigned next() {
        if (size == 0)
            return 0;
        --size;
        return *data++;
    }
};

const char *const names[] = {"a", "b", "c", "f", "L0", "L1", "L2", "L3", "C0", "C1", "..", "."};
const char *const steps[] = {"..", "..", ".",  "a",  "b",  "c",   "f",       "L0",
                             "L1", "L2", "L3", "C0", "C1", "C40", "nothing", ""};

// One to three components from the `count` of `from`, joined with "/"; a leading "/" when
// `absolute` is allowed and the high bit says.
std::string path(Bytes &in, const char *const *from, std::size_t count, bool absolute) {
    const unsigned shape = in.next();
    std::string result = absolute && (shape & 0x80) != 0 ? "/" : "";
    for (unsigned i = 0; i <= shape % 3; ++i)
        result += (i > 0 ? "/" : "") + std::string(from[in.next() % count]);
    return result;
}
std::string name(Bytes &in) {
    return path(in, names, std::size(names), false);
}
std::string target(Bytes &in) {
    return path(in, steps, std::size(steps), true);
}

struct Entry {
    std::string name;
    std::uint32_t mode;
    std::string data; // a file's contents or a link's target
};

void put16(std::string &out, unsigned value) {
    out += char(value & 0xFF);
    out += char((value >> 8) & 0xFF);
}
void put32(std::string &out, std::uint32_t value) {
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

// A stored archive from a Unix host, every entry with its mode.
std::string zip(const std::vector<Entry> &entries) {
    std::string body, directory;
    for (const Entry &entry : entries) {
        const auto crc = static_cast<std::uint32_t>(
            ::crc32(0, reinterpret_cast<const Bytef *>(entry.data.data()),
                    static_cast<uInt>(entry.data.size())));
        const auto size = static_cast<std::uint32_t>(entry.data.size());
        const auto offset = static_cast<std::uint32_t>(body.size());
        std::string common;
        put16(common, 20);   // version needed
        put16(common, 0);    // flags
        put16(common, 0);    // stored
        put32(common, 0x21); // 1980-01-01
        put32(common, crc);
        put32(common, size);
        put32(common, size);
        put16(common, static_cast<unsigned>(entry.name.size()));
        put16(common, 0); // no extra field
        put32(body, 0x04034B50);
        body += common + entry.name + entry.data;
        put32(directory, 0x02014B50);
        put16(directory, 3 << 8 | 20); // made by Unix
        directory += common;
        put16(directory, 0); // no comment
        put16(directory, 0); // disk
        put16(directory, 0); // internal attributes
        put32(directory, entry.mode << 16);
        put32(directory, offset);
        directory += entry.name;
    }
    std::string end;
    put32(end, 0x06054B50);
    put32(end, 0);
    put16(end, static_cast<unsigned>(entries.size()));
    put16(end, static_cast<unsigned>(entries.size()));
    put32(end, static_cast<std::uint32_t>(directory.size()));
    put32(end, static_cast<std::uint32_t>(body.size()));
    put16(end, 0);
    return body + directory + end;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    Bytes in{data, size};
    std::vector<Entry> entries;
    while (!in.empty() && entries.size() < 400) {
        const unsigned kind = in.next();
        const std::string name = ::name(in);
        const std::uint32_t perm = (in.next() << 8 | in.next()) & 07777;
        switch (kind % 4) {
        case 0: {
            std::string contents;
            for (unsigned n = in.next() % 16; n > 0; --n)
                contents += char(in.next());
            entries.push_back({name, 0100000 | perm, contents});
            break;
        }
        case 1:
            entries.push_back({name + "/", 040000 | perm, {}});
            break;
        case 2:
            entries.push_back({name, 0120777, target(in)});
            break;
        default: {
            // A chain in the folder `name`: C0 -> C1 ... -> Cn, and Cn to a target drawn.
            const unsigned length = in.next() % 48;
            for (unsigned i = 0; i < length; ++i)
                entries.push_back(
                    {name + "/C" + std::to_string(i), 0120777, "C" + std::to_string(i + 1)});
            entries.push_back({name + "/C" + std::to_string(length), 0120777, target(in)});
        }
        }
    }
    fuzz::unpack_and_check(zip(entries));
    return 0;
}
