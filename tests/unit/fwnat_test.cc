// The firewall and NAT value parsers: -V, -F and -w words, -x address
// ranges, and the ends a NAT pool range shows.
#include "platform/xml.h"
#include "vorel/vorel_cmd_fwnat.h"
#include "vorel/vorel_getopt.h"

#include "tests/support/argv.h"
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

// An address as its words in hex, "/6" for IPv6.
std::string words(const vorel_addr &a) {
    char b[64];
    std::snprintf(b, sizeof b, "%x.%x.%x.%x%s", a.words[0], a.words[1], a.words[2], a.words[3],
                  a.is_v6 ? "/6" : "");
    return b;
}

fwnat_params parsed(std::vector<std::string> words) {
    words.insert(words.begin(), "vorel");
    vorel::testing::Argv a(words);
    vorel_ctx ctx;
    ctx.optstring = vorel_optstring;
    vorel_getopt_reset();
    vorel_opterr = 0;
    fwnat_params p;
    fwnat_params_init(&p);
    EXPECT_EQ(fwnat_parse_options(a.argc(), a.argv(), &ctx, &p), 0);
    return p;
}

} // namespace

// The view words set the level and the detail flag; -F keywords count on
// their own length and take the next word whatever it looks like (without
// one they are ignored); -w internal asks for detail.
TEST(FwnatOptions, WordsAndTheFieldsTheySet) {
    struct {
        std::vector<std::string> words;
        const char *fields;
    } cases[] = {
        {{"-V", "summary"}, "V3 d0 c0 sport 0 dport 0 proto 65535 alg 0/65535 pgcp 0"},
        {{"-V", "x"}, "V2 d1 c0 sport 0 dport 0 proto 65535 alg 0/65535 pgcp 0"},
        {{"-d", "-V", "brief"}, "V0 d0 c0 sport 0 dport 0 proto 65535 alg 0/65535 pgcp 0"},
        {{"-d", "-V", "terse"}, "V0 d0 c0 sport 0 dport 0 proto 65535 alg 0/65535 pgcp 0"},
        {{"-V", "detail", "-V", "q"}, "V1 d0 c0 sport 0 dport 0 proto 65535 alg 0/65535 pgcp 0"},
        {{"-F", "sportx", "80", "-F", "dport", "443", "-F", "proto", "300", "-F", "algorithm",
          "sip"},
         "V0 d0 c0 sport 80 dport 443 proto 44 alg 29/29 pgcp 0"},
        {{"-F", "proto", "udp", "-F", "alg", "no-such-application", "-F", "unknown", "80"},
         "V0 d0 c0 sport 0 dport 0 proto 17 alg 62/62 pgcp 0"},
        {{"-F", "pgcp", "-d", "-c"}, "V0 d0 c1 sport 0 dport 0 proto 65535 alg 0/65535 pgcp 1"},
        {{"-F", "pgcp"}, "V0 d0 c0 sport 0 dport 0 proto 65535 alg 0/65535 pgcp 0"},
        {{"-w", "internal", "x"}, "V0 d1 c0 sport 0 dport 0 proto 65535 alg 0/65535 pgcp 0"},
        {{"-d", "-w", "external", "x"}, "V0 d0 c0 sport 0 dport 0 proto 65535 alg 0/65535 pgcp 0"},
    };
    for (const auto &c : cases) {
        fwnat_params p = parsed(c.words);
        char got[128];
        std::snprintf(got, sizeof got, "V%d d%d c%d sport %u dport %u proto %u alg %u/%u pgcp %d",
                      p.stats_subcmd, p.detail, p.countonly, p.sport, p.dport, p.proto, p.alg,
                      p.alg_id, p.pgcp);
        EXPECT_STREQ(got, c.fields) << c.words[1];
    }
}

// Ends never wrap or invert; refusals say why, the length checked before
// the family.
TEST(FwnatRange, EndsAndRefusals) {
    using T = fwnat_range_target;
    struct {
        const char *text;
        T target;
        const char *result; // start end mask, or the refusal
    } cases[] = {
        {"10.1.2.3/16", T::nat, "a010203.0.0.0 a01ffff.0.0.0 ffff0000.0.0.0"},
        {"10.0.0.0/0", T::nat, "a000000.0.0.0 ffffffff.0.0.0 0.0.0.0"},
        {"255.255.255.255", T::subscriber, "ffffffff.0.0.0 ffffffff.0.0.0 ffffffff.0.0.0"},
        {"2001:db8::ffff:ffff/128", T::softwire,
         "20010db8.0.0.ffffffff/6 20010db8.0.0.ffffffff/6 ffffffff.ffffffff.ffffffff.ffffffff/6"},
        {"2001:db8::4/127", T::softwire,
         "20010db8.0.0.4/6 20010db8.0.0.5/6 ffffffff.ffffffff.ffffffff.fffffffe/6"},
        {"2001:db8::100/120", T::nat,
         "20010db8.0.0.100/6 20010db8.0.0.1ff/6 ffffffff.ffffffff.ffffffff.ffffff00/6"},
        {"10.0.0.0/8x", T::nat, "address is invalid\n"},
        {"10.0.0.0/", T::nat, "address is invalid\n"},
        {"0.0.0.0/8", T::nat, "IPv4 address 0.0.0.0/0 or IPv6 address 0::0/0 is not allowed.\n"},
        {"10.0.0.0/999", T::nat, "Only prefix length <=32 (2^32 addresses) can be specified\n"},
        {"2001:db8::/95", T::softwire, "Only prefix length >= 96 and <=128 can be specified\n"},
        {"2001:db8::/64", T::subscriber, "Only prefix length >= 96 and <=128 can be specified\n"},
        {"2001:db8::1", T::subscriber,
         "Only V4 address should be specified with subscriber/internal-host\n"},
        {"10.0.0.1", T::softwire, "B4address should be V6 address\n"},
    };
    for (const auto &c : cases) {
        fwnat_range r;
        const char *why = nullptr;
        bool ok = fwnat_parse_range(c.text, c.target, &r, &why);
        EXPECT_EQ(ok ? words(r.start) + " " + words(r.end) + " " + words(r.mask) : why, c.result)
            << c.text;
    }
    fwnat_range r;
    const char *why = nullptr;
    EXPECT_FALSE(fwnat_parse_range(nullptr, T::nat, &r, &why));
}

