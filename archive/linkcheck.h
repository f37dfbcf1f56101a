// Whether the links of an unpacked tree, followed as the kernel follows them, stay inside it.
#pragma once

#include "archive/unpacklimits.h"

#include <cstddef>
#include <string>
#include <vector>

namespace zrv {

enum class EntryKind { file, folder, link };

// A tree of names as the check sees it: node 0 is the top folder, the others are in folders.
class NameTree {
public:
    static constexpr int top = 0;
    virtual std::size_t node_count() const = 0;
    virtual int parent_of(int node) const = 0;
    virtual EntryKind kind_of(int node) const = 0;
    // The node called `name` in the folder `folder`, or -1.
    virtual int find(int folder, const std::string &name) const = 0;
    virtual const std::string &target_of(int link) const = 0;

protected:
    ~NameTree() = default;
};

// Follows each link as the kernel would in the finished tree: from its folder, ".." to the
// real parent, through other links, at most `max_link_hops` links in all (the kernel's limit,
// past which it gives ELOOP). A path ends at a missing name or at a file with more to come,
// as the kernel's does (ENOENT, ENOTDIR); a path that reaches outside the top folder at any
// point, or is absolute, leads outside. Each link is followed once and its complete resolution
// kept, its end and the links it passed through, so the check is linear in the links and their
// targets, and the recursion is at most `max_link_hops` + 1 deep.
class LinkCheck {
public:
    enum class Verdict { inside, outside, loops };

    explicit LinkCheck(const NameTree &tree);
    // `loops`: the link loops or passes through more than `max_link_hops` links.
    Verdict verdict(int link);

private:
    // Where following a link got to. `hops` counts the links followed, the link itself too.
    struct End {
        enum class Where : char { folder, file, stop, outside, loops, too_deep };
        Where where = Where::stop;
        int node = NameTree::top;
        int hops = 0;
    };
    enum class State : char { unchecked, checking, done };

    End resolve(int link, int depth);
    End walk(int link, int depth);

    const NameTree &tree;
    std::vector<State> state;
    std::vector<End> ends;
};

} // namespace zrv
