// Checks the documentation's examples against the program: every fenced
// block marked "console" in the given Markdown files holds shell sessions,
// "$ vorel ARGS" followed by what it prints (standard output and error
// together, as a terminal shows them); each command runs against the demo
// router and must print exactly that.  A line "..." (indented or not)
// stands for any number of lines the example leaves out.
//
//   docs_examples --bin DIR --scenario FILE [--coverage] PAGE.md...
//   docs_examples --bin DIR --scenario FILE --completion dist/completion/vorel
//
// With --coverage it checks instead that every command of the Command table
// that this build runs has a checked example in text and one in XML; a
// command without them is listed and the run fails (a family that lands
// adds its examples with it).
//
// With --completion it checks that every -S word the completion script
// offers is one its command knows.
#include "tests/e2e/xml_schemas.h"
#include "tests/support/shell.h"
#include "tests/support/text.h"
#include "vorel/vorel_cmds.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using vorel::testing::run_shell;
using vorel::testing::shell_quoted;
using vorel::testing::split_lines;

struct Example {
    std::string page;
    int line = 0;                   // of the "$ " line
    std::vector<std::string> words; // vorel's arguments
    std::vector<std::string> want;  // expected lines
};

// The examples of one page; a command line other than "$ vorel ..." is a
// fault of the page (faults gathers them).
std::vector<Example> examples_of(const std::string &page, std::vector<std::string> &faults) {
    std::vector<std::string> lines = split_lines(vorel::testing::read_file(page));
    std::vector<Example> out;
    std::string fence; // the open block's opening line
    for (size_t i = 0; i < lines.size(); i++) {
        const std::string &l = lines[i];
        if (l.rfind("```", 0) == 0) {
            fence = fence.empty() ? l : "";
            continue;
        }
        if (fence != "```console")
            continue;
        if (l.rfind("$ ", 0) == 0) {
            Example e{page, static_cast<int>(i + 1), {}, {}};
            std::istringstream words(l.substr(2));
            for (std::string w; words >> w;)
                e.words.push_back(w);
            if (e.words.empty() || e.words[0] != "vorel" ||
                l.find_first_of("'\"\\|;&<>$", 2) != std::string::npos) {
                faults.push_back(page + ":" + std::to_string(i + 1) +
                                 ": a checked example runs vorel with plain words only");
                continue;
            }
            e.words.erase(e.words.begin());
            out.push_back(e);
        } else if (out.empty()) {
            faults.push_back(page + ":" + std::to_string(i + 1) +
                             ": a console block begins with a \"$ vorel\" line");
        } else {
            out.back().want.push_back(l);
        }
    }
    return out;
}

bool is_gap(const std::string &l) {
    size_t first = l.find_first_not_of(' ');
    return first != std::string::npos && l.compare(first, std::string::npos, "...") == 0;
}

// Whether got matches want from the given positions, a gap line taking any
// number of lines.
bool matches(const std::vector<std::string> &want, size_t w, const std::vector<std::string> &got,
             size_t g) {
    if (w == want.size())
        return g == got.size();
    if (is_gap(want[w])) {
        for (size_t skip = g; skip <= got.size(); skip++)
            if (matches(want, w + 1, got, skip))
                return true;
        return false;
    }
    return g < got.size() && want[w] == got[g] && matches(want, w + 1, got, g + 1);
}

// Blank lines that end an example separate it from the next one on the page;
// they are not compared.
std::vector<std::string> without_trailing_blanks(std::vector<std::string> lines) {
    while (!lines.empty() && lines.back().empty())
        lines.pop_back();
    return lines;
}

struct Lab {
    std::string bin, dir, env;

    bool start(const std::string &scenario) {
        char tmpl[] = "/tmp/vorel-docs-XXXXXX";
        if (!mkdtemp(tmpl))
            return false;
        dir = tmpl;
        auto o = run_shell(shell_quoted(bin + "/vorel-lab") + " start " + shell_quoted(scenario) +
                           " --dir " + shell_quoted(dir));
        if (o.status != 0) {
            std::fprintf(stderr, "docs_examples: the lab did not start:\n%s", o.text.c_str());
            return false;
        }
        // VOREL_LAB_SOCKET=... and VOREL_LAB_NET=..., one a line.
        for (const std::string &l : split_lines(o.text))
            env += l + " ";
        return true;
    }
    ~Lab() {
        if (!dir.empty())
            run_shell(shell_quoted(bin + "/vorel-lab") + " stop --dir " + shell_quoted(dir) +
                      "; rm -rf " + shell_quoted(dir));
    }

    // What vorel prints for the words, run as "vorel" (some messages echo
    // the program's name) from the lab's folder.
    std::string run(const std::vector<std::string> &words) const {
        std::string line = "cd " + shell_quoted(dir) + " && PATH=" + shell_quoted(bin) +
                           ":\"$PATH\" " + env + "vorel";
        for (const auto &w : words)
            line += " " + shell_quoted(w);
        return run_shell(line).text;
    }
};

