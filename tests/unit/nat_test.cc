// The NAT side's shared pieces: the sub-command selection of the pcp and
// inline-nat commands and the name a bundle member is shown under.
#include "vorel/vorel_cmd_nat.h"
#include "vorel/vorel_db.h"

#include <cstring>
#include <gtest/gtest.h>
#include <memory>

namespace {

constexpr nat_selection kRows[] = {
    {"stats", "dump_nat_stats", {0, true}},
    {"clear_pool", "clear_natpool", {1, false}},
    {"pcp-stats", "dump_pcp_stats", {.pic_based = true}},
};

fwnat_params chosen(const char *subcommand, const char *action, int32_t view = 5) {
    fwnat_params p;
    fwnat_params_init(&p);
    p.stats_subcmd = view;
    if (subcommand)
        p.subcommand = subcommand;
    if (action)
        p.action = action;
    nat_choose_action(&p, kRows);
    return p;
}

void add_pic(const char *name, uint16_t fpc, uint16_t ifd_index) {
    auto rec = std::make_unique<asp_info>();
    rec->fpc_slot = fpc;
    rec->ifd_index = ifd_index;
    std::strncpy(rec->name, name, sizeof rec->name - 1);
    vorel_db_asp_add(std::move(rec), false);
}

} // namespace

TEST(NatSelection, SubcommandOrActionBringTheSameSettings) {
    fwnat_params p = chosen("stats", nullptr);
    EXPECT_STREQ(vorel_text(p.action), "dump_nat_stats");
    EXPECT_EQ(p.stats_subcmd, 0);
    EXPECT_TRUE(p.pic_based);
    // -A names the action whatever the sub-command says.
    p = chosen("stats", "clear_natpool");
    EXPECT_STREQ(vorel_text(p.action), "clear_natpool");
    EXPECT_EQ(p.stats_subcmd, 1);
    EXPECT_FALSE(p.pic_based);
    // A row that keeps the view leaves -V's choice.
    p = chosen(nullptr, "dump_pcp_stats", 2);
    EXPECT_EQ(p.stats_subcmd, 2);
    EXPECT_TRUE(p.pic_based);
}

TEST(NatSelection, NothingKnownChoosesNothing) {
    fwnat_params p = chosen("flows", nullptr);
    EXPECT_FALSE(p.action);
    EXPECT_EQ(p.stats_subcmd, 5);
    // An action no row names stays as given, without settings.
    p = chosen(nullptr, "dump_flow");
    EXPECT_STREQ(vorel_text(p.action), "dump_flow");
    EXPECT_FALSE(p.pic_based);
    // Sub-commands are compared whole.
    p = chosen("stat", nullptr);
    EXPECT_FALSE(p.action);
}

TEST(NatPicName, BundleMembersShownUnderTheirTwinsName) {
    vorel_db_clear();
    add_pic("mams-3/0/0", 3, 31);
    add_pic("mams-4/0/0", 4, 41);
    add_pic("ms-4/0/0", 4, 40);
    nat_pic_name lone = nat_shown_pic_name(*vorel_db_asp_find_by_name("mams-3/0/0"));
    EXPECT_STREQ(lone.text, "ms-3/0/0");
    EXPECT_FALSE(lone.twin_known);
    nat_pic_name twin = nat_shown_pic_name(*vorel_db_asp_find_by_name("mams-4/0/0"));
    EXPECT_STREQ(twin.text, "ms-4/0/0");
    EXPECT_TRUE(twin.twin_known);
    nat_pic_name plain = nat_shown_pic_name(*vorel_db_asp_find_by_name("ms-4/0/0"));
    EXPECT_STREQ(plain.text, "ms-4/0/0");
    EXPECT_FALSE(plain.twin_known);
    vorel_db_clear();
}
