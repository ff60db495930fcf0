// The softwire command lines (actions the words select, prefixes, address
// options) and the decoder of the flow-table records.
#include "platform/bytes.h"
#include "tests/support/argv.h"
#include "vorel/vorel_cmd_sw.h"
#include "vorel/vorel_error.h"
#include "vorel/vorel_getopt.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using vorel::testing::Argv;

struct Parsed {
    int rc = 0;
    softwire_params p;
    std::string out, err;
};

Parsed parse(std::vector<std::string> words, bool inline_cmd = false) {
    words.insert(words.begin(), "vorel");
    Argv a(words);
    vorel_ctx ctx;
    ctx.optstring = vorel_optstring;
    vorel_getopt_reset();
    vorel_opterr = 0;
    Parsed r;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    r.rc = inline_cmd ? si_sw_parse_options(a.argc(), a.argv(), &ctx, &r.p)
                      : softwire_parse_options(a.argc(), a.argv(), &ctx, &r.p);
    std::fflush(stdout);
    r.out = testing::internal::GetCapturedStdout();
    r.err = testing::internal::GetCapturedStderr();
    vorel_opterr = 1;
    return r;
}

std::string action(const Parsed &r) {
    return r.p.action ? *r.p.action : "(none)";
}

// ---- Actions ----

TEST(SoftwireActions, SubcommandAndCountFlagSelectTheAction) {
    EXPECT_EQ(action(parse({"-C", "softwire", "-S", "flows", "-c"})), "count_softwire");
    EXPECT_EQ(action(parse({"-C", "softwire", "-S", "sessions", "-c"})), "count_softwire_sessions");
    EXPECT_EQ(action(parse({"-C", "softwire", "-S", "dslite_msp", "-c"})),
              "count_softwire_sessions");
    EXPECT_EQ(action(parse({"-C", "softwire", "-S", "clear_flows"})), "drain_softwire");
    EXPECT_EQ(action(parse({"-C", "softwire", "-S", "conversations"})), "dump_conv");
    // Every word must match: another command, a subcommand with a count
    // flag it has no row for, a subcommand with a trailing blank.
    EXPECT_EQ(action(parse({"-C", "sfw", "-S", "flows"})), "(none)");
    EXPECT_EQ(action(parse({"-C", "softwire", "-S", "entries", "-c"})), "(none)");
    EXPECT_EQ(action(parse({"-C", "softwire", "-S", "flows "})), "(none)");
}

TEST(SoftwireActions, RowsSetWhatTheListingNeeds) {
    Parsed e = parse({"-C", "softwire", "-S", "entries"});
    EXPECT_EQ(action(e), "dump_softwire");
    EXPECT_EQ(e.p.entries, 1);

    Parsed f = parse({"-C", "softwire", "-S", "flows", "-K", "b", "192.0.2.1"});
    EXPECT_EQ(action(f), "dump_softwire_flows");
    EXPECT_EQ(f.p.addr_flags, SW_ADDR_FLOWS); // replaces the address bits
    EXPECT_EQ(f.p.entries, 0);

    Parsed d = parse({"-C", "softwire", "-S", "dslite"});
    EXPECT_EQ(d.p.g_addr.is_v6, 1);
    EXPECT_EQ(d.p.b_addr.is_v6, 1);
    Parsed v = parse({"-C", "softwire", "-S", "v6rd", "-O", "g", "2001:db8::1"});
    EXPECT_EQ(v.p.g_addr.is_v6, 0);
    EXPECT_EQ(v.p.addr_flags, SW_ADDR_G);

    Parsed s = parse({"-C", "softwire", "-S", "stats"});
    EXPECT_EQ(action(s), "dump_stats");
    EXPECT_EQ(s.p.stats_subcmd, SW_STATS_PIC);
    EXPECT_EQ(s.p.pic_based, 1);
    Parsed c = parse({"-C", "softwire", "-S", "clear_stats", "-V", "s"});
    EXPECT_EQ(c.p.stats_subcmd, SW_STATS_CLEAR);
    EXPECT_EQ(c.p.pic_based, 1);
}

TEST(SoftwireActions, NamedActionTakesOnlyTheSettingsItsRowsShare) {
    Parsed f = parse({"-A", "dump_softwire_flows", "-O", "b", "2001:db8::1"});
    EXPECT_EQ(action(f), "dump_softwire_flows");
    EXPECT_EQ(f.p.entries, 0);
    EXPECT_EQ(f.p.addr_flags, SW_ADDR_B); // the flow listing's 4 is one row's only
    EXPECT_EQ(f.p.b_addr.is_v6, 1);       // the rows disagree on the flags

    Parsed s = parse({"-A", "dump_softwire_sessions", "-K", "g", "192.0.2.1"});
    EXPECT_EQ(s.p.g_addr.is_v6, 0);

    Parsed st = parse({"-A", "clear_stats"});
    EXPECT_EQ(st.p.stats_subcmd, SW_STATS_CLEAR);
    EXPECT_EQ(st.p.pic_based, 1);
    Parsed e = parse({"-A", "dump_softwire"});
    EXPECT_EQ(e.p.entries, 1);
}