int check_examples(const Lab &lab, const std::vector<Example> &examples) {
    int failed = 0;
    for (const Example &e : examples) {
        std::vector<std::string> got = split_lines(lab.run(e.words));
        std::string shown = "vorel";
        for (const auto &w : e.words)
            shown += " " + w;
        if (matches(without_trailing_blanks(e.want), 0, without_trailing_blanks(got), 0)) {
            std::printf("ok   %s:%d: %s\n", e.page.c_str(), e.line, shown.c_str());
            continue;
        }
        failed++;
        std::printf("FAIL %s:%d: %s\n  the page says:\n", e.page.c_str(), e.line, shown.c_str());
        for (const auto &l : e.want)
            std::printf("    |%s\n", l.c_str());
        std::printf("  the program prints:\n");
        constexpr size_t kShown = 60; // enough to see where they part
        for (size_t i = 0; i < got.size() && i < kShown; i++)
            std::printf("    |%s\n", got[i].c_str());
        if (got.size() > kShown)
            std::printf("    (%zu more lines)\n", got.size() - kShown);
    }
    std::printf("%zu examples, %d differ\n", examples.size(), failed);
    return failed ? 1 : 0;
}

// Every command this build runs (one that does not say it is not available)
// needs a checked example in text and one in XML.
int check_coverage(const Lab &lab, const std::vector<Example> &examples) {
    std::map<std::string, std::set<bool>> shown; // command -> XML or not
    for (const Example &e : examples)
        shown[vorel::testing::XmlSchemas::command_of(e.words)].insert(
            std::count(e.words.begin(), e.words.end(), "-X") > 0);
    int missing = 0;
    for (const vorel_cmd *c = vorel_cmd_table; c->name; c++) {
        if (lab.run({"-C", c->name}).find("is not available in this build") != std::string::npos)
            continue;
        for (bool xml : {false, true})
            if (!shown[c->name].count(xml)) {
                std::printf("no checked %s example of -C %s\n", xml ? "XML" : "text", c->name);
                missing++;
            }
    }
    std::printf("%d examples missing\n", missing);
    return missing ? 1 : 0;
}

// What the handlers answer to a sub-command they do not know.
bool refuses_subcommand(const std::string &output) {
    for (const char *phrase :
         {"know what to do", "unknown subcommand", "no action for command",
          "Unknown load-balancing command", "unknown action", "cannot process"})
        if (output.find(phrase) != std::string::npos)
            return true;
    return false;
}

// Every -S word the completion offers is one its command knows, in text
// and in XML mode (some handlers say so in one mode only).
int check_completion(const Lab &lab, const std::string &script) {
    auto listing = run_shell("bash --norc --noprofile -c " +
                             shell_quoted("source " + shell_quoted(script) +
                                          " && for c in \"${!_vorel_subcommands[@]}\"; do "
                                          "echo \"$c ${_vorel_subcommands[$c]}\"; done"));
    int unknown = 0, words = 0;
    for (const std::string &line : split_lines(listing.text)) {
        std::istringstream in(line);
        std::string command;
        in >> command;
        for (std::string word; in >> word; words++)
            if (refuses_subcommand(lab.run({"-C", command, "-S", word})) ||
                refuses_subcommand(lab.run({"-X", "-C", command, "-S", word}))) {
                std::printf("FAIL -C %s does not know -S %s\n", command.c_str(), word.c_str());
                unknown++;
            }
    }
    std::printf("%d sub-commands, %d unknown\n", words, unknown);
    return listing.status == 0 && words > 0 && unknown == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv) {
    Lab lab;
    std::string scenario;
    bool coverage = false;
    std::string completion;
    std::vector<std::string> pages;
    for (int i = 1; i < argc; i++) {
        if (std::strcmp(argv[i], "--bin") == 0 && i + 1 < argc)
            lab.bin = std::filesystem::absolute(argv[++i]); // examples run in a scratch folder
        else if (std::strcmp(argv[i], "--scenario") == 0 && i + 1 < argc)
            scenario = argv[++i];
        else if (std::strcmp(argv[i], "--coverage") == 0)
            coverage = true;
        else if (std::strcmp(argv[i], "--completion") == 0 && i + 1 < argc)
            completion = argv[++i];
        else
            pages.push_back(argv[i]);
    }
    if (lab.bin.empty() || scenario.empty() || (pages.empty() && completion.empty())) {
        std::fprintf(
            stderr,
            "usage: docs_examples --bin DIR --scenario FILE [--coverage | --completion FILE] "
            "[PAGE.md...]\n");
        return 2;
    }
    std::vector<std::string> faults;
    std::vector<Example> examples;
    for (const auto &p : pages) {
        auto e = examples_of(p, faults);
        examples.insert(examples.end(), e.begin(), e.end());
    }
    for (const auto &f : faults)
        std::printf("FAIL %s\n", f.c_str());
    if (!lab.start(scenario))
        return 1;
    int rc = !completion.empty() ? check_completion(lab, completion)
             : coverage          ? check_coverage(lab, examples)
                                 : check_examples(lab, examples);
    return faults.empty() ? rc : 1;
}
