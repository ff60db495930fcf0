// The lab's table store: generated blocks, removal intervals, reset, and the
// flow filter's matching.
#include "lab/tables.h"

#include <gtest/gtest.h>

using namespace vorel::lab;

namespace {

void numbered(uint64_t i, uint8_t *out) {
    out[0] = static_cast<uint8_t>(i >> 8);
    out[1] = static_cast<uint8_t>(i);
}

std::vector<Entry> kept(const Table &t) {
    std::vector<Entry> out;
    t.for_each([&](uint64_t, const uint8_t *e) { return out.emplace_back(e, e + 2), true; });
    return out;
}

TEST(RemovedSet, MergesTouchingAndOverlappingIntervals) {
    RemovedSet r;
    EXPECT_EQ(r.remove(10, 20), 10u);
    EXPECT_EQ(r.remove(30, 40), 10u);
    EXPECT_EQ(r.remove(15, 35), 10u); // only 20..30 is new
    EXPECT_EQ(r.remove(40, 41), 1u);  // touching: still one interval
    EXPECT_EQ(r.intervals(), 1u);
    EXPECT_TRUE(r.contains(40));
    EXPECT_FALSE(r.contains(41));
    EXPECT_FALSE(r.contains(9));
    EXPECT_EQ(r.next_kept(12), 41u);
}

TEST(Table, BlocksKeepOrderAndClearsRemoveOnlyMatches) {
    Table t(2);
    t.add_listed({0xaa});
    t.add_generated(5, numbered);
    t.add_generated(3, [](uint64_t i, uint8_t *out) { out[0] = 0xdd, out[1] = uint8_t(i); });
    ASSERT_EQ(t.loaded(), 9u);
    uint8_t e[2];
    t.entry(8, e);
    EXPECT_EQ(Entry(e, e + 2), (Entry{0xdd, 2}));

    // Clearing the second generated block is one interval, not copies.
    auto tagged_dd = [](const uint8_t *x) { return x[0] == 0xdd; };
    EXPECT_EQ(t.remove_if(tagged_dd), 3u);
    EXPECT_EQ(t.removed().intervals(), 1u);
    EXPECT_EQ(t.remove_if(tagged_dd), 0u);
    EXPECT_EQ(t.remove_if([](const uint8_t *x) { return x[0] == 0 && x[1] % 2; }), 2u);
    EXPECT_EQ(kept(t), (std::vector<Entry>{{0xaa, 0}, {0, 0}, {0, 2}, {0, 4}}));
    t.reset();
    EXPECT_EQ(t.live(), 9u);
}

PrefixFilter prefix(std::initializer_list<uint8_t> bytes, unsigned len, bool v6 = false) {
    uint8_t a[16] = {};
    std::copy(bytes.begin(), bytes.end(), a);
    return PrefixFilter::of_length(a, len, v6);
}

// Prefixes match bit by bit, a partial byte too; the source port and the
// application are compared (the destination port, the protocol and the
// family are held by the lab_tables and softwire_state cases, the NAT
// clears' ranges by lab_tables and fwnat_sp_state).
TEST(FlowFilter, PrefixesBitByBitTheSourcePortAndTheApplication) {
    uint8_t a[16] = {10, 10, 2, 7}, b[16] = {10, 11, 0, 1};
    uint8_t v6[16] = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    EXPECT_TRUE(prefix({10}, 8).matches(b, false));
    EXPECT_TRUE(prefix({10, 10, 2, 0}, 24).matches(a, false));
    EXPECT_FALSE(prefix({10, 10, 2, 0}, 24).matches(b, false));
    EXPECT_FALSE(prefix({10, 10, 2, 6}, 32).matches(a, false));
    EXPECT_TRUE(prefix({0x20, 0x01, 0x0c}, 23, true).matches(v6, true)); // bit boundary
    EXPECT_TRUE(prefix({}, 0).matches(v6, true)); // no mask: any address, any family

    FlowKey key{a, b, false, 5060, 53, 17, 9, true};
    FlowFilter any;
    EXPECT_TRUE(flow_matches(any, key));
    FlowFilter f = any;
    f.source_port = 5061;
    EXPECT_FALSE(flow_matches(f, key));
    f = any, f.application = 8;
    EXPECT_FALSE(flow_matches(f, key));
}

} // namespace
