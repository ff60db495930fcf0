#include "vorel/vorel_string.h"
#include "vorel/vorel_util.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

struct reported_error {
    std::string program;
    std::string message;
};
std::vector<reported_error> reported;

void record_error(const char *program, const char *message) {
    reported.push_back({program, message});
}

// Captures what the prefix parsers report for the length of one test.
class PrefixTest : public ::testing::Test {
  protected:
    void SetUp() override {
        reported.clear();
        previous_ = vorel_set_prefix_error_reporter(record_error);
    }
    void TearDown() override { vorel_set_prefix_error_reporter(previous_); }

    // Parses text and checks the result and that no error was shown.
    vorel_addr parse_ok(const char *text, int expected_result, vorel_addr *mask) {
        vorel_addr addr{};
        EXPECT_EQ(vorel_parse_prefix(&addr, text, mask), expected_result) << text;
        EXPECT_TRUE(reported.empty()) << text;
        return addr;
    }

    void expect_mask(const char *text, uint32_t w0, uint32_t w1, uint32_t w2, uint32_t w3) {
        vorel_addr mask{};
        parse_ok(text, 1, &mask);
        EXPECT_EQ(mask.words[0], w0) << text;
        EXPECT_EQ(mask.words[1], w1) << text;
        EXPECT_EQ(mask.words[2], w2) << text;
        EXPECT_EQ(mask.words[3], w3) << text;
    }

    void expect_rejected(const char *text) {
        reported.clear();
        vorel_addr addr{}, mask{};
        EXPECT_EQ(vorel_parse_prefix(&addr, text, &mask), 0) << text;
        ASSERT_EQ(reported.size(), 1u) << text;
        EXPECT_EQ(reported[0].program, "vorel");
        EXPECT_EQ(reported[0].message, "Error parsing source prefix filter, invalid prefix");
        EXPECT_EQ(mask.words[0], 0u) << text;
    }

  private:
    vorel_prefix_error_fn previous_ = nullptr;
};

vorel_addr v6(uint32_t w0, uint32_t w1, uint32_t w2, uint32_t w3) {
    return vorel_addr{{w0, w1, w2, w3}, 1};
}

} // namespace

TEST(CodeNames, KnownAndUnknownCodes) {
    EXPECT_STREQ(alg2str(0), "any");
    EXPECT_STREQ(alg2str(22), "dcerpcportmap");
    EXPECT_STREQ(alg2str(49), "ike-esp-nat");
    EXPECT_STREQ(alg2str(21), "???");
    EXPECT_STREQ(alg2str(50), "???");
    EXPECT_STREQ(qrtalg2str(0), "none");
    EXPECT_STREQ(qrtalg2str(60), "H323");
    EXPECT_STREQ(qrtalg2str(79), "ftp data");
    EXPECT_STREQ(qrtalg2str(1004), "udp");
    EXPECT_STREQ(qrtalg2str(3), "???");
    EXPECT_STREQ(flowtype2str(4), "Reject");
    EXPECT_STREQ(flowtype2str(5), "????");
    EXPECT_STREQ(role2str(3), "Master");
    EXPECT_STREQ(role2str(4), "????");
    EXPECT_STREQ(msp_role2str(2), "reverse");
    EXPECT_STREQ(msp_role2str(0), "????");
    EXPECT_STREQ(dir2str(0), "U");
    EXPECT_STREQ(dir2str(2), "O");
    EXPECT_STREQ(dir2str(3), "err");
    EXPECT_STREQ(icmpproto2str(1, 0x0800), "");
}

TEST(CodeNames, ProtocolNumbersWithoutANameShareOneShortBuffer) {
    EXPECT_STREQ(proto2str(6), "TCP");
    EXPECT_STREQ(proto2str(58), "ICMPV6");
    EXPECT_STREQ(proto2str(132), "SCTP");
    EXPECT_STREQ(proto2str(0), "0");
    EXPECT_STREQ(proto2str(255), "255");
    EXPECT_STREQ(proto2str(1000), "100");
    const char *first = proto2str(200);
    proto2str(201);
    EXPECT_STREQ(first, "201");
}

