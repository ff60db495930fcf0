#include "platform/logging.h"
#include "platform/tools.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

namespace {

std::string read_file(const std::string &path) {
    std::ifstream f(path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

std::string own_dir() {
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    std::string p(buf, n > 0 ? size_t(n) : 0);
    return p.substr(0, p.rfind('/'));
}

TEST(ToolPaths, DefaultsAndOverrides) {
    unsetenv("VOREL_MVOREL");
    unsetenv("VOREL_TCPDUMP");
    EXPECT_EQ(vorel::mvorel_path(), own_dir() + "/mvorel");
    // The system's own: where it is installed (setup installs it).
    std::string tcpdump = vorel::tcpdump_path();
    EXPECT_TRUE(tcpdump == "/usr/sbin/tcpdump" || tcpdump == "/usr/bin/tcpdump") << tcpdump;
    EXPECT_EQ(access(tcpdump.c_str(), X_OK), 0) << tcpdump;
    setenv("VOREL_MVOREL", "/opt/x/mvorel", 1);
    setenv("VOREL_TCPDUMP", "/opt/x/tcpdump", 1);
    EXPECT_EQ(vorel::mvorel_path(), "/opt/x/mvorel");
    EXPECT_EQ(vorel::tcpdump_path(), "/opt/x/tcpdump");
    unsetenv("VOREL_MVOREL");
    unsetenv("VOREL_TCPDUMP");
}

TEST(RunProgram, CapturesOutputAndStatusWithoutAShell) {
    vorel::ProgramResult r;
    ASSERT_TRUE(vorel::run_program({"/usr/bin/printf", "%s|", "a;echo b", "$(id)"}, 1024, r));
    EXPECT_EQ(r.output, "a;echo b|$(id)|");
    EXPECT_EQ(r.status, 0);
    EXPECT_FALSE(r.truncated);

    ASSERT_TRUE(vorel::run_program({"/usr/bin/false"}, 1024, r));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, "");

    // Standard input is /dev/null, never ours (which may be a terminal or a log).
    ASSERT_TRUE(vorel::run_program({"/usr/bin/readlink", "/proc/self/fd/0"}, 1024, r));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "/dev/null\n");
}

TEST(RunProgram, BoundsTheOutputAndLetsTheProgramFinish) {
    std::string big(100000, 'x');
    vorel::ProgramResult r;
    ASSERT_TRUE(vorel::run_program({"/usr/bin/printf", "%s", big.c_str()}, 79, r));
    EXPECT_EQ(r.output, std::string(79, 'x'));
    EXPECT_TRUE(r.truncated);
    EXPECT_EQ(r.status, 0); // not killed by a closed pipe
}

TEST(RunProgram, ReportsAProgramThatCannotStart) {
    vorel::ProgramResult r;
    errno = 0;
    EXPECT_FALSE(vorel::run_program({"/nonexistent/mvorel", "-c", "x"}, 80, r));
    EXPECT_EQ(errno, ENOENT);
    errno = 0;
    EXPECT_FALSE(vorel::run_program({"printf", "x"}, 80, r)); // names are not searched for
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(vorel::run_program({}, 80, r));
}

TEST(StartProgramWithInput, FeedsTheProgramsStandardInput) {
    char path[] = "/tmp/vorel-tools-test.XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "hello\n", 6), 6);
    close(fd);
    for (const char *input : {"hello\n", "other\n"}) {
        int in = -1;
        pid_t pid = vorel::start_program_with_input({"/usr/bin/cmp", "-s", "-", path}, in);
        ASSERT_GT(pid, 0);
        ASSERT_EQ(write(in, input, 6), 6);
        close(in);
        EXPECT_EQ(vorel::wait_program(pid), std::string(input) == "hello\n" ? 0 : 1) << input;
    }
    unlink(path);
}

TEST(LoggingEvent, AppendsOneLinePerEventToTheTestFile) {
    char path[] = "/tmp/vorel-log-test.XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    setenv("VOREL_LOG_FILE", path, 1);
    logging_event(3, "VOREL_PKG_ERROR", {"name"}, "VOREL_PKG_ERROR: pkg_name [%s]\n", "hcm");
    logging_event(4, "VOREL_COS_DUMP", {"command", "command-type"},
                  "VOREL_COS_DUMP: vorel: command: %s, subcommand: %s \nvorel: type: %d\n", "cos",
                  "NULL", 2);
    logging_event(3, "VOREL_X", {}, "VOREL_X: %d%%", 100);
    unsetenv("VOREL_LOG_FILE");
    logging_event(3, "VOREL_NOT_IN_FILE", {}, "VOREL_NOT_IN_FILE: x");
    EXPECT_EQ(read_file(path),
              "<3> VOREL_PKG_ERROR [name] VOREL_PKG_ERROR: pkg_name [hcm]\n"
              "<4> VOREL_COS_DUMP [command,command-type] VOREL_COS_DUMP: vorel: command: cos, "
              "subcommand: NULL \\nvorel: type: 2\n"
              "<3> VOREL_X [] VOREL_X: 100%\n");
    unlink(path);
}

} // namespace
