// The lab's table store: generated blocks, removal intervals, reset, and the
// flow filter's matching.
#include "lab/tables.h"

#include <gtest/gtest.h>

using namespace vorel::lab;

namespace {

Entry numbered(uint64_t i) {
    return Entry{static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)};
}

TEST(RemovedSet, MergesTouchingAndOverlappingIntervals) {
    RemovedSet r;
    EXPECT_EQ(r.remove(10, 20), 10u);
    EXPECT_EQ(r.remove(30, 40), 10u);
    EXPECT_EQ(r.remove(15, 35), 10u); // only 20..30 is new
    EXPECT_EQ(r.intervals(), 1u);
    EXPECT_EQ(r.remove(40, 41), 1u); // touching: still one interval
    EXPECT_EQ(r.intervals(), 1u);
    EXPECT_TRUE(r.contains(10));
    EXPECT_TRUE(r.contains(40));
    EXPECT_FALSE(r.contains(41));
    EXPECT_FALSE(r.contains(9));
    EXPECT_EQ(r.next_kept(12), 41u);
    EXPECT_EQ(r.remove(12, 13), 0u);
}

TEST(Table, BlocksKeepOrderAndClearsRemoveOnlyMatches) {
    Table t;
    t.add_listed({0xaa});
    t.add_generated(5, numbered);
    t.add_generated(3, [](uint64_t i) { return Entry{0xdd, static_cast<uint8_t>(i)}; });
    ASSERT_EQ(t.loaded(), 9u);
    EXPECT_EQ(t.entry(0), Entry{0xaa});
    EXPECT_EQ(t.entry(3), numbered(2));
    EXPECT_EQ(t.entry(8), (Entry{0xdd, 2}));

    // Clearing the second generated block is one interval, not copies.
    EXPECT_EQ(t.remove_if([](const Entry &e) { return e[0] == 0xdd; }), 3u);
    EXPECT_EQ(t.removed().intervals(), 1u);
    EXPECT_EQ(t.remove_if([](const Entry &e) { return e[0] == 0xdd; }), 0u);
    EXPECT_EQ(t.remove_if([](const Entry &e) { return e.size() == 2 && e[1] % 2 == 1; }),
              2u); // entries 1 and 3
    std::vector<Entry> kept;
    t.for_each([&](uint64_t, const Entry &e) { return kept.push_back(e), true; });
    EXPECT_EQ(kept, (std::vector<Entry>{{0xaa}, numbered(0), numbered(2), numbered(4)}));
    EXPECT_EQ(t.live(), 4u);
    t.reset();
    EXPECT_EQ(t.live(), 9u);
}

TEST(Table, MillionGeneratedEntriesClearAsOneInterval) {
    Table t;
    t.add_generated(1000000, numbered);
    EXPECT_EQ(t.remove_if([](const Entry &) { return true; }), 1000000u);
    EXPECT_EQ(t.removed().intervals(), 1u);
    EXPECT_EQ(t.live(), 0u);
}

PrefixFilter prefix(std::initializer_list<uint8_t> bytes, unsigned len, bool v6 = false) {
    PrefixFilter p;
    std::copy(bytes.begin(), bytes.end(), p.addr);
    p.mask_len = len;
    p.ipv6 = v6;
    p.any = false;
    return p;
}

TEST(FlowFilter, PrefixesPortsProtocolAndApplication) {
    uint8_t a[16] = {10, 10, 2, 7}, b[16] = {10, 11, 0, 1};
    uint8_t v6[16] = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    EXPECT_TRUE(prefix({10}, 8).matches(b, false));
    EXPECT_TRUE(prefix({10, 10, 2, 0}, 24).matches(a, false));
    EXPECT_FALSE(prefix({10, 10, 2, 0}, 24).matches(b, false));
    EXPECT_TRUE(prefix({10, 10, 2, 7}, 32).matches(a, false));
    EXPECT_FALSE(prefix({10, 10, 2, 6}, 32).matches(a, false));
    EXPECT_FALSE(prefix({10}, 8).matches(v6, true)); // family differs
    EXPECT_TRUE(prefix({0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, 128, true)
                    .matches(v6, true));
    EXPECT_FALSE(prefix({0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2}, 128, true)
                     .matches(v6, true));
    EXPECT_TRUE(prefix({0x20, 0x01, 0x0c}, 23, true).matches(v6, true)); // bit boundary

    FlowKey key{a, b, false, 5060, 53, 17, 9};
    FlowFilter any;
    EXPECT_TRUE(flow_matches(any, key));
    FlowFilter f = any;
    f.destination_port = 53, f.protocol = 17, f.application = 9;
    EXPECT_TRUE(flow_matches(f, key));
    f.protocol = 6;
    EXPECT_FALSE(flow_matches(f, key));
    f = any, f.source_port = 5061;
    EXPECT_FALSE(flow_matches(f, key));
    f = any, f.application = 8;
    EXPECT_FALSE(flow_matches(f, key));
}

} // namespace