TEST(CodeNames, ApplicationsOfTheSessionEngine) {
    for (int code :
         {0, 1, 2, 3, 8, 14, 15, 16, 20, 22, 23, 25, 27, 29, 32, 34, 35, 37, 42, 44, 49, 57})
        EXPECT_EQ(vorel_alg_supported_on_msp(uint8_t(code)), 1) << code;
    for (int code : {4, 5, 21, 40, 41, 62, 255})
        EXPECT_EQ(vorel_alg_supported_on_msp(uint8_t(code)), 0) << code;
}

TEST(NameCodes, ApplicationNames) {
    EXPECT_EQ(vorel_application_protocol_string_to_uint8("bootp"), 28);
    EXPECT_EQ(vorel_application_protocol_string_to_uint8("dce-rpc-portmap"), 22);
    EXPECT_EQ(vorel_application_protocol_string_to_uint8("rsh"), 35);
    EXPECT_EQ(vorel_application_protocol_string_to_uint8("icmpv6"), 44);
    EXPECT_EQ(vorel_application_protocol_string_to_uint8("ftp-data"), 55);
    EXPECT_EQ(vorel_application_protocol_string_to_uint8("none"), 57);
    EXPECT_EQ(vorel_application_protocol_string_to_uint8("telnet"), 54);
    EXPECT_EQ(vorel_application_protocol_string_to_uint8("nosuch"), 62);
    EXPECT_EQ(vorel_application_protocol_string_to_uint8("FTP"), 62);
    EXPECT_EQ(vorel_application_protocol_string_to_uint8("ft"), 62);
    EXPECT_EQ(vorel_application_protocol_string_to_uint8(""), 62);
}

TEST(NameCodes, ProtocolNames) {
    EXPECT_EQ(vorel_protocol_string_to_uint8("ah"), 51);
    EXPECT_EQ(vorel_protocol_string_to_uint8("icmp6"), 58);
    EXPECT_EQ(vorel_protocol_string_to_uint8("pim"), 103);
    EXPECT_EQ(vorel_protocol_string_to_uint8("sctp"), 132);
    EXPECT_EQ(vorel_protocol_string_to_uint8("udp"), 17);
    EXPECT_EQ(vorel_protocol_string_to_uint8("icmpv6"), 0);
    EXPECT_EQ(vorel_protocol_string_to_uint8("TCP"), 0);
    EXPECT_EQ(vorel_protocol_string_to_uint8(""), 0);
}

TEST(AddressText, Ipv4MostSignificantByteFirst) {
    char buf[16];
    EXPECT_STREQ(ip2str(0xc0a80001, buf, sizeof buf), "192.168.0.1");
    EXPECT_STREQ(ip2str(0xffffffff, buf, sizeof buf), "255.255.255.255");
    char small[6];
    EXPECT_STREQ(ip2str(0xc0a80001, small, sizeof small), "192.1");
}

TEST(AddressText, AddressValuesWithWordsInHostOrder) {
    char buf[64];
    vorel_addr v4{{0x0a000001, 0x11111111, 0, 0}, 0};
    EXPECT_STREQ(ipaddr_tostring(&v4, buf, sizeof buf), "10.0.0.1");
    vorel_addr short_v6 = v6(0x20010db8, 0, 0, 1);
    EXPECT_STREQ(ipaddr_tostring(&short_v6, buf, sizeof buf), "2001:db8::1");
    // The longest plain IPv6 text is shown whole in a 40-byte field.
    vorel_addr full = v6(0x20010db8, 0x11112222, 0x33334444, 0x55556666);
    char field[40];
    EXPECT_STREQ(ipaddr_tostring(&full, field, sizeof field),
                 "2001:db8:1111:2222:3333:4444:5555:6666");
}

