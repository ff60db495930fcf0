// The stateful firewall and NAT command line: options into fwnat_params,
// -x address ranges, the choice of the action, and the NAT pool range ends.
#include "vorel/vorel_cmd_fwnat.h"
#include "vorel/vorel_cmds.h"
#include "vorel/vorel_db.h"
#include "vorel/vorel_getopt.h"

#include "tests/support/argv.h"
#include <cstdio>

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using vorel::testing::Argv;

// Parses "vorel WORDS..." as the handler does; the result of the parse.
int parse(std::vector<std::string> words, fwnat_params &p) {
    words.insert(words.begin(), "vorel");
    Argv a(words);
    vorel_ctx ctx;
    ctx.optstring = vorel_optstring;
    vorel_getopt_reset();
    vorel_opterr = 0;
    fwnat_params_init(&p);
    return fwnat_parse_options(a.argc(), a.argv(), &ctx, &p);
}

fwnat_params parsed(std::vector<std::string> words) {
    fwnat_params p;
    EXPECT_EQ(parse(std::move(words), p), 0);
    return p;
}

fwnat_params chosen(std::vector<std::string> words) {
    fwnat_params p = parsed(std::move(words));
    fwnat_choose_action(&p);
    return p;
}

std::string action_of(std::vector<std::string> words) {
    fwnat_params p = chosen(std::move(words));
    return p.action ? vorel_text(p.action) : "(none)";
}

} // namespace

TEST(FwnatOptions, DefaultsAndPlainOptions) {
    fwnat_params p = parsed({});
    EXPECT_EQ(p.proto, 65535);
    EXPECT_EQ(p.alg_id, 65535u);
    EXPECT_EQ(p.alg, 0);
    EXPECT_EQ(p.limit, 0);
    EXPECT_FALSE(p.command);

    p = parsed({"-C", "sfw", "-H", "flows",    "-L", "25",       "-N", "pool-a",
                "-c", "-d",  "-i", "ms-1/0/0", "-s", "sset-a",   "-A", "dump_flow",
                "-B", "x",   "-I", "10.0.0.1", "-E", "192.0.2.1"});
    EXPECT_STREQ(vorel_text(p.command), "sfw");
    EXPECT_STREQ(vorel_text(p.subcommand), "flows");
    EXPECT_EQ(p.limit, 25);
    EXPECT_STREQ(vorel_text(p.natpool), "pool-a");
    EXPECT_TRUE(p.countonly);
    EXPECT_TRUE(p.detail);
    EXPECT_STREQ(vorel_text(p.if_name), "ms-1/0/0");
    EXPECT_STREQ(vorel_text(p.svc_set_name), "sset-a");
    EXPECT_STREQ(vorel_text(p.action), "dump_flow");
    EXPECT_TRUE(p.backup_pic);
    EXPECT_STREQ(vorel_text(p.internal_host), "10.0.0.1");
    EXPECT_STREQ(vorel_text(p.nat_ip_text), "192.0.2.1");

    fwnat_params_free(&p);
    EXPECT_FALSE(p.command);
    EXPECT_FALSE(p.action);
    EXPECT_FALSE(p.svc_set_name);
}

TEST(FwnatOptions, ViewWords) {
    EXPECT_EQ(parsed({"-V", "summary"}).stats_subcmd, FWNAT_STATS_SUMMARY);
    EXPECT_EQ(parsed({"-V", "detail"}).stats_subcmd, FWNAT_STATS_DETAIL);
    fwnat_params x = parsed({"-V", "x"});
    EXPECT_EQ(x.stats_subcmd, FWNAT_STATS_EXTENSIVE);
    EXPECT_TRUE(x.detail);
    fwnat_params b = parsed({"-d", "-V", "brief"});
    EXPECT_EQ(b.stats_subcmd, FWNAT_STATS_BRIEF);
    EXPECT_FALSE(b.detail);
    EXPECT_FALSE(parsed({"-d", "-V", "terse"}).detail);
    EXPECT_EQ(parsed({"-V", "detail", "-V", "q"}).stats_subcmd, FWNAT_STATS_DETAIL);
}

