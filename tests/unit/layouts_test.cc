// The lab's message layouts: definitions, the encoder and its complaints.
#include "lab/agents_module.h"
#include "lab/layouts.h"
#include "platform/bytes.h"

#include <gtest/gtest.h>

using namespace vorel;
using namespace vorel::lab;

namespace {

// A layout set with the built-in layouts and the test layouts below.
const char *kTestLayouts = R"(
- name: sample
  type: 500
  version: 2
  size: 62
  fields:
    - {name: small, offset: 8, type: u8}
    - {name: word, offset: 10, type: be16}
    - {name: long, offset: 12, type: be32}
    - {name: huge, offset: 16, type: be64}
    - {name: label, offset: 24, type: text, width: 8}
    - {name: blob, offset: 32, type: bytes, width: 4}
    - {name: counters, offset: 36, type: be16, count: 3, stride: 4}
    - {name: n, offset: 48, type: u8, count_of: items}
    - name: items
      offset: 50
      count: 2
      stride: 6
      fields:
        - {name: id, offset: 0, type: be16}
        - {name: flags, offset: 2, type: bytes, width: 4}
)";

struct Fixture {
    ScenarioReader reader{"test.yaml"};
    LayoutSet layouts;
    std::vector<std::string> builtin_errors;

    Fixture() {
        layouts.add_builtin(builtin_errors);
        layouts.add(YAML::Load(kTestLayouts), reader);
    }

    std::optional<MessageSpec> message(const std::string &yaml) {
        return read_message(YAML::Load(yaml), layouts, reader);
    }
    std::string errors() const {
        std::string s;
        for (const auto &e : reader.errors())
            s += e + "\n";
        return s;
    }
};

} // namespace

TEST(Layouts, BuiltinAndTestLayoutsLoadCleanly) {
    Fixture f;
    EXPECT_TRUE(f.builtin_errors.empty()) << f.builtin_errors.front();
    EXPECT_FALSE(f.reader.failed()) << f.errors();
    const Layout *req = f.layouts.find("tcplog_conn_request");
    const Layout *rep = f.layouts.find("tcplog_conn_reply");
    ASSERT_TRUE(req && rep);
    EXPECT_EQ(req->type, 317);
    EXPECT_EQ(req->size, 16u);
    EXPECT_EQ(rep->type, 318);
    EXPECT_EQ(rep->size, 14360u);
}

TEST(Layouts, TcplogRequestIsTheBareHeader) {
    Fixture f;
    auto m = f.message("{layout: tcplog_conn_request}");
    ASSERT_TRUE(m) << f.errors();
    EXPECT_EQ(to_hex(m->bytes.data(), m->bytes.size()),
              "01 3d 00 01 00 04 00 00 00 00 00 00 00 00 00 00");
}

TEST(Layouts, TcplogReplyEntriesLandAtTheirOffsets) {
    Fixture f;
    auto m = f.message(R"({layout: tcplog_conn_reply, fields: {entries: [
        {state: 3, local_addr: "10.1.2.3", remote_addr: "192.0.2.9", remote_port: 514, session_id: 42},
        {state: 1, local_addr: "2001:db8::1", remote_addr: "2001:db8:0:0:0:0:0:ff", remote_port: 65535,
         session_id: 0xfedcba9876543210}]}})");
    ASSERT_TRUE(m) << f.errors();
    ByteReader r(m->bytes);
    ASSERT_EQ(r.size(), 14360u);
    EXPECT_EQ(r.be16(0), 318);
    EXPECT_EQ(r.be16(2), 1);
    EXPECT_EQ(r.be16(4), 3590); // 14360 bytes in 32-bit words
    EXPECT_EQ(r.be16(6), 0);
    EXPECT_EQ(r.be16(16), 2); // count defaults to the entries given
    // Entry 0 at 24: state, local address (IPv4 in word 0, flag 0), remote, port, session id.
    EXPECT_EQ(r.u8(24), 3);
    EXPECT_EQ(to_hex(r.data() + 28, 20),
              "0a 01 02 03 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00");
    EXPECT_EQ(r.be32(48), 0xc0000209u);
    EXPECT_EQ(r.u8(64), 0);
    EXPECT_EQ(r.be16(68), 514);
    EXPECT_EQ(r.be64(72), 42u);
    // Entry 1 at 80: IPv6 addresses fill four words and set the flag byte.
    EXPECT_EQ(r.u8(80), 1);
    EXPECT_EQ(to_hex(r.data() + 84, 20),
              "20 01 0d b8 00 00 00 00 00 00 00 00 00 00 00 01 01 00 00 00");
    EXPECT_EQ(r.be32(104 + 12), 0xffu);
    EXPECT_EQ(r.u8(104 + 16), 1);
    EXPECT_EQ(r.be16(124), 65535);
    EXPECT_EQ(r.be64(128), 0xfedcba9876543210u);
    // Entry 2 and everything after it stay zero.
    for (size_t off = 136; off < r.size(); off++)
        ASSERT_EQ(r.u8(off), 0) << "offset " << off;
}

