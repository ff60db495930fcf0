// The formatting pieces of a table line, each done three ways: the
// program's own (platform/format.h, vorel_util's address texts), the
// standard library's (std::to_chars, inet_ntop) and {fmt}'s compiled
// formats (fmt::format_to into a memory buffer).  The figures decide which
// one the renderers use; they are reported on standard error.
#include "platform/format.h"
#include "vorel/vorel_util.h"

#include "bench/stderr_reporter.h"
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <charconv>
#include <fmt/compile.h>
#include <fmt/format.h>
#include <iostream>

namespace {

constexpr uint32_t kAddrs[] = {0x0a000001, 0xc0000201, 0xcb007101, 0xac100a0a};
constexpr uint32_t kV6[][4] = {{0x20010db8, 0, 0, 1},
                               {0x20010db8, 0x00010000, 0, 2},
                               {0xfe800000, 0, 0x02aabbff, 0xfecc0001},
                               {0, 0, 0xffff, 0xc0000201}};

void BM_Ipv4Own(benchmark::State &st) {
    char buf[16];
    unsigned i = 0;
    for (auto _ : st)
        benchmark::DoNotOptimize(ip2str(kAddrs[i++ & 3], buf, sizeof buf));
}
BENCHMARK(BM_Ipv4Own);

void BM_Ipv4InetNtop(benchmark::State &st) {
    char buf[INET_ADDRSTRLEN];
    unsigned i = 0;
    for (auto _ : st) {
        uint32_t net = htonl(kAddrs[i++ & 3]);
        benchmark::DoNotOptimize(inet_ntop(AF_INET, &net, buf, sizeof buf));
    }
}
BENCHMARK(BM_Ipv4InetNtop);

void BM_Ipv6Own(benchmark::State &st) {
    char buf[INET6_ADDRSTRLEN];
    vorel_addr a{};
    a.is_v6 = true;
    unsigned i = 0;
    for (auto _ : st) {
        std::copy(kV6[i & 3], kV6[i & 3] + 4, a.words);
        i++;
        benchmark::DoNotOptimize(ipaddr_tostring(&a, buf, sizeof buf));
    }
}
BENCHMARK(BM_Ipv6Own);

void BM_Ipv6InetNtop(benchmark::State &st) {
    char buf[INET6_ADDRSTRLEN];
    unsigned i = 0;
    for (auto _ : st) {
        uint32_t net[4];
        for (int w = 0; w < 4; w++)
            net[w] = htonl(kV6[i & 3][w]);
        i++;
        benchmark::DoNotOptimize(inet_ntop(AF_INET6, net, buf, sizeof buf));
    }
}
BENCHMARK(BM_Ipv6InetNtop);

// The flow line's columns, "%-5s%16s:%6s ->%15s%6s%7s%6s%11u\n".
const char *const kCols[] = {"TCP", "10.0.0.1", "1024 ", "192.0.2.1", "80   ", "Forward", "I"};

void BM_LineOwn(benchmark::State &st) {
    vorel::TextBuffer out;
    uint32_t frames = 1000;
    for (auto _ : st) {
        out.clear();
        vorel::append_left(out, kCols[0], std::strlen(kCols[0]), 5);
        vorel::append_right(out, kCols[1], std::strlen(kCols[1]), 16);
        out.append(':');
        vorel::append_right(out, kCols[2], std::strlen(kCols[2]), 6);
        out.append(" ->", 3);
        vorel::append_right(out, kCols[3], std::strlen(kCols[3]), 15);
        vorel::append_right(out, kCols[4], std::strlen(kCols[4]), 6);
        vorel::append_right(out, kCols[5], std::strlen(kCols[5]), 7);
        vorel::append_right(out, kCols[6], std::strlen(kCols[6]), 6);
        vorel::append_unsigned_right(out, frames++, 11);
        out.append('\n');
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_LineOwn);

void BM_LineOwnPrintf(benchmark::State &st) {
    vorel::TextBuffer out;
    uint32_t frames = 1000;
    for (auto _ : st) {
        out.clear();
        vorel::format_append(out, "%-5s%16s:%6s ->%15s%6s%7s%6s%11u\n", kCols[0], kCols[1],
                             kCols[2], kCols[3], kCols[4], kCols[5], kCols[6], frames++);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_LineOwnPrintf);

void BM_LineFmt(benchmark::State &st) {
    fmt::memory_buffer out;
    uint32_t frames = 1000;
    for (auto _ : st) {
        out.clear();
        fmt::format_to(std::back_inserter(out),
                       FMT_COMPILE("{:<5}{:>16}:{:>6} ->{:>15}{:>6}{:>7}{:>6}{:>11}\n"), kCols[0],
                       kCols[1], kCols[2], kCols[3], kCols[4], kCols[5], kCols[6], frames++);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_LineFmt);

void BM_NumberOwn(benchmark::State &st) {
    vorel::TextBuffer out;
    uint32_t v = 1000;
    for (auto _ : st) {
        out.clear();
        vorel::append_unsigned_right(out, v++ * 2654435761u, 11);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_NumberOwn);

void BM_NumberToChars(benchmark::State &st) {
    vorel::TextBuffer out;
    uint32_t v = 1000;
    for (auto _ : st) {
        out.clear();
        char digits[16];
        auto r = std::to_chars(digits, digits + sizeof digits, v++ * 2654435761u);
        vorel::append_right(out, digits, static_cast<size_t>(r.ptr - digits), 11);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_NumberToChars);

void BM_NumberFmt(benchmark::State &st) {
    fmt::memory_buffer out;
    uint32_t v = 1000;
    for (auto _ : st) {
        out.clear();
        fmt::format_to(std::back_inserter(out), FMT_COMPILE("{:>11}"), v++ * 2654435761u);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_NumberFmt);

} // namespace

int main(int argc, char **argv) {
    return run_benchmarks_to_stderr(argc, argv);
}
