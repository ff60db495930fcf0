// The service-set family's shared choices: which part of a style a PIC's
// table entry is compared with, and which PICs a -s name reaches.
#include "vorel/vorel_cmd_svc_set.h"

#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace {

asp_info pic(const char *name, uint32_t flags) {
    asp_info a;
    std::strncpy(a.name, name, sizeof a.name - 1);
    a.flags = flags;
    return a;
}

svc_set_info svc_set(const char *name, uint8_t style) {
    svc_set_info s;
    std::strncpy(s.name, name, sizeof s.name - 1);
    s.style = style;
    return s;
}

TEST(SvcSetStyle, MultiservicesPicsCompareLowBitsOthersTheWholeStyle) {
    asp_info msp = pic("ms-1/0/0", ASP_F_MSP), other = pic("sp-2/0/0", 0);
    svc_set_info b = svc_set("b", 'B'), d = svc_set("d", 'D');
    EXPECT_TRUE(svc_set_style_matches(66, msp, b, style_match::whole));
    EXPECT_FALSE(svc_set_style_matches(2, msp, b, style_match::whole));
    EXPECT_TRUE(svc_set_style_matches(2, msp, b, style_match::low4_on_msp));
    EXPECT_TRUE(svc_set_style_matches(2, msp, b, style_match::low2_on_msp));
    EXPECT_FALSE(svc_set_style_matches(66, msp, b, style_match::low4_on_msp));
    // 'D' (68): low four bits 4, low two bits 0 (a system entry's style)
    EXPECT_TRUE(svc_set_style_matches(4, msp, d, style_match::low4_on_msp));
    EXPECT_TRUE(svc_set_style_matches(0, msp, d, style_match::low2_on_msp));
    for (style_match rule :
         {style_match::whole, style_match::low4_on_msp, style_match::low2_on_msp}) {
        EXPECT_TRUE(svc_set_style_matches(66, other, b, rule));
        EXPECT_FALSE(svc_set_style_matches(2, other, b, rule));
    }
}

class SvcSetChoice : public ::testing::Test {
  protected:
    void SetUp() override {
        vorel_db_clear();
        add("ms-1/0/0", 1, "x");
        add("ms-2/0/0", 2, "x");
        add("mams-3/0/0", 3, "y");
        add("mams-4/0/0", 4, "y");
        add("ms-5/0/0", 5, "y");
    }
    void TearDown() override { vorel_db_clear(); }

    static void add(const char *name, uint16_t fpc, const char *svc) {
        auto rec = std::make_unique<asp_info>(pic(name, ASP_F_MSP));
        rec->fpc_slot = fpc;
        asp_info *a = vorel_db_asp_add(std::move(rec), false);
        vorel_db_svc_set_add(a, svc_set(svc, 'B'));
    }

    // The PICs the choice admits, in walk order.
    static std::vector<std::string> chosen(const char *svc_set_name) {
        svc_set_params p;
        if (svc_set_name)
            p.svc_set_name = svc_set_name;
        std::vector<std::string> out;
        for (asp_info *a = nullptr; (a = vorel_db_asp_find_next(a));)
            if (svc_set_choose_pic_by_svc_set(*a, p))
                out.push_back(a->name);
        return out;
    }
};

TEST_F(SvcSetChoice, TheFirstOrdinaryPicWithTheServiceSetEndsTheWalk) {
    EXPECT_EQ(chosen("x"), std::vector<std::string>{"ms-1/0/0"});
}

TEST_F(SvcSetChoice, OnceABundleMemberHadItEveryLaterPicWithItIsAsked) {
    EXPECT_EQ(chosen("y"), (std::vector<std::string>{"mams-3/0/0", "mams-4/0/0", "ms-5/0/0"}));
}

TEST_F(SvcSetChoice, WithoutANameEveryPic) {
    EXPECT_EQ(chosen(nullptr).size(), 5u);
    EXPECT_TRUE(chosen("nowhere").empty());
}

} // namespace
