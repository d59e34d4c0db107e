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

// Bounds of the boxes of one leaf.
EdgeBounds bounds_of(const TreeBox* box, const TreeBox* end) noexcept {
    EdgeBounds edges{box->x1, box->x1, box->x2, box->y1, box->y1, box->y2, box->y2};
    for (++box; box < end; ++box) {
        edges.min_x1 = std::min(edges.min_x1, box->x1);
        edges.max_x1 = std::max(edges.max_x1, box->x1);
        edges.max_x2 = std::max(edges.max_x2, box->x2);
        edges.min_y1 = std::min(edges.min_y1, box->y1);
        edges.max_y1 = std::max(edges.max_y1, box->y1);
        edges.min_y2 = std::min(edges.min_y2, box->y2);
        edges.max_y2 = std::max(edges.max_y2, box->y2);
    }
    return edges;
}

// The 16 bits of `v` spread to the even bits of a 32-bit word.
std::uint32_t spread_bits(std::uint32_t v) noexcept {
    v = (v | (v << 8)) & 0x00FF00FFu;
    v = (v | (v << 4)) & 0x0F0F0F0Fu;
    v = (v | (v << 2)) & 0x33333333u;
    v = (v | (v << 1)) & 0x55555555u;
    return v;
}

// A centre coordinate on a grid of 65536 cells from `origin`, `scale` cells
// per unit; NaN and values off the grid land in the nearest end cell.
std::uint32_t grid_cell(float centre, float origin, float scale) noexcept {
    const float cell = (centre - origin) * scale;
    if (!(cell > 0.0f)) return 0;
    if (cell >= 65535.0f) return 65535;
    return static_cast<std::uint32_t>(cell);
}

// Sorts (key << 32 | position) words by key, then position: least
// significant byte first over the key bytes that are not all the same, the
// counts of every byte taken in one pass.
void sort_keyed_words(std::vector<std::uint64_t>& words) {
    if (words.size() <= 64) {
        std::sort(words.begin(), words.end());
        return;
    }
    std::vector<std::uint32_t> counts(4 * 256, 0u);
    for (std::uint64_t w : words) {
        ++counts[(w >> 32) & 0xFFu];
        ++counts[256 + ((w >> 40) & 0xFFu)];
        ++counts[512 + ((w >> 48) & 0xFFu)];
        ++counts[768 + (w >> 56)];
    }
    std::vector<std::uint64_t> buffer(words.size());
    for (unsigned pass = 0; pass < 4; ++pass) {
        const unsigned shift = 32 + 8 * pass;
        std::uint32_t* const start = counts.data() + 256 * pass;
        if (start[(words[0] >> shift) & 0xFFu] == words.size()) continue;
        std::uint32_t total = 0;
        for (std::uint32_t* c = start; c < start + 256; ++c) {
            const std::uint32_t here = *c;
            *c = total;
            total += here;
        }
        for (std::uint64_t w : words) buffer[start[(w >> shift) & 0xFFu]++] = w;
        words.swap(buffer);
    }
}

}  // namespace

BoxTree BoxTree::packed(std::vector<TreeBox> boxes) {
    BoxTree tree;
    if (boxes.empty()) return tree;
    // One scale on both axes, so that a cell is square whatever the shape of
    // the whole.
    float min_x = std::numeric_limits<float>::infinity();
    float min_y = min_x;
    float max_x = -min_x;
    float max_y = -min_x;
    for (const TreeBox& box : boxes) {
        const float cx = box.x1 * 0.5f + box.x2 * 0.5f;
        const float cy = box.y1 * 0.5f + box.y2 * 0.5f;
        min_x = std::min(min_x, cx);
        max_x = std::max(max_x, cx);
        min_y = std::min(min_y, cy);
        max_y = std::max(max_y, cy);
    }
    const float extent = std::max(max_x - min_x, max_y - min_y);
    const float scale = extent > 0.0f && extent < std::numeric_limits<float>::infinity()
                            ? 65535.0f / extent
                            : 0.0f;
    std::vector<std::uint64_t> words(boxes.size());
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        const TreeBox& box = boxes[i];
        const std::uint32_t gx = grid_cell(box.x1 * 0.5f + box.x2 * 0.5f, min_x, scale);
        const std::uint32_t gy = grid_cell(box.y1 * 0.5f + box.y2 * 0.5f, min_y, scale);
        const std::uint64_t code = spread_bits(gx) | (spread_bits(gy) << 1);
        words[i] = code << 32 | i;
    }
    sort_keyed_words(words);
    tree.boxes_.resize(boxes.size());
    for (std::size_t i = 0; i < words.size(); ++i) tree.boxes_[i] = boxes[words[i] & 0xFFFFFFFFu];
    tree.nodes_.reserve(2 * (boxes.size() / kLeafSize + 1));
    tree.build_packed(0, static_cast<std::uint32_t>(boxes.size()));
    return tree;
}

std::uint32_t BoxTree::build_packed(std::uint32_t begin, std::uint32_t end) {
    const auto index = static_cast<std::uint32_t>(nodes_.size());
    nodes_.push_back({});
    if (end - begin <= kLeafSize) {
        nodes_[index] = Node{bounds_of(&boxes_[begin], boxes_.data() + end), begin, end, kNoChild, kNoChild};
        return index;
    }
    const std::uint32_t middle = begin + (end - begin) / 2;
    const std::uint32_t left = build_packed(begin, middle);
    const std::uint32_t right = build_packed(middle, end);
    const EdgeBounds& a = nodes_[left].edges;
    const EdgeBounds& b = nodes_[right].edges;
    const EdgeBounds edges{std::min(a.min_x1, b.min_x1), std::max(a.max_x1, b.max_x1),
                           std::max(a.max_x2, b.max_x2), std::min(a.min_y1, b.min_y1),
                           std::max(a.max_y1, b.max_y1), std::min(a.min_y2, b.min_y2),
                           std::max(a.max_y2, b.max_y2)};
    nodes_[index] = Node{edges, begin, end, left, right};
    return index;
}

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
            tree = BoxTree::packed(std::move(carry));
            return;
        }
        carry.insert(carry.end(), tree.boxes().begin(), tree.boxes().end());
        tree = BoxTree();
    }
    trees_.push_back(BoxTree::packed(std::move(carry)));
}

}  // namespace vellora
