#include "archive/linkcheck.h"

#include "archive/names.h"
#include "archive/unpacklimits.h"

namespace zrv {

bool LinkCheck::stays_inside(int id, int hops) {
    const auto index = static_cast<std::size_t>(id);
    if (state[index] == State::checking || state[index] == State::unchecked) {
        if (state[index] == State::checking)
            return true; // a loop: the kernel stops it, so it cannot leave
        state[index] = State::checking;
        Location at{tree[id].parent, 0};
        const bool inside = follow(at, tree[id].link_target, hops);
        state[index] = inside ? State::inside : State::outside;
        ends[index] = at;
    }
    return state[index] == State::inside;
}

bool LinkCheck::follow(Location &at, const std::string &target, int hops) {
    if (target.empty() || target[0] == '/')
        return false;
    for (const std::string &component : path_components(target)) {
        if (component == "..") {
            if (at.beyond > 0)
                --at.beyond;
            else if (at.node == StagingTree::root)
                return false;
            else
                at.node = tree[at.node].parent;
            continue;
        }
        const int child = at.beyond > 0 ? -1 : tree.find(at.node, component);
        if (child < 0 || tree[child].kind == Kind::file) {
            ++at.beyond;
        } else if (tree[child].kind == Kind::folder) {
            at.node = child;
        } else if (hops >= max_link_hops ||
                   state[static_cast<std::size_t>(child)] == State::checking) {
            ++at.beyond; // too many links or a loop: nothing is reached through it
        } else {
            if (!stays_inside(child, hops + 1))
                return false;
            at = ends[static_cast<std::size_t>(child)];
        }
    }
    return true;
}

} // namespace zrv
