// The lab's scenario loading (included files and their faults), its agents'
// answers on the wire, and vorel-lab exec.
#include "lab/lab.h"
#include "platform/bytes.h"
#include "platform/lab_link.h"
#include "platform/services_ui.h"
#include "platform/sockio.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

struct temp_dir {
    temp_dir() {
        char t[] = "/tmp/vorel-lab-test-XXXXXX";
        path = mkdtemp(t);
    }
    ~temp_dir() { std::system(("rm -rf " + path).c_str()); }
    std::string write(const std::string &name, const std::string &text) const {
        std::string p = path + "/" + name;
        std::ofstream(p) << text;
        return p;
    }
    std::string path;
};

} // namespace

TEST(LabInclude, IncludedAgentRulesFollowTheMainFilesRules) {
    temp_dir d;
    std::system(("mkdir -p " + d.path + "/more").c_str());
    d.write("more/a.yaml", "agents:\n  - pic: ms-1/0/0\n    rules:\n      - match: {type: 5}\n");
    d.write("more/b.yaml", "agents:\n  - pic: ms-2/0/0\n");
    std::string main =
        d.write("main.yaml", "name: t\ninclude: [more/*.yaml]\nagents:\n  - pic: ms-1/0/0\n");
    vorel::lab::Lab lab;
    std::vector<std::string> errors;
    EXPECT_TRUE(lab.load(main, errors)) << (errors.empty() ? "" : errors[0]);
}

TEST(LabInclude, FaultsNameTheIncludedFileAndLine) {
    temp_dir d;
    d.write("part.yaml", "agents:\n  - pic: ms-1/0/0\n    rules: 7\nchassis: {master: true}\n");
    std::string main = d.write("main.yaml", "include: [part.yaml, missing.yaml]\n");
    vorel::lab::Lab lab;
    std::vector<std::string> errors;
    ASSERT_FALSE(lab.load(main, errors));
    auto has = [&](const std::string &text) {
        for (const auto &e : errors)
            if (e == text)
                return true;
        return false;
    };
    EXPECT_EQ(errors.size(), 3u);
    EXPECT_TRUE(has(main + ":1: include 'missing.yaml' names no file"));
    EXPECT_TRUE(has(
        d.path + "/part.yaml:3:12: rules is a list of {match, reply, large_object, times, fault}"));
    EXPECT_TRUE(
        has(d.path + "/part.yaml:4:10: the chassis section belongs in the scenario's main file"));
}

TEST(LabInclude, EveryIncludedFileKeepsItsAgentRules) {
    temp_dir d;
    std::system(("mkdir -p " + d.path + "/more").c_str());
    d.write("more/a.yaml", "agents:\n  - pic: ms-1/0/0\n    rules:\n      - match: {type: 5}\n"
                           "        reply: [{bytes: \"00 06 00 01 00 02 00 00\"}]\n");
    d.write("more/b.yaml", "agents:\n  - pic: ms-1/0/0\n    rules:\n      - match: {type: 7}\n"
                           "        reply: [{bytes: \"00 08 00 01 00 02 00 00\"}]\n");
    std::string main = d.write("main.yaml", "name: t\ninclude: [more/*.yaml]\n");
    vorel::lab::Lab lab;
    std::vector<std::string> errors;
    ASSERT_TRUE(lab.load(main, errors)) << (errors.empty() ? "" : errors[0]);
    std::string err, socket = d.path + "/control.sock";
    ASSERT_TRUE(lab.start(0, socket, err)) << err;
    setenv("VOREL_LAB_SOCKET", socket.c_str(), 1);
    setenv("VOREL_LAB_NET", std::to_string(lab.net()).c_str(), 1);
    services_ui_conn *c = services_ui_open(1, 0, SERVICES_UI_PIC_PORT, nullptr);
    ASSERT_NE(c, nullptr);
    // Each request is answered by the rule of its own file.
    for (uint16_t type : {5, 7}) {
        uint8_t req[8] = {0, static_cast<uint8_t>(type), 0, 1, 0, 2, 0, 0};
        ASSERT_EQ(services_ui_send(c, req, sizeof req), 0);
        EXPECT_TRUE(services_ui_receive(c, static_cast<uint16_t>(type + 1), 1))
            << "no answer to type " << type;
    }
    services_ui_close(c);
    lab.stop();
    unsetenv("VOREL_LAB_SOCKET");
    unsetenv("VOREL_LAB_NET");
}

