// Whether the links made while unpacking lead outside the folder.
#pragma once

#include "archive/stagingtree.h"

#include <string>
#include <vector>

namespace zrv {

// Whether links lead outside the tree. Each link is followed once and remembered, so the
// check is linear in the links and their targets; links that loop lead nowhere and so stay.
class LinkCheck {
public:
    explicit LinkCheck(const StagingTree &tree)
        : tree(tree), state(tree.size(), State::unchecked), ends(tree.size()) {}
    // False when the link `id` leads outside the tree.
    bool stays_inside(int id, int hops = 0);

private:
    // Where a path has got to: a node, and how many names below it that the tree does not
    // hold (a path can only come back up out of those, never go through a link).
    struct Location {
        int node = StagingTree::root;
        std::size_t beyond = 0;
    };
    enum class State : char { unchecked, checking, inside, outside };
    bool follow(Location &at, const std::string &target, int hops);

    const StagingTree &tree;
    std::vector<State> state;
    std::vector<Location> ends;
};

} // namespace zrv
