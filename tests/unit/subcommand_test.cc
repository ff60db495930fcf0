// The sub-command table: lookup by word (and the row's further condition)
// and the settings that -A applies for an action several rows name.
#include "vorel/vorel_subcommand.h"

#include "tests/support/argv.h"
#include "vorel/vorel_ctx.h"
#include "vorel/vorel_getopt.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace {

// Settings shared as a whole: one statistics type.
constexpr vorel_subcommand<uint32_t> kWhole[] = {
    {"stats", "dump_stats", 1},          {"clear_stats", "clear_stats", 4},
    {"stats_diffserv", "dump_stats", 2}, {"stats_fwdclass", "dump_stats", 3},
    {"pic_stats", "dump_pic_stats", 7},  {"pic_summary", "dump_pic_stats", 7},
};

// Settings shared field by field.
struct view {
    std::optional<int> level = {};
    bool per_pic = false;
    std::optional<int> family = {};
    auto fields() { return std::tie(level, per_pic, family); }
};
struct count_flag {
    bool count_only = false;
};
const vorel_subcommand<view, count_flag> kFields[] = {
    {"flows", "count_flow", {}, {true}},
    {"flows", "dump_flow", {.level = 0, .per_pic = true, .family = 4}},
    {"flows6", "dump_flow", {.level = 0, .per_pic = true, .family = 6}},
    {"flows_all", "dump_flow", {.level = 1, .per_pic = true}},
    {"stats", "dump_stats", {.level = 2}},
    {"conv", "dump_conv", {}},
    {"conv4", "dump_conv", {.family = 4}},
    {"conv4_all", "dump_conv", {.family = 4}},
};

auto counting(bool c) {
    return [c](const count_flag &w) { return w.count_only == c; };
}

} // namespace

TEST(SubcommandFind, WordAndConditionChooseTheFirstRow) {
    EXPECT_STREQ(vorel_subcommand_find(kWhole, "stats_fwdclass")->action, "dump_stats");
    EXPECT_EQ(vorel_subcommand_find(kWhole, "stats_fwdclass")->settings, 3u);
    // Words compare whole: no prefix, no longer word.
    EXPECT_EQ(vorel_subcommand_find(kWhole, "stat"), nullptr);
    EXPECT_EQ(vorel_subcommand_find(kWhole, "statsx"), nullptr);
    EXPECT_EQ(vorel_subcommand_find(kWhole, std::optional<std::string>{}), nullptr);
    EXPECT_EQ(vorel_subcommand_find(kWhole, std::optional<std::string>{"clear_stats"}), &kWhole[1]);
    // The same word with and without the count flag: two rows.
    EXPECT_STREQ(vorel_subcommand_find(kFields, "flows", counting(true))->action, "count_flow");
    EXPECT_STREQ(vorel_subcommand_find(kFields, "flows", counting(false))->action, "dump_flow");
    EXPECT_EQ(vorel_subcommand_find(kFields, "stats", counting(true)), nullptr);
}

TEST(SubcommandShared, WholeSettingsKeptOnlyWhenEveryRowAgrees) {
    // Three rows show the same page, each asking for another part: none wins.
    EXPECT_EQ(vorel_subcommand_shared(kWhole, "dump_stats"), std::optional<uint32_t>(0));
    // Rows that agree keep their settings; a lone row gives its own.
    EXPECT_EQ(vorel_subcommand_shared(kWhole, "dump_pic_stats"), std::optional<uint32_t>(7));
    EXPECT_EQ(vorel_subcommand_shared(kWhole, "clear_stats"), std::optional<uint32_t>(4));
    // An action no row names brings nothing.
    EXPECT_FALSE(vorel_subcommand_shared(kWhole, "dump"));
}

TEST(SubcommandShared, FieldsComparedOneByOne) {
    std::optional<view> v = vorel_subcommand_shared(kFields, "dump_flow");
    ASSERT_TRUE(v);
    // Every row shows per PIC; the levels and families differ, so those are
    // left to the options (one row leaving a field unset is a difference too).
    EXPECT_TRUE(v->per_pic);
    EXPECT_FALSE(v->level);
    EXPECT_FALSE(v->family);
    // A field unset in the first row stays unset though later rows agree.
    v = vorel_subcommand_shared(kFields, "dump_conv");
    ASSERT_TRUE(v);
    EXPECT_FALSE(v->family);
    // A lone row gives all it sets.
    v = vorel_subcommand_shared(kFields, "dump_stats");
    ASSERT_TRUE(v);
    EXPECT_EQ(v->level, 2);
    EXPECT_FALSE(v->per_pic);
}

TEST(SubcommandOptions, CommandWordsReadAndOtherLettersLeft) {
    struct words {
        std::optional<std::string> action, command, subcommand;
    } w;
    vorel::testing::Argv a(std::vector<std::string>{"vorel", "-C", "cos", "-i", "ms-1/0/0", "-S",
                                                    "stats", "-A", "dump_stats", "-S", "clear"});
    vorel_getopt_reset();
    vorel_opterr = 0;
    std::string others;
    int c;
    while ((c = vorel_getopt(a.argc(), a.argv(), vorel_optstring)) != -1)
        if (!vorel_command_word_option(c, &w))
            others += static_cast<char>(c);
    EXPECT_EQ(w.command, "cos");
    EXPECT_EQ(w.action, "dump_stats");
    EXPECT_EQ(w.subcommand, "clear"); // the last -S counts
    EXPECT_EQ(others, "i");
}
