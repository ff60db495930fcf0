// Tables: the state an agent answers from.
//
// A table is an ordered list of entries made of blocks: a listed block holds
// its entries, a generated block holds only a count and a formula that
// computes entry i when it is sent (10^6 entries cost the formula, not 10^6
// copies).  A clear removes entries by index; the removals are kept as a
// sorted list of disjoint intervals, so clearing a whole generated block
// costs one interval, and `reset` puts the table back as it was loaded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <vector>

namespace vorel::lab {

// Indices removed from a table, as disjoint half-open intervals.
class RemovedSet {
  public:
    bool contains(uint64_t index) const;
    // Removes [first, last); returns how many were not removed before.
    uint64_t remove(uint64_t first, uint64_t last);
    uint64_t size() const { return removed_; }
    size_t intervals() const { return spans_.size(); }
    void clear() {
        spans_.clear();
        removed_ = 0;
    }
    // The first index at or after `index` that is not removed.
    uint64_t next_kept(uint64_t index) const;

  private:
    std::map<uint64_t, uint64_t> spans_; // first -> last
    uint64_t removed_ = 0;
};

using Entry = std::vector<uint8_t>;
using EntryFormula = std::function<Entry(uint64_t index_in_block)>;

class Table {
  public:
    void add_listed(Entry entry);
    void add_generated(uint64_t count, EntryFormula formula);

    uint64_t loaded() const { return total_; }
    uint64_t live() const { return total_ - removed_.size(); }
    Entry entry(uint64_t index) const;

    // Calls `visit` with each kept entry in table order until it returns false.
    void for_each(const std::function<bool(uint64_t index, const Entry &)> &visit) const;
    // Removes the kept entries `match` accepts; returns how many.
    uint64_t remove_if(const std::function<bool(const Entry &)> &match);
    void reset() { removed_.clear(); }
    const RemovedSet &removed() const { return removed_; }

  private:
    struct Block {
        uint64_t first;
        uint64_t count;
        std::vector<Entry> listed; // empty for a generated block
        EntryFormula formula;
    };
    const Block &block_of(uint64_t index) const;

    std::vector<Block> blocks_;
    uint64_t total_ = 0;
    RemovedSet removed_;
};

// An address prefix as the filter blocks carry it: 16 address bytes (IPv4
// in the first four), a mask length, and the family.  A zero mask length
// with no address selects any address.
struct PrefixFilter {
    uint8_t addr[16] = {};
    unsigned mask_len = 0;
    bool ipv6 = false;
    bool any = true;
    bool matches(const uint8_t *addr16, bool entry_ipv6) const;
};

// The selectors of the shared flow filter: prefixes, ports (0 = any),
// protocol (65535 = any), application (0 = any).
struct FlowFilter {
    PrefixFilter source, destination;
    uint16_t source_port = 0, destination_port = 0;
    uint16_t protocol = 65535;
    uint32_t application = 0;
};

struct FlowKey {
    const uint8_t *source = nullptr;
    const uint8_t *destination = nullptr;
    bool ipv6 = false;
    uint16_t source_port = 0, destination_port = 0;
    uint16_t protocol = 0;
    uint32_t application = 0;
};

bool flow_matches(const FlowFilter &filter, const FlowKey &key);

} // namespace vorel::lab
