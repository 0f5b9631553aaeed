// An ordered sequence of row slots kept in blocks of a few thousand, so that
// putting a slot in or taking one out anywhere moves one block, not the
// whole sequence: in a vector of a million slots each delete moved 2 MB.
// A position is found through the blocks' first positions, a value through
// partitionPoint, which halves over the blocks and then within one.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <vector>

namespace qardel {

class SlotSequence {
    using Block = std::vector<uint32_t>;

  public:
    // Blocks are filled to this many slots, split at twice it, and merged
    // with their neighbour when small.
    static constexpr size_t kBlock = 4096;

    class const_iterator {
      public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = uint32_t;
        using difference_type = std::ptrdiff_t;
        using pointer = const uint32_t*;
        using reference = const uint32_t&;

        const_iterator() = default;
        reference operator*() const { return (*m_blocks)[m_b][m_o]; }
        const_iterator& operator++() {
            if (++m_o == (*m_blocks)[m_b].size()) ++m_b, m_o = 0;
            return *this;
        }
        const_iterator operator++(int) {
            const_iterator old = *this;
            ++*this;
            return old;
        }
        bool operator==(const const_iterator& o) const { return m_b == o.m_b && m_o == o.m_o; }

      private:
        friend class SlotSequence;
        const_iterator(const std::vector<Block>* blocks, size_t b, size_t o)
            : m_blocks(blocks), m_b(b), m_o(o) {}
        const std::vector<Block>* m_blocks = nullptr;
        size_t m_b = 0, m_o = 0;
    };

    SlotSequence() = default;
    explicit SlotSequence(const std::vector<uint32_t>& order) { assign(order); }

    size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    uint32_t operator[](size_t i) const {
        const size_t b = blockOf(i);
        return m_blocks[b][i - m_firsts[b]];
    }
    const_iterator begin() const { return {&m_blocks, 0, 0}; }
    const_iterator end() const { return {&m_blocks, m_blocks.size(), 0}; }
    // The slot at position i and those after it, one by one.
    const_iterator at(size_t i) const {
        if (i >= m_size) return end();
        const size_t b = blockOf(i);
        return {&m_blocks, b, i - m_firsts[b]};
    }

    // The first position whose slot fails pred, where pred holds for a
    // leading run of the sequence and fails after it (std::partition_point).
    template <class Pred> size_t partitionPoint(Pred pred) const {
        size_t lo = 0, hi = m_blocks.size();
        while (lo < hi) {
            const size_t mid = lo + (hi - lo) / 2;
            if (pred(m_blocks[mid].back()))
                lo = mid + 1;
            else
                hi = mid;
        }
        if (lo == m_blocks.size()) return m_size;
        const Block& b = m_blocks[lo];
        return m_firsts[lo] + size_t(std::partition_point(b.begin(), b.end(), pred) - b.begin());
    }

    void clear() {
        m_blocks.clear();
        m_firsts.clear();
        m_size = 0;
    }
    void assign(const std::vector<uint32_t>& order);
    void insert(size_t i, uint32_t slot);
    void erase(size_t i);
    std::vector<uint32_t> toVector() const;
    size_t approxBytes() const;

    bool operator==(const SlotSequence& o) const {
        return m_size == o.m_size && std::equal(begin(), end(), o.begin());
    }

  private:
    size_t blockOf(size_t i) const {
        return size_t(std::upper_bound(m_firsts.begin(), m_firsts.end(), i) - m_firsts.begin()) - 1;
    }
    void shiftFirsts(size_t fromBlock, std::ptrdiff_t by) {
        for (size_t b = fromBlock; b < m_firsts.size(); ++b)
            m_firsts[b] = size_t(std::ptrdiff_t(m_firsts[b]) + by);
    }

    std::vector<Block> m_blocks;  // never an empty one
    std::vector<size_t> m_firsts; // the position of each block's first slot
    size_t m_size = 0;
};

} // namespace qardel
