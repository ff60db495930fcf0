// The program's error routing: verbatim text, and the exit hook of callers
// that run commands in-process.
#include "platform/xml.h"
#include "vorel/vorel_ctx.h"
#include "vorel/vorel_error.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <string>

TEST(ErrorRouting, PercentSignsAfterFormattingArePrintedAsTheyAre) {
    xml_set_mode(false);
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    vorel_xml_error(0, "%s\n", "100%s %d %n");
    vorel_user_message("%s", "50%");
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "100%s %d %n\n50%");
}

// A caller that runs commands in-process (the fuzz targets) takes the
// command's exit through the hook; the message is written first.
TEST(ErrorRouting, TheExitHookSeesTheStatusAfterTheMessage) {
    struct Exited {
        int status;
    };
    prog_name = "vorel";
    xml_set_mode(false);
    vorel_set_exit_hook([](int status) { throw Exited{status}; });
    testing::internal::CaptureStderr();
    int seen = -1;
    try {
        vorel_fatal_error(2, "command %s is not available in this build", "x");
    } catch (const Exited &e) {
        seen = e.status;
    }
    std::string err = testing::internal::GetCapturedStderr();
    try {
        vorel_exit(5);
    } catch (const Exited &e) {
        EXPECT_EQ(e.status, 5);
    }
    vorel_set_exit_hook(nullptr);
    EXPECT_EQ(seen, 2);
    EXPECT_EQ(err, "vorel: command x is not available in this build\n");
    EXPECT_EXIT(vorel_exit(4), testing::ExitedWithCode(4), "");
}
