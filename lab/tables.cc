#include "lab/tables.h"

#include <algorithm>
#include <cstring>
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
    if (blocks_.empty() || blocks_.back().formula)
        blocks_.push_back(Block{total_, 0, {}, nullptr});
    entry.resize(entry_size_);
    Block &b = blocks_.back();
    b.listed.insert(b.listed.end(), entry.begin(), entry.end());
    ++b.count;
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

void Table::entry(uint64_t index, uint8_t *out) const {
    const Block &block = block_of(index);
    uint64_t offset = index - block.first;
    if (block.formula)
        block.formula(offset, out);
    else
        std::memcpy(out, block.listed.data() + offset * entry_size_, entry_size_);
}

void Table::for_each(const std::function<bool(uint64_t, const uint8_t *)> &visit) const {
    std::vector<uint8_t> scratch(entry_size_);
    // Walk block by block so that finding an entry's block costs nothing.
    for (const Block &b : blocks_) {
        uint64_t end = b.first + b.count;
        for (uint64_t i = removed_.next_kept(b.first); i < end; i = removed_.next_kept(i + 1)) {
            const uint8_t *e;
            if (b.formula) {
                b.formula(i - b.first, scratch.data());
                e = scratch.data();
            } else {
                e = b.listed.data() + (i - b.first) * entry_size_;
            }
            if (!visit(i, e))
                return;
        }
    }
}

uint64_t Table::remove_if(const std::function<bool(const uint8_t *)> &match) {
    // Collect runs of matching indices so a clear of a whole block is one span.
    uint64_t removed = 0, run_first = 0, run_last = 0;
    auto flush = [&] {
        removed += removed_.remove(run_first, run_last);
        run_first = run_last = 0;
    };
    for_each([&](uint64_t i, const uint8_t *e) {
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

bool PrefixFilter::any() const {
    return std::all_of(mask, mask + 16, [](uint8_t b) { return b == 0; });
}

PrefixFilter PrefixFilter::of_length(const uint8_t *addr16, unsigned len, bool v6) {
    PrefixFilter p;
    std::memcpy(p.addr, addr16, 16);
    p.ipv6 = v6;
    len = std::min(len, v6 ? 128u : 32u);
    for (unsigned i = 0; i < len; i++)
        p.mask[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
    return p;
}

bool PrefixFilter::matches(const uint8_t *entry_addr, bool entry_ipv6) const {
    if (any())
        return true;
    if (entry_ipv6 != ipv6)
        return false;
    for (unsigned i = 0; i < 16; i++)
        if ((addr[i] & mask[i]) != (entry_addr[i] & mask[i]))
            return false;
    return true;
}

bool flow_matches(const FlowFilter &f, const FlowKey &k) {
    return f.source.matches(k.source, k.ipv6) && f.destination.matches(k.destination, k.ipv6) &&
           (f.source_port == 0 || f.source_port == k.source_port) &&
           (f.destination_port == 0 || f.destination_port == k.destination_port) &&
           (f.protocol == 65535 || f.protocol == k.protocol) &&
           (f.application == 0 || !k.has_application || f.application == k.application);
}

bool AddressRange::contains(const uint8_t *addr16) const {
    // Addresses compare as 128-bit big-endian numbers.
    return !given || (std::memcmp(first, addr16, 16) <= 0 && std::memcmp(addr16, last, 16) <= 0);
}

bool range_matches(const RangeFilter &f, const RangeKey &k) {
    return f.subscriber.contains(k.subscriber) && f.softwire.contains(k.softwire) &&
           f.nat.contains(k.nat) && (!f.port_given || f.port == k.port);
}

} // namespace vorel::lab
