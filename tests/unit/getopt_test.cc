#include "vorel/vorel_getopt.h"

#include "tests/support/argv.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

// The program's global option string.
const char *kOpts = "r:C:Di:ns:XS:p:zZaA:l:bdtfV:L:O:F:T:cN:g:H:B:ieaw:x:K:I:P:Q:R:U:Y:Z:O:H:E:G:";

using vorel::testing::Argv;

// Parses the whole vector: "letter[=arg]" per option, then "|rest" words.
std::string parse(Argv &a, const char *opts = kOpts) {
    vorel_getopt_reset();
    vorel_opterr = 0;
    std::string out;
    int c;
    while ((c = vorel_getopt(a.argc(), a.argv(), opts)) != -1) {
        out += static_cast<char>(c);
        if (c == '?')
            out += static_cast<char>(vorel_optopt);
        if (vorel_optarg)
            out += "=" + std::string(vorel_optarg);
        out += ' ';
    }
    out += "|";
    for (int i = vorel_optind; i < a.argc(); i++)
        out += std::string(" ") + a.argv()[i];
    return out;
}

} // namespace

TEST(Getopt, StopsAtFirstNonOptionWithoutPermuting) {
    Argv a({"vorel", "-C", "sfw", "-S", "flows", "extra", "-X"});
    EXPECT_EQ(parse(a), "C=sfw S=flows | extra -X");
    EXPECT_EQ(std::string(a.argv()[5]), "extra"); // vector unchanged
    EXPECT_EQ(std::string(a.argv()[6]), "-X");
}

TEST(Getopt, FirstFormOfARepeatedLetterWins) {
    // -Z and -a take no argument although later forms say otherwise; -i,
    // -O and -H take one.
    Argv a({"vorel", "-Z", "x", "-a"});
    EXPECT_EQ(parse(a), "Z | x -a");
    Argv b({"vorel", "-i", "ms-1/0/0", "-O", "o", "-H", "h", "-a"});
    EXPECT_EQ(parse(b), "i=ms-1/0/0 O=o H=h a |");
}

TEST(Getopt, ClustersAttachedArgumentsAndDoubleDash) {
    Argv a({"vorel", "-Xt", "-Csfw", "--", "-n"});
    EXPECT_EQ(parse(a), "X t C=sfw | -n");
    Argv b({"vorel", "-", "-n"});
    EXPECT_EQ(parse(b), "| - -n");
}

TEST(Getopt, UnknownLetterAndMissingArgument) {
    Argv a({"vorel", "-j", "-p"});
    EXPECT_EQ(parse(a), "?j ?p |");
    EXPECT_EQ(vorel_optind, a.argc());
    Argv b({"vorel", "-p"});
    EXPECT_EQ(parse(b, ":p:"), ": |");
    Argv c({"vorel", "-:"});
    EXPECT_EQ(parse(c, "a:"), "?: |");
}

TEST(Getopt, ResetParsesTheSameVectorAgain) {
    Argv a({"vorel", "-C", "tcplog", "-S", "connection", "-X"});
    EXPECT_EQ(parse(a), "C=tcplog S=connection X |");
    // A handler parses again from the first argument after the reset.
    EXPECT_EQ(parse(a), "C=tcplog S=connection X |");
    // A reset in the middle of a cluster drops the rest of the cluster.
    Argv b({"vorel", "-Xt"});
    vorel_getopt_reset();
    EXPECT_EQ(vorel_getopt(b.argc(), b.argv(), kOpts), 'X');
    EXPECT_EQ(parse(b), "X t |");
}

// main and then the command's handler parse the same words: each fault is
// said once, and a fault of another place or kind is still said.
TEST(Getopt, AFaultOfTheLineIsSaidOnceAcrossParses) {
    Argv a({"vorel", "-j", "-C", "tcplog", "-F"});
    std::fflush(stderr);
    testing::internal::CaptureStderr();
    for (int pass = 0; pass < 2; pass++) {
        vorel_getopt_reset();
        vorel_opterr = 1;
        while (vorel_getopt(a.argc(), a.argv(), kOpts) != -1) {
        }
    }
    vorel_opterr = 0;
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "vorel: invalid option -- 'j'\nvorel: option requires an argument -- 'F'\n");
}

TEST(Getopt, NextWordNeverPassesTheEnd) {
    Argv a({"vorel", "-F", "proto", "300", "-x"});
    vorel_getopt_reset();
    ASSERT_EQ(vorel_getopt(a.argc(), a.argv(), kOpts), 'F');
    EXPECT_STREQ(vorel_optarg, "proto");
    EXPECT_STREQ(vorel_getopt_next_word(a.argc(), a.argv()), "300");
    ASSERT_EQ(vorel_getopt(a.argc(), a.argv(), kOpts), '?'); // -x lacks its argument
    EXPECT_EQ(vorel_getopt_next_word(a.argc(), a.argv()), nullptr);
    EXPECT_EQ(vorel_optind, a.argc());

    Argv b({"vorel", "-F", "proto"});
    vorel_getopt_reset();
    ASSERT_EQ(vorel_getopt(b.argc(), b.argv(), kOpts), 'F');
    EXPECT_EQ(vorel_getopt_next_word(b.argc(), b.argv()), nullptr);
    EXPECT_EQ(vorel_optind, b.argc());
}