TEST(FwnatOptions, FilterPrefixesInHostOrder) {
    fwnat_params p = parsed({"-F", "sprefix", "10.1.0.0/16", "-F", "dprefix", "2001:db8::/33"});
    EXPECT_EQ(p.sprefix.words[0], 0x0a010000u);
    EXPECT_EQ(p.smask.words[0], 0xffff0000u);
    EXPECT_EQ(p.sprefix.is_v6, 0);
    EXPECT_EQ(p.dprefix.words[0], 0x20010db8u);
    EXPECT_EQ(p.dprefix.words[1], 0u);
    EXPECT_EQ(p.dprefix.is_v6, 1);
    EXPECT_EQ(p.dmask.words[0], 0xffffffffu);
    EXPECT_EQ(p.dmask.words[1], 0x80000000u);
    EXPECT_EQ(p.dmask.words[2], 0u);
    EXPECT_EQ(p.dmask.is_v6, 1);
}

TEST(FwnatOptions, FilterKeywordsOnTheirOwnLength) {
    fwnat_params p = parsed({"-F", "sportx", "80", "-F", "dport", "443", "-F", "proto", "300", "-F",
                             "algorithm", "sip"});
    EXPECT_EQ(p.sport, 80);
    EXPECT_EQ(p.dport, 443);
    EXPECT_EQ(p.proto, 44); // the low byte of 300
    EXPECT_EQ(p.alg, 29);
    EXPECT_EQ(p.alg_id, 29u);

    EXPECT_EQ(parsed({"-F", "proto", "udp"}).proto, 17);
    EXPECT_EQ(parsed({"-F", "alg", "no-such-application"}).alg, 62);
    EXPECT_EQ(parsed({"-F", "unknown", "80"}).sport, 0);
}

TEST(FwnatOptions, FilterConsumesTheNextWord) {
    // The word after pgcp is its value even when it looks like an option.
    fwnat_params p = parsed({"-F", "pgcp", "-d", "-c"});
    EXPECT_TRUE(p.pgcp);
    EXPECT_FALSE(p.detail);
    EXPECT_TRUE(p.countonly);
    // Without a word the keyword is incomplete and ignored.
    EXPECT_FALSE(parsed({"-F", "pgcp"}).pgcp);
    EXPECT_EQ(parsed({"-F", "sport"}).sport, 0);
}

TEST(FwnatOptions, RefusedPrefixEndsTheParse) {
    fwnat_params p;
    std::fflush(stderr);
    testing::internal::CaptureStderr();
    EXPECT_EQ(parse({"-F", "sprefix", "10.1.1.1", "-d"}, p), -1);
    EXPECT_EQ(parse({"-F", "dprefix", "bogus/8"}, p), -1);
    EXPECT_EQ(parse({"-F", "sprefix"}, p), -1);
    const std::string line = "vorel: Error parsing source prefix filter, invalid prefix\n";
    EXPECT_EQ(testing::internal::GetCapturedStderr(), line + line + line);
}

TEST(FwnatOptions, SoftwireWords) {
    EXPECT_TRUE(parsed({"-w", "internal", "x"}).detail);
    EXPECT_FALSE(parsed({"-d", "-w", "external", "x"}).detail);
    fwnat_params p = parsed({"-w", "addr", "2001:db8::1:2"});
    EXPECT_EQ(p.b4_addr.words[0], 0x20010db8u);
    EXPECT_EQ(p.b4_addr.words[3], 0x00010002u);
    EXPECT_EQ(p.b4_addr.is_v6, 1);

    std::fflush(stdout);
    testing::internal::CaptureStdout();
    fwnat_params v4 = parsed({"-w", "a", "10.0.0.1", "-c"});
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "address is invalid\n");
    EXPECT_EQ(v4.b4_addr.words[0], 0u);
    EXPECT_EQ(v4.b4_addr.is_v6, 1);
    EXPECT_TRUE(v4.countonly); // parsing goes on
}

