// The output's floor: writes a given volume of already rendered output to
// standard output, so that the cost of the sink itself (a pipe, /dev/null)
// can be told apart from the cost of rendering.
//
//   bench_sink --sample FILE --bytes B [--per-line]
//
// The sample (the program's own output for a small table) is repeated until
// B bytes are written.  By default it goes out in writes of 64 KiB, as the
// program's fully buffered standard output does, into a pipe widened as
// the program widens it; --per-line makes one write per line, what
// line-buffered output would cost.
#include "platform/format.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t kChunk = 1 << 16;

bool write_all(const char *p, size_t n) {
    while (n > 0) {
        ssize_t w = write(STDOUT_FILENO, p, n);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

// Writes `total` bytes cut from the sample, repeated, in pieces that
// `piece` chooses: (sample, offset) -> length of the next write.
template <typename Piece>
bool write_volume(const std::string &sample, unsigned long long total, Piece piece) {
    size_t at = 0;
    while (total > 0) {
        size_t n = std::min<unsigned long long>(piece(sample, at), total);
        if (!write_all(sample.data() + at, n))
            return false;
        total -= n;
        at = (at + n) % sample.size();
    }
    return true;
}

size_t chunk_piece(const std::string &sample, size_t at) {
    return std::min(kChunk, sample.size() - at);
}

size_t line_piece(const std::string &sample, size_t at) {
    const void *nl = std::memchr(sample.data() + at, '\n', sample.size() - at);
    return nl ? static_cast<size_t>(static_cast<const char *>(nl) - sample.data()) - at + 1
              : sample.size() - at;
}

int usage() {
    std::fprintf(stderr, "usage: bench_sink --sample FILE --bytes B [--per-line]\n");
    return 2;
}

} // namespace

int main(int argc, char **argv) {
    const char *sample_path = nullptr;
    unsigned long long bytes = 0;
    bool per_line = false;
    for (int i = 1; i < argc; i++) {
        if (std::strcmp(argv[i], "--per-line") == 0)
            per_line = true;
        else if (std::strcmp(argv[i], "--sample") == 0 && i + 1 < argc)
            sample_path = argv[++i];
        else if (std::strcmp(argv[i], "--bytes") == 0 && i + 1 < argc)
            bytes = std::strtoull(argv[++i], nullptr, 10);
        else
            return usage();
    }
    if (!sample_path)
        return usage();
    std::ifstream in(sample_path, std::ios::binary | std::ios::ate);
    std::string sample(static_cast<size_t>(std::max<std::streamoff>(in.tellg(), 0)), '\0');
    in.seekg(0);
    in.read(sample.data(), static_cast<std::streamsize>(sample.size()));
    if (sample.empty()) {
        std::fprintf(stderr, "bench_sink: %s: empty or unreadable\n", sample_path);
        return 1;
    }
    vorel::widen_stdout_pipe();
    bool ok = per_line ? write_volume(sample, bytes, line_piece)
                       : write_volume(sample, bytes, chunk_piece);
    if (!ok) {
        std::fprintf(stderr, "bench_sink: write: %s\n", std::strerror(errno));
        return 1;
    }
    return 0;
}
