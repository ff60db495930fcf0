// Runs a command several times and measures each run: wall time, the
// command's own user and system time and its peak resident memory (from
// wait4, so nothing of this tool or of other processes is counted), and the
// bytes and lines it wrote.
//
//   bench_measure [--sink null|pipe] [--runs K] [--timeout S] [--label L] -- COMMAND [ARG...]
//
// --sink null sends the command's standard output to /dev/null; --sink pipe
// sends it into a pipe that this tool reads and discards, as a reader of
// the output would (the bytes and lines are counted there).  A run that
// outlives --timeout seconds (default 120) is killed and the tool fails.
//
// Output: one line per run, then a summary line of key=value pairs that
// the scripts read: the median run by wall time, the largest peak memory.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct Options {
    bool pipe = false;
    int runs = 3;
    double timeout = 120;
    std::string label = "run";
    char **command = nullptr;
};

struct Run {
    double wall = 0, user = 0, sys = 0;
    long maxrss_kib = 0;
    unsigned long long bytes = 0, lines = 0;
    int status = 0;
};

double seconds(const timeval &t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

[[noreturn]] void fail(const char *what) {
    std::fprintf(stderr, "bench_measure: %s: %s\n", what, std::strerror(errno));
    std::exit(1);
}

pid_t start_child(char **command, int out_fd) {
    pid_t pid = fork();
    if (pid < 0)
        fail("fork");
    if (pid == 0) {
        int in = open("/dev/null", O_RDONLY);
        if (in >= 0)
            dup2(in, STDIN_FILENO);
        dup2(out_fd, STDOUT_FILENO);
        execvp(command[0], command);
        std::fprintf(stderr, "bench_measure: %s: %s\n", command[0], std::strerror(errno));
        _exit(127);
    }
    return pid;
}

// Reads what the child wrote into the pipe and counts it; false at its end.
bool drain(int fd, Run &r, std::vector<char> &buf) {
    ssize_t n = read(fd, buf.data(), buf.size());
    if (n < 0)
        return errno == EINTR || errno == EAGAIN;
    if (n == 0)
        return false;
    r.bytes += static_cast<unsigned long long>(n);
    r.lines += static_cast<unsigned long long>(std::count(buf.data(), buf.data() + n, '\n'));
    return true;
}

Run measure_once(const Options &o) {
    Run r;
    int fds[2] = {-1, -1};
    int out_fd;
    if (o.pipe) {
        if (pipe2(fds, O_CLOEXEC) != 0)
            fail("pipe");
        out_fd = fds[1];
    } else {
        out_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (out_fd < 0)
            fail("/dev/null");
    }
    auto start = std::chrono::steady_clock::now();
    auto deadline = start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                std::chrono::duration<double>(o.timeout));
    pid_t pid = start_child(o.command, out_fd);
    close(out_fd);
    // The process descriptor becomes readable when the command exits.
    int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (pidfd < 0)
        fail("pidfd_open");

    std::vector<char> buf(1 << 16);
    bool reading = o.pipe;
    bool exited = false;
    while (!exited || reading) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            kill(pid, SIGKILL);
            std::fprintf(stderr, "bench_measure: %s: killed after %.0f s\n", o.command[0],
                         o.timeout);
            std::exit(1);
        }
        pollfd p[2] = {{pidfd, POLLIN, 0}, {reading ? fds[0] : -1, POLLIN, 0}};
        if (poll(p, 2, static_cast<int>(left.count())) < 0 && errno != EINTR)
            fail("poll");
        if (reading && (p[1].revents & (POLLIN | POLLHUP)))
            reading = drain(fds[0], r, buf);
        if (!exited && (p[0].revents & POLLIN)) {
            rusage ru{};
            if (wait4(pid, &r.status, 0, &ru) < 0)
                fail("wait4");
            exited = true;
            r.user = seconds(ru.ru_utime);
            r.sys = seconds(ru.ru_stime);
            r.maxrss_kib = ru.ru_maxrss;
            // The wall time is the command's; what is left in the pipe is
            // read below without being counted in it.
            r.wall =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        }
    }
    close(pidfd);
    if (o.pipe)
        close(fds[0]);
    return r;
}

void usage() {
    std::fprintf(stderr, "usage: bench_measure [--sink null|pipe] [--runs K] [--timeout S] "
                         "[--label L] -- COMMAND [ARG...]\n");
    std::exit(2);
}

Options parse(int argc, char **argv) {
    Options o;
    int i = 1;
    for (; i < argc && std::strcmp(argv[i], "--") != 0; i++) {
        std::string a = argv[i];
        if (i + 1 >= argc)
            usage();
        const char *v = argv[++i];
        if (a == "--sink" && (std::strcmp(v, "null") == 0 || std::strcmp(v, "pipe") == 0))
            o.pipe = std::strcmp(v, "pipe") == 0;
        else if (a == "--runs" && std::atoi(v) > 0 && std::atoi(v) <= 100)
            o.runs = std::atoi(v);
        else if (a == "--timeout" && std::atof(v) > 0)
            o.timeout = std::atof(v);
        else if (a == "--label")
            o.label = v;
        else
            usage();
    }
    if (i + 1 >= argc)
        usage();
    o.command = argv + i + 1;
    return o;
}

} // namespace

int main(int argc, char **argv) {
    Options o = parse(argc, argv);
    std::signal(SIGPIPE, SIG_IGN);
    std::vector<Run> runs;
    for (int k = 0; k < o.runs; k++) {
        Run r = measure_once(o);
        std::fprintf(stderr,
                     "%s: run %d: wall %.3f s, user %.3f s, sys %.3f s, peak %ld KiB, "
                     "%llu bytes, %llu lines, status %d\n",
                     o.label.c_str(), k + 1, r.wall, r.user, r.sys, r.maxrss_kib, r.bytes, r.lines,
                     WIFEXITED(r.status) ? WEXITSTATUS(r.status) : 128 + WTERMSIG(r.status));
        if (!WIFEXITED(r.status) || WEXITSTATUS(r.status) != 0) {
            std::fprintf(stderr, "bench_measure: %s failed\n", o.command[0]);
            return 1;
        }
        runs.push_back(r);
    }
    long peak = 0;
    for (const Run &r : runs)
        peak = std::max(peak, r.maxrss_kib);
    std::sort(runs.begin(), runs.end(), [](const Run &a, const Run &b) { return a.wall < b.wall; });
    const Run &med = runs[runs.size() / 2];
    std::printf("label=%s wall=%.4f wall_min=%.4f user=%.4f sys=%.4f peak_kib=%ld bytes=%llu "
                "lines=%llu\n",
                o.label.c_str(), med.wall, runs.front().wall, med.user, med.sys, peak, med.bytes,
                med.lines);
    return 0;
}