TEST(LabInclude, IncludedAgentsAddToTheMainFilesAgents) {
    // Each file's agents must survive the files loaded after it.
    temp_dir d;
    std::system(("mkdir -p " + d.path + "/more").c_str());
    d.write("more/a.yaml", "agents:\n  - pic: ms-1/0/0\n    rules:\n      - match: {type: 6}\n"
                           "        reply: [{bytes: \"00 06 00 01 00 02 00 00\"}]\n");
    d.write("more/b.yaml", "agents:\n  - pic: ms-2/0/0\n    rules:\n      - match: {type: 7}\n"
                           "        reply: [{bytes: \"00 07 00 01 00 02 00 00\"}]\n");
    std::string main =
        d.write("main.yaml", "name: t\ninclude: [more/*.yaml]\nagents:\n  - pic: ms-1/0/0\n"
                             "    rules:\n      - match: {type: 5}\n"
                             "        reply: [{bytes: \"00 05 00 01 00 02 00 00\"}]\n");
    vorel::lab::Lab lab;
    std::vector<std::string> errors;
    ASSERT_TRUE(lab.load(main, errors)) << (errors.empty() ? "" : errors[0]);
    std::string err;
    ASSERT_TRUE(lab.start(0, d.path + "/control.sock", err)) << err;
    ::setenv("VOREL_LAB_NET", std::to_string(lab.net()).c_str(), 1);
    auto answers = [](unsigned fpc, uint16_t type) {
        services_ui_conn *c = services_ui_open(fpc, 0, SERVICES_UI_PIC_PORT, nullptr);
        if (!c)
            return false;
        uint8_t req[8] = {0, static_cast<uint8_t>(type), 0, 1, 0, 2, 0, 0};
        bool got = services_ui_send(c, req, sizeof req) == 0 && services_ui_receive(c, type, 1);
        services_ui_close(c);
        return got;
    };
    EXPECT_TRUE(answers(1, 5));
    EXPECT_TRUE(answers(1, 6));
    EXPECT_TRUE(answers(2, 7));
    lab.stop();
    ::unsetenv("VOREL_LAB_NET");
}

// An include pattern may name anything on the machine: only regular files
// are read, so a device or a pipe cannot hang the lab.
TEST(LabInclude, OnlyRegularFilesAreRead) {
    temp_dir d;
    std::string fifo = d.path + "/pipe.yaml";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string main = d.write("main.yaml", "include: [pipe.yaml, /dev/zero]\n");
    vorel::lab::Lab lab;
    std::vector<std::string> errors;
    ASSERT_FALSE(lab.load(main, errors));
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0], fifo + ": not a regular file");
    EXPECT_EQ(errors[1], "/dev/zero: not a regular file");
}

