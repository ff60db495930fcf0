// The program's error routing: message bounds, verbatim text, and XML that
// stays well formed on a fatal exit.
#include "platform/xml.h"
#include "vorel/vorel_ctx.h"
#include "vorel/vorel_error.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

namespace {

// Captures what a function writes on standard output.
template <typename F> std::string stdout_of(F f) {
    std::fflush(stdout);
    FILE *tmp = std::tmpfile();
    int saved = dup(1);
    dup2(fileno(tmp), 1);
    f();
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    std::rewind(tmp);
    std::string s;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, tmp)) > 0)
        s.append(buf, n);
    std::fclose(tmp);
    return s;
}

} // namespace

TEST(ErrorRouting, TextMessagesAreCutTo1023Characters) {
    xml_mode = 0;
    std::string big(2000, 'x');
    std::string out = stdout_of([&] { vorel_xml_error(1, "%s", big.c_str()); });
    EXPECT_EQ(out, std::string(1023, 'x'));
}

TEST(ErrorRouting, PercentSignsAfterFormattingArePrintedAsTheyAre) {
    xml_mode = 0;
    std::string out = stdout_of([] { vorel_xml_error(0, "%s\n", "100%s %d %n"); });
    EXPECT_EQ(out, "100%s %d %n\n");
    out = stdout_of([] { vorel_user_message("%s", "50%"); });
    EXPECT_EQ(out, "50%");
}

TEST(ErrorRouting, XmlModeMakesAnErrorElementNamingTheProgram) {
    prog_name = "/usr/sbin/vorel";
    xml_mode = 1;
    xml_set_mode(true);
    xml_set_output(stdout);
    std::string out = stdout_of([] { vorel_xml_error(1, "bad <%s> & more\n", "x"); });
    xml_mode = 0;
    xml_set_mode(false);
    EXPECT_EQ(out, "<error>\n  <source-daemon>vorel</source-daemon>\n  <message>bad &lt;x&gt; "
                   "&amp; more</message>\n</error>\n");
}

TEST(ErrorRoutingDeath, FatalErrorInXmlClosesEveryOpenElement) {
    std::string path = testing::TempDir() + "/fatal.xml";
    EXPECT_EXIT(
        {
            FILE *f = std::fopen(path.c_str(), "w");
            xml_set_output(f);
            xml_mode = 1;
            xml_set_mode(true);
            xml_subtree_open("service-sfw-statistics-information");
            xml_send_open("service-sfw-statistics-entry");
            vorel_fatal_error(3, "Invalid member interface %s\n", "x");
        },
        testing::ExitedWithCode(3), "");
    FILE *f = std::fopen(path.c_str(), "r");
    ASSERT_NE(f, nullptr);
    std::string s;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        s.append(buf, n);
    std::fclose(f);
    EXPECT_EQ(s, "<service-sfw-statistics-information>\n"
                 "  <service-sfw-statistics-entry>\n"
                 "    <error>\n"
                 "      <source-daemon>vorel</source-daemon>\n"
                 "      <message>Invalid member interface x</message>\n"
                 "    </error>\n"
                 "  </service-sfw-statistics-entry>\n"
                 "</service-sfw-statistics-information>\n");
}

TEST(ErrorRoutingDeath, FatalErrorInTextGoesToStandardErrorWithTheBaseName) {
    prog_name = "/usr/sbin/vorel";
    xml_mode = 0;
    EXPECT_EXIT(vorel_fatal_error(1, "cannot reach %s", "ms-1/0/0"), testing::ExitedWithCode(1),
                "^vorel: cannot reach ms-1/0/0\n$");
}

// A caller that runs commands in-process (the fuzz targets) takes the
// command's exit through the hook; the message is written first.
TEST(ErrorRouting, TheExitHookSeesTheStatusAfterTheMessage) {
    struct Exited {
        int status;
    };
    prog_name = "vorel";
    xml_mode = 0;
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

TEST(XmlOnlyView, TextModeSaysSoOnStandardErrorOnly) {
    vorel_ctx text_ctx;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_FALSE(vorel_xml_only_view(&text_ctx, "the NAT statistics"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              std::string(vorel_prog_basename()) +
                  ": the NAT statistics is shown only in XML; run it with -X\n");
    vorel_ctx xml_ctx;
    xml_ctx.xml = 1;
    testing::internal::CaptureStderr();
    EXPECT_TRUE(vorel_xml_only_view(&xml_ctx, "x"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}
