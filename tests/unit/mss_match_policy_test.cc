// Decoders of the subscriber and policy commands: the TBCD identity and
// the masks of a policy's address lists.
#include "vorel/vorel_cmd_match_policy.h"
#include "vorel/vorel_cmd_mss.h"

#include <array>
#include <gtest/gtest.h>
#include <string>

TEST(MssImsi, OneToSixteenDigitsLowNibbleFirstWithAFiller) {
    for (const char *ok : {"0", "1234567890123456"})
        EXPECT_TRUE(mss_imsi_valid(ok)) << ok;
    for (const char *bad : {"", "12345678901234567", "31001a", "-1", "12 3"})
        EXPECT_FALSE(mss_imsi_valid(bad)) << bad;
    using tbcd = std::array<uint8_t, 8>;
    for (auto [digits, bytes] : std::initializer_list<std::pair<const char *, tbcd>>{
             {"012345678901234", {0x10, 0x32, 0x54, 0x76, 0x98, 0x10, 0x32, 0xf4}},
             {"1234567890123456", {0x21, 0x43, 0x65, 0x87, 0x09, 0x21, 0x43, 0x65}},
             {"7", {0xf7, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff}},
             {"12", {0x21, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff}}}) {
        tbcd out{};
        mss_imsi_encode(digits, out.data());
        EXPECT_EQ(out, bytes) << digits;
        EXPECT_EQ(mss_imsi_decode(out.data()), digits);
    }
    // Decoding stops at the first nibble that is no digit.
    for (auto [bytes, digits] : std::initializer_list<std::pair<tbcd, const char *>>{
             {{0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff}, ""},
             {{0x12, 0xa4, 0x56, 0x78, 0, 0, 0, 0}, "214"},
             {{0x1b, 0, 0, 0, 0, 0, 0, 0}, ""}})
        EXPECT_EQ(mss_imsi_decode(bytes.data()), digits);
}

// Lengths of normal and wildcard masks (an IPv4 mask ignores the other
// words), and which masks are zero and so make ranges.
TEST(MatchPolicyMask, LengthsAndZeroMasks) {
    auto mask = [](uint32_t w0, bool wildcard, bool v6 = false, uint32_t w1 = 0, uint32_t w3 = 0) {
        match_policy_mask m;
        m.value.words[0] = w0;
        m.value.words[1] = w1;
        m.value.words[3] = w3;
        m.value.is_v6 = v6;
        m.wildcard = wildcard;
        return m;
    };
    for (auto [m, len] : std::initializer_list<std::pair<match_policy_mask, int>>{
             {mask(0xffffff00, false), 24},
             {mask(0x000000ff, true), 24},
             {mask(0xffffffff, false), 32},
             {mask(0, true), 32},
             {mask(0x80000000, false), 1},
             {mask(0xffff0000, false, false, 0xffffffff), 16},
             {mask(0xffffffff, false, true, 0xffffffff), 64},
             {mask(0xffffffff, false, true, 0xffff0000), 48},
             {mask(0, true, true, 0, 0xff), 120}})
        EXPECT_EQ(match_policy_mask_length(m), len) << m.value.words[0] << " " << m.wildcard;
    EXPECT_TRUE(match_policy_mask_is_zero(mask(0, false)));
    EXPECT_TRUE(match_policy_mask_is_zero(mask(0xffffffff, true)));
    EXPECT_FALSE(match_policy_mask_is_zero(mask(0xff000000, false)));
    EXPECT_FALSE(match_policy_mask_is_zero(mask(0, true)));
    EXPECT_FALSE(match_policy_mask_is_zero(mask(0, false, true, 0, 1)));
    match_policy_mask all = mask(~0u, true, true, ~0u, ~0u);
    all.value.words[2] = ~0u;
    EXPECT_TRUE(match_policy_mask_is_zero(all));
}