// A reply message may be empty: the agent sends it as a frame of no bytes
// and goes on with the rest of the answer.
TEST(LabAgents, EmptyReplyMessageIsAnEmptyFrame) {
    temp_dir d;
    std::string main =
        d.write("main.yaml", "agents:\n  - pic: ms-1/0/0\n    rules:\n"
                             "      - match: {type: 5}\n"
                             "        reply: [{bytes: \"\"}, {bytes: []},\n"
                             "                {bytes: \"00 06 00 01 00 02 00 00\"}]\n");
    vorel::lab::Lab lab;
    std::vector<std::string> errors;
    ASSERT_TRUE(lab.load(main, errors)) << (errors.empty() ? "" : errors[0]);
    std::string err;
    ASSERT_TRUE(lab.start(0, d.path + "/control.sock", err)) << err;
    in_addr addr{};
    ASSERT_TRUE(vorel::lab_link::pic_agent_address(1, 0, addr, lab.net()));
    int fd = vorel::tcp_connect(addr, SERVICES_UI_PIC_PORT, 5000);
    ASSERT_GE(fd, 0);
    vorel::set_socket_timeouts(fd, 5000, 5000);
    const uint8_t req[8] = {0, 5, 0, 1, 0, 2, 0, 0};
    ASSERT_TRUE(vorel::write_full(fd, req, sizeof req));
    // Two empty reply frames, the reply, the answer's end.
    uint8_t got[40];
    ASSERT_EQ(vorel::read_full(fd, got, sizeof got), static_cast<ssize_t>(sizeof got));
    EXPECT_EQ(vorel::to_hex(got, sizeof got), "01 00 00 00 00 00 00 00 "
                                              "01 00 00 00 00 00 00 00 "
                                              "01 00 00 00 00 00 00 08 00 06 00 01 00 02 00 00 "
                                              "04 00 00 00 00 00 00 00");
    ::close(fd);
    lab.stop();
}

namespace {

// vorel-lab, built beside the tests.
std::string lab_binary() {
    return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "vorel-lab").string();
}

// Waits for pid until the deadline: its wait status, or -1 when it has not
// ended by then (its process group is killed: a child hung before exec goes
// with it).
int wait_until(pid_t pid, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid)
            return status;
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(-pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

} // namespace

// vorel-lab exec starts its command while the lab's threads run; it must
// neither hang nor hand the command a stale environment, however often.
TEST(LabExec, RepeatedRunsEndAndSeeTheLab) {
    constexpr int kRuns = 200;
    constexpr auto kPerRun = std::chrono::seconds(10);
    constexpr auto kAtMost = std::chrono::seconds(60); // keeps a loaded machine's run short
    temp_dir d;
    std::string scenario = d.write("main.yaml", "agents:\n  - pic: ms-1/0/0\n  - pic: ms-2/0/0\n");
    std::string lab_bin = lab_binary();
    std::vector<std::string> argv{lab_bin,
                                  "exec",
                                  scenario,
                                  "--",
                                  "/bin/sh",
                                  "-c",
                                  "test -S \"$VOREL_LAB_SOCKET\" && test -n \"$VOREL_LAB_NET\""};
    std::vector<char *> args;
    for (auto &a : argv)
        args.push_back(a.data());
    args.push_back(nullptr);
    // A stale socket first: the lab's own must replace it.
    std::string stale = "VOREL_LAB_SOCKET=" + d.path + "/stale.sock";
    std::vector<char *> envp{stale.data()};
    for (char **e = environ; *e; e++)
        envp.push_back(*e);
    envp.push_back(nullptr);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP); // group 0: a group of its own
    auto stop_at = std::chrono::steady_clock::now() + kAtMost;
    int runs = 0;
    for (; runs < kRuns && std::chrono::steady_clock::now() < stop_at; runs++) {
        pid_t pid = -1;
        ASSERT_EQ(posix_spawn(&pid, args[0], nullptr, &attr, args.data(), envp.data()), 0);
        int status = wait_until(pid, std::chrono::steady_clock::now() + kPerRun);
        ASSERT_NE(status, -1) << "run " << runs << " still runs after " << kPerRun.count() << " s";
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << "run " << runs << " ended with status " << status;
    }
    posix_spawnattr_destroy(&attr);
    RecordProperty("runs", runs);
}

// A command that cannot be started is reported, with the shell's status.
TEST(LabExec, MissingCommandExitsWith127) {
    temp_dir d;
    std::string scenario = d.write("main.yaml", "agents:\n  - pic: ms-1/0/0\n");
    std::string lab_bin = lab_binary();
    std::string cmd =
        lab_bin + " exec " + scenario + " -- " + d.path + "/no-such-command 2>" + d.path + "/err";
    int status = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 127);
    std::ifstream f(d.path + "/err");
    std::string err((std::istreambuf_iterator<char>(f)), {});
    EXPECT_EQ(err,
              "vorel-lab: cannot run " + d.path + "/no-such-command: No such file or directory\n");
}
