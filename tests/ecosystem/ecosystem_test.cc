// What ships beside the programs: the bash completion (driven through its
// functions in a real bash), the manual pages (every command of the Command
// table has its place, groff finds nothing to warn about), and that both
// name exactly the commands the program knows.
#include "lab/draw.h"
#include "lab/lab.h"
#include "tests/e2e/xml_schemas.h"
#include "tests/support/shell.h"
#include "vorel/vorel_cmds.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
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

namespace {

// A router of two FPCs: a redundant pair whose secondary is active, one
// PIC without an agent, a line card with an inline service interface.
const char *kSmallRouter = R"(name: small router
interfaces:
  - {index: 130, name: ms-1/0/0, type: 102, fpc: 1, pic: 0}
  - {index: 131, name: ms-1/1/0, type: 102, fpc: 1, pic: 1}
  - index: 150
    name: rsp0
    type: 129
    redundancy: {primary: ms-1/0/0, secondary: ms-1/1/0, active: ms-1/1/0}
  - {index: 180, name: si-4/0/0, type: 146, fpc: 4, pic: 0}
pics:
  - {fpc: 1, pic: 0, id: 2650, flags: 1}
service_sets:
  - {name: sset-ha, id: 3, interface: rsp0}
  - {name: sset-inline, id: 4, pic: si-4/0/0}
agents:
  - pic: ms-1/0/0
  - linecard: 4
)";

TEST(Draw, TheRouterOfAScenario) {
    char path[] = "/tmp/vorel-draw-XXXXXX.yaml";
    int fd = mkstemps(path, 5);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, kSmallRouter, strlen(kSmallRouter)), ssize_t(strlen(kSmallRouter)));
    close(fd);
    vorel::lab::Lab lab;
    std::vector<std::string> errors;
    ASSERT_TRUE(lab.load(path, errors)) << (errors.empty() ? "" : errors[0]);
    std::string dot = vorel::lab::draw_router(lab.documents(), lab.runtime().name);
    unlink(path);

    for (const char *line : {
             "  graph [label=\"small router\", labelloc=t, rankdir=LR, fontname=Helvetica];\n",
             "  subgraph \"cluster_fpc1\" {\n",
             "    \"pic 1/0\" [label=\"ms-1/0/0\\lPIC id 2650\\l\"];\n",
             // No agent answers for 1/1: dashed, and said so.
             "    \"pic 1/1\" [label=\"ms-1/1/0  (no agent)\\l\", style=dashed];\n",
             "  subgraph \"cluster_fpc4\" {\n",
             "    \"linecard 4\" [shape=box3d, label=\"line card 4\\linline services\\l\"];\n",
             "    \"pic 4/0\" [label=\"si-4/0/0\\lset sset-inline (4)\\l\"];\n",
             "    \"linecard 4\" -> \"pic 4/0\" [style=dotted, arrowhead=none];\n",
             "  \"rsp0\" [shape=ellipse, label=\"rsp0 (redundant pair)\\lset sset-ha (3)\\l\"];\n",
             "  \"rsp0\" -> \"pic 1/0\" [label=\"primary\", style=dashed];\n",
             "  \"rsp0\" -> \"pic 1/1\" [label=\"secondary, active\"];\n",
         })
        EXPECT_NE(dot.find(line), std::string::npos) << "no line " << line << "in\n" << dot;

    // Graphviz, where installed, reads it.
    if (run_shell("command -v dot").status == 0) {
        std::string file = std::string(path) + ".dot";
        std::ofstream(file) << dot;
        Output svg = run_shell("dot -Tsvg " + shell_quoted(file) + " >/dev/null");
        unlink(file.c_str());
        EXPECT_EQ(svg.status, 0) << svg.text;
    }
}

} // namespace

namespace {

// The scenario vorel-lab(8) shows is one the lab accepts.
TEST(ManualPages, TheLabPagesScenarioLoads) {
    std::string page = read_file(kSource + "/dist/man/vorel-lab.8");
    size_t section = page.find(".SH \"SCENARIO FORMAT\"");
    ASSERT_NE(section, std::string::npos);
    size_t from = page.find(".EX\n", section), to = page.find(".EE\n", section);
    ASSERT_LT(from, to);
    std::string scenario = page.substr(from + 4, to - from - 4);
    for (size_t at; (at = scenario.find("\\-")) != std::string::npos;)
        scenario.replace(at, 2, "-");
    char path[] = "/tmp/vorel-man-XXXXXX.yaml";
    int fd = mkstemps(path, 5);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, scenario.data(), scenario.size()), ssize_t(scenario.size()));
    close(fd);
    vorel::lab::Lab lab;
    std::vector<std::string> errors;
    EXPECT_TRUE(lab.load(path, errors)) << (errors.empty() ? "" : errors[0]) << "\n" << scenario;
    unlink(path);
}

} // namespace

