// What ships beside the programs: the bash completion (driven through its
// functions in a real bash), the manual pages (every command of the Command
// table has its place, groff finds nothing to warn about), and that both
// name exactly the commands the programs know; the router's picture; the
// XML schemas' checker.
#include "lab/draw.h"
#include "lab/lab.h"
#include "tests/e2e/xml_schemas.h"
#include "tests/support/lab_fixture.h"
#include "tests/support/shell.h"
#include "tests/support/text.h"
#include "vorel/vorel_cmds.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string kSource = VOREL_SOURCE_DIR;

using vorel::testing::read_file;
using vorel::testing::run_shell;
using vorel::testing::shell_quoted;
using Set = std::set<std::string>;

// What the completion function of the program (words[0]) offers for the
// words typed so far (the last one being completed), run in the folder cwd.
Set complete(const std::vector<std::string> &words, const std::string &cwd = kSource) {
    std::string array, function = "_" + words[0];
    for (const auto &w : words)
        array += shell_quoted(w) + " ";
    std::replace(function.begin(), function.end(), '-', '_');
    std::string program = "cd " + shell_quoted(cwd) + " && source " +
                          shell_quoted(kSource + "/dist/completion/" + words[0]) +
                          " && COMP_WORDS=(" + array +
                          ") && COMP_CWORD=" + std::to_string(words.size() - 1) + " && " + "{ " +
                          function + "; printf '%s\\n' \"${COMPREPLY[@]}\"; }";
    auto o = run_shell("bash --norc --noprofile -c " + shell_quoted(program));
    EXPECT_EQ(o.status, 0) << o.text;
    auto lines = vorel::testing::split_lines(o.text);
    Set offered(lines.begin(), lines.end());
    offered.erase(""); // an empty reply prints one empty line
    return offered;
}

Set table_names() {
    Set names;
    for (const vorel_cmd *c = vorel_cmd_table; c->name; c++)
        names.insert(c->name);
    return names;
}

// roff's "\-" read as "-".
std::string unescaped(std::string page) {
    for (size_t at; (at = page.find("\\-")) != std::string::npos;)
        page.replace(at, 2, "-");
    return page;
}

TEST(Completion, TheProgramsCommandsAndOptionLetters) {
    EXPECT_EQ(complete({"vorel", "-C", ""}), table_names());
    EXPECT_EQ(complete({"vorel", "-X", "-C", "inline-ip"}),
              (Set{"inline-ip-reass", "inline-ipv6-reass"}));
    // Sub-commands follow the chosen command: the same word completes
    // differently under another one, and not at all without one.
    EXPECT_EQ(complete({"vorel", "-C", "msp", "-S", "sessions_c"}), Set{"sessions_count"});
    EXPECT_EQ(complete({"vorel", "-C", "inline-stateful-firewall", "-S", "c"}),
              (Set{"clear_flows", "clear_stats"}));
    EXPECT_EQ(complete({"vorel", "-S", ""}), Set{});
    // Every letter of the option string the handlers parse, and no other;
    // nothing where a value is due.
    Set letters;
    for (const char *c = vorel_optstring; *c; c++)
        if (*c != ':')
            letters.insert(std::string("-") + *c);
    EXPECT_EQ(complete({"vorel", "-"}), letters);
    EXPECT_EQ(complete({"vorel", "-s", "-"}), Set{});
}

