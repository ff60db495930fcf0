// vorel-lab: runs an emulated router from a scenario file.
//
//   vorel-lab check SCENARIO                 validate the file, report every fault
//   vorel-lab run SCENARIO [options]         serve in the foreground until interrupted
//   vorel-lab start SCENARIO [options]       serve in the background (state in --dir)
//   vorel-lab stop [--dir DIR]               stop a background lab
//   vorel-lab env [--dir DIR]                print the environment that points at it
//   vorel-lab log [--dir DIR]                print the requests its agents received
//   vorel-lab reset [--dir DIR]              put the agents' tables back as loaded
//   vorel-lab exec SCENARIO [options] -- COMMAND [ARG...]
//                                            start, run COMMAND against the lab, stop,
//                                            exit with COMMAND's status
//   vorel-lab draw SCENARIO                  a Graphviz picture of the router
#include "lab/draw.h"
#include "lab/lab.h"
#include "platform/bytes.h"
#include "platform/lab_link.h"
#include "platform/sockio.h"
#include "platform/tools.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <spawn.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace vorel;

namespace {

const char *kUsage =
    "usage: vorel-lab check SCENARIO\n"
    "       vorel-lab run SCENARIO [--net N] [--socket PATH] [--request-log FILE] [-v]\n"
    "       vorel-lab start SCENARIO [--dir DIR] [--net N]\n"
    "       vorel-lab stop [--dir DIR]\n"
    "       vorel-lab env [--dir DIR]\n"
    "       vorel-lab log [--dir DIR]\n"
    "       vorel-lab reset [--dir DIR | --socket PATH]\n"
    "       vorel-lab exec SCENARIO [--net N] [--request-log FILE] [--kernel-log FILE]\n"
    "                  -- COMMAND [ARG...]\n"
    "       vorel-lab draw SCENARIO\n"
    "The state of a background lab lives in --dir (default $VOREL_LAB_DIR or /tmp/vorel-lab).\n";

struct Options {
    std::string command;
    std::string scenario;
    std::string dir;
    bool dir_given = false; // --dir or $VOREL_LAB_DIR
    std::string socket;
    std::string request_log;
    std::string kernel_log;
    unsigned net = 0;
    bool verbose = false;
    std::vector<std::string> exec_argv;
};

[[noreturn]] void usage_error(const std::string &what) {
    if (!what.empty())
        std::fprintf(stderr, "vorel-lab: %s\n", what.c_str());
    std::fputs(kUsage, stderr);
    std::exit(2);
}

bool parse_options(int argc, char **argv, Options &o) {
    if (argc < 2)
        usage_error("");
    o.command = argv[1];
    const char *env_dir = std::getenv("VOREL_LAB_DIR");
    o.dir = env_dir && *env_dir ? env_dir : "/tmp/vorel-lab";
    o.dir_given = env_dir && *env_dir;
    for (int i = 2; i < argc; i++) {
        std::string a = argv[i];
        auto value = [&](const char *name) -> std::string {
            if (i + 1 >= argc)
                usage_error(std::string(name) + " needs a value");
            return argv[++i];
        };
        if (a == "--") {
            for (int j = i + 1; j < argc; j++)
                o.exec_argv.push_back(argv[j]);
            break;
        } else if (a == "--dir") {
            o.dir = value("--dir");
            o.dir_given = true;
        } else if (a == "--socket") {
            o.socket = value("--socket");
        } else if (a == "--request-log") {
            o.request_log = value("--request-log");
        } else if (a == "--kernel-log") {
            o.kernel_log = value("--kernel-log");
        } else if (a == "--net") {
            std::string v = value("--net");
            char *end = nullptr;
            unsigned long n = std::strtoul(v.c_str(), &end, 10);
            if (*end || n < 1 || n > 254)
                usage_error("--net takes a number from 1 to 254");
            o.net = static_cast<unsigned>(n);
        } else if (a == "-v" || a == "--verbose") {
            o.verbose = true;
        } else if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (!a.empty() && a[0] == '-') {
            usage_error("unknown option " + a);
        } else if (o.scenario.empty()) {
            o.scenario = a;
        } else {
            usage_error("unexpected argument " + a);
        }
    }
    return true;
}

bool load_lab(lab::Lab &l, const std::string &file) {
    std::vector<std::string> errors;
    if (l.load(file, errors))
        return true;
    for (const auto &e : errors)
        std::fprintf(stderr, "vorel-lab: %s\n", e.c_str());
    std::fprintf(stderr, "vorel-lab: %s: %zu fault%s, not started\n", file.c_str(), errors.size(),
                 errors.size() == 1 ? "" : "s");
    return false;
}

std::string env_text(const std::string &socket, unsigned net) {
    return "VOREL_LAB_SOCKET=" + socket + "\nVOREL_LAB_NET=" + std::to_string(net) + "\n";
}

std::vector<std::string> lines_of(const std::string &text) {
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        lines.push_back(text.substr(pos, nl - pos));
        pos = nl == std::string::npos ? text.size() : nl + 1;
    }
    return lines;
}

