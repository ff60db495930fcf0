// The masks of a policy's address lists.
#include "vorel/vorel_cmd_match_policy.h"

#include <gtest/gtest.h>
#include <string>

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
