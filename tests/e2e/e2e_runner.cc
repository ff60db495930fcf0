// Runs end-to-end cases: the real vorel binary against the real lab daemon.
//
//   e2e_runner --bin DIR --schemas DIR [--expect-failures] CASEFILE...
//
// A case file (YAML) holds a scenario and its cases; each case runs
// "vorel-lab exec SCENARIO -- vorel ARGS" and compares what it states.
// docs/testing.md ("The runner's checks") is the reference of the keys.
// --expect-failures inverts the verdict: the run passes only when every case
// fails (tests/e2e/selftest/ shows each check can fail).
#include "tests/e2e/xml_schemas.h"
#include "tests/support/shell.h"
#include "tests/support/text.h"
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <pthread.h>
#include <regex>
#include <sstream>
#include <string>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>
#include <yaml-cpp/yaml.h>

namespace {

using vorel::testing::read_file;
using vorel::testing::shell_quoted;
using vorel::testing::split_lines;

// A request log with the lines of each agent ("pic F/P PORT", "linecard F
// PORT", "monitor F/P PORT") together, in the order of each agent's first
// line, every agent's own lines in their order.
std::string by_agent(const std::string &log) {
    std::vector<std::pair<std::string, std::string>> lines; // (agent, line)
    std::istringstream in(log);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string kind, slot, port;
        words >> kind >> slot >> port;
        lines.emplace_back(kind + " " + slot + " " + port, line);
    }
    std::stable_sort(lines.begin(), lines.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    std::string out;
    for (const auto &l : lines)
        out += l.second + "\n";
    return out;
}

struct Result {
    int status = -1;
    std::string out, err;
};

// text with every token replaced by value.
std::string replaced(std::string text, const std::string &token, const std::string &value) {
    for (size_t at = 0; (at = text.find(token, at)) != std::string::npos; at += value.size())
        text.replace(at, token.size(), value);
    return text;
}

std::string dir_of(const std::string &path) {
    size_t s = path.rfind('/');
    return s == std::string::npos ? "." : path.substr(0, s);
}

// Everything written to f so far.
std::string contents(FILE *f) {
    std::string text;
    char buf[65536];
    std::rewind(f);
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;)
        text.append(buf, n);
    std::fclose(f);
    return text;
}

// Runs argv with extra environment, collecting both output streams (in
// files, so neither can fill up while the other is awaited).
Result run(const std::vector<std::string> &argv,
           const std::vector<std::pair<std::string, std::string>> &env, const std::string &cwd) {
    Result r;
    FILE *out = std::tmpfile(), *err = std::tmpfile();
    if (!out || !err)
        return r;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fileno(out), 1);
        dup2(fileno(err), 2);
        dup2(open("/dev/null", O_RDONLY), 0);
        if (chdir(cwd.c_str()) != 0)
            _exit(126);
        for (auto &[k, v] : env)
            setenv(k.c_str(), v.c_str(), 1);
        std::vector<char *> a;
        for (auto &s : argv)
            a.push_back(const_cast<char *>(s.c_str()));
        a.push_back(nullptr);
        execv(a[0], a.data());
        std::fprintf(stderr, "cannot run %s: %s\n", a[0], std::strerror(errno));
        _exit(127);
    }
    int st = 0;
    waitpid(pid, &st, 0);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    r.out = contents(out);
    r.err = contents(err);
    return r;
}

// The node written to a fresh /tmp file; "" when it cannot be written.
std::string written_yaml(const YAML::Node &node) {
    char path[] = "/tmp/vorel-e2e-scenario-XXXXXX.yaml";
    int fd = mkstemps(path, 5);
    YAML::Emitter e;
    e << node;
    bool ok = fd >= 0 && write(fd, e.c_str(), e.size()) == static_cast<ssize_t>(e.size());
    if (fd >= 0)
        close(fd);
    return ok ? path : "";
}

// A short report of the first differing line.
std::string difference(const std::string &want, const std::string &got) {
    auto w = split_lines(want), g = split_lines(got);
    size_t i = 0;
    while (i < w.size() && i < g.size() && w[i] == g[i])
        i++;
    std::ostringstream s;
    s << "    first difference at line " << i + 1 << ":\n";
    s << "    want: " << (i < w.size() ? "[" + w[i] + "]" : "(end)") << "\n";
    s << "    got:  " << (i < g.size() ? "[" + g[i] + "]" : "(end)") << "\n";
    if (w.size() == g.size() && want != got)
        s << "    (the texts differ only in a final newline or in bytes getline hides)\n";
    s << "  --- whole output ---\n" << got << "  --- end ---\n";
    return s.str();
}

