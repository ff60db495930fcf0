// The checked reads every action uses: counter values, fixed records
// (the sections and counter tables are seen on every page end to end).
#include "platform/bytes.h"
#include "vorel/vorel_counters.h"
#include "vorel/vorel_util.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

TEST(CounterValue, ASumOfSixtyFourBitCountersStopsAtTheLargestValue) {
    uint8_t a[16];
    std::fill(a, a + 16, 0xff);
    vorel_counter c{"x", 0, 8, nullptr, 8};
    const vorel::ByteReader r(a, sizeof a);
    EXPECT_EQ(vorel_counter_value(c, std::span<const vorel::ByteReader>(&r, 1)), UINT64_MAX);
    vorel_counter missing_source{"x", 0, 4, nullptr, 0, 3};
    EXPECT_EQ(vorel_counter_value(missing_source, std::span<const vorel::ByteReader>(&r, 1)), 0u);
}

TEST(ByteBlock, WideSignedLittleEndianAndTextReads) {
    const uint8_t bytes[] = {0x80, 0, 0, 0, 0, 0, 0, 1, 0xff, 0xfe, 0x34, 0x12, 'a', 'b', 'c', 'd'};
    vorel::ByteReader r(bytes, sizeof bytes);
    vorel::ByteBlock<16> b;
    ASSERT_TRUE(r.block(0, b));
    EXPECT_EQ(b.be64<0>(), 0x8000000000000001ull);
    EXPECT_EQ(b.sbe16<8>(), -2);
    EXPECT_EQ(b.le16<10>(), 0x1234);
    // A name that fills its field has no NUL and stops at the field's end.
    EXPECT_EQ((b.text<12, 4>()), "abcd");
    EXPECT_EQ((b.text<10, 4>()), std::string_view("\x34\x12"
                                                  "ab",
                                                  4));
    vorel::ByteBlock<4> nul;
    const uint8_t with_nul[] = {'x', 0, 'y', 'z'};
    ASSERT_TRUE(vorel::ByteReader(with_nul, 4).block(0, nul));
    EXPECT_EQ((nul.text<0, 4>()), "x");
}

} // namespace