TEST(Layouts, EveryFieldTypeAndHeaderOverride) {
    Fixture f;
    auto m = f.message(R"({layout: sample,
        header: {msg_len: 99, svc_set_id: 7},
        fields: {small: -1, word: 0x1234, long: 4294967295, huge: -2, label: "abcdefgh",
                 blob: "de ad", counters: [1, 2, 3], n: 9,
                 items: [{id: 5, flags: "01 02 03 04"}, {id: 6}]}})");
    ASSERT_TRUE(m) << f.errors();
    ByteReader r(m->bytes);
    ASSERT_EQ(r.size(), 62u);
    EXPECT_EQ(r.be16(0), 500);
    EXPECT_EQ(r.be16(2), 2);
    EXPECT_EQ(r.be16(4), 99); // overridden; the layout alone gives 16
    EXPECT_EQ(r.be16(6), 7);
    EXPECT_EQ(r.u8(8), 0xff);
    EXPECT_EQ(r.be16(10), 0x1234);
    EXPECT_EQ(r.be32(12), 0xffffffffu);
    EXPECT_EQ(r.be64(16), 0xfffffffffffffffeu);
    EXPECT_EQ(r.text(24, 8), "abcdefgh"); // a text may fill its whole width
    EXPECT_EQ(to_hex(r.data() + 32, 4), "de ad 00 00");
    EXPECT_EQ(to_hex(r.data() + 36, 12), "00 01 00 00 00 02 00 00 00 03 00 00");
    EXPECT_EQ(r.u8(48), 9); // given explicitly: count_of does not override it
    EXPECT_EQ(to_hex(r.data() + 50, 12), "00 05 01 02 03 04 00 06 00 00 00 00");
    EXPECT_TRUE(m->type_fixed == false);
}

// An empty value leaves a bytes field zero, as leaving it out does.
TEST(Layouts, EmptyBytesValueLeavesTheFieldZero) {
    Fixture f;
    for (const char *blob : {"\"\"", "[]"}) {
        auto m = f.message(std::string("{layout: sample, fields: {blob: ") + blob + "}}");
        ASSERT_TRUE(m) << f.errors();
        EXPECT_EQ(to_hex(m->bytes.data() + 32, 4), "00 00 00 00") << blob;
    }
    EXPECT_FALSE(f.reader.failed()) << f.errors();
}

TEST(Layouts, MsgLenRoundsUpToWholeWords) {
    Fixture f;
    f.layouts.add(YAML::Load("[{name: odd, type: 1, size: 14}]"), f.reader);
    auto m = f.message("{layout: odd}");
    ASSERT_TRUE(m) << f.errors();
    EXPECT_EQ(m->bytes.size(), 14u);
    EXPECT_EQ(ByteReader(m->bytes).be16(4), 4);
}

