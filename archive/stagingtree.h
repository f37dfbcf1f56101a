// What has been made in a staging folder while unpacking, as a tree of names.
#pragma once

#include "archive/recordqueue.h"

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace zrv {

// What has been made in the staging folder, as a tree of names: each folder is held once,
// whatever its depth, and found by its parent and name.
class StagingTree final : public NameTree {
public:
    struct Node {
        Node(int parent, std::string name, Kind kind)
            : parent(parent), name(std::move(name)), kind(kind) {}
        int parent;
        std::string name;
        Kind kind;
        bool has_attributes = false;
        Attributes attributes{};
        std::string link_target;
    };
    static constexpr int root = NameTree::top;

    StagingTree() { nodes.emplace_back(root, std::string(), Kind::folder); }

    Node &operator[](int id) { return nodes[static_cast<std::size_t>(id)]; }
    const Node &operator[](int id) const { return nodes[static_cast<std::size_t>(id)]; }
    std::size_t size() const { return nodes.size(); }
    std::size_t node_count() const override { return nodes.size(); }
    int parent_of(int node) const override { return (*this)[node].parent; }
    Kind kind_of(int node) const override { return (*this)[node].kind; }
    const std::string &target_of(int link) const override { return (*this)[link].link_target; }

    // The node called `name` in the folder `parent`, or -1.
    int find(int parent, const std::string &name) const override {
        const auto found = children.find({parent, name});
        return found == children.end() ? -1 : found->second;
    }
    int add(int parent, const std::string &name, Kind kind) {
        nodes.emplace_back(parent, name, kind);
        const int id = static_cast<int>(nodes.size() - 1);
        children[{parent, name}] = id;
        return id;
    }
    // The path of a node below `top`.
    std::string path(const std::string &top, int id) const {
        std::vector<const std::string *> names;
        for (; id != root; id = (*this)[id].parent)
            names.push_back(&(*this)[id].name);
        std::string result = top;
        for (auto it = names.rbegin(); it != names.rend(); ++it)
            result += "/" + **it;
        return result;
    }
    // The number to try next for another entry called `name` in `parent`.
    int &next_number(int parent, const std::string &name) {
        return numbers.try_emplace({parent, name}, 2).first->second;
    }

private:
    std::vector<Node> nodes;
    std::map<std::pair<int, std::string>, int> children;
    std::map<std::pair<int, std::string>, int> numbers;
};

} // namespace zrv
