// The lab's scenario loading (included files and their faults), its agents'
// answers on the wire, and vorel-lab exec.
#include "lab/lab.h"
#include "lab_fixture.h"
#include "platform/bytes.h"
#include "platform/lab_link.h"
#include "platform/services_ui.h"
#include "platform/sockio.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using vorel::test::TempDir;

namespace {

std::string rule(const char *pic, int type) {
    char b[160];
    std::snprintf(b, sizeof b,
                  "  - pic: %s\n    rules:\n      - match: {type: %d}\n"
                  "        reply: [{bytes: \"00 %02x 00 01 00 02 00 00\"}]\n",
                  pic, type, type + 1);
    return b;
}

} // namespace

// Each file's agents and rules survive the files loaded after it.
TEST(LabInclude, IncludedAgentsAndRulesAddToTheMainFiles) {
    TempDir d;
    std::filesystem::create_directory(d.path + "/more");
    d.file("more/a.yaml", "agents:\n" + rule("ms-1/0/0", 6));
    d.file("more/b.yaml", "agents:\n" + rule("ms-2/0/0", 7) + rule("ms-1/0/0", 8));
    vorel::test::LabRun lab(vorel::test::LabRun::from_file{
        d.file("main.yaml", "name: t\ninclude: [more/*.yaml]\nagents:\n" + rule("ms-1/0/0", 5))});
    ASSERT_TRUE(lab.started);
    for (auto [fpc, type] : {std::pair{1u, 5}, {1u, 6}, {1u, 8}, {2u, 7}}) {
        services_ui_conn *c = services_ui_open(fpc, 0, SERVICES_UI_PIC_PORT, nullptr);
        ASSERT_NE(c, nullptr);
        uint8_t req[8] = {0, static_cast<uint8_t>(type), 0, 1, 0, 2, 0, 0};
        ASSERT_EQ(services_ui_send(c, req, sizeof req), 0);
        EXPECT_TRUE(services_ui_receive(c, static_cast<uint16_t>(type + 1), 1))
            << "no answer to type " << type << " on fpc " << fpc;
        services_ui_close(c);
    }
}

namespace {

std::string lab_binary() {
    return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "vorel-lab").string();
}

// Waits for pid until the deadline: its wait status, or -1 when it has not
// ended by then (its process group is killed: a child hung before exec goes
// with it).
int wait_until(pid_t pid, std::chrono::steady_clock::time_point deadline) {
    for (int status = 0;; std::this_thread::sleep_for(std::chrono::milliseconds(5))) {
        if (::waitpid(pid, &status, WNOHANG) == pid)
            return status;
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(-pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
    }
}

} // namespace

// vorel-lab exec starts its command while the lab's threads run; it must
// neither hang nor hand the command a stale environment, however often.
TEST(LabExec, RepeatedRunsEndAndSeeTheLab) {
    TempDir d;
    std::string scenario = d.file("main.yaml", "agents:\n  - pic: ms-1/0/0\n  - pic: ms-2/0/0\n");
    std::vector<std::string> argv{lab_binary(),
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
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP); // a group of its own
    auto stop_at = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (int run = 0; run < 200 && std::chrono::steady_clock::now() < stop_at; run++) {
        pid_t pid = -1;
        ASSERT_EQ(posix_spawn(&pid, args[0], nullptr, &attr, args.data(), envp.data()), 0);
        int status = wait_until(pid, std::chrono::steady_clock::now() + std::chrono::seconds(10));
        ASSERT_NE(status, -1) << "run " << run << " still runs after 10 s";
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << "run " << run << " ended with status " << status;
    }
    posix_spawnattr_destroy(&attr);
    // A command that cannot be started is reported, with the shell's status.
    std::string cmd =
        lab_binary() + " exec " + scenario + " -- " + d.path + "/no-such 2>" + d.path + "/err";
    int status = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 127);
    std::ifstream f(d.path + "/err");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(f), {}),
              "vorel-lab: cannot run " + d.path + "/no-such: No such file or directory\n");
}