bool write_file(const std::string &path, const std::string &text) {
    std::ofstream f(path, std::ios::trunc);
    f << text;
    return static_cast<bool>(f);
}

std::string read_file(const std::string &path) {
    std::ifstream f(path);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

volatile sig_atomic_t g_signalled = 0;
lab::Lab *g_lab = nullptr;

// Stops the foreground lab on SIGINT/SIGTERM from a thread of its own, so
// that the handler does no more than set a flag.
void watch_signals() {
    std::thread([] {
        while (!g_signalled)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (g_lab)
            g_lab->stop();
    }).detach();
}

void on_signal(int) {
    g_signalled = 1;
}

void save_logs(lab::Lab &l, const Options &o) {
    if (!o.request_log.empty() && !write_file(o.request_log, l.runtime().request_log.text()))
        std::fprintf(stderr, "vorel-lab: cannot write %s\n", o.request_log.c_str());
    if (!o.kernel_log.empty() && !write_file(o.kernel_log, l.runtime().kernel_changes.text()))
        std::fprintf(stderr, "vorel-lab: cannot write %s\n", o.kernel_log.c_str());
}

int cmd_check(const Options &o) {
    if (o.scenario.empty())
        usage_error("check needs a scenario file");
    lab::Lab l;
    if (!load_lab(l, o.scenario))
        return 1;
    std::printf("%s: ok\n", o.scenario.c_str());
    return 0;
}

int cmd_run(const Options &o) {
    if (o.scenario.empty())
        usage_error("run needs a scenario file");
    lab::Lab l;
    l.runtime().verbose = o.verbose;
    if (!load_lab(l, o.scenario))
        return 1;
    std::string socket = o.socket.empty() ? lab_link::control_socket_path() : o.socket;
    std::string err;
    if (!l.start(o.net, socket, err)) {
        std::fprintf(stderr, "vorel-lab: %s\n", err.c_str());
        return 1;
    }
    g_lab = &l;
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
    watch_signals();
    std::printf("vorel-lab: %s ready\n%s", o.scenario.c_str(), env_text(socket, l.net()).c_str());
    std::fflush(stdout);
    l.wait();
    l.stop();
    save_logs(l, o);
    return 0;
}

// Asks a lab for something through its control socket.
bool lab_call(const std::string &socket, uint16_t op, lab_link::Answer &a) {
    lab_link::ControlClient c;
    return c.connect(socket) && c.call(lab_link::kLab, op, {}, a) && a.status == 0;
}

std::string lab_text(const lab_link::Answer &a) {
    ByteCursor c{ByteReader(a.body)};
    uint32_t n = c.be32();
    ByteReader t = c.bytes(n);
    return std::string(reinterpret_cast<const char *>(t.data()), t.size());
}

bool wait_ready(const std::string &socket, pid_t child, int seconds) {
    for (int i = 0; i < seconds * 20; i++) {
        lab_link::Answer a;
        if (lab_call(socket, lab_link::kPing, a))
            return true;
        if (child > 0 && waitpid(child, nullptr, WNOHANG) == child)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

int cmd_start(const Options &o) {
    if (o.scenario.empty())
        usage_error("start needs a scenario file");
    mkdir(o.dir.c_str(), 0755);
    std::string socket = o.dir + "/control.sock";
    lab_link::Answer a;
    if (lab_call(socket, lab_link::kPing, a)) {
        std::fprintf(stderr, "vorel-lab: a lab already runs in %s (vorel-lab stop --dir %s)\n",
                     o.dir.c_str(), o.dir.c_str());
        return 1;
    }
    // The child serves this lab until it ends with _exit; the parent only
    // loaded it to report faults, and frees it when it returns.
    auto l = std::make_unique<lab::Lab>();
    if (!load_lab(*l, o.scenario))
        return 1;
    std::string logfile = o.dir + "/lab.log";
    pid_t pid = fork();
    if (pid < 0) {
        std::perror("vorel-lab: fork");
        return 1;
    }
    if (pid == 0) {
        setsid();
        int fd = open(logfile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        int devnull = open("/dev/null", O_RDONLY);
        if (devnull >= 0)
            dup2(devnull, 0);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
        }
        std::string err;
        if (!l->start(o.net, socket, err)) {
            std::fprintf(stderr, "vorel-lab: %s\n", err.c_str());
            _exit(1);
        }
        g_lab = l.get();
        std::signal(SIGINT, on_signal);
        std::signal(SIGTERM, on_signal);
        watch_signals();
        write_file(o.dir + "/env", env_text(socket, l->net()));
        write_file(o.dir + "/pid", std::to_string(getpid()) + "\n");
        std::printf("vorel-lab: %s ready\n", o.scenario.c_str());
        std::fflush(stdout);
        l->wait();
        l->stop();
        _exit(0);
    }
    if (!wait_ready(socket, pid, 10)) {
        std::fprintf(stderr, "vorel-lab: the lab did not start:\n%s", read_file(logfile).c_str());
        kill(pid, SIGTERM);
        return 1;
    }
    // The env file is written just after the socket answers.
    for (int i = 0; i < 100 && read_file(o.dir + "/env").empty(); i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::fputs(read_file(o.dir + "/env").c_str(), stdout);
    return 0;
}

int cmd_stop(const Options &o) {
    std::string socket = o.dir + "/control.sock";
    lab_link::Answer a;
    if (!lab_call(socket, lab_link::kStop, a)) {
        std::fprintf(stderr, "vorel-lab: no lab runs in %s\n", o.dir.c_str());
        return 1;
    }
    pid_t pid = static_cast<pid_t>(std::atol(read_file(o.dir + "/pid").c_str()));
    for (int i = 0; pid > 0 && i < 200 && kill(pid, 0) == 0; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    unlink((o.dir + "/env").c_str());
    unlink((o.dir + "/pid").c_str());
    return 0;
}

int cmd_env(const Options &o) {
    std::string env = read_file(o.dir + "/env");
    lab_link::Answer a;
    if (env.empty() || !lab_call(o.dir + "/control.sock", lab_link::kPing, a)) {
        std::fprintf(stderr, "vorel-lab: no lab runs in %s\n", o.dir.c_str());
        return 1;
    }
    for (const auto &line : lines_of(env))
        std::printf("export %s\n", line.c_str());
    return 0;
}

int cmd_log(const Options &o) {
    lab_link::Answer a;
    if (!lab_call(o.dir + "/control.sock", lab_link::kRequestLog, a)) {
        std::fprintf(stderr, "vorel-lab: no lab runs in %s\n", o.dir.c_str());
        return 1;
    }
    std::fputs(lab_text(a).c_str(), stdout);
    return 0;
}

// The lab's state (what clears removed from the agents' tables) back as
// the scenario loaded it.
// The lab is the one --socket or --dir names, else the one the environment
// points at (vorel-lab env, or a command that vorel-lab exec runs).
int cmd_reset(const Options &o) {
    const char *env_socket = std::getenv("VOREL_LAB_SOCKET");
    std::string socket = !o.socket.empty()                           ? o.socket
                         : !o.dir_given && env_socket && *env_socket ? env_socket
                                                                     : o.dir + "/control.sock";
    lab_link::Answer a;
    if (!lab_call(socket, lab_link::kReset, a)) {
        std::fprintf(stderr, "vorel-lab: no lab answers on %s\n", socket.c_str());
        return 1;
    }
    return 0;
}

int cmd_draw(const Options &o) {
    if (o.scenario.empty())
        usage_error("draw needs a scenario file");
    lab::Lab l;
    if (!load_lab(l, o.scenario))
        return 1;
    std::fputs(lab::draw_router(l.documents(), l.runtime().name).c_str(), stdout);
    return 0;
}

// Our environment with the lab's variables in place of any of the same
// names.
std::vector<std::string> command_environment(const std::string &lab_env_text) {
    std::vector<std::string> lab_vars = lines_of(lab_env_text);
    auto name_of = [](std::string_view entry) { return entry.substr(0, entry.find('=') + 1); };
    auto set_by_lab = [&](std::string_view entry) {
        return std::any_of(lab_vars.begin(), lab_vars.end(),
                           [&](const std::string &v) { return name_of(v) == name_of(entry); });
    };
    std::vector<std::string> env;
    for (char **e = environ; *e; e++)
        if (!set_by_lab(*e))
            env.emplace_back(*e);
    env.insert(env.end(), lab_vars.begin(), lab_vars.end());
    return env;
}

// Runs argv[0] (searched for in PATH) with the environment env and waits
// for it: its exit status, 128 + the signal that ended it, or 127 when it
// could not be started.  The lab's threads run meanwhile, so the command
// is started with posix_spawn: a forked child of a threaded process may do
// no more than exec (it could hang on a lock another thread held at the
// fork).
int run_command(const std::vector<std::string> &argv, const std::vector<std::string> &env) {
    std::vector<char *> args, envp;
    for (const auto &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    for (const auto &e : env)
        envp.push_back(const_cast<char *>(e.c_str()));
    envp.push_back(nullptr);
    pid_t pid;
    if (int e = posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), envp.data())) {
        std::fprintf(stderr, "vorel-lab: cannot run %s: %s\n", args[0], std::strerror(e));
        return 127;
    }
    int status = wait_program(pid);
    return status < 0 ? 127 : status;
}

int cmd_exec(const Options &o) {
    if (o.scenario.empty() || o.exec_argv.empty())
        usage_error("exec needs a scenario file and, after --, a command");
    lab::Lab l;
    l.runtime().verbose = o.verbose;
    if (!load_lab(l, o.scenario))
        return 1;
    char dir_template[] = "/tmp/vorel-lab.XXXXXX";
    if (!mkdtemp(dir_template)) {
        std::perror("vorel-lab: mkdtemp");
        return 1;
    }
    std::string dir = dir_template;
    std::string socket = dir + "/control.sock";
    std::string err;
    if (!l.start(o.net, socket, err)) {
        std::fprintf(stderr, "vorel-lab: %s\n", err.c_str());
        rmdir(dir.c_str());
        return 1;
    }
    std::fflush(stdout);
    int status = run_command(o.exec_argv, command_environment(env_text(socket, l.net())));
    l.stop();
    save_logs(l, o);
    rmdir(dir.c_str());
    return status;
}

} // namespace

int main(int argc, char **argv) {
    std::signal(SIGPIPE, SIG_IGN);
    Options o;
    parse_options(argc, argv, o);
    if (o.command == "check")
        return cmd_check(o);
    if (o.command == "run")
        return cmd_run(o);
    if (o.command == "start")
        return cmd_start(o);
    if (o.command == "stop")
        return cmd_stop(o);
    if (o.command == "env")
        return cmd_env(o);
    if (o.command == "log")
        return cmd_log(o);
    if (o.command == "reset")
        return cmd_reset(o);
    if (o.command == "exec")
        return cmd_exec(o);
    if (o.command == "draw")
        return cmd_draw(o);
    if (o.command == "-h" || o.command == "--help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    usage_error("unknown command " + o.command);
}