// The verbs and options are those of the lab's own usage text.
TEST(Completion, TheLabsVerbsOptionsAndFiles) {
    auto usage = run_shell(shell_quoted(std::string(VOREL_BIN_DIR) + "/vorel-lab") + " --help");
    ASSERT_EQ(usage.status, 0) << usage.text;
    std::map<std::string, Set> options; // verb -> options
    std::string verb;
    // "usage: vorel-lab VERB [OPTION ...]" and "       vorel-lab VERB ...", an
    // indented line going on with the verb before; the prose after ends it.
    std::istringstream in(usage.text);
    for (std::string line; std::getline(in, line) && (line[0] == ' ' || line[0] == 'u');) {
        std::istringstream words(line);
        for (std::string w; words >> w;) {
            if (w == "vorel-lab" && words >> verb)
                options[verb];
            std::erase_if(w, [](char c) { return c == '[' || c == ']'; });
            if (w[0] == '-')
                options[verb].insert(w);
        }
    }
    Set verbs;
    for (const auto &[v, opts] : options) {
        verbs.insert(v);
        Set offered = complete({"vorel-lab", v, "-"});
        for (const auto &o : opts)
            EXPECT_TRUE(offered.count(o)) << "vorel-lab " << v << " " << o << " is not offered";
    }
    EXPECT_EQ(complete({"vorel-lab", ""}), verbs);
    // Only scenario files and folders; after "--" the command to run.
    EXPECT_EQ(complete({"vorel-lab", "start", "de"}, kSource + "/lab/scenarios"),
              (Set{"demo/", "demo.yaml"}));
    EXPECT_EQ(complete({"vorel-lab", "check", "R"}), Set{});
    EXPECT_TRUE(complete({"vorel-lab", "exec", "x.yaml", "--", "bas"}).count("bash"));
}

// The names a manual page's COMMANDS section gives its headings: the words
// of .SS lines and of the tag line after each .TP.
Set manual_command_headings(const std::string &page) {
    Set names;
    std::istringstream in(unescaped(page));
    bool in_commands = false, tag_next = false;
    for (std::string l; std::getline(in, l);) {
        if (l.rfind(".SH", 0) == 0) {
            in_commands = l.find("COMMANDS") != std::string::npos;
            continue;
        }
        bool heading = in_commands && (tag_next || l.rfind(".SS", 0) == 0);
        tag_next = l.rfind(".TP", 0) == 0;
        if (!heading || l.find(' ') == std::string::npos)
            continue;
        std::istringstream words(l.substr(l.find(' ')));
        for (std::string w; words >> w;) {
            std::erase_if(w, [](char c) { return c == '"' || c == ','; });
            names.insert(w);
        }
    }
    return names;
}

TEST(ManualPages, EveryCommandAndSubcommandHasItsPlace) {
    std::string page = read_file(kSource + "/dist/man/vorel.8");
    Set headings = manual_command_headings(page);
    page = unescaped(page);
    for (const std::string &name : table_names()) {
        EXPECT_TRUE(headings.count(name)) << "vorel(8) has no COMMANDS heading for " << name;
        for (const std::string &word : complete({"vorel", "-C", name, "-S", ""}))
            EXPECT_NE(page.find(word), std::string::npos)
                << "vorel(8) does not name " << name << " -S " << word;
    }
}

TEST(ManualPages, GroffFindsNothingToWarnAbout) {
    for (const char *page : {"vorel.8", "vorel-lab.8"}) {
        auto o = run_shell("groff -ww -z -man " + shell_quoted(kSource + "/dist/man/" + page));
        EXPECT_EQ(o.status, 0) << page;
        EXPECT_EQ(o.text, "") << page;
    }
}

// The scenario vorel-lab(8) shows is one the lab accepts.
TEST(ManualPages, TheLabPagesScenarioLoads) {
    std::string page = unescaped(read_file(kSource + "/dist/man/vorel-lab.8"));
    size_t section = page.find(".SH \"SCENARIO FORMAT\"");
    ASSERT_NE(section, std::string::npos);
    size_t from = page.find(".EX\n", section), to = page.find(".EE\n", section);
    ASSERT_LT(from, to);
    std::string scenario = page.substr(from + 4, to - from - 4);
    vorel::test::LabRun l(scenario); // its complaints fail the test
    EXPECT_TRUE(l.loaded) << scenario;
}