TEST(Layouts, BadValuesAreReportedWithTheirLine) {
    Fixture f;
    const char *cases[][2] = {
        {"{layout: sample, fields: {word: 65536}}",
         "test.yaml:1:33: value 65536 does not fit field 'word' (0..65535)"},
        {"{layout: sample, fields: {small: -129}}", "value -129 does not fit field 'small'"},
        {"{layout: sample, fields: {long: x12}}", "is not a number"},
        {"{layout: sample, fields: {label: \"123456789\"}}",
         "text of 9 bytes does not fit field 'label'"},
        {"{layout: sample, fields: {blob: \"01 02 03 04 05\"}}", "5 bytes do not fit field 'blob'"},
        {"{layout: tcplog_conn_reply, fields: {entries: [{local_addr: \"10.1.2\"}]}}",
         "bad address '10.1.2' for field 'local_addr'"},
        {"{layout: sample, fields: {items: [{id: 1}, {id: 2}, {id: 3}]}}",
         "holds at most 2 elements, 3 given"},
        {"{layout: sample, fields: {nope: 1}}",
         "test.yaml:1:27: layout 'sample' has no field 'nope'"},
        {"{layout: sample, fields: {items: [{nope: 1}]}}", "layout 'sample' has no field 'nope'"},
        {"{layout: missing}", "test.yaml:1:10: unknown layout 'missing'"},
        {"{layout: sample, header: {type: 70000}}", "larger than 65535"},
        {"{layout: sample, vary: {items.2.id: {}}}", "no number or address field 'items.2.id'"},
        {"{text: 1}", "a message is {bytes: HEX} or {layout: NAME"},
    };
    for (const auto &c : cases) {
        Fixture g;
        g.message(c[0]);
        ASSERT_TRUE(g.reader.failed()) << c[0];
        EXPECT_NE(g.errors().find(c[1]), std::string::npos) << c[0] << "\n" << g.errors();
    }
}

TEST(Layouts, BadDefinitionsAreRefused) {
    const char *cases[][2] = {
        {"[{name: a, type: 1, size: 16, fields: [{name: x, offset: 14, type: be32}]}]",
         "field 'x' ends at byte 18, past the end (16)"},
        {"[{name: a, type: 1, size: 16, fields: [{name: x, offset: 4, type: be16}]}]",
         "field 'x' overlaps the message header"},
        {"[{name: a, type: 1, size: 16, fields: [{name: x, offset: 8, type: be24}]}]",
         "unknown field type 'be24'"},
        {"[{name: a, type: 1, size: 16, fields: [{name: x, offset: 8, type: text}]}]",
         "missing field 'width'"},
        {"[{name: a, type: 1, size: 32, fields: [{name: x, offset: 8, count: 2, stride: 4, fields: "
         "[{name: y, offset: 2, type: be32}]}]}]",
         "field 'y' ends at byte 6, past the end (4)"},
        {"[{name: a, type: 1, size: 16, fields: [{name: c, offset: 8, type: u8, count_of: z}]}]",
         "count_of names no array field 'z'"},
        {"[{name: tcplog_conn_reply, type: 1, size: 16}]",
         "layout 'tcplog_conn_reply' is already defined at lab/layouts/tcplog.yaml:"},
        {"[{name: a, type: 1, size: 4}]", "at least its 8-byte header"},
    };
    for (const auto &c : cases) {
        Fixture f;
        f.layouts.add(YAML::Load(c[0]), f.reader);
        ASSERT_TRUE(f.reader.failed()) << c[0];
        EXPECT_NE(f.errors().find(c[1]), std::string::npos) << c[0] << "\n" << f.errors();
    }
}

TEST(Layouts, GeneratorPatchesVaryingFieldsPerCopy) {
    Fixture f;
    auto m = f.message(R"({layout: tcplog_conn_reply, repeat: 5,
        fields: {entries: [{session_id: 100, local_addr: "10.0.0.250"}, {remote_addr: "2001:db8::1:fffe"}]},
        vary: {entries.0.session_id: {step: 3}, entries.0.state: {start: 1, step: -1},
               entries.0.local_addr: {step: 2}, entries.1.remote_addr: {}}})");
    ASSERT_TRUE(m) << f.errors();
    EXPECT_EQ(m->repeat, 5u);
    std::vector<uint8_t> copy = m->bytes;
    m->patch(copy.data(), copy.size(), 4);
    ByteReader r(copy);
    EXPECT_EQ(r.be64(72), 112u);              // 100 + 4 * 3
    EXPECT_EQ(r.u8(24), 0xfd);                // 1 - 4, in eight bits
    EXPECT_EQ(r.be32(28), 0x0a000102u);       // 10.0.0.250 + 8 carries into the next byte
    EXPECT_EQ(r.be32(104 + 12), 0x00020002u); // the last IPv6 word: 1:fffe + 4
    EXPECT_EQ(r.be32(104), 0x20010db8u);      // the other words stay
    // A copy cut short keeps only the fields that fit.
    std::vector<uint8_t> short_copy(m->bytes.begin(), m->bytes.begin() + 30);
    m->patch(short_copy.data(), short_copy.size(), 4);
    EXPECT_EQ(short_copy[24], 0xfd);
    EXPECT_EQ(ByteReader(short_copy).be16(28), 0x0a00); // the address word did not fit: untouched
}

