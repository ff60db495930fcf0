// The renderers' formatter and the hand-written address texts must print
// exactly what the C library prints: every expectation here is the C
// library's own output for the same format and arguments.
#include "platform/format.h"
#include "vorel/vorel_flow_entry.h"
#include "vorel/vorel_util.h"

#include <arpa/inet.h>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

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

TEST(Format, NativeConversionsAsTheCLibraryPrintsThem) {
    const char *null_text = nullptr;
    EXPECT_NATIVE_SAME("%s|%5s|%-5s|%.3s|%8.3s|%-8.3s|%.0s|%3s", "ab", "ab", "ab", "abcdef",
                       "abcdef", "abcdef", "abcdef", "longer than the width");
    EXPECT_NATIVE_SAME("%*s|%-*s|%*s|%.*s|%.*s|", 6, "x", 6, "y", -6, "z", 2, "abcdef", -1, "abc");
    EXPECT_NATIVE_SAME("%s|%10s|%.6s|[%.3s][%.5s]", null_text, null_text, null_text, null_text,
                       null_text);
    EXPECT_NATIVE_SAME("%c%3c%-3c|100%% of %d%%|%%d%%%s", 'a', 'b', 'c', 5, "x");
    EXPECT_NATIVE_SAME("%d %i %d %d %5d|%-5d|%05d|%-05d", 0, -1, INT_MIN, INT_MAX, 42, 42, -42,
                       -42);
    EXPECT_NATIVE_SAME("%u %u %11u %-11u|%x %X %08x %4X", 0u, UINT_MAX, 123u, 123u, 0xdeadbeefu,
                       0xabcu, 0x1fu, 0u);
    EXPECT_NATIVE_SAME("%hhu %hhd %hu %hd %ld %lu %lx", 300, 200, 70000, 40000, LONG_MIN, ULONG_MAX,
                       0x123456789abcUL);
    EXPECT_NATIVE_SAME("%lld %llu %020llu %zu %zd %jd %ju %td", LLONG_MIN, ULLONG_MAX, 5ULL,
                       size_t{99}, ssize_t{-99}, intmax_t{-7}, uintmax_t{7}, ptrdiff_t{-3});
    EXPECT_NATIVE_SAME("%*d|%-*u|%0*d", 6, -5, 4, 3u, 5, -12);
    EXPECT_EQ(vorel::format_string("plain text, no conversion"), "plain text, no conversion");
    // What it does not do goes to the C library, long results too.
    EXPECT_FALSE(vorel::format_is_native("%10000d|%600.1f|"));
    EXPECT_EQ(ours("%10000d|%600.1f|", 1, 3.0), c_library("%10000d|%600.1f|", 1, 3.0));
    std::string big(5000, 'x');
    EXPECT_EQ(ours("<%s>%4000d", big.c_str(), 1), c_library("<%s>%4000d", big.c_str(), 1));
    vorel::TextBuffer column;
    vorel::append_right(column, "x", 1, 40);
    EXPECT_EQ(column.str(), c_library("%40s", "x"));
    vorel::TextBuffer number;
    for (unsigned long long v : {0ULL, 9ULL, 10ULL, 18446744073709551615ULL})
        vorel::format_unsigned(number, v);
    EXPECT_EQ(number.str(), c_library("%llu%llu%llu%llu", 0ULL, 9ULL, 10ULL, ULLONG_MAX));
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

// Address texts, written by hand, against inet_ntop.

std::string ntop6(const vorel_addr &a) {
    uint32_t net[4];
    for (int i = 0; i < 4; i++)
        net[i] = htonl(a.words[i]);
    char text[INET6_ADDRSTRLEN];
    return inet_ntop(AF_INET6, net, text, sizeof text) ? text : "";
}

std::string ours6(const vorel_addr &a, size_t size = 80) {
    char buf[80];
    ipaddr_tostring(&a, buf, size);
    return buf;
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
        if (i % 16 == 0) { // IPv4-mapped, which random groups almost never are
            a.words[0] = a.words[1] = 0;
            a.words[2] = 0xffff;
        }
        ASSERT_EQ(ours6(a), ntop6(a));
    }
}