TEST(FwnatOptions, MappingKeywords) {
    fwnat_params p = parsed({"-x", "app_subs_ip", "10.1.0.0/16"});
    EXPECT_TRUE(p.subs_given);
    EXPECT_EQ(p.mapping_kind, 1);
    EXPECT_EQ(p.subs_range.start.words[0], 0x0a010000u);
    EXPECT_EQ(p.subs_range.mask.words[0], 0xffff0000u);
    EXPECT_EQ(p.subs_range.end.words[0], 0x0a01ffffu);
    EXPECT_EQ(p.subs_range.prefix_len, 16);
    EXPECT_EQ(p.subs_range.end.is_v6, 0);

    p = parsed({"-x", "eim_svc_set", "sset-x", "-x", "eim_subs_port", "5000"});
    EXPECT_STREQ(vorel_text(p.svc_set_name), "sset-x");
    EXPECT_EQ(p.mapping_kind, 2);
    EXPECT_EQ(p.subs_port, 5000);
    EXPECT_TRUE(p.port_given);

    p = parsed({"-x", "pcp_sw_ip", "2001:db8::/96", "-x", "nat_ip", "192.0.2.1"});
    EXPECT_TRUE(p.sw_given);
    EXPECT_TRUE(p.nat_given);
    EXPECT_EQ(p.mapping_kind, 3); // nat_ip leaves it
    EXPECT_EQ(p.sw_range.end.words[3], 0xffffffffu);
    EXPECT_EQ(p.sw_range.end.words[2], 0u);
    EXPECT_EQ(p.nat_range.end.words[0], 0xc0000201u);
    EXPECT_EQ(p.nat_range.prefix_len, 32);

    p = parsed({"-x", "flows_subs_ip", "10.0.0.1", "-x", "unknown_kw", "1.2.3.4"});
    EXPECT_TRUE(p.subs_given);
    EXPECT_EQ(p.mapping_kind, 0);
}

TEST(FwnatRange, EndsNeverWrapOrInvert) {
    fwnat_range r;
    const char *why = nullptr;
    // A start that is not aligned ends at its prefix's last address.
    ASSERT_TRUE(fwnat_parse_range("10.1.2.3/16", fwnat_range_target::nat, &r, &why));
    EXPECT_EQ(r.start.words[0], 0x0a010203u);
    EXPECT_EQ(r.end.words[0], 0x0a01ffffu);
    ASSERT_TRUE(fwnat_parse_range("10.0.0.0/0", fwnat_range_target::nat, &r, &why));
    EXPECT_EQ(r.end.words[0], 0xffffffffu);
    ASSERT_TRUE(fwnat_parse_range("255.255.255.255", fwnat_range_target::subscriber, &r, &why));
    EXPECT_EQ(r.end.words[0], 0xffffffffu);

    ASSERT_TRUE(
        fwnat_parse_range("2001:db8::ffff:ffff/128", fwnat_range_target::softwire, &r, &why));
    EXPECT_EQ(r.end.words[3], 0xffffffffu);
    EXPECT_EQ(r.end.words[2], 0u);
    ASSERT_TRUE(fwnat_parse_range("2001:db8::4/127", fwnat_range_target::softwire, &r, &why));
    EXPECT_EQ(r.start.words[3], 4u);
    EXPECT_EQ(r.end.words[3], 5u);
    EXPECT_EQ(r.mask.words[3], 0xfffffffeu);
    EXPECT_EQ(r.end.is_v6, 1);
    // An IPv6 NAT range keeps its family and its whole end.
    ASSERT_TRUE(fwnat_parse_range("2001:db8::100/120", fwnat_range_target::nat, &r, &why));
    EXPECT_EQ(r.start.is_v6, 1);
    EXPECT_EQ(r.end.words[0], 0x20010db8u);
    EXPECT_EQ(r.end.words[3], 0x000001ffu);
}

