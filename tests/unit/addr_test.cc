// The platform's address text parser and printer.
#include "platform/addr.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <string>

TEST(ParseIpaddr, FamiliesLengthsAndTheStandardText) {
    for (auto [text, shown, family, len] :
         std::initializer_list<std::tuple<const char *, const char *, int, int>>{
             {"10.1.2.3", "10.1.2.3", AF_INET, -1},
             {"0.0.0.0/0", "0.0.0.0", AF_INET, 0},
             {"1.2.3.4/32", "1.2.3.4", AF_INET, 32},
             {"2001:db8::1/64", "2001:db8::1", AF_INET6, 64},
             {"::ffff:10.0.0.1/128", "::ffff:10.0.0.1", AF_INET6, 128},
             {"2001:0DB8:0000:0000:0000:0000:0000:0001", "2001:db8::1", AF_INET6, -1}}) {
        ipaddr_t a;
        ASSERT_TRUE(parse_ipaddr(text, &a)) << text;
        char buf[INET6_ADDRSTRLEN];
        EXPECT_STREQ(format_ipaddr(a.family, a.addr, buf, sizeof buf), shown);
        EXPECT_EQ(a.family, family) << text;
        EXPECT_EQ(a.prefix_len, len) << text;
    }
    // Bad lengths and syntax leave the output untouched.
    for (const char *t :
         {"", "10.1.2.3/33", "::1/129", "10.1.2.3/", "10.1.2.3/-1", "10.1.2.3/+8", "10.1.2.3/8x",
          "10.1.2/24", "256.1.1.1", " 10.1.2.3", "10.1.2.3 ", "/24", "2001:db8:::1", "fe80::1%eth0",
          "1.2.3.4/99999999999999999999", "2001:db8::1/64/1"}) {
        ipaddr_t a;
        a.prefix_len = 7;
        EXPECT_FALSE(parse_ipaddr(t, &a)) << t;
        EXPECT_EQ(a.prefix_len, 7) << "output touched for " << t;
    }
    EXPECT_FALSE(parse_ipaddr(nullptr, nullptr));
    // Unknown families and short buffers give nothing and an empty text.
    const uint8_t v4[4] = {127, 0, 0, 1};
    char small[8] = "x";
    EXPECT_EQ(format_ipaddr(AF_UNIX, v4, small, sizeof small), nullptr);
    EXPECT_STREQ(small, "");
    EXPECT_EQ(format_ipaddr(AF_INET, v4, small, sizeof small), nullptr);
}
