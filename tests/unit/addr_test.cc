#include "platform/addr.h"

#include <arpa/inet.h>
#include <cstring>
#include <gtest/gtest.h>
#include <string>

namespace {

std::string text_of(const ipaddr_t &a) {
    char buf[INET6_ADDRSTRLEN];
    const char *t = format_ipaddr(a.family, a.addr, buf, sizeof buf);
    return t ? t : "(none)";
}

TEST(ParseIpaddr, Ipv4WithAndWithoutLength) {
    ipaddr_t a;
    ASSERT_TRUE(parse_ipaddr("10.1.2.3", &a));
    EXPECT_EQ(a.family, AF_INET);
    EXPECT_EQ(a.prefix_len, -1);
    const uint8_t want[16] = {10, 1, 2, 3};
    EXPECT_EQ(std::memcmp(a.addr, want, 16), 0);

    ASSERT_TRUE(parse_ipaddr("192.168.0.0/16", &a));
    EXPECT_EQ(a.prefix_len, 16);
    EXPECT_EQ(text_of(a), "192.168.0.0");
    ASSERT_TRUE(parse_ipaddr("0.0.0.0/0", &a));
    EXPECT_EQ(a.prefix_len, 0);
    ASSERT_TRUE(parse_ipaddr("1.2.3.4/32", &a));
    EXPECT_EQ(a.prefix_len, 32);
}

TEST(ParseIpaddr, Ipv6WithAndWithoutLength) {
    ipaddr_t a;
    ASSERT_TRUE(parse_ipaddr("2001:db8::1/64", &a));
    EXPECT_EQ(a.family, AF_INET6);
    EXPECT_EQ(a.prefix_len, 64);
    EXPECT_EQ(a.addr[0], 0x20);
    EXPECT_EQ(a.addr[1], 0x01);
    EXPECT_EQ(a.addr[15], 0x01);
    EXPECT_EQ(text_of(a), "2001:db8::1");
    ASSERT_TRUE(parse_ipaddr("::ffff:10.0.0.1/128", &a));
    EXPECT_EQ(a.prefix_len, 128);
    EXPECT_EQ(text_of(a), "::ffff:10.0.0.1");
    ASSERT_TRUE(parse_ipaddr("2001:0DB8:0000:0000:0000:0000:0000:0001", &a));
    EXPECT_EQ(text_of(a), "2001:db8::1"); // standard text, lower case, zeros compressed
}

TEST(ParseIpaddr, RejectsBadLengthsAndSyntax) {
    const char *bad[] = {"",
                         "10.1.2.3/33",
                         "::1/129",
                         "10.1.2.3/",
                         "10.1.2.3/-1",
                         "10.1.2.3/+8",
                         "10.1.2.3/8x",
                         "10.1.2/24",
                         "10.1.2.3.4",
                         "256.1.1.1",
                         " 10.1.2.3",
                         "10.1.2.3 ",
                         "/24",
                         "2001:db8:::1",
                         "fe80::1%eth0",
                         "1.2.3.4/99999999999999999999",
                         "2001:db8::1/64/1",
                         "0000:0000:0000:0000:0000:0000:0000:0000:0000"};
    for (const char *t : bad) {
        ipaddr_t a;
        a.prefix_len = 7;
        EXPECT_FALSE(parse_ipaddr(t, &a)) << t;
        EXPECT_EQ(a.prefix_len, 7) << "output touched for " << t;
    }
    EXPECT_FALSE(parse_ipaddr(nullptr, nullptr));
}

TEST(FormatIpaddr, RefusesUnknownFamiliesAndShortBuffers) {
    const uint8_t v4[4] = {127, 0, 0, 1};
    char buf[INET6_ADDRSTRLEN];
    EXPECT_STREQ(format_ipaddr(AF_INET, v4, buf, sizeof buf), "127.0.0.1");
    EXPECT_EQ(format_ipaddr(AF_UNIX, v4, buf, sizeof buf), nullptr);
    EXPECT_STREQ(buf, "");
    char small[8];
    EXPECT_EQ(format_ipaddr(AF_INET, v4, small, sizeof small), nullptr);
    EXPECT_STREQ(small, "");
}

} // namespace