// The first and last address a pool range shows: counts clamp at the top
// of the space, IPv6 prefixes leave their first and last address out.
TEST(FwnatPoolRange, Bounds) {
    struct {
        uint32_t addr[4];
        uint16_t is_v6, prefix_len;
        uint32_t count;
        const char *bounds;
    } cases[] = {
        {{0x0a000000}, 0, 0, 256, "a000000.0.0.0 a0000ff.0.0.0"},
        {{0x0a000000}, 0, 0, 0, "a000000.0.0.0 a000000.0.0.0"}, // empty: its start
        {{0xffffff00}, 0, 0, 1000, "ffffff00.0.0.0 ffffffff.0.0.0"},
        {{0x20010db8}, 1, 120, 0, "20010db8.0.0.1/6 20010db8.0.0.fe/6"},
        {{0x20010db8}, 1, 96, 0, "20010db8.0.0.1/6 20010db8.0.0.fffffffe/6"},
        {{0x20010db8}, 1, 64, 0, "20010db8.0.0.1/6 20010db8.0.ffffffff.fffffffe/6"},
        {{0x20010db8, 0, 0, 4}, 1, 127, 0, "20010db8.0.0.4/6 20010db8.0.0.5/6"},
        {{0x20010db8, 0, 0, 4}, 1, 128, 0, "20010db8.0.0.4/6 20010db8.0.0.4/6"},
        {{0x20010db8, 0, 0, 4}, 1, 4000, 0, "20010db8.0.0.4/6 20010db8.0.0.4/6"},
        {{0x20010db8, 0, 0, 0xfffffff0}, 1, 0, 32, "20010db8.0.0.fffffff0/6 20010db8.0.1.f/6"},
        {{~0u, ~0u, ~0u, ~0u}, 1, 0, 2, "ffffffff.ffffffff.ffffffff.ffffffff/6 0.0.0.0/6"},
    };
    for (const auto &c : cases) {
        fwnat_pool_range r;
        std::copy(c.addr, c.addr + 4, r.addr);
        r.is_v6 = c.is_v6;
        r.prefix_len = c.prefix_len;
        r.count = c.count;
        vorel_addr first, last;
        fwnat_pool_range_bounds(r, &first, &last);
        EXPECT_EQ(words(first) + " " + words(last), c.bounds) << c.prefix_len << " " << c.count;
    }
}

// The flow line's name columns for every code of a byte (named, unnamed
// and unknown protocols, states and directions) and frame counters of
// every digit count, as printf pads them; in XML the same names unpadded.
TEST(FwnatFlowLine, EveryNameCodeAndCounterAsPrintfPadsThem) {
    for (unsigned code = 0; code < 256; code++) {
        fwnat_flow_record f;
        f.src.words[0] = 0x0a000001;
        f.dst.words[0] = 0xc0000201;
        f.src_port = 1024;
        f.dst_port = 80;
        f.proto = f.state = f.direction = static_cast<uint8_t>(code);
        f.frames = code == 255 ? 4294967295u : code * code * code * 997u;
        std::string proto(proto2str(f.proto)); // unknown codes share one buffer
        bool icmp = code == 1 || code == 58;
        char expected[160];
        std::snprintf(expected, sizeof expected, "%-5s%16s:%6s ->%15s%6s%7s%6s%11u\n",
                      proto.c_str(), "10.0.0.1", icmp ? "" : "1024 ", "192.0.2.1",
                      icmp ? "" : "80   ", std::string(flowtype2str(f.state)).c_str(),
                      std::string(dir2str(f.direction)).c_str(), f.frames);
        ::testing::internal::CaptureStdout();
        fwnat_flow_print(f, false, 0);
        std::fflush(stdout);
        ASSERT_EQ(::testing::internal::GetCapturedStdout(), expected) << "code " << code;

        ::testing::internal::CaptureStdout();
        xml_set_mode(true);
        fwnat_flow_print(f, false, 1);
        xml_set_mode(false);
        std::fflush(stdout);
        std::string xml = ::testing::internal::GetCapturedStdout();
        for (std::string leaf :
             {"<sfw-flow-protocol>" + proto + "</sfw-flow-protocol>",
              "<sfw-flow-state>" + std::string(flowtype2str(f.state)) + "</sfw-flow-state>",
              "<sfw-flow-direction>" + std::string(dir2str(f.direction)) + "</sfw-flow-direction>"})
            ASSERT_NE(xml.find(leaf), std::string::npos) << leaf << " in " << xml;
    }
}
