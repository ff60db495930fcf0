// Tables: the state an agent answers from.
//
// A table is an ordered list of fixed-size entries made of blocks: a listed
// block holds its entries, a generated block holds only a count and a
// formula that writes entry i when it is sent (10^6 entries cost the
// formula, not 10^6 copies).  A clear removes entries by index; the
// removals are kept as a sorted list of disjoint intervals, so clearing a
// whole generated block costs one interval, and `reset` puts the table back
// as it was loaded.
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
// Writes entry `index_in_block` of a generated block into `out` (the
// table's entry size).
using EntryFormula = std::function<void(uint64_t index_in_block, uint8_t *out)>;

class Table {
  public:
    explicit Table(size_t entry_size) : entry_size_(entry_size) {}

    size_t entry_size() const { return entry_size_; }
    // A listed entry shorter than the entry size is zero-filled.
    void add_listed(Entry entry);
    void add_generated(uint64_t count, EntryFormula formula);

    uint64_t loaded() const { return total_; }
    uint64_t live() const { return total_ - removed_.size(); }
    void entry(uint64_t index, uint8_t *out) const;

    // Calls `visit` with each kept entry in table order until it returns
    // false.  The entry's bytes are valid during the call only.
    void for_each(const std::function<bool(uint64_t index, const uint8_t *entry)> &visit) const;
    // Removes the kept entries `match` accepts; returns how many.
    uint64_t remove_if(const std::function<bool(const uint8_t *entry)> &match);
    void reset() { removed_.clear(); }
    const RemovedSet &removed() const { return removed_; }

  private:
    struct Block {
        uint64_t first;
        uint64_t count;
        std::vector<uint8_t> listed; // count entries back to back; empty when generated
        EntryFormula formula;
    };
    const Block &block_of(uint64_t index) const;

    size_t entry_size_;
    std::vector<Block> blocks_;
    uint64_t total_ = 0;
    RemovedSet removed_;
};

// An address selector as the filter blocks carry it: the 16 address bytes
// (IPv4 in the first four), the mask as 16 bytes of the same form, and the
// family.  An all-zero mask selects every address of both families.
struct PrefixFilter {
    uint8_t addr[16] = {};
    uint8_t mask[16] = {};
    bool ipv6 = false;
    bool any() const;
    bool matches(const uint8_t *addr16, bool entry_ipv6) const;
    // The selector of ADDR/LEN (tests and masks given as a length).
    static PrefixFilter of_length(const uint8_t *addr16, unsigned len, bool ipv6);
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
    bool has_application = false; // entries without one pass any application selector
};

bool flow_matches(const FlowFilter &filter, const FlowKey &key);

// An address range as the NAT clears carry it: the first and last address
// (16 bytes each, IPv4 in the first four), inclusive; a range not given
// selects every address.
struct AddressRange {
    bool given = false;
    uint8_t first[16] = {};
    uint8_t last[16] = {};
    bool contains(const uint8_t *addr16) const;
};

// The selectors of a NAT clear: the subscriber (internal host), softwire
// (B4) and NAT (translated) ranges and the subscriber port.
struct RangeFilter {
    AddressRange subscriber, softwire, nat;
    bool port_given = false;
    uint16_t port = 0;
};

struct RangeKey {
    const uint8_t *subscriber = nullptr, *softwire = nullptr, *nat = nullptr;
    uint16_t port = 0;
};

bool range_matches(const RangeFilter &filter, const RangeKey &key);

} // namespace vorel::lab
