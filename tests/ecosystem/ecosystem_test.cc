// What ships beside the programs: the bash completion (driven through its
// functions in a real bash), the manual pages (every command of the Command
// table has its place, groff finds nothing to warn about), and that both
// name exactly the commands the program knows.
#include "tests/support/shell.h"
#include "vorel/vorel_cmds.h"

#include <array>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace {

const std::string kSource = VOREL_SOURCE_DIR;

using vorel::testing::run_shell;
using vorel::testing::shell_quoted;
using Output = vorel::testing::ShellOutput;

// What the completion function of script offers for the words typed so
// far (the last one being completed), run in the folder cwd.
std::set<std::string> complete(const std::string &script, const std::string &function,
                               const std::vector<std::string> &words,
                               const std::string &cwd = kSource) {
    std::string array;
    for (const auto &w : words)
        array += shell_quoted(w) + " ";
    std::string program = "cd " + shell_quoted(cwd) + " && source " +
                          shell_quoted(kSource + "/dist/completion/" + script) +
                          " && COMP_WORDS=(" + array +
                          ") && COMP_CWORD=" + std::to_string(words.size() - 1) + " && " +
                          function + " && printf '%s\\n' \"${COMPREPLY[@]}\"";
    Output o = run_shell("bash --norc --noprofile -c " + shell_quoted(program));
    EXPECT_EQ(o.status, 0) << o.text;
    std::set<std::string> offers;
    std::istringstream in(o.text);
    for (std::string l; std::getline(in, l);)
        if (!l.empty())
            offers.insert(l);
    return offers;
}

std::set<std::string> table_names() {
    std::set<std::string> names;
    for (const vorel_cmd *c = vorel_cmd_table; c->name; c++)
        names.insert(c->name);
    return names;
}

std::string read_file(const std::string &path) {
    std::ifstream f(path);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

using Set = std::set<std::string>;

TEST(Completion, CommandNamesAreTheCommandTable) {
    Set names = table_names();
    ASSERT_EQ(names.size(), 24u);
    EXPECT_EQ(complete("vorel", "_vorel", {"vorel", "-C", ""}), names);
    EXPECT_EQ(complete("vorel", "_vorel", {"vorel", "-X", "-C", "inline-ip"}),
              (Set{"inline-ip-reass", "inline-ipv6-reass"}));
}

TEST(Completion, SubcommandsFollowTheChosenCommand) {
    EXPECT_EQ(complete("vorel", "_vorel", {"vorel", "-C", "tcplog", "-S", ""}), Set{"connection"});
    EXPECT_EQ(complete("vorel", "_vorel", {"vorel", "-C", "msp", "-S", "sessions_c"}),
              Set{"sessions_count"});
    EXPECT_EQ(complete("vorel", "_vorel", {"vorel", "-C", "nat", "-S", "po"}), Set{"pool"});
    // The same word completes differently under another command.
    EXPECT_EQ(complete("vorel", "_vorel", {"vorel", "-C", "inline-stateful-firewall", "-S", "c"}),
              (Set{"clear_flows", "clear_stats"}));
    EXPECT_EQ(complete("vorel", "_vorel", {"vorel", "-S", ""}), Set{});
}

TEST(Completion, OptionLettersAndValues) {
    EXPECT_EQ(complete("vorel", "_vorel", {"vorel", "-X"}), Set{"-X"});
    // Every letter of the option string the handlers parse, and no other.
    Set letters;
    for (const char *c = vorel_optstring; *c; c++)
        if (*c != ':')
            letters.insert(std::string("-") + *c);
    EXPECT_EQ(complete("vorel", "_vorel", {"vorel", "-"}), letters);
    EXPECT_EQ(complete("vorel", "_vorel", {"vorel", "-s", "-"}), Set{}); // a value
}

TEST(Completion, LabVerbsOptionsAndScenarioFiles) {
    EXPECT_EQ(complete("vorel-lab", "_vorel_lab", {"vorel-lab", "st"}), (Set{"start", "stop"}));
    EXPECT_EQ(complete("vorel-lab", "_vorel_lab", {"vorel-lab", "d"}), Set{"draw"});
    EXPECT_EQ(complete("vorel-lab", "_vorel_lab", {"vorel-lab", "stop", "--"}), Set{"--dir"});
    EXPECT_EQ(complete("vorel-lab", "_vorel_lab", {"vorel-lab", "exec", "--k"}),
              Set{"--kernel-log"});
    EXPECT_EQ(complete("vorel-lab", "_vorel_lab", {"vorel-lab", "start", "de"},
                       kSource + "/lab/scenarios"),
              (Set{"demo/", "demo.yaml"}));
    // Only scenario files (and folders) are offered.
    EXPECT_EQ(complete("vorel-lab", "_vorel_lab", {"vorel-lab", "check", "R"}, kSource), Set{});
    // After "--" the command to run.
    EXPECT_TRUE(complete("vorel-lab", "_vorel_lab", {"vorel-lab", "exec", "x.yaml", "--", "bas"})
                    .count("bash"));
}

// The names a manual page's COMMANDS section gives its headings: the words
// of .SS lines and of the tag line after each .TP, with roff's "\-" read
// as "-".
Set manual_command_headings(const std::string &page) {
    Set names;
    std::istringstream in(page);
    bool in_commands = false, tag_next = false;
    for (std::string l; std::getline(in, l);) {
        if (l.rfind(".SH", 0) == 0) {
            in_commands = l.find("COMMANDS") != std::string::npos;
            continue;
        }
        if (!in_commands)
            continue;
        bool heading = tag_next || l.rfind(".SS", 0) == 0;
        tag_next = l.rfind(".TP", 0) == 0;
        if (!heading)
            continue;
        for (size_t at; (at = l.find("\\-")) != std::string::npos;)
            l.replace(at, 2, "-");
        std::istringstream words(
            l.substr(l.find(' ') == std::string::npos ? l.size() : l.find(' ')));
        for (std::string w; std::getline(words, w, ' ');) {
            std::string name;
            for (char c : w)
                if (c != '"' && c != ',')
                    name += c;
            if (!name.empty())
                names.insert(name);
        }
    }
    return names;
}

TEST(ManualPages, EveryCommandOfTheTableHasItsPlace) {
    Set headings = manual_command_headings(read_file(kSource + "/dist/man/vorel.8"));
    for (const std::string &name : table_names())
        EXPECT_TRUE(headings.count(name)) << "vorel(8) has no COMMANDS heading for " << name;
}

TEST(ManualPages, EverySubcommandOfTheCompletionIsInTheManual) {
    std::string page = read_file(kSource + "/dist/man/vorel.8");
    for (size_t at; (at = page.find("\\-")) != std::string::npos;)
        page.replace(at, 2, "-");
    for (const std::string &name : table_names())
        for (const std::string &word : complete("vorel", "_vorel", {"vorel", "-C", name, "-S", ""}))
            EXPECT_NE(page.find(word), std::string::npos)
                << "vorel(8) does not name " << name << " -S " << word;
}

TEST(ManualPages, GroffFindsNothingToWarnAbout) {
    for (const char *page : {"vorel.8", "vorel-lab.8"}) {
        Output o = run_shell("groff -ww -z -man " + shell_quoted(kSource + "/dist/man/" + page));
        EXPECT_EQ(o.status, 0) << page;
        EXPECT_EQ(o.text, "") << page;
    }
}

} // namespace
