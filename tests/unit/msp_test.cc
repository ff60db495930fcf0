// The session plug-in registry, the NAT translation printer and the msp
// command line.
#include "platform/bytes.h"
#include "platform/xml.h"
#include "vorel/vorel_cmd_msp.h"
#include "vorel/vorel_getopt.h"
#include "vorel/vorel_plugins.h"

#include "tests/support/argv.h"
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// ---- Registry ----

std::vector<int> g_calls;
int printer_a(vorel_ctx *, services_ui_conn *) {
    g_calls.push_back(1);
    return 0;
}
int printer_b(vorel_ctx *, services_ui_conn *) {
    g_calls.push_back(2);
    return 0;
}
int printer_fails(vorel_ctx *, services_ui_conn *) {
    g_calls.push_back(9);
    return 5;
}

class Registry : public ::testing::Test {
  protected:
    void SetUp() override {
        vorel_session_plugins_reset();
        g_calls.clear();
        char tmpl[] = "/tmp/vorel-msp-log-XXXXXX";
        int fd = mkstemp(tmpl);
        ASSERT_GE(fd, 0);
        close(fd);
        log_ = tmpl;
        setenv("VOREL_LOG_FILE", log_.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("VOREL_LOG_FILE");
        unlink(log_.c_str());
        vorel_session_plugins_reset();
    }
    std::string log() {
        std::ifstream f(log_);
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }
    std::string log_;
};

TEST_F(Registry, RegistersOnceAndRefusesADuplicate) {
    vorel_register_all_session_plugins();
    EXPECT_EQ(vorel_session_plugins_count(), 1u);
    EXPECT_EQ(vorel_session_plugin_lookup(327), &vorel_nat_translation_print);
    EXPECT_EQ(vorel_register_session_plugin(327, printer_a), EBUSY);
    EXPECT_EQ(vorel_session_plugins_count(), 1u);
    EXPECT_EQ(vorel_session_plugin_lookup(327), &vorel_nat_translation_print);
    EXPECT_NE(log().find("<3> VOREL_COMMAND_TYPE_ENTRY [index] VOREL_COMMAND_TYPE_ENTRY: entry for "
                         "command type 327 "
                         "already exists"),
              std::string::npos)
        << log();
    EXPECT_EQ(vorel_session_plugin_lookup(328), nullptr);
}

TEST_F(Registry, HoldsAtMostTwentyOneRows) {
    for (uint32_t t = 1; t <= 21; t++)
        ASSERT_EQ(vorel_register_session_plugin(t, printer_a), 0);
    EXPECT_EQ(vorel_register_session_plugin(22, printer_b), ENOMEM);
    EXPECT_EQ(vorel_session_plugins_count(), 21u);
    EXPECT_EQ(vorel_session_plugin_lookup(22), nullptr);
    EXPECT_NE(
        log().find("VOREL_SESSION_PLGIN_REGISTER: Number of session plugin entries exceeds 21"),
        std::string::npos)
        << log();
}

TEST_F(Registry, DumpCallsPrintersInListOrderAndPassesOverUnknownTypes) {
    vorel_register_session_plugin(10, printer_a);
    vorel_register_session_plugin(20, printer_b);
    const uint16_t types[] = {20, 99, 10, 20, 0, 10};
    EXPECT_EQ(vorel_dump_session_plugins(nullptr, nullptr, types, 6), 0);
    EXPECT_EQ(g_calls, (std::vector<int>{2, 1, 2})); // the 0 ends the list
}

TEST_F(Registry, DumpStopsAtTheFirstFailure) {
    vorel_register_session_plugin(10, printer_a);
    vorel_register_session_plugin(30, printer_fails);
    const uint16_t types[] = {10, 30, 10};
    EXPECT_EQ(vorel_dump_session_plugins(nullptr, nullptr, types, 3), 5);
    EXPECT_EQ(g_calls, (std::vector<int>{1, 9}));
}

TEST_F(Registry, DumpReadsAtMostTwentyOneTypes) {
    vorel_register_session_plugin(10, printer_a);
    std::vector<uint16_t> types(40, 10);
    EXPECT_EQ(vorel_dump_session_plugins(nullptr, nullptr, types.data(), types.size()), 0);
    EXPECT_EQ(g_calls.size(), 21u);
    g_calls.clear();
    EXPECT_EQ(vorel_dump_session_plugins(nullptr, nullptr, types.data(), 0), 0);
    EXPECT_TRUE(g_calls.empty()); // an empty list prints nothing
}

// ---- NAT translation ----

struct nat_reply {
    uint32_t type = 0;
    const char *translated_src = "0.0.0.0", *translated_dst = "0.0.0.0";
    const char *original_src = "0.0.0.0", *original_dst = "0.0.0.0";
    uint16_t port100 = 0, port102 = 0;
    uint8_t eif = 0;
};

void put_addr(vorel::ByteWriter &w, size_t off, const char *text) {
    uint8_t bytes[16] = {};
    if (inet_pton(AF_INET, text, bytes) == 1) {
        w.bytes(off, bytes, 4);
    } else {
        ASSERT_EQ(inet_pton(AF_INET6, text, bytes), 1) << text;
        w.bytes(off, bytes, 16);
        w.u8(off + 16, 1);
    }
}

std::vector<uint8_t> build(const nat_reply &n) {
    vorel::ByteWriter w(112);
    w.be16(0, 327);
    w.be16(2, 1);
    w.be16(4, 28);
    w.be32(16, n.type);
    put_addr(w, 20, n.translated_src);
    put_addr(w, 40, n.translated_dst);
    put_addr(w, 60, n.original_src);
    put_addr(w, 80, n.original_dst);
    w.be16(100, n.port100);
    w.be16(102, n.port102);
    w.u8(110, n.eif);
    return w.take();
}

std::string render_text(const std::vector<uint8_t> &bytes, bool *rendered = nullptr) {
    testing::internal::CaptureStdout();
    bool ok = vorel_nat_translation_render(vorel::ByteReader(bytes), 0);
    std::fflush(stdout);
    if (rendered)
        *rendered = ok;
    return testing::internal::GetCapturedStdout();
}

std::string render_xml(const std::vector<uint8_t> &bytes) {
    char *buf = nullptr;
    size_t len = 0;
    FILE *out = open_memstream(&buf, &len);
    xml_set_output(out);
    xml_set_mode(true);
    vorel_nat_translation_render(vorel::ByteReader(bytes), 1);
    xml_subtree_unwind();
    xml_set_mode(false);
    xml_set_output(nullptr);
    std::fclose(out);
    std::string s(buf, len);
    std::free(buf);
    return s;
}

nat_reply napt44() {
    nat_reply n;
    n.type = 13;
    n.original_src = "10.0.0.5";
    n.translated_src = "198.51.100.7";
    n.original_dst = n.translated_dst = "203.0.113.9";
    n.port100 = 40001;
    n.port102 = 5123;
    return n;
}

// Which lines each translation type prints: the source, its ports, the
// destination, by the type's kind (unknown types count as source NAT).
TEST(NatTranslation, LinesByType) {
    struct {
        uint32_t type;
        const char *osrc, *tsrc, *odst, *tdst;
        const char *lines;
    } cases[] = {
        {13, "10.0.0.5", "198.51.100.7", "203.0.113.9", "203.0.113.9",
         "  NAT translation type: NAPT-44 \n  SRC IP translated from 10.0.0.5 to 198.51.100.7\n"
         "  SRC port translated from 40001 to 5123\n"},
        {14, "10.0.0.6", "10.0.0.6", "192.0.2.53", "10.1.1.53",
         "  NAT translation type: DNAT-44 \n  DST IP translated from 192.0.2.53 to 10.1.1.53\n"},
        {23, "10.0.0.1", "198.51.100.1", "203.0.113.1", "10.9.9.9",
         "  NAT translation type: TWICE BASIC NAT44 \n"
         "  SRC IP translated from 10.0.0.1 to 198.51.100.1\n"
         "  DST IP translated from 203.0.113.1 to 10.9.9.9\n"},
        {15, "2001:db8::5", "198.51.100.9", "64:ff9b::cb00:7109", "203.0.113.9",
         "  NAT translation type: STATEFUL NAT64 \n"
         "  SRC IP translated from 2001:db8::5 to 198.51.100.9\n"
         "  SRC port translated from 40001 to 5123\n"
         "  DST IP translated from 64:ff9b::cb00:7109 to 203.0.113.9\n"},
        {99, "10.0.0.1", "10.0.0.2", "0.0.0.0", "0.0.0.0",
         "  NAT translation type: invalid \n  SRC IP translated from 10.0.0.1 to 10.0.0.2\n"},
        {0, "0.0.0.0", "0.0.0.0", "0.0.0.0", "0.0.0.0", "  NAT translation type: invalid \n"},
    };
    for (const auto &c : cases) {
        nat_reply n = napt44();
        n.type = c.type;
        n.original_src = c.osrc, n.translated_src = c.tsrc;
        n.original_dst = c.odst, n.translated_dst = c.tdst;
        EXPECT_EQ(render_text(build(n)), std::string("NAT information: \n") + c.lines) << c.type;
    }
}

TEST(NatTranslation, XmlLabelsTheSecondPortAsTheOriginalAndMarksEif) {
    nat_reply n = napt44();
    n.eif = 1;
    EXPECT_EQ(render_xml(build(n)),
              "<nat-plugin-sess-entry>\n"
              "  <nat-action>  Translation Type - NAPT-44 (EIF)\n</nat-action>\n"
              "  <sfw-flow-nat>\n"
              "    <sfw-flow-nat-type>NAT source</sfw-flow-nat-type>\n"
              "    <sfw-flow-nat-ip>10.0.0.5</sfw-flow-nat-ip>\n"
              "    <sfw-flow-nat-port>5123</sfw-flow-nat-port>\n"
              "    <sfw-flow-translated-ip>198.51.100.7</sfw-flow-translated-ip>\n"
              "    <sfw-flow-translated-port>40001</sfw-flow-translated-port>\n"
              "  </sfw-flow-nat>\n"
              "</nat-plugin-sess-entry>\n");
}

TEST(NatTranslation, TypeZeroInXmlShowsOnlyTheAction) {
    EXPECT_EQ(render_xml(build(nat_reply{})), "<nat-plugin-sess-entry>\n"
                                             "  <nat-action>  Translation Type - invalid \n</nat-action>\n"
                                             "</nat-plugin-sess-entry>\n");
}


// The table's ends and what lies just outside them (an off-by-one in the
// lookup shifts every name or reads past the table).
TEST(NatTranslation, TypesAtTheTablesEndsAndOutside) {
    EXPECT_STREQ(vorel_nat_translation_type2str(11), "BASIC NAT44");
    EXPECT_STREQ(vorel_nat_translation_type2str(13), "NAPT-44");
    EXPECT_STREQ(vorel_nat_translation_type2str(27), "STATEFUL NAT464");
    EXPECT_STREQ(vorel_nat_translation_type2str(28), "DETERMINISTIC NAPT64");
    EXPECT_STREQ(vorel_nat_translation_type2str(10), "invalid");
    EXPECT_STREQ(vorel_nat_translation_type2str(29), "invalid");
    EXPECT_STREQ(vorel_nat_translation_type2str(0xffffffffu), "invalid");
}

TEST(NatTranslation, AShortReplyPrintsNothing) {
    std::vector<uint8_t> bytes = build(napt44());
    bytes.resize(VOREL_NAT_REPLY_LEN - 1);
    bool rendered = true;
    EXPECT_EQ(render_text(bytes, &rendered), "");
    EXPECT_FALSE(rendered);
    bytes = build(napt44());
    bytes.resize(VOREL_NAT_REPLY_LEN);
    EXPECT_NE(render_text(bytes, &rendered), "");
    EXPECT_TRUE(rendered);
}

// ---- Command line ----

using vorel::testing::Argv;

int parse(std::vector<std::string> words, msp_action_params *p, std::string *out = nullptr) {
    words.insert(words.begin(), "vorel");
    Argv a(words);
    vorel_ctx ctx;
    ctx.optstring = vorel_optstring;
    vorel_opterr = 0;
    testing::internal::CaptureStdout();
    int rc = msp_parse_options(a.argc(), a.argv(), &ctx, p);
    std::fflush(stdout);
    std::string printed = testing::internal::GetCapturedStdout();
    vorel_opterr = 1;
    if (out)
        *out = printed;
    return rc;
}

TEST(MspOptions, Defaults) {
    msp_action_params p;
    ASSERT_EQ(parse({"-C", "msp", "-S", "sessions"}, &p), 0);
    EXPECT_EQ(p.limit, 100u);
    EXPECT_EQ(p.proto, 65535);
    EXPECT_EQ(p.drain_type, 1);
    EXPECT_EQ(*p.command, "msp");
    EXPECT_EQ(*p.action, "sessions");
    EXPECT_FALSE(p.srv_set_name);
    EXPECT_FALSE(p.interface_name);
}

TEST(MspOptions, FlagsAndTexts) {
    msp_action_params p;
    ASSERT_EQ(parse({"-s", "sset-a", "-i", "ms-1/0/0", "-c", "-Z", "-z", "-d"}, &p), 0);
    EXPECT_EQ(*p.srv_set_name, "sset-a");
    EXPECT_EQ(*p.interface_name, "ms-1/0/0");
    EXPECT_EQ(p.countonly, 1);
    EXPECT_EQ(p.clear_stats, 1);
    EXPECT_EQ(p.extensive, 1);
    EXPECT_EQ(p.limit, 100u); // -z changes nothing
}

TEST(MspOptions, EveryOtherLetterLiftsTheLimitWhereItStands) {
    msp_action_params p;
    ASSERT_EQ(parse({"-F", "count", "10", "-b"}, &p), 0);
    EXPECT_EQ(p.limit, 0u);
    msp_action_params q;
    ASSERT_EQ(parse({"-b", "-F", "count", "10"}, &q), 0);
    EXPECT_EQ(q.limit, 10u);
    msp_action_params r;
    ASSERT_EQ(parse({"-F", "count", "10", "-q"}, &r), 0); // an unknown letter ('?') too
    EXPECT_EQ(r.limit, 0u);
}

TEST(MspOptions, GroupAndResourceIdsTakeTheNextWord) {
    msp_action_params p;
    ASSERT_EQ(parse({"-g", "group-id", "42", "-c"}, &p), 0);
    EXPECT_EQ(*p.id_keyword, "group-id");
    EXPECT_EQ(p.id_value, 42);
    EXPECT_EQ(p.countonly, 1);
    msp_action_params q;
    ASSERT_EQ(parse({"-g", "summary", "-c", "-d"}, &q), 0);
    EXPECT_EQ(*q.id_keyword, "summary");
    EXPECT_EQ(q.id_value, 0);
    EXPECT_EQ(q.countonly, 0); // "-c" was the consumed word
    EXPECT_EQ(q.extensive, 1);
    msp_action_params r;
    ASSERT_EQ(parse({"-g", "resource-id"}, &r), 0); // no word: ignored
    EXPECT_FALSE(r.id_keyword);
}

TEST(MspOptions, Ports) {
    msp_action_params p;
    ASSERT_EQ(parse({"-F", "sport", "70000", "-F", "dport", "443", "-F", "sport"}, &p), 0);
    EXPECT_EQ(p.sport, 70000 & 0xffff);
    EXPECT_EQ(p.dport, 443);
}

TEST(MspOptions, ProtocolsAndApplications) {
    msp_action_params p;
    ASSERT_EQ(parse({"-F", "proto", "icmp6", "-F", "alg", "sip"}, &p), 0);
    EXPECT_EQ(p.proto, 58);
    EXPECT_EQ(p.alg, 29);
    msp_action_params q;
    ASSERT_EQ(parse({"-F", "proto", "-1", "-F", "alg", "nosuch"}, &q), 0);
    EXPECT_EQ(q.proto, 255);
    EXPECT_EQ(q.alg, 62);
    msp_action_params r;
    std::string out;
    EXPECT_EQ(parse({"-F", "proto", "tcpx"}, &r, &out), -1);
    EXPECT_EQ(out, "vorel: unknown protocol: tcpx \n");
    EXPECT_EQ(parse({"-F", "proto"}, &r, &out), -1);
    EXPECT_EQ(out, "vorel: unknown protocol:  \n");
}

TEST(MspOptions, PrefixesAreHeldInHostOrder) {
    msp_action_params p;
    ASSERT_EQ(parse({"-F", "sprefix", "10.1.2.0/24", "-F", "dprefix", "2001:db8:1::/48"}, &p), 0);
    EXPECT_EQ(p.sprefix.words[0], 0x0a010200u);
    EXPECT_EQ(p.smask.words[0], 0xffffff00u);
    EXPECT_EQ(p.sprefix.is_v6, 0);
    EXPECT_EQ(p.dprefix.words[0], 0x20010db8u);
    EXPECT_EQ(p.dprefix.words[1], 0x00010000u);
    EXPECT_EQ(p.dmask.words[0], 0xffffffffu);
    EXPECT_EQ(p.dmask.words[1], 0xffff0000u);
    EXPECT_EQ(p.dmask.words[2], 0u);
    EXPECT_EQ(p.dprefix.is_v6, 1);
    EXPECT_EQ(p.dmask.is_v6, 1);
}

TEST(MspFilter, LayoutOfTheBlock) {
    msp_action_params p;
    ASSERT_EQ(parse({"-F", "sprefix", "10.1.2.0/24", "-F", "dprefix", "2001:db8::/32", "-F",
                     "sport", "258", "-F", "dport", "772", "-F", "proto", "6", "-F", "alg", "ftp"},
                    &p),
              0);
    vorel::ByteWriter w(4 + MSP_FILTER_LEN);
    msp_filter_write(w, 4, p);
    ASSERT_TRUE(w.ok());
    vorel::ByteReader r(w.buffer());
    EXPECT_EQ(r.be32(4), 0x0a010200u);
    EXPECT_EQ(r.u8(4 + 16), 0);
    EXPECT_EQ(r.be32(24), 0xffffff00u);
    EXPECT_EQ(r.be32(44), 0x20010db8u);
    EXPECT_EQ(r.u8(44 + 16), 1);
    EXPECT_EQ(r.be32(64), 0xffffffffu);
    EXPECT_EQ(r.u8(64 + 16), 1);
    EXPECT_EQ(r.be16(84), 258);
    EXPECT_EQ(r.be16(86), 772);
    EXPECT_EQ(r.be16(88), 6);
    EXPECT_EQ(r.u8(90), 1);
    EXPECT_EQ(r.u8(91), 0);
}

// ---- Records ----

TEST(MspRecords, ShortRecordsAreRefused) {
    std::vector<uint8_t> bytes(MSP_RECORD_OFFSET + MSP_SESS_RECORD_LEN - 1, 0xff);
    msp_sess s;
    EXPECT_FALSE(msp_sess_read(vorel::ByteReader(bytes), MSP_RECORD_OFFSET, &s));
    EXPECT_EQ(s.sess_id, 0u);
    bytes.push_back(0xff);
    EXPECT_TRUE(msp_sess_read(vorel::ByteReader(bytes), MSP_RECORD_OFFSET, &s));
    EXPECT_EQ(s.plugin_data[MSP_PLUGIN_TYPES - 1], 0xffff);
    msp_flow f;
    bytes.assign(MSP_RECORD_OFFSET + MSP_FLOW_RECORD_LEN - 1, 1);
    EXPECT_FALSE(msp_flow_read(vorel::ByteReader(bytes), MSP_RECORD_OFFSET, &f));
    bytes.push_back(1);
    EXPECT_TRUE(msp_flow_read(vorel::ByteReader(bytes), MSP_RECORD_OFFSET, &f));
    EXPECT_EQ(f.ds_lite, 1);
}

} // namespace
