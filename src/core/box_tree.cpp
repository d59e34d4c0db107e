#include "box_tree.hpp"

#include <algorithm>

#include "vellora/numeric.hpp"

namespace vellora {
namespace {

// Split key of a box along an axis; any order will do, as long as it is a
// strict weak order (hence totalOrder, which also places NaN).
std::int32_t split_key(const TreeBox& box, bool along_x) noexcept {
    return along_x ? num::total_order_key(box.x1 * 0.5f + box.x2 * 0.5f)
                   : num::total_order_key(box.y1 * 0.5f + box.y2 * 0.5f);
}

}  // namespace

BoxTree::BoxTree(std::vector<TreeBox> boxes) : boxes_(std::move(boxes)) {
    if (boxes_.empty()) return;
    // The split keys are worked out once per box, not at every comparison.
    std::vector<Keyed> keyed;
    keyed.reserve(boxes_.size());
    for (const TreeBox& box : boxes_) keyed.push_back({split_key(box, true), split_key(box, false), box});
    nodes_.reserve(2 * (boxes_.size() / kLeafSize + 1));
    build(keyed, 0, static_cast<std::uint32_t>(keyed.size()));
    for (std::size_t i = 0; i < keyed.size(); ++i) boxes_[i] = keyed[i].box;
}

std::uint32_t BoxTree::build(std::vector<Keyed>& keyed, std::uint32_t begin, std::uint32_t end) {
    const auto index = static_cast<std::uint32_t>(nodes_.size());
    nodes_.push_back({});
    const TreeBox& first = keyed[begin].box;
    EdgeBounds edges{first.x1, first.x1, first.x2, first.y1, first.y1, first.y2, first.y2};
    for (std::uint32_t i = begin + 1; i < end; ++i) {
        const TreeBox& b = keyed[i].box;
        edges.min_x1 = std::min(edges.min_x1, b.x1);
        edges.max_x1 = std::max(edges.max_x1, b.x1);
        edges.max_x2 = std::max(edges.max_x2, b.x2);
        edges.min_y1 = std::min(edges.min_y1, b.y1);
        edges.max_y1 = std::max(edges.max_y1, b.y1);
        edges.min_y2 = std::min(edges.min_y2, b.y2);
        edges.max_y2 = std::max(edges.max_y2, b.y2);
    }
    std::uint32_t left = kNoChild;
    std::uint32_t right = kNoChild;
    if (end - begin > kLeafSize) {
        // Split across the longer side of the node.
        const bool along_x = (edges.max_x2 - edges.min_x1) >= (edges.max_y2 - edges.min_y1);
        const std::uint32_t middle = begin + (end - begin) / 2;
        std::nth_element(keyed.begin() + begin, keyed.begin() + middle, keyed.begin() + end,
                         [along_x](const Keyed& a, const Keyed& b) {
                             return along_x ? a.x < b.x : a.y < b.y;
                         });
        left = build(keyed, begin, middle);
        right = build(keyed, middle, end);
    }
    nodes_[index] = Node{edges, begin, end, left, right};
    return index;
}

void GrowingBoxIndex::add(const TreeBox& box) {
    recent_.push_back(box);
    if (recent_.size() < kRecentLimit) return;
    std::vector<TreeBox> carry = std::move(recent_);
    recent_ = {};
    recent_.reserve(kRecentLimit);
    for (BoxTree& tree : trees_) {
        if (tree.empty()) {
            tree = BoxTree(std::move(carry));
            return;
        }
        carry.insert(carry.end(), tree.boxes().begin(), tree.boxes().end());
        tree = BoxTree();
    }
    trees_.emplace_back(std::move(carry));
}

}  // namespace vellora