namespace {

using vorel::testing::XmlSchemas;

// A schema folder of the real shared pieces and one family whose root
// carries the adaptive-services namespace.
struct NamespacedFamily {
    std::string dir;
    NamespacedFamily() {
        char tmpl[] = "/tmp/vorel-schemas-XXXXXX";
        dir = mkdtemp(tmpl);
        std::ofstream(dir + "/common.rng") << read_file(kSource + "/docs/schemas/common.rng");
        std::ofstream(dir + "/ns.rng")
            << "<grammar xmlns=\"http://relaxng.org/ns/structure/1.0\">\n"
               "  <include href=\"common.rng\"/>\n"
               "  <define name=\"roots\">\n"
               "    <element name=\"summary\" ns=\"urn:vorel:xml:adaptive-services\">\n"
               "      <zeroOrMore><choice>\n"
               "        <ref name=\"error\"/>\n"
               "        <element name=\"count\"><text/></element>\n"
               "      </choice></zeroOrMore>\n"
               "    </element>\n"
               "  </define>\n"
               "</grammar>\n";
        std::ofstream(dir + "/commands.txt") << "svc_set * ns.rng\n";
    }
    ~NamespacedFamily() { run_shell("rm -rf " + shell_quoted(dir)); }
};

TEST(Schemas, EveryFamilyCompilesAndAcceptsErrorsAlone) {
    XmlSchemas schemas;
    std::string why;
    ASSERT_TRUE(schemas.load(kSource + "/docs/schemas", why)) << why;
    const std::string error = "<error>\n  <source-daemon>vorel</source-daemon>\n"
                              "  <message>Error! This command must be executed from the Master "
                              "RE</message>\n</error>\n";
    for (const char *command : {"-", "tcplog", "sfw", "nat", "msp"}) {
        why.clear();
        EXPECT_TRUE(
            schemas.validate(command, command == std::string("nat") ? "pool" : "flows", error, why))
            << command << ": " << why;
    }
}

TEST(Schemas, ErrorsInsideNamespacedRootsAndUnknownElements) {
    NamespacedFamily family;
    XmlSchemas schemas;
    std::string why;
    ASSERT_TRUE(schemas.load(family.dir, why)) << why;
    EXPECT_TRUE(schemas.validate("svc_set", "summary",
                                 "<summary xmlns=\"urn:vorel:xml:adaptive-services\">\n"
                                 "  <count>3</count>\n"
                                 "  <error>\n    <message>PIC 1/0 did not answer</message>\n"
                                 "  </error>\n</summary>\n",
                                 why))
        << why;
    // The same root without its namespace is not the family's root.
    why.clear();
    EXPECT_FALSE(
        schemas.validate("svc_set", "summary", "<summary><count>3</count></summary>", why));
    // An element the schema does not know.
    why.clear();
    EXPECT_FALSE(schemas.validate("svc_set", "summary",
                                  "<summary xmlns=\"urn:vorel:xml:adaptive-services\">"
                                  "<counts>3</counts></summary>",
                                  why));
    EXPECT_NE(why.find("counts"), std::string::npos) << why;
    // Output that is not well formed.
    why.clear();
    EXPECT_FALSE(schemas.validate("svc_set", "summary", "<summary>", why));
    // Output of a command without a schema fails, and says where to add one.
    why.clear();
    EXPECT_FALSE(schemas.validate("cos", "stats", "<anything/>", why));
    EXPECT_NE(why.find("no schema for -C cos -S stats"), std::string::npos) << why;
}

TEST(Schemas, CommandAndSubcommandAsTheProgramReadsThem) {
    EXPECT_EQ(XmlSchemas::command_of({"-X", "-C", "msp", "-S", "flows"}), "msp");
    EXPECT_EQ(XmlSchemas::command_of({"-Ctcplog"}), "tcplog");
    // main stops at the first word that is not an option.
    EXPECT_EQ(XmlSchemas::command_of({"-F", "count", "10", "-C", "msp"}), "-");
    EXPECT_EQ(XmlSchemas::command_of({"-n"}), "-");
    EXPECT_EQ(XmlSchemas::subcommand_of({"-C", "msp", "-F", "count", "10", "-S", "flows"}),
              "flows");
    EXPECT_EQ(XmlSchemas::subcommand_of({"-C", "msp"}), "-");
    // -H is -S's other name; a run that names only its action maps by it.
    EXPECT_EQ(XmlSchemas::subcommand_of({"-C", "sfw", "-H", "flows"}), "flows");
    EXPECT_EQ(XmlSchemas::subcommand_of({"-C", "nat", "-Adump_detnat"}), "-A:dump_detnat");
    EXPECT_EQ(XmlSchemas::subcommand_of({"-C", "cos", "-A", "clear_stats", "-S", "stats"}),
              "stats");
}

} // namespace