// A 1-based line position, negative from the end, as an index (or npos).
size_t line_index(long pos, size_t count) {
    if (pos > 0 && size_t(pos) <= count)
        return size_t(pos - 1);
    if (pos < 0 && size_t(-pos) <= count)
        return count - size_t(-pos);
    return std::string::npos;
}

bool whole_match(const std::string &line, const std::string &pattern, bool &bad) {
    try {
        return std::regex_match(line, std::regex(pattern));
    } catch (const std::regex_error &) {
        bad = true;
        return false;
    }
}

// The C++ library's matcher recurses once per character matched: a whole
// file (26 000 digits of one block) needs a stack far deeper than the main
// thread's, under a sanitizer all the more.  It is matched on a thread of
// its own with room for it.
constexpr size_t kFileMatchStack = size_t(512) << 20;

struct FileMatch {
    const std::string &text, &pattern;
    bool matched = false, bad = false;
};

void *match_file(void *arg) {
    auto *m = static_cast<FileMatch *>(arg);
    m->matched = whole_match(m->text, m->pattern, m->bad);
    return nullptr;
}

bool whole_file_match(const std::string &text, const std::string &pattern, bool &bad) {
    FileMatch m{text, pattern};
    pthread_attr_t attr;
    pthread_t thread;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, kFileMatchStack);
    if (pthread_create(&thread, &attr, match_file, &m) == 0)
        pthread_join(thread, nullptr);
    else
        match_file(&m);
    pthread_attr_destroy(&attr);
    bad = bad || m.bad;
    return m.matched;
}

// The compact checks of one stream (KEY_lines, KEY_has, ...); false with a
// report of each failed check.
bool check_lines(const std::string &stream, const YAML::Node &c, const std::string &got) {
    bool ok = true, bad_pattern = false;
    auto v = split_lines(got);
    auto fail = [&](const std::string &what) {
        ok = false;
        std::printf("  %s: %s\n", stream.c_str(), what.c_str());
    };
    if (const YAML::Node n = c[stream + "_lines"])
        for (const auto &kv : n) {
            size_t i = line_index(kv.first.as<long>(), v.size());
            std::string want = kv.second.as<std::string>();
            if (i == std::string::npos || v[i] != want)
                fail("line " + kv.first.as<std::string>() + " is [" +
                     (i == std::string::npos ? "(none)" : v[i]) + "], want [" + want + "]");
        }
    if (const YAML::Node n = c[stream + "_line_count"])
        if (v.size() != n.as<size_t>())
            fail(std::to_string(v.size()) + " lines, want " + n.as<std::string>());
    if (const YAML::Node n = c[stream + "_has"]) {
        size_t at = 0;
        for (const auto &want : n) {
            std::string w = want.as<std::string>();
            auto it = std::find(v.begin() + long(at), v.end(), w);
            if (it == v.end()) {
                fail("no line [" + w + "] (in order)");
                break;
            }
            at = size_t(it - v.begin()) + 1;
        }
    }
    if (const YAML::Node n = c[stream + "_lacks"])
        for (const auto &text : n)
            for (const auto &l : v)
                if (l.find(text.as<std::string>()) != std::string::npos) {
                    fail("line [" + l + "] holds [" + text.as<std::string>() + "]");
                    break;
                }
    if (const YAML::Node n = c[stream + "_match"])
        for (const auto &pattern : n) {
            std::string pat = pattern.as<std::string>();
            if (std::none_of(v.begin(), v.end(), [&](const std::string &l) {
                    return whole_match(l, pat, bad_pattern);
                }))
                fail("no line matches [" + pat + "]");
        }
    if (const YAML::Node n = c[stream + "_every"]) {
        size_t from = line_index(n["from"] ? n["from"].as<long>() : 1, v.size());
        size_t to = line_index(n["to"] ? n["to"].as<long>() : -1, v.size());
        std::string pat = n["match"].as<std::string>();
        if (from == std::string::npos || to == std::string::npos || from > to)
            fail("the range of stdout_every is not in the output");
        else
            for (size_t i = from; i <= to; i++)
                if (!whole_match(v[i], pat, bad_pattern)) {
                    fail("line " + std::to_string(i + 1) + " [" + v[i] + "] does not match [" +
                         pat + "]");
                    break;
                }
    }
    if (bad_pattern)
        fail("a pattern is not a regular expression");
    if (!ok)
        std::printf("  --- whole %s ---\n%s  --- end ---\n", stream.c_str(), got.c_str());
    return ok;
}

