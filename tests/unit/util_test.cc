// Value parsers shared by the families: prefixes and their masks, and
// counter values.
#include "vorel/vorel_counters.h"
#include "vorel/vorel_string.h"
#include "vorel/vorel_util.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

std::vector<std::string> reported;
void record_error(const char *program, const char *message) {
    reported.push_back(std::string(program) + ": " + message);
}

// Captures what the prefix parsers report for the length of one test.
class PrefixTest : public ::testing::Test {
  protected:
    void SetUp() override {
        reported.clear();
        previous_ = vorel_set_prefix_error_reporter(record_error);
    }
    void TearDown() override { vorel_set_prefix_error_reporter(previous_); }
    vorel_prefix_error_fn previous_ = nullptr;
};

std::string words(const vorel_addr &a) {
    char b[64];
    std::snprintf(b, sizeof b, "%x.%x.%x.%x%s", a.words[0], a.words[1], a.words[2], a.words[3],
                  a.is_v6 ? "/6" : "");
    return b;
}

} // namespace

// The mask in host order, the address in network order; 0 and no error
// for a bare address or /0; every malformed text reported once.
TEST_F(PrefixTest, MasksAddressesAndRefusals) {
    struct {
        const char *text;
        int result;
        const char *addr, *mask;
    } cases[] = {
        {"10.0.0.0/1", 1, "a000000.0.0.0", "80000000.0.0.0"},
        {"10.1.2.3/24", 1, "a010203.0.0.0", "ffffff00.0.0.0"},
        {"10.0.0.0/31", 1, "a000000.0.0.0", "fffffffe.0.0.0"},
        {"10.0.0.1/32", 1, "a000001.0.0.0", "ffffffff.0.0.0"},
        {"2001:db8::/1", 1, "20010db8.0.0.0/6", "80000000.0.0.0/6"},
        {"2001:db8::7/48", 1, "20010db8.0.0.7/6", "ffffffff.ffff0000.0.0/6"},
        {"2001:db8::/65", 1, "20010db8.0.0.0/6", "ffffffff.ffffffff.80000000.0/6"},
        {"2001:db8::/127", 1, "20010db8.0.0.0/6", "ffffffff.ffffffff.ffffffff.fffffffe/6"},
        {"2001:db8::1/128", 1, "20010db8.0.0.1/6", "ffffffff.ffffffff.ffffffff.ffffffff/6"},
        {"10.1.2.3", 0, "a010203.0.0.0", "0.0.0.0"},
        {"10.1.2.3/0", 0, "a010203.0.0.0", "0.0.0.0"},
        {"2001:db8::1", 0, "20010db8.0.0.1/6", "0.0.0.0/6"},
        {"2001:db8::1/0", 0, "20010db8.0.0.1/6", "0.0.0.0/6"},
    };
    for (const auto &c : cases) {
        vorel_addr addr{}, mask{{1, 1, 1, 1}, 0};
        EXPECT_EQ(vorel_parse_prefix(&addr, c.text, &mask), c.result) << c.text;
        for (uint32_t &w : addr.words)
            w = ntohl(w);
        EXPECT_EQ(words(addr), c.addr) << c.text;
        EXPECT_EQ(words(mask), c.mask) << c.text;
    }
    EXPECT_TRUE(reported.empty());
    for (const char *text :
         {"10.0.0.0/33", "2001:db8::/129", "", "/8", "10.0.0/8", "10.0.0.0/", "10.0.0.0/abc",
          "10.0.0.0/8x", "10.0.0.0/-1", "10.0.0.0/+8", "host.example", "2001:db8::/1e2",
          "10.0.0.0 /8", "1.2.3.4.5.6.7.8.9.10.11.12.13.14.15.16.17.18.19/8"}) {
        reported.clear();
        vorel_addr addr{}, mask{};
        EXPECT_EQ(vorel_parse_prefix(&addr, text, &mask), 0) << text;
        EXPECT_EQ(
            reported,
            std::vector<std::string>{"vorel: Error parsing source prefix filter, invalid prefix"})
            << text;
    }
}

TEST_F(PrefixTest, Ipv4PrefixLengthAndOptionValues) {
    uint32_t addr = 0;
    EXPECT_EQ(vorel_prefix_parse(&addr, "192.168.1.0/24"), 24);
    EXPECT_EQ(ntohl(addr), 0xc0a80100u);
    EXPECT_EQ(vorel_prefix_parse(&addr, "192.168.1.9"), 0);
    EXPECT_EQ(ntohl(addr), 0xc0a80109u);
    EXPECT_TRUE(reported.empty());
    EXPECT_EQ(vorel_prefix_parse(&addr, "192.168.1.0/33"), 0);
    EXPECT_EQ(vorel_prefix_parse(&addr, "2001:db8::/32"), 0);
    EXPECT_EQ(reported.size(), 2u);

    uint32_t len = 1;
    EXPECT_TRUE(vorel_option_prefix4("10.1.0.0/16", &addr, &len));
    EXPECT_EQ(addr, 0x0a010000u);
    EXPECT_EQ(len, 16u);
    EXPECT_TRUE(vorel_option_prefix4("192.0.2.7", &addr, &len));
    EXPECT_EQ(len, 0u);
    // Refusals say so on standard error and leave the values.
    for (const char *text :
         {"10.0.0.300", "10.0.0.0/33", "2001:db8::/64", static_cast<const char *>(nullptr)}) {
        testing::internal::CaptureStderr();
        EXPECT_FALSE(vorel_option_prefix4(text, &addr, &len)) << vorel_str_or_null(text);
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "vorel: Error parsing source prefix filter, invalid prefix\n");
        EXPECT_EQ(addr, 0xc0000207u);
    }
    // The caller's reporter is back in place.
    reported.clear();
    EXPECT_EQ(vorel_prefix_parse(&addr, "10.0.0.0/40"), 0);
    EXPECT_EQ(reported.size(), 1u);
}

TEST(CounterValue, ASumOfSixtyFourBitCountersStopsAtTheLargestValue) {
    uint8_t a[16];
    std::fill(a, a + 16, 0xff);
    vorel_counter c{"x", 0, 8, nullptr, 8};
    const vorel::ByteReader r(a, sizeof a);
    EXPECT_EQ(vorel_counter_value(c, std::span<const vorel::ByteReader>(&r, 1)), UINT64_MAX);
    vorel_counter missing_source{"x", 0, 4, nullptr, 0, 3};
    EXPECT_EQ(vorel_counter_value(missing_source, std::span<const vorel::ByteReader>(&r, 1)), 0u);
}

// The ALG names are looked up by halves: the table's first and last rows,
// and codes around and between them.
TEST(CodeName, AlgNamesAtTheEndsOfTheTable) {
    EXPECT_STREQ(qrtalg2str(0), "none");
    EXPECT_STREQ(qrtalg2str(1), "ftp");
    EXPECT_STREQ(qrtalg2str(1004), "udp");
    for (int unknown : {-1, 3, 1000, 1005, 65535})
        EXPECT_STREQ(qrtalg2str(unknown), "???") << unknown;
}