TEST(SoftwireActions, TunnelCountConsumesItsWord) {
    Parsed n = parse({"-C", "softwire", "-S", "flows", "-N", "-c"});
    EXPECT_EQ(action(n), "count_softwire_tunnel");
    EXPECT_EQ(n.p.count_only, 0); // "-c" was -N's word
}

TEST(SoftwireActions, LevelsAndTypes) {
    Parsed x = parse({"-V", "x", "-T", "r"});
    EXPECT_EQ(x.p.detail, 1);
    EXPECT_EQ(x.p.stats_subcmd, 2u);
    EXPECT_EQ(x.p.sw_type, SW_TYPE_6RD);
    Parsed b = parse({"-d", "-V", "d", "-V", "b", "-T", "d"});
    EXPECT_EQ(b.p.detail, 0);
    EXPECT_EQ(b.p.stats_subcmd, 0u);
    EXPECT_EQ(b.p.sw_type, SW_TYPE_DSLITE);
    Parsed s = parse({"-V", "s", "-L", "25"});
    EXPECT_EQ(s.p.pic_based, 1); // per-PIC statistics
    EXPECT_EQ(s.p.limit, 25u);
}

TEST(SoftwireActions, InlineCommand) {
    Parsed s = parse({"-C", "inline-softwire", "-S", "stats", "-T", "m"}, true);
    EXPECT_EQ(action(s), "dump_stats");
    EXPECT_EQ(s.p.stats_subcmd, 0u);
    EXPECT_EQ(s.p.pic_based, 1);
    EXPECT_EQ(s.p.sw_type, SW_TYPE_MAPE);
    Parsed c = parse({"-S", "clear_stats", "-T", "r", "-i", "si-1/0/0"}, true);
    EXPECT_EQ(action(c), "clear_stats");
    EXPECT_EQ(c.p.stats_subcmd, SI_SW_STATS_CLEAR);
    EXPECT_EQ(c.p.sw_type, SW_TYPE_6RD);
    EXPECT_EQ(*c.p.if_name, "si-1/0/0");
    Parsed a = parse({"-A", "clear_stats"}, true);
    EXPECT_EQ(a.p.stats_subcmd, SI_SW_STATS_CLEAR);
    EXPECT_EQ(a.p.pic_based, 1);
}

// ---- Prefixes ----

TEST(SoftwirePrefix, LengthsGiveNetmasksAndZeroOr32AllOnes) {
    struct {
        const char *text;
        uint32_t addr, mask;
    } cases[] = {
        {"10.1.2.0/24", 0x0a010200u, 0xffffff00u}, {"128.0.0.0/1", 0x80000000u, 0x80000000u},
        {"10.0.0.2/31", 0x0a000002u, 0xfffffffeu}, {"10.0.0.0/0", 0x0a000000u, 0xffffffffu},
        {"10.0.0.9/32", 0x0a000009u, 0xffffffffu}, {"10.0.0.9", 0x0a000009u, 0xffffffffu},
    };
    for (const auto &c : cases) {
        Parsed r = parse({"-F", "sprefix", c.text, "-F", "dprefixes", c.text});
        ASSERT_EQ(r.rc, 0) << c.text;
        EXPECT_EQ(r.p.sprefix.words[0], c.addr) << c.text;
        EXPECT_EQ(r.p.smask.words[0], c.mask) << c.text;
        EXPECT_EQ(r.p.dprefix.words[0], c.addr) << c.text;
        EXPECT_EQ(r.p.dmask.words[0], c.mask) << c.text;
        EXPECT_EQ(r.p.sprefix.is_v6, 0);
    }
}

TEST(SoftwirePrefix, SyntaxErrorsStopTheCommand) {
    const std::string error = "vorel: Error parsing source prefix filter, invalid prefix\n";
    std::string long_text(300, '1');
    for (std::vector<std::string> words : std::vector<std::vector<std::string>>{
             {"-F", "sprefix", "10.0.0.0/33"},
             {"-F", "dprefix", "2001:db8::/32"},
             {"-F", "sprefix", "10.0.0.0/"},
             {"-F", "sprefix", "ten"},
             {"-F", "sprefix", long_text + "/8"},
             {"-F", "sprefix", long_text},
             {"-F", "dprefix"},
         }) {
        Parsed r = parse(words);
        EXPECT_EQ(r.rc, -1) << words.back();
        EXPECT_EQ(r.err, error) << words.back();
        EXPECT_EQ(r.out, "");
    }
}

TEST(SoftwirePrefix, AnotherKeywordPassesItsWordOver) {
    Parsed r = parse({"-F", "sport", "-c"});
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.p.count_only, 0);
    EXPECT_EQ(r.p.smask.words[0], 0u);
}

