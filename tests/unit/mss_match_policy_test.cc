// Decoders of the subscriber and policy commands: the TBCD identity and
// the masks of a policy's address lists.
#include "vorel/vorel_cmd_match_policy.h"
#include "vorel/vorel_cmd_mss.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace {

std::array<uint8_t, 8> encode(const char *digits) {
    std::array<uint8_t, 8> out{};
    mss_imsi_encode(digits, out.data());
    return out;
}

TEST(MssImsi, AcceptsOneToSixteenDigitsOnly) {
    EXPECT_TRUE(mss_imsi_valid("0"));
    EXPECT_TRUE(mss_imsi_valid("1234567890123456"));
    EXPECT_FALSE(mss_imsi_valid(""));
    EXPECT_FALSE(mss_imsi_valid("12345678901234567"));
    EXPECT_FALSE(mss_imsi_valid("31001a"));
    EXPECT_FALSE(mss_imsi_valid("-1"));
    EXPECT_FALSE(mss_imsi_valid("12 3"));
}

TEST(MssImsi, EncodesLowNibbleFirstWithAFillerForAnOddCount) {
    EXPECT_EQ(encode("012345678901234"),
              (std::array<uint8_t, 8>{0x10, 0x32, 0x54, 0x76, 0x98, 0x10, 0x32, 0xf4}));
    EXPECT_EQ(encode("1234567890123456"),
              (std::array<uint8_t, 8>{0x21, 0x43, 0x65, 0x87, 0x09, 0x21, 0x43, 0x65}));
    EXPECT_EQ(encode("7"),
              (std::array<uint8_t, 8>{0xf7, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff}));
    EXPECT_EQ(encode("12"),
              (std::array<uint8_t, 8>{0x21, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff}));
}

TEST(MssImsi, DecodingReversesEncoding) {
    for (const char *digits : {"0", "12", "310150123456789", "0000000000000000", "999"}) {
        std::array<uint8_t, 8> tbcd = encode(digits);
        EXPECT_EQ(mss_imsi_decode(tbcd.data()), digits);
    }
}

TEST(MssImsi, DecodingStopsAtTheFirstNibbleThatIsNoDigit) {
    const uint8_t filler[8] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
    EXPECT_EQ(mss_imsi_decode(filler), "");
    const uint8_t letter[8] = {0x12, 0xa4, 0x56, 0x78, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(mss_imsi_decode(letter), "214");
    const uint8_t high_letter[8] = {0x1b, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(mss_imsi_decode(high_letter), "");
}

match_policy_mask v4(uint32_t word, bool wildcard = false) {
    match_policy_mask m;
    m.value.words[0] = word;
    m.wildcard = wildcard;
    return m;
}

match_policy_mask v6(uint32_t w0, uint32_t w1, uint32_t w2, uint32_t w3, bool wildcard = false) {
    match_policy_mask m;
    m.value.words[0] = w0;
    m.value.words[1] = w1;
    m.value.words[2] = w2;
    m.value.words[3] = w3;
    m.value.is_v6 = 1;
    m.wildcard = wildcard;
    return m;
}

TEST(MatchPolicyMask, LengthOfNormalAndWildcardMasks) {
    EXPECT_EQ(match_policy_mask_length(v4(0xffffff00)), 24);
    EXPECT_EQ(match_policy_mask_length(v4(0x000000ff, true)), 24);
    EXPECT_EQ(match_policy_mask_length(v4(0xffffffff)), 32);
    EXPECT_EQ(match_policy_mask_length(v4(0x00000000, true)), 32);
    EXPECT_EQ(match_policy_mask_length(v4(0x80000000)), 1);
    EXPECT_EQ(match_policy_mask_length(v6(0xffffffff, 0xffffffff, 0, 0)), 64);
    EXPECT_EQ(match_policy_mask_length(v6(0xffffffff, 0xffff0000, 0, 0)), 48);
    EXPECT_EQ(match_policy_mask_length(v6(0, 0, 0, 0xff, true)), 120);
    // An IPv4 mask ignores the other words.
    match_policy_mask m = v4(0xffff0000);
    m.value.words[1] = 0xffffffff;
    EXPECT_EQ(match_policy_mask_length(m), 16);
}

TEST(MatchPolicyMask, ZeroMasksMakeRanges) {
    EXPECT_TRUE(match_policy_mask_is_zero(v4(0)));
    EXPECT_TRUE(match_policy_mask_is_zero(v4(0xffffffff, true)));
    EXPECT_FALSE(match_policy_mask_is_zero(v4(0xff000000)));
    EXPECT_FALSE(match_policy_mask_is_zero(v4(0, true)));
    EXPECT_TRUE(match_policy_mask_is_zero(v6(0, 0, 0, 0)));
    EXPECT_FALSE(match_policy_mask_is_zero(v6(0, 0, 0, 1)));
    EXPECT_TRUE(match_policy_mask_is_zero(v6(~0u, ~0u, ~0u, ~0u, true)));
}

} // namespace