// A router of two FPCs: a redundant pair whose secondary is active, one
// PIC without an agent, a line card with an inline service interface.
TEST(Draw, TheRouterOfAScenario) {
    vorel::test::LabRun l(R"(name: small router
interfaces:
  - {index: 130, name: ms-1/0/0, type: 102, fpc: 1, pic: 0}
  - {index: 131, name: ms-1/1/0, type: 102, fpc: 1, pic: 1}
  - {index: 150, name: rsp0, type: 129, redundancy: {primary: ms-1/0/0, secondary: ms-1/1/0, active: ms-1/1/0}}
  - {index: 180, name: si-4/0/0, type: 146, fpc: 4, pic: 0}
pics: [{fpc: 1, pic: 0, id: 2650, flags: 1}]
service_sets: [{name: sset-ha, id: 3, interface: rsp0}, {name: sset-inline, id: 4, pic: si-4/0/0}]
agents: [{pic: ms-1/0/0}, {linecard: 4}]
)");
    ASSERT_TRUE(l.loaded);
    std::string dot = vorel::lab::draw_router(l.lab.documents(), l.lab.runtime().name);
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
        auto svg =
            run_shell("dot -Tsvg " + shell_quoted(l.dir.file("router.dot", dot)) + " >/dev/null");
        EXPECT_EQ(svg.status, 0) << svg.text;
    }
}

using vorel::testing::XmlSchemas;

// The checker, on the real schemas: an error alone is accepted (every
// schema's start allows one), and so is a root with the namespace its
// schema gives it; the root without it, an element the schema does not
// know, output that is not well formed and a command that commands.txt
// does not map are not.
TEST(Schemas, TheCheckerAcceptsWhatTheSchemaSaysAndNothingElse) {
    XmlSchemas schemas;
    std::string why;
    ASSERT_TRUE(schemas.load(kSource + "/docs/schemas", why)) << why;
    auto check = [&](const char *command, const std::string &xml) {
        why.clear();
        return schemas.validate(command, "lookup", xml, why);
    };
    const std::string error = "<error>\n  <source-daemon>vorel</source-daemon>\n"
                              "  <message>PIC 1/0 did not answer</message>\n</error>\n";
    const std::string root = "<services-match-policies-information "
                             "xmlns=\"urn:vorel:xml:adaptive-services\">",
                      end = "</services-match-policies-information>";
    EXPECT_TRUE(check("match_policy", error)) << why;
    EXPECT_TRUE(check("match_policy", root + error + end)) << why;
    EXPECT_FALSE(check("match_policy", "<services-match-policies-information/>"));
    EXPECT_FALSE(check("match_policy", root + "<policies/>" + end));
    EXPECT_NE(why.find("policies"), std::string::npos) << why;
    EXPECT_FALSE(check("match_policy", root));
    EXPECT_FALSE(check("nosuch", error));
    EXPECT_NE(why.find("no schema for -C nosuch -S lookup"), std::string::npos) << why;
}

TEST(Schemas, CommandAndSubcommandAsTheProgramReadsThem) {
    EXPECT_EQ(XmlSchemas::command_of({"-Ctcplog"}), "tcplog");
    // main stops at the first word that is not an option.
    EXPECT_EQ(XmlSchemas::command_of({"-F", "count", "10", "-C", "msp"}), "-");
    EXPECT_EQ(XmlSchemas::subcommand_of({"-C", "msp", "-F", "count", "10", "-S", "flows"}),
              "flows");
    // -H is -S's other name; a run that names only its action maps by it.
    EXPECT_EQ(XmlSchemas::subcommand_of({"-C", "sfw", "-H", "flows"}), "flows");
    EXPECT_EQ(XmlSchemas::subcommand_of({"-C", "nat", "-Adump_detnat"}), "-A:dump_detnat");
    EXPECT_EQ(XmlSchemas::subcommand_of({"-C", "cos", "-A", "clear_stats", "-S", "stats"}),
              "stats");
}

} // namespace
