// A static k-d tree of boxes with per-node bounds of the edges, for searches
// that prune whole subtrees by a bound computed from those edges; and a
// growing index built from such trees by the logarithmic method.
#pragma once

#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

namespace vellora {

// One box and the caller's handle for it. The tree never reads the edges of
// a box it was not given; callers leave out boxes with NaN edges when their
// searches depend on it.
struct TreeBox {
    float x1;
    float y1;
    float x2;
    float y2;
    std::uint32_t handle;
};

// Bounds of the edges of every box below a node.
struct EdgeBounds {
    float min_x1;
    float max_x1;
    float max_x2;
    float min_y1;
    float max_y1;
    float min_y2;
    float max_y2;
};

class BoxTree {
public:
    static constexpr std::uint32_t kNoChild = std::numeric_limits<std::uint32_t>::max();
    static constexpr std::size_t kLeafSize = 8;

    BoxTree() = default;
    // Splits each node at the median of the box centres across its longer
    // side.
    explicit BoxTree(std::vector<TreeBox> boxes);

    // The same kind of tree, built faster for searches whose result does not
    // depend on the order in which boxes are visited: the boxes sorted once
    // along a Z-order curve of their centres, each node split at the middle
    // of its run, and the bounds of a node merged from its children. A search
    // that prunes only subtrees it has no use for finds the same boxes as in
    // the tree above, possibly in another order among other visits. Meant
    // for boxes without NaN edges.
    static BoxTree packed(std::vector<TreeBox> boxes);

    bool empty() const noexcept { return boxes_.empty(); }
    const std::vector<TreeBox>& boxes() const noexcept { return boxes_; }

    // Depth-first search, nearer child first. `bound(edges)` gives a value
    // for a node; `prune(value)` says whether to skip it (asked again when
    // the node is taken, so a tightened limit takes effect at once);
    // `visit(box)` sees every box of the nodes not pruned.
    template <class Bound, class Prune, class Visit>
    void search(Bound&& bound, Prune&& prune, Visit&& visit) const {
        if (nodes_.empty()) return;
        std::vector<Pending>& stack = stack_;
        stack.clear();
        const float root_value = bound(nodes_[0].edges);
        if (!prune(root_value)) stack.push_back({0, root_value});
        while (!stack.empty()) {
            const Pending top = stack.back();
            stack.pop_back();
            if (prune(top.value)) continue;
            const Node& node = nodes_[top.node];
            if (node.left == kNoChild) {
                for (std::uint32_t i = node.begin; i < node.end; ++i) visit(boxes_[i]);
                continue;
            }
            const float left = bound(nodes_[node.left].edges);
            const float right = bound(nodes_[node.right].edges);
            // Pushed last, taken first: the child with the lower bound. A NaN
            // bound never prunes, so its place does not matter.
            if (left < right) {
                if (!prune(right)) stack.push_back({node.right, right});
                if (!prune(left)) stack.push_back({node.left, left});
            } else {
                if (!prune(left)) stack.push_back({node.left, left});
                if (!prune(right)) stack.push_back({node.right, right});
            }
        }
    }

private:
    struct Node {
        EdgeBounds edges;
        std::uint32_t begin;
        std::uint32_t end;
        std::uint32_t left;
        std::uint32_t right;
    };
    struct Pending {
        std::uint32_t node;
        float value;
    };

    struct Keyed {
        std::int32_t x;  // split keys of the box's centre
        std::int32_t y;
        TreeBox box;
    };

    std::uint32_t build(std::vector<Keyed>& keyed, std::uint32_t begin, std::uint32_t end);
    std::uint32_t build_packed(std::uint32_t begin, std::uint32_t end);

    std::vector<TreeBox> boxes_;
    std::vector<Node> nodes_;
    mutable std::vector<Pending> stack_;  // scratch, reused across searches
};

// Boxes added one at a time: the newest few in a list searched box by box,
// the rest in trees of doubling sizes, two trees of one size merged into one
// of the next (so each box is rebuilt O(log n) times). Its trees are packed
// ones: a search visits the same boxes, not necessarily in the same order.
class GrowingBoxIndex {
public:
    GrowingBoxIndex() = default;
    // Starts with `initial` in one tree of its own.
    explicit GrowingBoxIndex(std::vector<TreeBox> initial) : initial_(BoxTree::packed(std::move(initial))) {}

    void add(const TreeBox& box);

    // As BoxTree::search over every box added so far; the recent boxes are
    // visited without bounds.
    template <class Bound, class Prune, class Visit>
    void search(Bound&& bound, Prune&& prune, Visit&& visit) const {
        for (const TreeBox& box : recent_) visit(box);
        if (!initial_.empty()) initial_.search(bound, prune, visit);
        for (const BoxTree& tree : trees_) {
            if (!tree.empty()) tree.search(bound, prune, visit);
        }
    }

private:
    static constexpr std::size_t kRecentLimit = 32;
    BoxTree initial_;
    std::vector<TreeBox> recent_;
    std::vector<BoxTree> trees_;  // trees_[k] holds 0 or kRecentLimit * 2^k boxes
};

}  // namespace vellora