// The healthy output with the fault case's edits applied.
std::string apply_edits(const std::string &healthy, const YAML::Node &edits, bool &bad) {
    auto v = split_lines(healthy);
    std::vector<bool> drop(v.size(), false);
    for (const auto &e : edits) {
        if (e["drop"]) {
            for (size_t i = 0; i < v.size(); i++)
                if (whole_match(v[i], e["drop"].as<std::string>(), bad))
                    drop[i] = true;
            continue;
        }
        if (!e["drop_from"] || (!e["to"] && !e["count"])) {
            bad = true;
            continue;
        }
        size_t i = 0;
        while (i < v.size() && !whole_match(v[i], e["drop_from"].as<std::string>(), bad))
            i++;
        if (i == v.size()) {
            bad = true; // an edit that drops nothing is a stale case
            continue;
        }
        // N lines, or through the next line matching `to`.
        const bool counted = bool(e["count"]);
        for (size_t k = 0; i < v.size() && (!counted || k < e["count"].as<size_t>()); i++, k++) {
            drop[i] = true;
            if (!counted && whole_match(v[i], e["to"].as<std::string>(), bad))
                break;
        }
    }
    std::string out;
    for (size_t i = 0; i < v.size(); i++)
        if (!drop[i])
            out += v[i] + "\n";
    // A page whose last line has no line break (the redundancy state) keeps
    // it so when that line is kept.
    if (!healthy.empty() && healthy.back() != '\n' && !v.empty() && !drop.back())
        out.pop_back();
    return out;
}

// The lab runs a shell that runs each `before` command, then the case's own
// (argv's tail after "--"), one after the other.
template <typename Tmp>
std::vector<std::string> with_commands_before(std::vector<std::string> argv,
                                              const YAML::Node &before, const std::string &bin,
                                              const std::string &program, Tmp tmp) {
    auto dash = std::find(argv.begin(), argv.end(), "--");
    if (dash == argv.end()) // no lab (no_lab): nothing to run before
        return argv;
    std::string script;
    for (const auto &step : before) {
        YAML::Node args = step.IsMap() ? step["args"] : step;
        std::string run = step.IsMap() ? step["program"].as<std::string>() : program;
        script += shell_quoted(bin + "/" + run);
        for (const auto &a : args)
            script += " " + shell_quoted(tmp(a.as<std::string>()));
        script += "; ";
    }
    script += "exec";
    for (auto it = dash + 1; it != argv.end(); ++it)
        script += " " + shell_quoted(*it);
    argv.erase(dash + 1, argv.end());
    argv.insert(argv.end(), {"/bin/sh", "-c", script});
    return argv;
}

// The keys a case may hold: one misspelt would otherwise check nothing.
bool known_key(const std::string &key) {
    static const std::string keys =
        " name args env status stdout stdout_file stderr stderr_contains syslog_contains requests "
        "requests_per_agent kernel_changes program files symlinks expect_files expect_files_match "
        "no_lab healthy_except before ";
    if (key.find(' ') == std::string::npos && keys.find(" " + key + " ") != std::string::npos)
        return true;
    for (const char *stream : {"stdout", "stderr"})
        for (const char *check : {"_lines", "_line_count", "_has", "_lacks", "_match", "_every"})
            if (key == std::string(stream) + check)
                return true;
    return false;
}

// The scenario with every `fault:` key of every rule and monitor removed.
YAML::Node without_faults(YAML::Node n) {
    if (n.IsMap()) {
        YAML::Node out(YAML::NodeType::Map);
        for (const auto &kv : n)
            if (kv.first.as<std::string>() != "fault")
                out[kv.first] = without_faults(kv.second);
        return out;
    }
    if (n.IsSequence()) {
        YAML::Node out(YAML::NodeType::Sequence);
        for (const auto &e : n)
            out.push_back(without_faults(e));
        return out;
    }
    return n;
}