// Every octet value at every place of a dotted quad.
TEST(HandWrittenAddressText, EveryOctetAtEveryPlaceAsInetNtopWritesIt) {
    for (unsigned place = 0; place < 4; place++)
        for (uint32_t octet = 0; octet < 256; octet++) {
            vorel_addr a{};
            a.words[0] = 0x01020304 ^ (octet << (8 * place));
            uint32_t net = htonl(a.words[0]);
            char expected[INET_ADDRSTRLEN], buf[VOREL_ADDR_TEXT];
            ASSERT_NE(inet_ntop(AF_INET, &net, expected, sizeof expected), nullptr);
            ASSERT_EQ(vorel_addr_text(a, false, buf), expected);
        }
}

// The smallest, a middle and the largest number of every digit count, at
// widths below, at and above it, as "%*llu" prints them.
TEST(HandWrittenColumns, RightAlignedNumbersAsPrintfPadsThem) {
    std::vector<unsigned long long> numbers{0, ULLONG_MAX};
    for (unsigned long long p = 1; p <= 1000000000000000000ull; p *= 10)
        numbers.insert(numbers.end(), {p, 5 * p + 1, 10 * p - 1});
    for (unsigned long long n : numbers)
        for (int width = 0; width <= 22; width++) {
            char expected[32], got[64];
            int len = std::snprintf(expected, sizeof expected, "%*llu", width, n);
            char *end = vorel::put_unsigned_right(got, n, static_cast<size_t>(width));
            ASSERT_EQ(std::string(got, end), std::string(expected, static_cast<size_t>(len)));
        }
}

// Every port, as "%-5u" prints it.
TEST(HandWrittenPortColumn, EveryPortAsPrintfPadsIt) {
    for (unsigned port = 0; port <= 0xffff; port++) {
        char buf[8], expected[8];
        std::snprintf(expected, sizeof expected, "%-5u", port);
        std::string_view got = vorel_port_column(static_cast<uint16_t>(port), buf);
        ASSERT_EQ(got, expected);
        ASSERT_EQ(buf[5], '\0');
    }
}

} // namespace

TEST(WidenStdoutPipe, GrowsAPipeOfTheDefaultSizeToOneMebibyte) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    int saved = dup(STDOUT_FILENO);
    dup2(fds[1], STDOUT_FILENO);
    vorel::widen_stdout_pipe();
    EXPECT_EQ(fcntl(STDOUT_FILENO, F_GETPIPE_SZ), 1 << 20);
    dup2(saved, STDOUT_FILENO);
    for (int fd : {saved, fds[0], fds[1]})
        close(fd);
}

// Lines stored into the stream's buffer and lines written by stdio come out
// in the order written, whether the buffer has room (stored in place), is
// nearly full (through fwrite), or the stream is line buffered (no room).
TEST(StreamText, KeepsOrderWithTheStreamsOtherWriters) {
    for (int mode : {_IOFBF, _IOLBF}) {
        std::FILE *f = std::tmpfile();
        ASSERT_NE(f, nullptr);
        char buffer[80];
        std::setvbuf(f, buffer, mode, sizeof buffer);
        vorel::StreamText text(f);
        std::string expected;
        for (int i = 0; i < 40; i++) {
            std::string line = "line " + std::to_string(i) + "\n";
            text.append_by(line.size(), [&](char *d) noexcept { return vorel::put_text(d, line); });
            std::fputs("io\n", f);
            expected += line + "io\n";
        }
        std::fflush(f);
        std::rewind(f);
        std::string got(expected.size() + 1, '\0');
        got.resize(std::fread(got.data(), 1, got.size(), f));
        EXPECT_EQ(got, expected) << (mode == _IOFBF ? "fully buffered" : "line buffered");
        std::fclose(f);
    }
}
