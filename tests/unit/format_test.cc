// The renderers' formatter and the hand-written address texts must print
// exactly what the C library prints: every expectation here is the C
// library's own output for the same format and arguments.
#include "platform/format.h"
#include "vorel/vorel_util.h"

#include <arpa/inet.h>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <gtest/gtest.h>
#include <random>
#include <string>

namespace {

// Both take their arguments through "...", so that the compiler does not
// check formats that are meant to be odd.
std::string c_library(const char *fmt, ...) {
    va_list ap, again;
    va_start(ap, fmt);
    va_copy(again, ap);
    int n = std::vsnprintf(nullptr, 0, fmt, ap);
    std::string text(n > 0 ? static_cast<size_t>(n) : 0, '\0');
    if (n > 0)
        std::vsnprintf(text.data(), text.size() + 1, fmt, again);
    va_end(again);
    va_end(ap);
    return text;
}

std::string ours(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    vorel::TextBuffer text;
    vorel::format_appendv(text, fmt, ap);
    va_end(ap);
    return text.str();
}

#define EXPECT_NATIVE_SAME(fmt, ...)                                                               \
    do {                                                                                           \
        EXPECT_TRUE(vorel::format_is_native(fmt)) << fmt;                                          \
        EXPECT_EQ(ours(fmt, __VA_ARGS__), c_library(fmt, __VA_ARGS__)) << fmt;                     \
    } while (0)

#define EXPECT_FALLBACK_SAME(fmt, ...)                                                             \
    do {                                                                                           \
        EXPECT_FALSE(vorel::format_is_native(fmt)) << fmt;                                         \
        EXPECT_EQ(ours(fmt, __VA_ARGS__), c_library(fmt, __VA_ARGS__)) << fmt;                     \
    } while (0)

TEST(Format, TextsWithWidthsPrecisionsAndNull) {
    const char *null_text = nullptr;
    EXPECT_NATIVE_SAME("%s|%5s|%-5s|", "ab", "ab", "ab");
    EXPECT_NATIVE_SAME("%.3s|%8.3s|%-8.3s|%.0s|", "abcdef", "abcdef", "abcdef", "abcdef");
    EXPECT_NATIVE_SAME("%*s|%-*s|%*s|", 6, "x", 6, "y", -6, "z");
    EXPECT_NATIVE_SAME("%.*s|%.*s|", 2, "abcdef", -1, "abcdef");
    EXPECT_NATIVE_SAME("%s|%10s|%.6s|", null_text, null_text, null_text);
    EXPECT_NATIVE_SAME("[%.3s][%.5s]", null_text, null_text);
    EXPECT_NATIVE_SAME("%c%3c%-3c|", 'a', 'b', 'c');
    EXPECT_NATIVE_SAME("%3s", "longer than the width");
}

TEST(Format, IntegersOfEveryLength) {
    EXPECT_NATIVE_SAME("%d %i %d %d", 0, -1, INT_MIN, INT_MAX);
    EXPECT_NATIVE_SAME("%5d|%-5d|%05d|%-05d|%05d", 42, 42, -42, -42, 7);
    EXPECT_NATIVE_SAME("%u %u %11u %-11u|", 0u, UINT_MAX, 123u, 123u);
    EXPECT_NATIVE_SAME("%x %X %08x %4X", 0xdeadbeefu, 0xabcu, 0x1fu, 0u);
    EXPECT_NATIVE_SAME("%hhu %hhd %hu %hd", 300, 200, 70000, 40000);
    EXPECT_NATIVE_SAME("%ld %lu %lx", LONG_MIN, ULONG_MAX, 0x123456789abcUL);
    EXPECT_NATIVE_SAME("%lld %llu %020llu", LLONG_MIN, ULLONG_MAX, 5ULL);
    EXPECT_NATIVE_SAME("%zu %zd %jd %ju %td", size_t{99}, ssize_t{-99}, intmax_t{-7}, uintmax_t{7},
                       ptrdiff_t{-3});
    EXPECT_NATIVE_SAME("%*d|%-*u|%0*d", 6, -5, 4, 3u, 5, -12);
}

TEST(Format, LiteralsAndPercents) {
    EXPECT_NATIVE_SAME("100%% of %d%%", 5);
    EXPECT_NATIVE_SAME("%%d%%%s", "x");
    EXPECT_EQ(vorel::format_string("plain text, no conversion"), "plain text, no conversion");
    EXPECT_EQ(vorel::format_string("%s", ""), "");
}

TEST(Format, TheFlowTableLines) {
    EXPECT_NATIVE_SAME("%-5s%16s:%6s ->%15s%6s%7s%6s%11u\n", "TCP", "10.0.0.1", "1024 ",
                       "192.0.2.1", "80   ", "Forward", "I", 4294967295u);
    EXPECT_NATIVE_SAME("     NAT source %16s:%6s ->%16s:%6s\n", "2001:db8:ffff:ffff::1", "",
                       "203.0.113.1", "61000");
    EXPECT_NATIVE_SAME("%-16.60s%.64s (%u)\n", "ms-1/0/0", "sset-a", 7u);
}

// Formats are cached by address: a format built in writable memory may
// come to hold another text at the same address, and must be read again.
TEST(Format, AFormatRewrittenInPlaceIsReadAgain) {
    char fmt[32];
    std::snprintf(fmt, sizeof fmt, "%s", "<%5u>");
    EXPECT_EQ(vorel::format_string(fmt, 42u), "<   42>");
    std::snprintf(fmt, sizeof fmt, "%s", "[%-4s|%x]");
    EXPECT_EQ(vorel::format_string(fmt, "ab", 255u), "[ab  |ff]");
    std::snprintf(fmt, sizeof fmt, "%s", "%f");
    EXPECT_EQ(vorel::format_string(fmt, 0.5), "0.500000");
    // A literal stays cached, and stays right.
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(vorel::format_string("%03d", i), "00" + std::to_string(i));
}

// The column writers print what the conversions they stand for print.
TEST(Format, ColumnsAsPrintfPrintsThem) {
    const char *texts[] = {"",
                           "I",
                           "TCP",
                           "Forward",
                           "10.0.0.1",
                           "2001:db8:ffff:ffff::1",
                           "a text longer than every width here"};
    unsigned long long numbers[] = {0, 7, 42, 99999, 4294967295ull, 18446744073709551615ull};
    for (size_t width : {0, 1, 5, 6, 11, 16, 17, 40}) {
        int w = static_cast<int>(width);
        for (const char *t : texts) {
            vorel::TextBuffer right, left;
            vorel::append_right(right, t, std::strlen(t), width);
            vorel::append_left(left, t, std::strlen(t), width);
            EXPECT_EQ(right.str(), c_library("%*s", w, t)) << w << " " << t;
            EXPECT_EQ(left.str(), c_library("%-*s", w, t)) << w << " " << t;
        }
        for (unsigned long long n : numbers) {
            vorel::TextBuffer out;
            vorel::append_unsigned_right(out, n, width);
            EXPECT_EQ(out.str(), c_library("%*llu", w, n)) << w << " " << n;
        }
    }
}

TEST(Format, WhatItDoesNotDoGoesToTheCLibrary) {
    EXPECT_FALLBACK_SAME("%f|%.2f", 1.5, 2.25);
    EXPECT_FALLBACK_SAME("%+d % d", 5, 5);
    EXPECT_FALLBACK_SAME("%#x %#o", 255u, 8u);
    EXPECT_FALLBACK_SAME("%.3d|%8.3u", 5, 7u);
    EXPECT_FALLBACK_SAME("%05s|%s", "a", "b");
    EXPECT_FALLBACK_SAME("%ls", L"wide");
    EXPECT_FALLBACK_SAME("%5%|%d", 3);
    EXPECT_FALLBACK_SAME("%10000d", 1);
    // Many conversions, then one that is not done here: all of it goes to
    // the C library.
    EXPECT_FALLBACK_SAME("%d%d%d%d%d%d%d%d%d%d%d%d%d%d%d%d%d%d%d%d%d%d%d%d%d%d%d%d%d%d%d%d%+d", 1,
                         2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22,
                         23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33);
    // A long result of the C library's formatting.
    EXPECT_FALLBACK_SAME("%600.1f|", 3.0);
}

TEST(Format, RandomWidthsAndValuesMatchTheCLibrary) {
    std::mt19937 rng(9);
    const char *texts[] = {"", "a", "Forward", "2001:db8::1", "a text longer than most widths"};
    for (int i = 0; i < 3000; i++) {
        int width = static_cast<int>(rng() % 40);
        int precision = static_cast<int>(rng() % 12);
        const char *text = texts[rng() % 5];
        unsigned u = rng();
        int d = static_cast<int>(rng());
        unsigned long long ull = (static_cast<unsigned long long>(rng()) << 32) | rng();
        EXPECT_EQ(ours("%*s|%-*s|%.*s|%*.*s", width, text, width, text, precision, text, width,
                       precision, text),
                  c_library("%*s|%-*s|%.*s|%*.*s", width, text, width, text, precision, text, width,
                            precision, text));
        EXPECT_EQ(ours("%*u|%-*d|%0*d|%*llx|%0*llX", width, u, width, d, width, d, width, ull,
                       width, ull),
                  c_library("%*u|%-*d|%0*d|%*llx|%0*llX", width, u, width, d, width, d, width, ull,
                            width, ull));
    }
}

TEST(Format, LongResultsGrowTheBuffer) {
    std::string big(5000, 'x');
    EXPECT_EQ(ours("<%s>%4000d", big.c_str(), 1), c_library("<%s>%4000d", big.c_str(), 1));
    vorel::TextBuffer b;
    for (int i = 0; i < 1000; i++)
        vorel::format_append(b, "%d,", i);
    std::string expected;
    for (int i = 0; i < 1000; i++)
        expected += std::to_string(i) + ",";
    EXPECT_EQ(b.str(), expected);
}

TEST(Format, TextBufferPiecesOfEverySize) {
    // Pieces up to 32 bytes are copied and blanks filled in words: every
    // length around those sizes must land exactly.
    vorel::TextBuffer b;
    std::string expected;
    const std::string source = "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJ";
    for (size_t n = 0; n <= 40; n++) {
        b.append(source.data(), n);
        expected.append(source, 0, n);
        b.fill('.', n);
        expected.append(n, '.');
        b.append('|');
        expected += '|';
        ASSERT_EQ(b.str(), expected) << n;
    }
    char *d = b.extend(3);
    vorel::TextBuffer::put(d, "xyz", 3);
    EXPECT_EQ(b.str(), expected + "xyz");
    b.truncate(2);
    EXPECT_EQ(b.str(), "|a");
}

TEST(Format, SnprintfCutsAndTerminatesAsTheCLibraryDoes) {
    char buf[8] = "zzzzzzz";
    EXPECT_EQ(vorel_snprintf(buf, 4, "%s", "abcdef"), 6);
    EXPECT_STREQ(buf, "abc");
    EXPECT_EQ(vorel_snprintf(buf, 0, "%d", 12345), 5);
    EXPECT_STREQ(buf, "abc"); // untouched
    EXPECT_EQ(vorel_snprintf(buf, sizeof buf, "%-5u", 80u), 5);
    EXPECT_STREQ(buf, "80   ");
}

// ---------------------------------------------------------------------------
// Address texts, written by hand, against inet_ntop.

std::string ntop6(const vorel_addr &a) {
    uint32_t net[4];
    for (int i = 0; i < 4; i++)
        net[i] = htonl(a.words[i]);
    char text[INET6_ADDRSTRLEN];
    return inet_ntop(AF_INET6, net, text, sizeof text) ? text : "";
}

vorel_addr v6(const char *text) {
    vorel_addr a{};
    uint32_t net[4];
    EXPECT_EQ(inet_pton(AF_INET6, text, net), 1) << text;
    for (int i = 0; i < 4; i++)
        a.words[i] = ntohl(net[i]);
    a.is_v6 = 1;
    return a;
}

std::string ours6(const vorel_addr &a, size_t size = 80) {
    char buf[80];
    ipaddr_tostring(&a, buf, size);
    return buf;
}

TEST(HandWrittenAddressText, Ipv6AsInetNtopWritesIt) {
    for (const char *t : {"::", "::1", "::2", "1::", "1::1", "::ffff:1.2.3.4", "::1.2.3.4",
                          "::0.0.0.2", "::ffff:0:1.2.3.4", "0:0:0:0:0:1:0:0",
                          "2001:db8::", "2001:db8:0:0:1:0:0:1", "2001:0:0:1::1", "fe80::1:2",
                          "1:0:1:0:1:0:1:0", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff",
                          "0:1:0:0:0:0:0:0", "64:ff9b::c000:221", "::ffff:ffff:0:0"}) {
        vorel_addr a = v6(t);
        EXPECT_EQ(ours6(a), ntop6(a)) << t;
    }
}

TEST(HandWrittenAddressText, RandomIpv6WithZeroRunsAsInetNtopWritesIt) {
    std::mt19937 rng(6);
    for (int i = 0; i < 20000; i++) {
        vorel_addr a{};
        a.is_v6 = 1;
        for (int w = 0; w < 4; w++) {
            // Mostly zero groups, so that runs of every length and place occur.
            uint32_t hi = rng() % 3 ? 0 : rng() & 0xffff;
            uint32_t lo = rng() % 3 ? 0 : rng() & 0xffff;
            a.words[w] = hi << 16 | lo;
        }
        ASSERT_EQ(ours6(a), ntop6(a));
    }
}

TEST(HandWrittenAddressText, CutToTheBufferLikeSnprintf) {
    vorel_addr a = v6("2001:db8::1");
    EXPECT_EQ(ours6(a, 5), "2001");
    char buf[8];
    EXPECT_STREQ(ip2str(0xc0000201, buf, sizeof buf), "192.0.2");
    EXPECT_STREQ(ip2str(0xc0000201, buf, 1), "");
}

TEST(HandWrittenAddressText, Ipv4AsPrintfWritesIt) {
    std::mt19937 rng(4);
    for (uint32_t addr : {0u, 0xffffffffu, 0x0a000001u, 0x01020304u, 0x64646464u}) {
        char buf[16];
        EXPECT_EQ(std::string(ip2str(addr, buf, sizeof buf)),
                  c_library("%u.%u.%u.%u", addr >> 24, (addr >> 16) & 0xff, (addr >> 8) & 0xff,
                            addr & 0xff));
    }
    for (int i = 0; i < 20000; i++) {
        uint32_t addr = rng();
        char buf[16];
        ASSERT_EQ(std::string(ip2str(addr, buf, sizeof buf)),
                  c_library("%u.%u.%u.%u", addr >> 24, (addr >> 16) & 0xff, (addr >> 8) & 0xff,
                            addr & 0xff));
    }
}

} // namespace