// Makes a scenario's relative include paths absolute, taken from DIR.
void absolute_includes(YAML::Node scenario, const std::string &dir) {
    YAML::Node inc = scenario["include"];
    if (!inc)
        return;
    auto absolute = [&](const std::string &p) {
        return p.empty() || p[0] == '/' ? p : dir + "/" + p;
    };
    if (inc.IsScalar()) {
        scenario["include"] = absolute(inc.as<std::string>());
        return;
    }
    YAML::Node out(YAML::NodeType::Sequence);
    for (const auto &p : inc)
        out.push_back(absolute(p.as<std::string>()));
    scenario["include"] = out;
}

// Cases that write or read files at fixed absolute paths (the FIPS
// command's /tmp/input and /tmp/result) hold a lock of the machine until the
// runner ends, so two runners on one machine (two build trees, two
// worktrees) never share those files; within one ctest run a RESOURCE_LOCK
// does the same.
void lock_fixed_paths(const YAML::Node &doc) {
    for (const auto &c : doc["cases"])
        for (const char *key : {"files", "symlinks", "expect_files", "expect_files_match"})
            if (c.IsMap() && c[key] && c[key].IsMap())
                for (const auto &kv : c[key])
                    if (kv.first.Scalar().rfind("/", 0) == 0) {
                        static const int fd =
                            ::open("/tmp/vorel-e2e-fixed-paths.lock", O_RDWR | O_CREAT, 0666);
                        if (fd >= 0)
                            ::flock(fd, LOCK_EX);
                        return;
                    }
}

struct Runner {
    std::string bin;
    vorel::testing::XmlSchemas schemas; // every XML output is checked against its family's
    int failed = 0, passed = 0;

    std::string program_path;
    // The file's healthy router (written on first use) and its outputs.
    YAML::Node healthy_source;
    std::string healthy_dir, healthy_path;
    std::map<std::string, std::string> healthy_out;

    std::string healthy_output(const std::vector<std::string> &args,
                               const std::vector<std::pair<std::string, std::string>> &env) {
        std::string key;
        for (const auto &a : args)
            key += a + '\0';
        for (const auto &[k, v] : env)
            key += k + '=' + v + '\0';
        auto it = healthy_out.find(key);
        if (it != healthy_out.end())
            return it->second;
        if (healthy_path.empty())
            healthy_path = written_yaml(healthy_source);
        std::vector<std::string> argv{bin + "/vorel-lab", "exec", healthy_path, "--",
                                      bin + "/vorel"};
        argv.insert(argv.end(), args.begin(), args.end());
        return healthy_out[key] = run(argv, env, healthy_dir).out;
    }

    // "@PROGRAM@" in an expected text stands for the program's path as run
    // (argv[0] of the command, which some messages echo).
    void check(const std::string &what, const std::string &want_raw, const std::string &got,
               bool &ok) {
        std::string want = replaced(want_raw, "@PROGRAM@", program_path);
        if (want == got)
            return;
        ok = false;
        std::printf("  %s differs\n%s", what.c_str(), difference(want, got).c_str());
    }

