#include "archive/staging.h"

#include "archive/failure.h"
#include "archive/linkcheck.h"
#include "archive/names.h"
#include "archive/unpacklimits.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace zrv {

Staging::Staging(const std::string &archive_path, const std::string &target, mode_t umask,
                 Progress &progress)
    : archive_path(archive_path), umask(umask), progress(progress), top(archive_path, target),
      cursor(tree, top.path()) {}

void Staging::fail_archive(FailureKind kind, const std::string &what,
                           const std::string &entry) const {
    zrv::fail_archive(kind, archive_path, what, entry);
}

// Makes the first `count` components as folders, each once; returns the last one's node.
int Staging::make_folders(const std::vector<std::string> &components, std::size_t count) {
    int folder = StagingTree::root;
    for (std::size_t i = 0; i < count; ++i) {
        const int child = tree.find(folder, components[i]);
        if (child >= 0) {
            if (tree[child].kind != Kind::folder)
                fail_archive(FailureKind::unsafe,
                             join_components(components) +
                                 " needs a folder where the archive has a file or link");
            folder = child;
            continue;
        }
        // Made with the usual mode: only folders the archive lists get theirs at the end. Files
        // are not in the tree: one that is in the way makes the name exist already.
        if (::mkdirat(cursor.move_to(folder), components[i].c_str(), 0777 & ~umask) != 0) {
            if (errno == EEXIST)
                fail_archive(FailureKind::unsafe,
                             join_components(components) +
                                 " needs a folder where the archive has a file or link");
            fail_errno(FailureKind::cannot_write, "cannot unpack to",
                       tree.path(top.path(), folder) + "/" + components[i]);
        }
        folder = tree.add(folder, components[i], Kind::folder);
    }
    return folder;
}

// The name a file or link gets in `parent`: its own, or the next numbered one when the archive
// held it already, or the file system finds it taken (one that folds case or Unicode forms).
// Folders and links are in the tree; files only on disk, so the tree stays small however many
// files an archive holds. Returns the link's node, or -1 for a file, which is then open.
int Staging::claim_name(int parent, const std::string &leaf, Kind kind) {
    // The count of numbered names is kept only for names that are taken.
    int *next = nullptr;
    for (int tries = 0;; ++tries) {
        if (tries > max_numbered_names)
            fail_archive(FailureKind::unsafe, "too many entries named " + leaf, leaf);
        if (tries == 1 || (tries == 0 && tree.find(parent, leaf) >= 0))
            next = &tree.next_number(parent, leaf);
        const std::string name = next == nullptr ? leaf : numbered_name(leaf, (*next)++);
        if (tree.find(parent, name) >= 0)
            continue;
        const int parent_fd = cursor.move_to(parent);
        if (kind == Kind::link) {
            // Made once every file is in place; a file of that name may be there already.
            struct stat existing;
            if (::fstatat(parent_fd, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0)
                continue;
            return tree.add(parent, name, kind);
        }
        file_name = tree.path(top.path(), parent) + "/" + name;
        file.reset(::openat(parent_fd, name.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (file.get() >= 0)
            return -1;
        if (errno != EEXIST)
            fail_errno(FailureKind::cannot_write, "cannot unpack to", file_name);
    }
}

void Staging::write_file(Record &record) {
    if (record.opens_file)
        claim_name(make_folders(record.components, record.components.size() - 1),
                   record.components.back(), Kind::file);
    const char *data = record.data.data();
    std::size_t left = record.data.size();
    while (left > 0) {
        const ssize_t done = ::write(file.get(), data, left);
        if (done < 0) {
            if (errno == EINTR)
                continue;
            fail_errno(FailureKind::cannot_write, "cannot write", file_name);
        }
        data += done;
        left -= static_cast<std::size_t>(done);
    }
    progress.add_done(record.data.size());
    if (!record.closes_file)
        return;
    const struct timespec times[2] = {record.attributes.mtime, record.attributes.mtime};
    if (::fchmod(file.get(), record.attributes.perm) != 0 || ::futimens(file.get(), times) != 0)
        fail_errno(FailureKind::cannot_write, "cannot unpack to", file_name);
    if (::close(file.release()) != 0)
        fail_errno(FailureKind::cannot_write, "cannot write", file_name);
}

void Staging::write_record(Record &record) {
    progress.stop_if_cancelled();
    const std::size_t count = record.components.size();
    if (record.opens_file)
        progress.set_entry(join_components(record.components));
    switch (record.kind) {
    case Kind::file:
        write_file(record);
        break;
    case Kind::folder: {
        if (count == 0)
            break; // "./": the folder itself
        auto &folder = tree[make_folders(record.components, count)];
        folder.has_attributes = true;
        folder.attributes = record.attributes;
        break;
    }
    case Kind::link: {
        const int id = claim_name(make_folders(record.components, count - 1),
                                  record.components.back(), Kind::link);
        tree[id].link_target.assign(record.data.begin(), record.data.end());
        links.push_back(id);
        break;
    }
    }
}

// Links are made after every file, so no file is ever written through one, and only when
// each, followed as the kernel follows it in the finished tree, ends inside the folder.
void Staging::make_links() {
    LinkCheck check(tree);
    for (const int id : links) {
        progress.stop_if_cancelled();
        const LinkCheck::Verdict verdict = check.verdict(id);
        const std::string name = tree.path(std::string(), id).substr(1);
        if (verdict == LinkCheck::Verdict::outside)
            fail_archive(FailureKind::unsafe, "the link " + name + " leads outside the folder",
                         name);
        if (verdict == LinkCheck::Verdict::loops)
            fail_archive(FailureKind::unsafe,
                         "the link " + name + " loops or passes through more than " +
                             std::to_string(max_link_hops) + " links",
                         name);
    }
    for (const int id : links) {
        if (::symlinkat(tree[id].link_target.c_str(), cursor.move_to(tree[id].parent),
                        tree[id].name.c_str()) != 0)
            fail_errno(FailureKind::cannot_write, "cannot unpack to", tree.path(top.path(), id));
    }
}

// Folder times and permissions are set last, each folder after everything in it (made after
// it, so in reverse order of making), so that writing their contents neither changes the times
// nor runs into a read-only folder.
void Staging::apply_folder_attributes() {
    for (int node = static_cast<int>(tree.size()) - 1; node > StagingTree::root; --node) {
        if (!tree[node].has_attributes)
            continue;
        progress.stop_if_cancelled();
        const Attributes &attributes = tree[node].attributes;
        const int parent_fd = cursor.move_to(tree[node].parent);
        const char *name = tree[node].name.c_str();
        const struct timespec times[2] = {attributes.mtime, attributes.mtime};
        if (::utimensat(parent_fd, name, times, AT_SYMLINK_NOFOLLOW) != 0 ||
            ::fchmodat(parent_fd, name, attributes.perm, 0) != 0)
            fail_errno(FailureKind::cannot_write, "cannot unpack to", tree.path(top.path(), node));
    }
    cursor.close();
    top.set_usual_mode(umask);
}

void Staging::move_into_place() {
    progress.set_made(top.move_into_place());
}

} // namespace zrv