TEST(FwnatRange, Refusals) {
    fwnat_range r;
    const char *why = nullptr;
    EXPECT_FALSE(fwnat_parse_range("10.0.0.0/8x", fwnat_range_target::nat, &r, &why));
    EXPECT_STREQ(why, "address is invalid\n");
    EXPECT_FALSE(fwnat_parse_range("10.0.0.0/", fwnat_range_target::nat, &r, &why));
    EXPECT_STREQ(why, "address is invalid\n");
    EXPECT_FALSE(fwnat_parse_range(nullptr, fwnat_range_target::nat, &r, &why));
    EXPECT_FALSE(fwnat_parse_range("0.0.0.0/8", fwnat_range_target::nat, &r, &why));
    EXPECT_STREQ(why, "IPv4 address 0.0.0.0/0 or IPv6 address 0::0/0 is not allowed.\n");
    EXPECT_FALSE(fwnat_parse_range("10.0.0.0/999", fwnat_range_target::nat, &r, &why));
    EXPECT_STREQ(why, "Only prefix length <=32 (2^32 addresses) can be specified\n");
    EXPECT_FALSE(fwnat_parse_range("2001:db8::/95", fwnat_range_target::softwire, &r, &why));
    EXPECT_STREQ(why, "Only prefix length >= 96 and <=128 can be specified\n");
    // The length is checked before the family.
    EXPECT_FALSE(fwnat_parse_range("2001:db8::/64", fwnat_range_target::subscriber, &r, &why));
    EXPECT_STREQ(why, "Only prefix length >= 96 and <=128 can be specified\n");
    EXPECT_FALSE(fwnat_parse_range("2001:db8::1", fwnat_range_target::subscriber, &r, &why));
    EXPECT_STREQ(why, "Only V4 address should be specified with subscriber/internal-host\n");
    EXPECT_FALSE(fwnat_parse_range("10.0.0.1", fwnat_range_target::softwire, &r, &why));
    EXPECT_STREQ(why, "B4address should be V6 address\n");
}

TEST(FwnatSelection, FromCommandWords) {
    EXPECT_EQ(action_of({"-C", "sfw", "-S", "flows"}), "dump_flow");
    EXPECT_EQ(action_of({"-C", "sfw", "-S", "flows", "-c"}), "count_flow");
    EXPECT_EQ(action_of({"-C", "inline-stateful-firewall", "-S", "flows", "-c"}), "count_flow");
    EXPECT_EQ(action_of({"-C", "inline-stateful-firewall", "-S", "clear_flows"}), "drain_flow");
    EXPECT_EQ(action_of({"-C", "sfw", "-S", "conversations"}), "dump_conv");
    EXPECT_EQ(action_of({"-C", "sfw", "-S", "sip-call", "-c"}), "count_sip_call");
    EXPECT_EQ(action_of({"-C", "sfw", "-S", "alg"}), "dump_stats");
    EXPECT_EQ(action_of({"-C", "nat", "-S", "pool"}), "dump_natpool");
    EXPECT_EQ(action_of({"-C", "nat", "-S", "clear_nat_flows"}), "clear_natflows");
    // Words of another command, a count where none exists, nothing at all.
    EXPECT_EQ(action_of({"-C", "nat", "-S", "flows"}), "(none)");
    EXPECT_EQ(action_of({"-C", "nat", "-S", "pool", "-c"}), "(none)");
    EXPECT_EQ(action_of({"-C", "sfw"}), "(none)");
    EXPECT_EQ(action_of({"-C", "pcp", "-S", "flows"}), "(none)");
}

