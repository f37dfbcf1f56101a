#include "archive/linkcheck.h"

#include "archive/names.h"

namespace zrv {

LinkCheck::LinkCheck(const NameTree &tree)
    : tree(tree), state(tree.node_count(), State::unchecked), ends(tree.node_count()) {}

LinkCheck::Verdict LinkCheck::verdict(int link) {
    switch (resolve(link, 0).where) {
    case End::Where::outside:
        return Verdict::outside;
    case End::Where::loops:
    case End::Where::too_deep:
        return Verdict::loops;
    default:
        return Verdict::inside;
    }
}

// A resolution is kept only when it is complete: one cut short by the depth says nothing of
// the link on its own, so it is followed again from the start when asked for.
LinkCheck::End LinkCheck::resolve(int link, int depth) {
    const auto index = static_cast<std::size_t>(link);
    if (state[index] == State::done)
        return ends[index];
    if (state[index] == State::checking)
        return {End::Where::loops, link, 0}; // it needs itself: the kernel gives ELOOP
    // A chain this deep has passed through more links than the kernel follows.
    if (depth >= max_link_hops)
        return {End::Where::too_deep, link, 0};
    state[index] = State::checking;
    End end = walk(link, depth);
    if (end.where == End::Where::too_deep && depth == 0)
        end.where = End::Where::loops;
    state[index] = end.where == End::Where::too_deep ? State::unchecked : State::done;
    ends[index] = end;
    return end;
}

LinkCheck::End LinkCheck::walk(int link, int depth) {
    const std::string &target = tree.target_of(link);
    End at{End::Where::folder, tree.parent_of(link), 1};
    if (target.empty() || target[0] == '/')
        return {End::Where::outside, link, 1};
    const std::vector<std::string> components = path_components(target);
    for (std::size_t i = 0; i < components.size(); ++i) {
        if (at.where != End::Where::folder)
            return {End::Where::stop, at.node, at.hops}; // past a file: ENOTDIR
        if (components[i] == "..") {
            if (at.node == NameTree::top)
                return {End::Where::outside, at.node, at.hops};
            at.node = tree.parent_of(at.node);
            continue;
        }
        const int child = tree.find(at.node, components[i]);
        if (child < 0)
            return {End::Where::stop, at.node, at.hops}; // a missing name: ENOENT
        if (tree.kind_of(child) != EntryKind::link) {
            at.where =
                tree.kind_of(child) == EntryKind::folder ? End::Where::folder : End::Where::file;
            at.node = child;
            continue;
        }
        const End through = resolve(child, depth + 1);
        if (through.where == End::Where::outside || through.where == End::Where::loops ||
            through.where == End::Where::too_deep)
            return {through.where, through.node, at.hops};
        at.hops += through.hops;
        if (at.hops > max_link_hops)
            return {End::Where::loops, child, at.hops};
        if (through.where == End::Where::stop)
            return {End::Where::stop, through.node, at.hops};
        at.where = through.where;
        at.node = through.node;
    }
    return at;
}

} // namespace zrv
