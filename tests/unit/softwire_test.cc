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

// ---- Address options ----

TEST(SoftwireAddress, BothFormsTheirBitsAndRefusals) {
    Parsed r = parse({"-K", "g", "192.0.2.7", "-O", "b", "2001:db8::5", "-K", "x", "-c"});
    ASSERT_EQ(r.rc, 0);
    EXPECT_EQ(r.p.g_addr.words[0], 0xc0000207u);
    EXPECT_EQ(r.p.g_addr.is_v6, 0);
    EXPECT_EQ(r.p.b_addr.words[3], 5u);
    EXPECT_EQ(r.p.b_addr.is_v6, 1);
    EXPECT_EQ(r.p.addr_flags, SW_ADDR_G | SW_ADDR_B);
    EXPECT_EQ(r.p.count_only, 0); // "-K x" still took "-c", as "-F sport" does
    EXPECT_EQ(parse({"-F", "sport", "-c"}).p.count_only, 0);
    for (auto [words, out] :
         std::initializer_list<std::pair<std::vector<std::string>, const char *>>{
             {{"-K", "b", "2001:db8::1"}, "vorel: invalid IPv4 address: 2001:db8::1 \n"},
             {{"-O", "g", "192.0.2.1"}, "vorel: invalid IPv6 address: 192.0.2.1 \n"},
             {{"-O", "b"}, "vorel: invalid IPv6 address: NULL \n"}}) {
        Parsed bad = parse(words);
        EXPECT_EQ(bad.rc, -1);
        EXPECT_EQ(bad.out, out);
        EXPECT_EQ(bad.p.addr_flags, 0);
    }
    // Addresses go out with their flag word little-endian.
    vorel::ByteWriter w(SW_PREFIX_BLOCK_LEN);
    sw_addr_write(w, 0, r.p.b_addr);
    EXPECT_EQ(vorel::to_hex(w.buffer().data() + 12, 8), "00 00 00 05 01 00 00 00");
}

// ---- Records ----

// A reply one byte short of a record holds none; the fields' places are
// seen on every flow page end to end.
TEST(SoftwireRecord, AReplyShortOfARecordHoldsNone) {
    std::vector<uint8_t> bytes(SW_FLOW_RECORD_OFFSET + SW_FLOW_RECORD_LEN - 1, 0);
    sw_flow_record rec;
    EXPECT_FALSE(sw_flow_record_read(vorel::ByteReader(bytes), SW_FLOW_RECORD_OFFSET, &rec));
    bytes.push_back(2); // softwire type, the record's last byte
    ASSERT_TRUE(sw_flow_record_read(vorel::ByteReader(bytes), SW_FLOW_RECORD_OFFSET, &rec));
    EXPECT_EQ(rec.sw_type, 2);
}

} // namespace