TEST(FwnatSelection, SettingsThatGoWithTheAction) {
    fwnat_params p = chosen({"-C", "sfw", "-S", "stats", "-V", "s"});
    EXPECT_STREQ(vorel_text(p.action), "dump_stats");
    EXPECT_TRUE(p.pic_based);

    p = chosen({"-C", "inline-stateful-firewall", "-S", "clear_stats", "-V", "d"});
    EXPECT_STREQ(vorel_text(p.action), "clear_stats");
    EXPECT_EQ(p.stats_subcmd, FWNAT_STATS_CLEAR);
    EXPECT_FALSE(p.pic_based);

    p = chosen({"-C", "nat", "-S", "mappingsv2-summary"});
    EXPECT_EQ(p.stats_subcmd, FWNAT_MAPPINGS_SUMMARY);
    EXPECT_TRUE(p.pic_based);

    p = chosen({"-C", "nat", "-S", "detnat"});
    EXPECT_EQ(p.stats_subcmd, FWNAT_STATS_SUMMARY);
    EXPECT_TRUE(p.pic_based); // a summary is per PIC

    p = chosen({"-C", "sfw", "-S", "flows"});
    EXPECT_FALSE(p.pic_based);
}

TEST(FwnatSelection, NamedActionTakesTheSameSettings) {
    fwnat_params p = chosen({"-A", "dump_natstatistics"});
    EXPECT_TRUE(p.pic_based);
    p = chosen({"-A", "clear_stats", "-V", "b"});
    EXPECT_EQ(p.stats_subcmd, FWNAT_STATS_CLEAR);
    // The row the command words would have chosen decides among rows of
    // the same action; without words only what all its rows share applies.
    p = chosen({"-C", "nat", "-S", "mappingsv2-eim", "-A", "dump_natmappingv2"});
    EXPECT_EQ(p.stats_subcmd, FWNAT_MAPPINGS_EIM);
    p = chosen({"-A", "dump_natmappingv2"});
    EXPECT_EQ(p.stats_subcmd, FWNAT_STATS_BRIEF);
    EXPECT_FALSE(p.pic_based);
    p = chosen({"-A", "dump_natmappingv2", "-V", "d"});
    EXPECT_EQ(p.stats_subcmd, FWNAT_STATS_DETAIL);
    p = chosen({"-A", "dump_flow", "-V", "s"});
    EXPECT_TRUE(p.pic_based);
    p = chosen({"-A", "no_such_action"});
    EXPECT_STREQ(vorel_text(p.action), "no_such_action");
    EXPECT_FALSE(p.pic_based);
}

TEST(FwnatSelection, WordsNeedCommandSubcommandAndCountFlag) {
    EXPECT_EQ(action_of({"-C", "sfw"}), "(none)");
    EXPECT_EQ(action_of({"-S", "flows"}), "(none)");
    EXPECT_EQ(action_of({"-C", "sfw", "-S", "flows"}), "dump_flow");
    EXPECT_EQ(action_of({"-C", "sfw", "-S", "flows", "-c"}), "count_flow");
    EXPECT_EQ(action_of({"-C", "sfw", "-S", "flow"}), "(none)"); // whole words
    // A row for another command does not apply.
    EXPECT_EQ(action_of({"-C", "nat", "-S", "conversations"}), "(none)");
    EXPECT_EQ(action_of({"-C", "inline-stateful-firewall", "-S", "clear_stats"}), "clear_stats");
}

TEST(FwnatHandler, NoActionEchoesTheCommandLine) {
    vorel_db_clear();
    Argv a({"vorel", "-C", "sfw", "-S", "bogus"});
    vorel_ctx ctx;
    ctx.optstring = vorel_optstring;
    vorel_getopt_reset();
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    int rc = vorel_handle_fwnat_command(a.argc(), a.argv(), &ctx);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "vorel: fwnat handler don't know what to do\n"
              "vorel: vorel vorel: -C vorel: sfw vorel: -S vorel: bogus \n");
    EXPECT_EQ(rc, -1);
}

