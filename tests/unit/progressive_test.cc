// Output is progressive: standard output is fully buffered, but what a PIC
// answered is handed to the reader before the program waits on the next
// PIC.  The real vorel runs against a lab whose second PIC stalls; the
// first PIC's table must be readable while the second is still silent.
#include "lab_fixture.h"
#include "tests/support/argv.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <filesystem>

#include <gtest/gtest.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using vorel::test::LabRun;

// The second PIC answers only after this long; the first PIC's output must
// arrive well before.
constexpr int kStallSeconds = 3;
constexpr int kPatienceMs = 2000;

const char *kScenario = R"(name: progressive output
chassis: {master: true}
interfaces:
  - {index: 130, name: ms-1/0/0, type: 102, fpc: 1, pic: 0}
  - {index: 140, name: ms-2/0/0, type: 102, fpc: 2, pic: 0}
service_sets:
  - {name: sset-fast, id: 1, pic: ms-1/0/0, rules: {count_a: 1}}
  - {name: sset-slow, id: 2, pic: ms-2/0/0, rules: {count_a: 1}}
agents:
  - pic: ms-1/0/0
    rules:
      - match: {type: 18}
        reply:
          - layout: fwnat_flow_dump_reply
            repeat: 3
            vary: {src: {start: 10.0.0.1}}
            fields: {dst: 192.0.2.1, src_port: 1024, dst_port: 80, state: 2, direction: 1,
                     proto: 6, frames: 5}
  - pic: ms-2/0/0
    rules:
      - match: {type: 18}
        fault: {kind: delay, seconds: 3}
        reply:
          - layout: fwnat_flow_dump_reply
            fields: {src: 10.9.9.9, dst: 192.0.2.9, src_port: 1, dst_port: 2, state: 2,
                     direction: 1, proto: 17, frames: 1}
)";

std::string vorel_path() {
    char self[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return "vorel";
    self[n] = '\0';
    return (std::filesystem::path(self).parent_path() / "vorel").string();
}

// Starts vorel with its standard output into a pipe; the read end.
pid_t start_vorel(int &out, const std::vector<std::string> &args) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return -1;
    std::string path = vorel_path();
    std::vector<std::string> words{path};
    words.insert(words.end(), args.begin(), args.end());
    vorel::testing::Argv argv(std::move(words)); // built before the fork
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], STDOUT_FILENO);
        ::execv(path.c_str(), argv.argv());
        ::_exit(127);
    }
    ::close(fds[1]);
    out = fds[0];
    return pid;
}

// Reads until `want` has arrived or the patience runs out.
std::string read_until(int fd, const std::string &want, int patience_ms) {
    std::string got;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(patience_ms);
    while (got.find(want) == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0)
            break;
        char buf[4096];
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        got.append(buf, static_cast<size_t>(n));
    }
    return got;
}

std::string read_all(int fd) {
    std::string got;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0)
            got.append(buf, static_cast<size_t>(n));
    return got;
}

void expect_first_pic_before_the_stall(const std::vector<std::string> &args,
                                       const std::string &first_pic_end,
                                       const std::string &second_pic) {
    LabRun run(kScenario);
    ASSERT_TRUE(run.started);
    int out = -1;
    pid_t pid = start_vorel(out, args);
    ASSERT_GT(pid, 0);
    auto start = std::chrono::steady_clock::now();
    std::string early = read_until(out, first_pic_end, kPatienceMs);
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_NE(early.find(first_pic_end), std::string::npos) << early;
    EXPECT_EQ(early.find(second_pic), std::string::npos) << early;
    EXPECT_LT(waited, std::chrono::seconds(kStallSeconds));
    std::string rest = read_all(out);
    ::close(out);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    // Everything arrives in the end, in order.
    EXPECT_NE((early + rest).find(second_pic), std::string::npos);
}

TEST(ProgressiveOutput, TextOfTheFirstPicComesWhileTheSecondStalls) {
    expect_first_pic_before_the_stall(
        {"-C", "sfw", "-S", "flows"},
        "TCP          10.0.0.3: 1024  ->      192.0.2.1 80   Forward     I          5\n",
        "PIC: ms-2/0/0");
}

TEST(ProgressiveOutput, XmlOfTheFirstPicComesWhileTheSecondStalls) {
    expect_first_pic_before_the_stall({"-X", "-C", "sfw", "-S", "flows"},
                                      "  </sfw-per-service-set-flow-table>\n",
                                      "<interface-name>ms-2/0/0</interface-name>");
}

} // namespace
