#include "archive/entrycheck.h"

#include "archive/failure.h"
#include "archive/names.h"
#include "archive/unpacklimits.h"
#include "archive/zipformat.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <utility>

namespace zrv {

EntryCheck::EntryCheck(const std::string &archive_path, mode_t umask)
    : archive_path(archive_path), umask(umask) {}

void EntryCheck::fail_archive(FailureKind kind, const std::string &what,
                              const std::string &entry) const {
    zrv::fail_archive(kind, archive_path, what, entry);
}

// Also finds out whether names from Windows without the UTF-8 flag are UTF-8, or in a legacy
// code page.
std::uint64_t EntryCheck::survey(const ZipReader &reader, const std::string &parent) {
    std::uint64_t declared_total = 0;
    std::uint64_t file_data = 0;
    reader.for_each([&](const ZipEntry &entry) {
        if ((entry.flags & zip::flag_utf8) == 0 && entry.host != zip::host_unix &&
            entry.unicode_name.empty() && !is_valid_utf8(entry.name))
            legacy_names.consider(entry.name);
        if (declared_total + entry.size < declared_total)
            fail_archive(FailureKind::damaged, "the declared sizes overflow");
        declared_total += entry.size;
        if (entry.host != zip::host_unix || !S_ISLNK(entry.external_attributes >> 16))
            file_data += entry.size;
    });
    struct statvfs space;
    if (::statvfs(parent.c_str(), &space) != 0)
        fail_errno(FailureKind::cannot_create_target, "cannot unpack into", parent);
    const std::uint64_t available = static_cast<std::uint64_t>(space.f_bavail) * space.f_frsize;
    if (declared_total > available) {
        FailureCause cause;
        cause.kind = FailureKind::disk_full;
        cause.path = parent;
        cause.bytes_needed = declared_total;
        cause.bytes_free = available;
        cause.message = "cannot unpack " + archive_path + ": it needs " +
                        std::to_string(declared_total) + " bytes and " + parent + " has " +
                        std::to_string(available) + " free";
        fail(std::move(cause));
    }
    return file_data;
}

// Names as the entry says: Unix hosts write bytes as they are; a name from Windows without the
// UTF-8 flag is in the archive's legacy encoding, kept as bytes where it is not valid there.
Record EntryCheck::record_for(const ZipEntry &entry) const {
    std::string name = entry.unicode_name.empty() ? entry.name : entry.unicode_name;
    const bool from_windows = entry.host != zip::host_unix;
    if (from_windows && entry.unicode_name.empty() && (entry.flags & zip::flag_utf8) == 0)
        name = legacy_names.decoded(entry.name);
    const auto components = entry_components(name, from_windows);
    if (!components)
        fail_archive(FailureKind::unsafe, "unsafe entry name \"" + name + "\"", name);

    Record record;
    record.components = *components;
    const mode_t unix_mode =
        entry.host == zip::host_unix ? static_cast<mode_t>(entry.external_attributes >> 16) : 0;
    const char last = name.empty() ? '\0' : name.back();
    const bool named_as_folder = last == '/' || (from_windows && last == '\\');
    switch (unix_mode & S_IFMT) {
    case 0:
    case S_IFREG:
    case S_IFDIR:
        record.kind =
            named_as_folder || S_ISDIR(unix_mode) ||
                    (unix_mode == 0 && (entry.external_attributes & zip::msdos_folder) != 0)
                ? Kind::folder
                : Kind::file;
        break;
    case S_IFLNK:
        record.kind = Kind::link;
        break;
    default:
        fail_archive(FailureKind::unsafe, name + " is a device, pipe or other special file", name);
    }
    if (record.components.empty() && record.kind != Kind::folder)
        fail_archive(FailureKind::unsafe, "unsafe entry name \"" + name + "\"", name);
    // Permission bits only: setuid, setgid and sticky bits are never set.
    mode_t perm = unix_mode & 0777;
    if (unix_mode == 0) {
        perm = (record.kind == Kind::folder ? 0777 : 0666) & ~umask;
        if ((entry.external_attributes & zip::msdos_read_only) != 0)
            perm &= ~0222;
    }
    record.attributes = {perm, entry.mtime};
    return record;
}

void EntryCheck::check_link_size(const std::string &name, std::uint64_t size) {
    if (size > max_link_target)
        fail_archive(FailureKind::unsafe,
                     "the link " + name + " has a target longer than " +
                         std::to_string(max_link_target) + " bytes",
                     name);
    link_total += size;
    if (link_total > max_link_bytes)
        fail_archive(FailureKind::unsafe, "its links' targets exceed " +
                                              std::to_string(max_link_bytes) + " bytes together");
}

void EntryCheck::check_link_target(const std::string &name, const std::vector<char> &target) const {
    if (target.empty() || std::find(target.begin(), target.end(), '\0') != target.end())
        fail_archive(FailureKind::damaged, name + " is an empty or malformed link", name);
}

} // namespace zrv