    void run_case(const std::string &file, const std::string &scenario, const YAML::Node &c,
                  int n) {
        std::string name = c["name"] ? c["name"].as<std::string>() : "case " + std::to_string(n);
        std::string program = c["program"] ? c["program"].as<std::string>() : "vorel";
        char logs[] = "/tmp/vorel-e2e-XXXXXX";
        if (!mkdtemp(logs)) {
            std::printf("FAIL %s: mkdtemp\n", name.c_str());
            failed++;
            return;
        }
        std::string reqlog = std::string(logs) + "/requests", klog = std::string(logs) + "/kernel";
        auto tmp = [&](const std::string &t) { return replaced(t, "@TMP@", logs); };
        auto in_dir = [&](const std::string &path) {
            std::string t = tmp(path);
            return t[0] == '/' ? t : dir_of(file) + "/" + t;
        };
        std::vector<std::string> made;
        for (const auto &kv : c["files"]) {
            std::string path = in_dir(kv.first.as<std::string>());
            std::ofstream(path, std::ios::binary) << kv.second.as<std::string>();
            made.push_back(path);
        }
        for (const auto &kv : c["symlinks"]) {
            std::string path = in_dir(kv.first.as<std::string>());
            unlink(path.c_str());
            if (symlink(in_dir(kv.second.as<std::string>()).c_str(), path.c_str()) != 0)
                std::printf("  cannot make the link %s\n", path.c_str());
            made.push_back(path);
        }
        for (const char *key : {"expect_files", "expect_files_match"})
            for (const auto &kv : c[key])
                made.push_back(in_dir(kv.first.as<std::string>()));
        std::vector<std::string> argv{
            bin + "/vorel-lab", "exec", scenario, "--request-log",    reqlog,
            "--kernel-log",     klog,   "--",     bin + "/" + program};
        program_path = bin + "/" + program;
        std::vector<std::string> args;
        for (const auto &a : c["args"])
            args.push_back(tmp(a.as<std::string>()));
        std::vector<std::pair<std::string, std::string>> env{
            {"VOREL_LOG_FILE", std::string(logs) + "/syslog"}};
        if (c["no_lab"] && c["no_lab"].as<bool>()) {
            argv.erase(argv.begin(), argv.end() - 1);
            env.emplace_back("VOREL_LAB_SOCKET", std::string(logs) + "/no-lab.sock");
        }
        argv.insert(argv.end(), args.begin(), args.end());
        if (c["before"])
            argv = with_commands_before(argv, c["before"], bin, program, tmp);
        for (const auto &kv : c["env"])
            env.emplace_back(kv.first.as<std::string>(), kv.second.as<std::string>());
        Result r = run(argv, env, dir_of(file));
        bool ok = true;
        auto fail = [&](const std::string &why) {
            ok = false;
            std::printf("  %s\n", why.c_str());
        };
        for (const auto &kv : c)
            if (!known_key(kv.first.as<std::string>()))
                fail("unknown case key '" + kv.first.as<std::string>() + "'");
        ok = check_lines("stdout", c, r.out) && ok;
        ok = check_lines("stderr", c, r.err) && ok;
        if (c["healthy_except"]) {
            bool bad = false;
            std::string want = apply_edits(healthy_output(args, env), c["healthy_except"], bad);
            if (bad)
                fail("an edit of healthy_except is malformed or drops nothing");
            check("standard output (against the healthy router)", want, r.out, ok);
        }
        int want_status = c["status"] ? c["status"].as<int>() : 0;
        if (r.status != want_status)
            fail("exit status " + std::to_string(r.status) + ", want " +
                 std::to_string(want_status));
        if (c["stdout"])
            check("standard output", tmp(c["stdout"].as<std::string>()), r.out, ok);
        if (c["stdout_file"])
            check("standard output",
                  read_file(dir_of(file) + "/" + c["stdout_file"].as<std::string>()), r.out, ok);
        if (c["stderr"])
            check("standard error", tmp(c["stderr"].as<std::string>()), r.err, ok);
        auto holds = [&](const char *key, const std::string &what, const std::string &text) {
            if (c[key] && text.find(c[key].as<std::string>()) == std::string::npos)
                fail(what + " lacks [" + c[key].as<std::string>() + "]; it is:\n" + text);
        };
        holds("stderr_contains", "standard error", r.err);
        holds("syslog_contains", "system log", read_file(std::string(logs) + "/syslog"));
        if (c["requests"]) {
            std::string want = c["requests"].as<std::string>(), got = read_file(reqlog);
            // Requests that no answer is awaited for reach different agents
            // in an order the program does not decide: compared agent by agent.
            if (c["requests_per_agent"] && c["requests_per_agent"].as<bool>()) {
                want = by_agent(want);
                got = by_agent(got);
            }
            check("request log", want, got, ok);
        }
        if (c["kernel_changes"])
            check("kernel change log", c["kernel_changes"].as<std::string>(), read_file(klog), ok);
        for (const auto &kv : c["expect_files"]) {
            std::string path = in_dir(kv.first.as<std::string>());
            if (access(path.c_str(), F_OK) != 0)
                fail(path + " was not written");
            else
                check(path, tmp(kv.second.as<std::string>()), read_file(path), ok);
        }
        for (const auto &kv : c["expect_files_match"]) {
            std::string path = in_dir(kv.first.as<std::string>()), text = read_file(path);
            bool bad = false;
            if (!whole_file_match(text, tmp(kv.second.as<std::string>()), bad))
                fail(path + " does not match the pattern" +
                     (bad ? " (not a regular expression)" : "") + "; it is:\n" + text);
        }
        if (program == "vorel" && !c["before"] && vorel::testing::looks_like_xml(r.out)) {
            std::string why, command = vorel::testing::XmlSchemas::command_of(args),
                             subcommand = vorel::testing::XmlSchemas::subcommand_of(args);
            if (!schemas.validate(command, subcommand, r.out, why))
                fail("output does not match the schema of -C " + command + " -S " + subcommand +
                     ":\n" + why);
        }
        for (const auto &path : made)
            unlink(path.c_str());
        if (!ok && !r.err.empty() && !c["stderr"])
            std::printf("  (standard error: %s)\n", r.err.c_str());
        std::printf("%s %s\n", ok ? "ok  " : "FAIL", name.c_str());
        (ok ? passed : failed)++;
        std::filesystem::remove_all(logs);
    }