TEST(FwnatHandler, EmptySnapshotRunsOpenAndCloseOnly) {
    vorel_db_clear();
    Argv a({"vorel", "-C", "sfw", "-S", "flows", "-c"});
    vorel_ctx ctx;
    ctx.optstring = vorel_optstring;
    vorel_getopt_reset();
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    int rc = vorel_handle_fwnat_command(a.argc(), a.argv(), &ctx);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "PIC             Service set                                         Flow Count\n\n");
    EXPECT_EQ(rc, 0);
}

TEST(FwnatPoolRange, Ipv4Counts) {
    vorel_addr first, last;
    fwnat_pool_range r;
    r.addr[0] = 0x0a000000;
    r.count = 256;
    fwnat_pool_range_bounds(r, &first, &last);
    EXPECT_EQ(first.words[0], 0x0a000000u);
    EXPECT_EQ(last.words[0], 0x0a0000ffu);
    EXPECT_EQ(last.is_v6, 0);
    r.count = 0; // an empty range shows its start, not an end before it
    fwnat_pool_range_bounds(r, &first, &last);
    EXPECT_EQ(last.words[0], 0x0a000000u);
    r.addr[0] = 0xffffff00;
    r.count = 1000; // past the top of the space: the last address
    fwnat_pool_range_bounds(r, &first, &last);
    EXPECT_EQ(last.words[0], 0xffffffffu);
}

TEST(FwnatPoolRange, Ipv6Prefixes) {
    vorel_addr first, last;
    fwnat_pool_range r;
    r.is_v6 = 1;
    r.addr[0] = 0x20010db8;
    r.prefix_len = 120; // the first and the last address are left out
    fwnat_pool_range_bounds(r, &first, &last);
    EXPECT_EQ(first.words[3], 1u);
    EXPECT_EQ(last.words[3], 0xfeu);
    EXPECT_EQ(last.words[0], 0x20010db8u);
    EXPECT_EQ(first.is_v6, 1);

    r.prefix_len = 96;
    fwnat_pool_range_bounds(r, &first, &last);
    EXPECT_EQ(first.words[3], 1u);
    EXPECT_EQ(last.words[3], 0xfffffffeu);
    EXPECT_EQ(last.words[2], 0u);

    r.prefix_len = 64; // whole words of host bits
    fwnat_pool_range_bounds(r, &first, &last);
    EXPECT_EQ(last.words[2], 0xffffffffu);
    EXPECT_EQ(last.words[3], 0xfffffffeu);

    // Two addresses or one: both shown, never inverted.
    r.addr[3] = 4;
    r.prefix_len = 127;
    fwnat_pool_range_bounds(r, &first, &last);
    EXPECT_EQ(first.words[3], 4u);
    EXPECT_EQ(last.words[3], 5u);
    r.prefix_len = 128;
    fwnat_pool_range_bounds(r, &first, &last);
    EXPECT_EQ(first.words[3], 4u);
    EXPECT_EQ(last.words[3], 4u);
    r.prefix_len = 4000; // more than the address has: the address alone
    fwnat_pool_range_bounds(r, &first, &last);
    EXPECT_EQ(last.words[3], 4u);
}

TEST(FwnatPoolRange, Ipv6Counts) {
    vorel_addr first, last;
    fwnat_pool_range r;
    r.is_v6 = 1;
    r.addr[0] = 0x20010db8;
    r.addr[3] = 0xfffffff0;
    r.count = 32; // carries into word 2
    fwnat_pool_range_bounds(r, &first, &last);
    EXPECT_EQ(last.words[2], 1u);
    EXPECT_EQ(last.words[3], 0x0000000fu);
    for (uint32_t &w : r.addr)
        w = 0xffffffff;
    r.count = 2; // past the top: all zero
    fwnat_pool_range_bounds(r, &first, &last);
    EXPECT_EQ(last.words[0], 0u);
    EXPECT_EQ(last.words[3], 0u);
    EXPECT_EQ(last.is_v6, 1);
}
