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

// No permuting: the first word that is no option ends the parse. The first
// form of a repeated letter wins (-Z and -a take no argument although later
// forms say otherwise). "?" and ":" name the letter that failed.
TEST(Getopt, LettersArgumentsAndTheirFaults) {
    for (auto [words, opts, parsed] :
         std::initializer_list<std::tuple<std::vector<std::string>, const char *, const char *>>{
             {{"-C", "sfw", "-S", "flows", "extra", "-X"}, kOpts, "C=sfw S=flows | extra -X"},
             {{"-Z", "x", "-a"}, kOpts, "Z | x -a"},
             {{"-i", "ms-1/0/0", "-O", "o", "-H", "h", "-a"}, kOpts, "i=ms-1/0/0 O=o H=h a |"},
             {{"-j", "-p"}, kOpts, "?j ?p |"},
             {{"-p"}, ":p:", ": |"},
             {{"-:"}, "a:", "?: |"}}) {
        std::vector<std::string> all{"vorel"};
        all.insert(all.end(), words.begin(), words.end());
        Argv a(all);
        EXPECT_EQ(parse(a, opts), parsed);
        EXPECT_EQ(std::vector<std::string>(a.argv(), a.argv() + a.argc()), all); // not permuted
    }
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
