// An open folder of the staging tree, moved a level at a time, so that nothing is reached
// through a long path however deep the tree. Used on the calling thread only, by Staging.
#pragma once

#include "archive/platform.h"
#include "archive/stagingtree.h"

#include <string>

namespace zrv {

class FolderCursor {
public:
    // Opens `top`, the staging folder that holds `tree`.
    FolderCursor(const StagingTree &tree, const std::string &top);

    // An open descriptor of `folder`, where the cursor now is; it stays open until it moves.
    int move_to(int folder);
    // Closes the folder the cursor is in.
    void close() { fd.reset(-1); }

private:
    const StagingTree &tree;
    std::string top;
    int at = StagingTree::root;
    UniqueFd fd{-1};
};

} // namespace zrv