    void run_file(const std::string &file) {
        YAML::Node doc;
        try {
            doc = YAML::LoadFile(file);
        } catch (const YAML::Exception &e) {
            std::printf("FAIL %s: %s\n", file.c_str(), e.what());
            failed++;
            return;
        }
        lock_fixed_paths(doc);
        std::string scenario, tmp;
        char *real = realpath(file.c_str(), nullptr);
        std::string case_file = real ? real : file;
        free(real);
        if (doc["scenario"].IsScalar()) {
            scenario = doc["scenario"].as<std::string>();
            if (scenario[0] != '/')
                scenario = dir_of(case_file) + "/" + scenario;
        } else if ((scenario = tmp = written_yaml(doc["scenario"])).empty()) {
            std::printf("FAIL %s: cannot write the scenario\n", file.c_str());
            failed++;
            return;
        }
        healthy_out.clear();
        healthy_path.clear();
        healthy_dir = dir_of(case_file);
        // The healthy router is written to a file of its own elsewhere, so its
        // includes are made absolute (they are relative to the file naming them).
        const YAML::Node s = doc["scenario"];
        healthy_source = without_faults(s.IsScalar() ? YAML::LoadFile(scenario) : s);
        absolute_includes(healthy_source, s.IsScalar() ? dir_of(scenario) : healthy_dir);
        int n = 0;
        for (const auto &c : doc["cases"]) {
            try {
                run_case(file, scenario, c, ++n);
            } catch (const YAML::Exception &e) {
                std::printf("FAIL %s case %d: %s\n", file.c_str(), n, e.what());
                failed++;
            }
        }
        if (!tmp.empty())
            unlink(tmp.c_str());
        if (!healthy_path.empty())
            unlink(healthy_path.c_str());
    }
};

} // namespace

int main(int argc, char **argv) {
    Runner r;
    std::vector<std::string> files;
    std::string schema_dir;
    bool expect_failures = false;
    for (int i = 1; i < argc; i++) {
        if (std::strcmp(argv[i], "--bin") == 0 && i + 1 < argc)
            r.bin = argv[++i];
        else if (std::strcmp(argv[i], "--schemas") == 0 && i + 1 < argc)
            schema_dir = argv[++i];
        else if (std::strcmp(argv[i], "--expect-failures") == 0)
            expect_failures = true;
        else
            files.push_back(argv[i]);
    }
    if (r.bin.empty() || schema_dir.empty() || files.empty()) {
        std::fprintf(stderr,
                     "usage: e2e_runner --bin DIR --schemas DIR [--expect-failures] CASEFILE...\n");
        return 2;
    }
    std::string why;
    if (!r.schemas.load(schema_dir, why)) {
        std::fprintf(stderr, "e2e_runner: %s\n", why.c_str());
        return 2;
    }
    for (const auto &f : files)
        r.run_file(f);
    std::printf("%d passed, %d failed; XML outputs: %d validated\n", r.passed, r.failed,
                r.schemas.validated());
    if (expect_failures) {
        if (r.passed)
            std::printf("%d case(s) passed that must fail\n", r.passed);
        return r.passed == 0 && r.failed > 0 ? 0 : 1;
    }
    return r.failed ? 1 : 0;
}
