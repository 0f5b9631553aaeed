#include "data/SlotSequence.h"

namespace qardel {

void SlotSequence::assign(const std::vector<uint32_t>& order) {
    clear();
    m_blocks.reserve((order.size() + kBlock - 1) / kBlock);
    m_firsts.reserve(m_blocks.capacity());
    for (size_t at = 0; at < order.size(); at += kBlock) {
        const size_t end = std::min(order.size(), at + kBlock);
        m_firsts.push_back(at);
        m_blocks.emplace_back(order.begin() + std::ptrdiff_t(at),
                              order.begin() + std::ptrdiff_t(end));
    }
    m_size = order.size();
}

void SlotSequence::insert(size_t i, uint32_t slot) {
    if (m_blocks.empty()) {
        m_blocks.emplace_back();
        m_blocks.back().reserve(kBlock);
        m_firsts.push_back(0);
    }
    // the end of the sequence belongs to the last block
    const size_t b = i >= m_size ? m_blocks.size() - 1 : blockOf(i);
    Block& block = m_blocks[b];
    block.insert(block.begin() + std::ptrdiff_t(i - m_firsts[b]), slot);
    ++m_size;
    shiftFirsts(b + 1, 1);
    if (block.size() < 2 * kBlock) return;
    // split in halves: both have room for a while
    Block upper(block.begin() + std::ptrdiff_t(kBlock), block.end());
    block.resize(kBlock);
    m_blocks.insert(m_blocks.begin() + std::ptrdiff_t(b + 1), std::move(upper));
    m_firsts.insert(m_firsts.begin() + std::ptrdiff_t(b + 1), m_firsts[b] + kBlock);
}

void SlotSequence::erase(size_t i) {
    const size_t b = blockOf(i);
    Block& block = m_blocks[b];
    block.erase(block.begin() + std::ptrdiff_t(i - m_firsts[b]));
    --m_size;
    shiftFirsts(b + 1, -1);
    if (block.empty()) {
        m_blocks.erase(m_blocks.begin() + std::ptrdiff_t(b));
        m_firsts.erase(m_firsts.begin() + std::ptrdiff_t(b));
        return;
    }
    // a block emptied by deletions takes in the next one, so that many
    // deletions do not leave many small blocks to search through
    if (block.size() < kBlock / 4 && b + 1 < m_blocks.size() &&
        block.size() + m_blocks[b + 1].size() <= kBlock) {
        Block& next = m_blocks[b + 1];
        block.insert(block.end(), next.begin(), next.end());
        m_blocks.erase(m_blocks.begin() + std::ptrdiff_t(b + 1));
        m_firsts.erase(m_firsts.begin() + std::ptrdiff_t(b + 1));
    }
}

std::vector<uint32_t> SlotSequence::toVector() const {
    std::vector<uint32_t> out;
    out.reserve(m_size);
    for (const Block& b : m_blocks)
        out.insert(out.end(), b.begin(), b.end());
    return out;
}

size_t SlotSequence::approxBytes() const {
    size_t bytes = m_blocks.capacity() * sizeof(Block) + m_firsts.capacity() * sizeof(size_t);
    for (const Block& b : m_blocks)
        bytes += b.capacity() * sizeof(uint32_t);
    return bytes;
}

} // namespace qardel
