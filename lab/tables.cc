#include "lab/tables.h"

#include <algorithm>
#include <iterator>

namespace vorel::lab {

bool RemovedSet::contains(uint64_t index) const {
    auto after = spans_.upper_bound(index);
    if (after == spans_.begin())
        return false;
    return index < std::prev(after)->second;
}

uint64_t RemovedSet::next_kept(uint64_t index) const {
    auto after = spans_.upper_bound(index);
    if (after == spans_.begin())
        return index;
    auto span = std::prev(after);
    return index < span->second ? span->second : index;
}

uint64_t RemovedSet::remove(uint64_t first, uint64_t last) {
    if (first >= last)
        return 0;
    uint64_t before = removed_;
    // Merge every span that overlaps or touches [first, last).
    auto it = spans_.upper_bound(first);
    if (it != spans_.begin() && std::prev(it)->second >= first)
        --it;
    while (it != spans_.end() && it->first <= last) {
        first = std::min(first, it->first);
        last = std::max(last, it->second);
        removed_ -= it->second - it->first;
        it = spans_.erase(it);
    }
    spans_.emplace(first, last);
    removed_ += last - first;
    return removed_ - before;
}

void Table::add_listed(Entry entry) {
    if (blocks_.empty() || blocks_.back().formula) {
        blocks_.push_back(Block{total_, 0, {}, nullptr});
    }
    blocks_.back().listed.push_back(std::move(entry));
    ++blocks_.back().count;
    ++total_;
}

void Table::add_generated(uint64_t count, EntryFormula formula) {
    if (count == 0)
        return;
    blocks_.push_back(Block{total_, count, {}, std::move(formula)});
    total_ += count;
}

const Table::Block &Table::block_of(uint64_t index) const {
    auto after = std::upper_bound(blocks_.begin(), blocks_.end(), index,
                                  [](uint64_t i, const Block &b) { return i < b.first; });
    return *std::prev(after);
}

Entry Table::entry(uint64_t index) const {
    const Block &block = block_of(index);
    uint64_t offset = index - block.first;
    return block.formula ? block.formula(offset) : block.listed[offset];
}

void Table::for_each(const std::function<bool(uint64_t, const Entry &)> &visit) const {
    for (uint64_t i = removed_.next_kept(0); i < total_; i = removed_.next_kept(i + 1)) {
        if (!visit(i, entry(i)))
            return;
    }
}

uint64_t Table::remove_if(const std::function<bool(const Entry &)> &match) {
    // Collect runs of matching indices so a clear of a whole block is one span.
    uint64_t removed = 0, run_first = 0, run_last = 0;
    auto flush = [&] {
        removed += removed_.remove(run_first, run_last);
        run_first = run_last = 0;
    };
    for_each([&](uint64_t i, const Entry &e) {
        if (!match(e))
            return true;
        if (run_last != i)
            flush(), run_first = i;
        run_last = i + 1;
        return true;
    });
    flush();
    return removed;
}

bool PrefixFilter::matches(const uint8_t *entry_addr, bool entry_ipv6) const {
    if (any)
        return true;
    if (entry_ipv6 != ipv6)
        return false;
    unsigned bits = std::min(mask_len, ipv6 ? 128u : 32u);
    unsigned whole = bits / 8, rest = bits % 8;
    if (!std::equal(addr, addr + whole, entry_addr))
        return false;
    if (rest == 0)
        return true;
    uint8_t mask = static_cast<uint8_t>(0xff << (8 - rest));
    return (addr[whole] & mask) == (entry_addr[whole] & mask);
}

bool flow_matches(const FlowFilter &f, const FlowKey &k) {
    return f.source.matches(k.source, k.ipv6) && f.destination.matches(k.destination, k.ipv6) &&
           (f.source_port == 0 || f.source_port == k.source_port) &&
           (f.destination_port == 0 || f.destination_port == k.destination_port) &&
           (f.protocol == 65535 || f.protocol == k.protocol) &&
           (f.application == 0 || f.application == k.application);
}

} // namespace vorel::lab