TEST(AddressText, PrefixValuesByFamily) {
    char buf[100];
    vorel_addr v4{{0x0a000001, 0, 0, 0}, 0};
    EXPECT_EQ(prefix_value_to_string(VOREL_FAMILY_INET, &v4, 32, buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "10.0.0.1");
    vorel_addr full = v6(0xfe800000, 0, 0x02000000, 0x0000abcd);
    EXPECT_EQ(prefix_value_to_string(VOREL_FAMILY_INET6, &full, 128, buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "fe80::200:0:0:abcd");
    std::snprintf(buf, sizeof buf, "keep");
    EXPECT_EQ(prefix_value_to_string(10, &full, 128, buf, sizeof buf), 10);
    EXPECT_STREQ(buf, "keep");
    char small[8];
    prefix_value_to_string(VOREL_FAMILY_INET6, &full, 128, small, sizeof small);
    EXPECT_STREQ(small, "fe80::2");
}

TEST(AddressText, WireFamilyWords) {
    EXPECT_EQ(vorel_wire_family(2), VOREL_FAMILY_INET);
    EXPECT_EQ(vorel_wire_family(10), VOREL_FAMILY_INET6);
    EXPECT_EQ(vorel_wire_family(28), VOREL_FAMILY_INET6);
    EXPECT_EQ(vorel_wire_family(0), 0);
}

TEST(AddressText, ReadFromAReply) {
    const uint8_t reply[] = {0xff, 0xff, 0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0,
                             0,    0,    0,    0,    0,    1,    1, 0, 0, 0, 0, 0};
    vorel::ByteReader r(reply, sizeof reply);
    vorel_addr a = vorel_addr_read(r, 2);
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(a.words[0], 0x20010db8u);
    EXPECT_EQ(a.words[1], 0u);
    EXPECT_EQ(a.words[3], 1u);
    EXPECT_EQ(a.is_v6, 1);
    // The flag byte of an address at 8 would lie at 24, past the reply.
    vorel_addr cut = vorel_addr_read(r, 8);
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(cut.is_v6, 0);
}

TEST_F(PrefixTest, Ipv4Masks) {
    expect_mask("10.0.0.0/1", 0x80000000, 0, 0, 0);
    expect_mask("10.0.0.0/8", 0xff000000, 0, 0, 0);
    expect_mask("10.0.0.0/31", 0xfffffffe, 0, 0, 0);
    expect_mask("10.0.0.1/32", 0xffffffff, 0, 0, 0);
    expect_rejected("10.0.0.0/33");
}

TEST_F(PrefixTest, Ipv6Masks) {
    expect_mask("2001:db8::/1", 0x80000000, 0, 0, 0);
    expect_mask("2001:db8::/64", 0xffffffff, 0xffffffff, 0, 0);
    expect_mask("2001:db8::/65", 0xffffffff, 0xffffffff, 0x80000000, 0);
    expect_mask("2001:db8::/96", 0xffffffff, 0xffffffff, 0xffffffff, 0);
    expect_mask("2001:db8::/127", 0xffffffff, 0xffffffff, 0xffffffff, 0xfffffffe);
    expect_mask("2001:db8::1/128", 0xffffffff, 0xffffffff, 0xffffffff, 0xffffffff);
    expect_rejected("2001:db8::/129");
}

TEST_F(PrefixTest, AddressComesBackInNetworkOrderAndFlagsBothOutputs) {
    vorel_addr mask{};
    vorel_addr a = parse_ok("10.1.2.3/24", 1, &mask);
    EXPECT_EQ(ntohl(a.words[0]), 0x0a010203u);
    EXPECT_EQ(a.is_v6, 0);
    EXPECT_EQ(mask.is_v6, 0);
    a = parse_ok("2001:db8::7/48", 1, &mask);
    EXPECT_EQ(ntohl(a.words[0]), 0x20010db8u);
    EXPECT_EQ(ntohl(a.words[3]), 7u);
    EXPECT_EQ(a.is_v6, 1);
    EXPECT_EQ(mask.is_v6, 1);
    EXPECT_EQ(mask.words[1], 0xffff0000u);
}

TEST_F(PrefixTest, BareAddressesGiveZeroWithoutAnError) {
    for (const char *text : {"10.1.2.3", "10.1.2.3/0", "2001:db8::1", "2001:db8::1/0"}) {
        vorel_addr mask{{1, 1, 1, 1}, 0};
        vorel_addr a = parse_ok(text, 0, &mask);
        for (uint32_t w : mask.words)
            EXPECT_EQ(w, 0u) << text;
        EXPECT_NE(a.words[0], 0u) << text;
        EXPECT_EQ(mask.is_v6, a.is_v6) << text;
    }
}

TEST_F(PrefixTest, MalformedTextIsReported) {
    for (const char *text : {"", "/8", "10.0.0/8", "10.0.0.0/", "10.0.0.0/abc", "10.0.0.0/8x",
                             "10.0.0.0/-1", "10.0.0.0/+8", "host.example", "2001:db8::/1e2",
                             "10.0.0.0 /8", "1.2.3.4.5.6.7.8.9.10.11.12.13.14.15.16.17.18.19/8"})
        expect_rejected(text);
}

TEST_F(PrefixTest, Ipv4PrefixLength) {
    uint32_t addr = 0;
    EXPECT_EQ(vorel_prefix_parse(&addr, "192.168.1.0/24"), 24);
    EXPECT_EQ(ntohl(addr), 0xc0a80100u);
    EXPECT_EQ(vorel_prefix_parse(&addr, "192.168.1.9"), 0);
    EXPECT_EQ(ntohl(addr), 0xc0a80109u);
    EXPECT_TRUE(reported.empty());
    EXPECT_EQ(vorel_prefix_parse(&addr, "192.168.1.0/33"), 0);
    EXPECT_EQ(vorel_prefix_parse(&addr, "2001:db8::/32"), 0);
    EXPECT_EQ(reported.size(), 2u);
}

TEST_F(PrefixTest, OptionPrefixValues) {
    uint32_t addr = 1, len = 1;
    EXPECT_TRUE(vorel_option_prefix4("10.1.0.0/16", &addr, &len));
    EXPECT_EQ(addr, 0x0a010000u);
    EXPECT_EQ(len, 16u);
    EXPECT_TRUE(vorel_option_prefix4("192.0.2.7", &addr, &len));
    EXPECT_EQ(addr, 0xc0000207u);
    EXPECT_EQ(len, 0u);

    // Refusals say so on standard error in text mode and leave the values.
    for (const char *text :
         {"10.0.0.300", "10.0.0.0/33", "2001:db8::/64", static_cast<const char *>(nullptr)}) {
        testing::internal::CaptureStderr();
        EXPECT_FALSE(vorel_option_prefix4(text, &addr, &len)) << vorel_str_or_null(text);
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "vorel: Error parsing source prefix filter, invalid prefix\n");
        EXPECT_EQ(addr, 0xc0000207u);
    }
    // The caller's reporter is back in place.
    EXPECT_TRUE(reported.empty());
    EXPECT_EQ(vorel_prefix_parse(&addr, "10.0.0.0/40"), 0);
    EXPECT_EQ(reported.size(), 1u);
}

TEST(CompactText, Counts) {
    EXPECT_STREQ(vorel_numbers_convert(0), "0.0");
    EXPECT_STREQ(vorel_numbers_convert(5000), "5000.0");
    EXPECT_STREQ(vorel_numbers_convert(5001), "5.0k");
    EXPECT_STREQ(vorel_numbers_convert(5000000), "5000.0k");
    EXPECT_STREQ(vorel_numbers_convert(5000001), "5.0M");
    EXPECT_STREQ(vorel_numbers_convert(123456789), "123.5M");
    // Tenths of a count, whole units shown.
    EXPECT_STREQ(vorel_treshold_convert(50010), "5.0k");
    EXPECT_STREQ(vorel_treshold_convert(59), "5.0");
}

TEST(CompactText, Durations) {
    EXPECT_STREQ(vorel_time_convert(0), "0s");
    EXPECT_STREQ(vorel_time_convert(60), "60s");
    EXPECT_STREQ(vorel_time_convert(61), "1m1s");
    EXPECT_STREQ(vorel_time_convert(3600), "60m0s");
    EXPECT_STREQ(vorel_time_convert(3661), "1h1m");
    EXPECT_STREQ(vorel_time_convert(86400), "24h0m");
    EXPECT_STREQ(vorel_time_convert(86401), "1d0h");
    EXPECT_STREQ(vorel_time_convert(4294967295u), "49710d6h");
}

TEST(CompactText, EightResultsLiveTogetherAndTheNinthReusesTheFirst) {
    const char *first = vorel_numbers_convert(10);
    std::vector<const char *> rest;
    for (unsigned i = 2; i <= 8; i++)
        rest.push_back(i % 2 ? vorel_time_convert(i) : vorel_treshold_convert(i * 10));
    EXPECT_STREQ(first, "10.0");
    EXPECT_STREQ(rest[0], "2.0");
    EXPECT_STREQ(rest[1], "3s");
    EXPECT_STREQ(rest[6], "8.0");
    vorel_time_convert(9);
    EXPECT_STREQ(first, "9s");
    EXPECT_STREQ(rest[0], "2.0");
}