TEST(Layouts, AddressValueEncoding) {
    uint8_t a[20];
    ASSERT_TRUE(encode_address("192.0.2.1", a));
    EXPECT_EQ(to_hex(a, 20), "c0 00 02 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00");
    ASSERT_TRUE(encode_address("::ffff:1.2.3.4", a));
    EXPECT_EQ(to_hex(a, 20), "00 00 00 00 00 00 00 00 00 00 ff ff 01 02 03 04 01 00 00 00");
    EXPECT_FALSE(encode_address("1.2.3.4.5", a));
    EXPECT_FALSE(encode_address("", a));
}

TEST(AgentScenario, PicNames) {
    unsigned fpc = 99, pic = 99;
    EXPECT_TRUE(parse_pic_name("ms-1/0/0", fpc, pic));
    EXPECT_EQ(fpc, 1u);
    EXPECT_EQ(pic, 0u);
    EXPECT_TRUE(parse_pic_name("sp-12/7/0", fpc, pic));
    EXPECT_EQ(fpc, 12u);
    EXPECT_EQ(pic, 7u);
    EXPECT_TRUE(parse_pic_name("3/2", fpc, pic));
    EXPECT_FALSE(parse_pic_name("ms-1/8/0", fpc, pic)); // PIC slots end at 7
    EXPECT_FALSE(parse_pic_name("ms-256/0/0", fpc, pic));
    EXPECT_FALSE(parse_pic_name("ms-1", fpc, pic));
    EXPECT_FALSE(parse_pic_name("ms-1/0/", fpc, pic));
    EXPECT_FALSE(parse_pic_name("ms-x/0/0", fpc, pic));
}

TEST(AgentScenario, FaultsInRulesAreReportedWithTheirLine) {
    const char *cases[][2] = {
        {"agents: [{pic: ms-1/9/0}]", "test.yaml:1:16: a pic is"},
        {"agents: [{pic: ms-1/0/0, linecard: 1}]", "names either a pic"},
        {"agents: [{linecard: 1, rules: [{match: {typ: 3}}]}]", "unknown field 'typ'"},
        {"agents: [{linecard: 1, rules: [{fault: {kind: explode}}]}]", "unknown fault 'explode'"},
        {"agents: [{linecard: 1, rules: [{fault: {kind: delay}}]}]", "fault delay needs 'seconds'"},
        {"agents: [{linecard: 1, rules: [{fault: {kind: delay, seconds: x}}]}]",
         "seconds is a number"},
        {"agents: [{linecard: 1, rules: [{fault: {kind: close, type: 3}}]}]",
         "'type' does not apply to fault close"},
        {"agents: [{linecard: 1, rules: [{reply: [{layout: nope}]}]}]",
         "test.yaml:1:50: unknown layout 'nope'"},
        {"agents: [{linecard: 1, rules: [{times: 0}]}]", "times is at least 1"},
        {"layouts: [{name: x, type: 1, size: 8}]\nagents: [{linecard: 1, rules: [{reply: [{layout: "
         "x, fields: {a: 1}}]}]}]",
         "test.yaml:2:62: layout 'x' has no field 'a'"},
    };
    for (const auto &c : cases) {
        AgentsModule m;
        ScenarioReader reader("test.yaml");
        m.load(YAML::Load(c[0]), reader);
        std::string all;
        for (const auto &e : reader.errors())
            all += e + "\n";
        EXPECT_NE(all.find(c[1]), std::string::npos) << c[0] << "\n" << all;
    }
}