// ---- Address options ----

TEST(SoftwireAddress, BothFormsAndTheirBits) {
    Parsed r = parse({"-K", "g", "192.0.2.7", "-O", "b", "2001:db8::5", "-K", "x", "-c"});
    ASSERT_EQ(r.rc, 0);
    EXPECT_EQ(r.p.g_addr.words[0], 0xc0000207u);
    EXPECT_EQ(r.p.g_addr.is_v6, 0);
    EXPECT_EQ(r.p.b_addr.words[0], 0x20010db8u);
    EXPECT_EQ(r.p.b_addr.words[3], 5u);
    EXPECT_EQ(r.p.b_addr.is_v6, 1);
    EXPECT_EQ(r.p.addr_flags, SW_ADDR_G | SW_ADDR_B);
    EXPECT_EQ(r.p.count_only, 0); // "-K x" still took "-c"
}

TEST(SoftwireAddress, AddressesThatDoNotParseAreRefused) {
    Parsed a = parse({"-K", "b", "2001:db8::1"});
    EXPECT_EQ(a.rc, -1);
    EXPECT_EQ(a.out, "vorel: invalid IPv4 address: 2001:db8::1 \n");
    Parsed b = parse({"-O", "g", "192.0.2.1"});
    EXPECT_EQ(b.rc, -1);
    EXPECT_EQ(b.out, "vorel: invalid IPv6 address: 192.0.2.1 \n");
    Parsed c = parse({"-O", "b"});
    EXPECT_EQ(c.rc, -1);
    EXPECT_EQ(c.out, "vorel: invalid IPv6 address: NULL \n");
    EXPECT_EQ(c.p.addr_flags, 0);
}

// ---- Requests ----

TEST(SoftwireRequest, AddressesGoOutWithTheirFlagWordLittleEndian) {
    Parsed r = parse({"-O", "g", "2001:db8::5", "-F", "sprefix", "10.1.0.0/16"});
    vorel::ByteWriter w(4 + SW_PREFIX_BLOCK_LEN);
    sw_addr_write(w, 0, r.p.g_addr);
    vorel::ByteReader a(w.buffer());
    EXPECT_EQ(a.be32(0), 0x20010db8u);
    EXPECT_EQ(a.be32(12), 5u);
    EXPECT_EQ(a.u8(16), 1);
    EXPECT_EQ(a.u8(19), 0);
    sw_prefix_block_write(w, 4, r.p);
    vorel::ByteReader b(w.buffer());
    EXPECT_EQ(b.be32(4), 0x0a010000u);
    EXPECT_EQ(b.be32(24), 0xffff0000u);
    EXPECT_EQ(b.be32(44), 0u);
    EXPECT_EQ(b.be32(64), 0u);
}

// ---- Records ----

TEST(SoftwireRecord, FieldsAndShortReplies) {
    std::vector<uint8_t> bytes(SW_FLOW_RECORD_OFFSET + SW_FLOW_RECORD_LEN - 1, 0);
    sw_flow_record rec;
    EXPECT_FALSE(sw_flow_record_read(vorel::ByteReader(bytes), SW_FLOW_RECORD_OFFSET, &rec));
    bytes.push_back(2); // softwire type, the record's last byte
    const size_t o = SW_FLOW_RECORD_OFFSET;
    bytes[o + 0] = 10;
    bytes[o + 3] = 1;
    bytes[o + 20 + 19] = 1; // b's flag word written big-endian
    bytes[o + 80 + 16] = 1; // ep1's flag word written little-endian
    bytes[o + 123] = 2;
    bytes[o + 135] = 7;
    bytes[o + 143] = 9;
    bytes[o + 144] = 0x12;
    bytes[o + 145] = 0x34;
    bytes[o + 151] = 80;
    bytes[o + 153] = 2;
    bytes[o + 154] = 3;
    bytes[o + 155] = 17;
    ASSERT_TRUE(sw_flow_record_read(vorel::ByteReader(bytes), o, &rec));
    EXPECT_EQ(rec.a.words[0], 0x0a000001u);
    EXPECT_EQ(rec.a.is_v6, 0);
    EXPECT_EQ(rec.b.is_v6, 1);
    EXPECT_EQ(rec.ep1.is_v6, 1);
    EXPECT_EQ(rec.src_nat, 2u);
    EXPECT_EQ(rec.count, 7u);
    EXPECT_EQ(rec.flow_count, 9u);
    EXPECT_EQ(rec.sport, 0x1234);
    EXPECT_EQ(rec.xlat_dport, 80);
    EXPECT_EQ(rec.direction, 2);
    EXPECT_EQ(rec.state, 3);
    EXPECT_EQ(rec.proto, 17);
    EXPECT_EQ(rec.sw_type, 2);
}

} // namespace
