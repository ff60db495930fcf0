// Running a program: without a shell, output bounded, standard input /dev/null.
#include "platform/tools.h"

#include <cerrno>
#include <gtest/gtest.h>

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
