#include "archive/foldercursor.h"

#include "archive/failure.h"

#include <fcntl.h>
#include <unistd.h>

#include <vector>

namespace zrv {

FolderCursor::FolderCursor(const StagingTree &tree, const std::string &top) : tree(tree), top(top) {
    fd.reset(::open(top.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (fd.get() < 0)
        fail_errno(FailureKind::cannot_create_target, "cannot unpack into", top);
}

// Reached from where the cursor is when `folder` is a step away, and from the top one folder at
// a time otherwise.
int FolderCursor::move_to(int folder) {
    if (folder == at)
        return fd.get();
    const auto open_below = [](int parent_fd, const char *name) {
        return ::openat(parent_fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    };
    int next_fd = -1;
    if (folder != StagingTree::root && tree[folder].parent == at) {
        next_fd = open_below(fd.get(), tree[folder].name.c_str());
    } else if (at != StagingTree::root && tree[at].parent == folder) {
        next_fd = open_below(fd.get(), "..");
    } else {
        std::vector<int> chain;
        for (int node = folder; node != StagingTree::root; node = tree[node].parent)
            chain.push_back(node);
        next_fd = ::open(top.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        for (auto it = chain.rbegin(); next_fd >= 0 && it != chain.rend(); ++it) {
            const int below = open_below(next_fd, tree[*it].name.c_str());
            ::close(next_fd);
            next_fd = below;
        }
    }
    if (next_fd < 0)
        fail_errno(FailureKind::cannot_write, "cannot unpack to", tree.path(top, folder));
    fd.reset(next_fd);
    at = folder;
    return next_fd;
}

} // namespace zrv
