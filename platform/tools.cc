#include "platform/tools.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <limits.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vorel {

namespace {

std::string env_or(const char *name, const std::string &dflt) {
    const char *v = std::getenv(name);
    return v && *v ? v : dflt;
}

std::string own_directory() {
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return ".";
    std::string path(buf, static_cast<size_t>(n));
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// Makes fd the child's descriptor `target`.  Our descriptors carry
// close-on-exec; the duplicate must not.
bool place_fd(int fd, int target) {
    if (fd == target)
        return ::fcntl(fd, F_SETFD, 0) == 0;
    return ::dup2(fd, target) == target;
}

// Forks and runs argv[0] with child_in as its standard input (-1: /dev/null)
// and child_out as its standard output (-1: ours).  An exec failure is
// reported back through a close-on-exec pipe, so the caller learns it as
// an errno instead of as an exit status.
pid_t spawn(const std::vector<std::string> &argv, int child_in, int child_out, int child_err = -1) {
    if (argv.empty() || argv[0].empty()) {
        errno = EINVAL;
        return -1;
    }
    std::vector<char *> args;
    for (const auto &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    int report[2];
    if (::pipe2(report, O_CLOEXEC) < 0)
        return -1;
    // What we have written so far goes out before anything the child writes
    // to the same standard output.
    std::fflush(stdout);
    pid_t pid = ::fork();
    if (pid < 0) {
        int e = errno;
        ::close(report[0]);
        ::close(report[1]);
        errno = e;
        return -1;
    }
    if (pid == 0) {
        // Only async-signal-safe calls from here to exec.
        ::close(report[0]);
        int in = child_in >= 0 ? child_in : ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        bool ok = in >= 0 && place_fd(in, 0) && (child_out < 0 || place_fd(child_out, 1)) &&
                  (child_err < 0 || place_fd(child_err, 2));
        if (ok)
            ::execv(args[0], args.data());
        int e = errno;
        ssize_t w = ::write(report[1], &e, sizeof e);
        (void)w;
        ::_exit(127);
    }
    ::close(report[1]);
    int child_errno = 0;
    ssize_t n;
    do {
        n = ::read(report[0], &child_errno, sizeof child_errno);
    } while (n < 0 && errno == EINTR);
    ::close(report[0]);
    if (n > 0) {
        wait_program(pid);
        errno = child_errno ? child_errno : ENOEXEC;
        return -1;
    }
    return pid;
}

} // namespace

std::string mvorel_path() {
    return env_or("VOREL_MVOREL", own_directory() + "/mvorel");
}

std::string tcpdump_path() {
    if (const char *v = std::getenv("VOREL_TCPDUMP"); v && *v)
        return v;
    // Where the system keeps it: some install it with the system's
    // programs, Debian with the users'.
    for (const char *path : {"/usr/sbin/tcpdump", "/usr/bin/tcpdump"})
        if (::access(path, X_OK) == 0)
            return path;
    return "/usr/sbin/tcpdump";
}

int wait_program(pid_t pid) {
    int status = 0;
    pid_t r;
    do {
        r = ::waitpid(pid, &status, 0);
    } while (r < 0 && errno == EINTR);
    if (r < 0)
        return -1;
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}

bool run_program(const std::vector<std::string> &argv, size_t max_output, ProgramResult &out) {
    out = ProgramResult{};
    int p[2];
    if (::pipe2(p, O_CLOEXEC) < 0)
        return false;
    pid_t pid = spawn(argv, -1, p[1]);
    int e = errno;
    ::close(p[1]);
    if (pid < 0) {
        ::close(p[0]);
        errno = e;
        return false;
    }
    char buf[4096];
    for (;;) {
        ssize_t n = ::read(p[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        size_t room = max_output - out.output.size();
        size_t take = static_cast<size_t>(n) < room ? static_cast<size_t>(n) : room;
        out.output.append(buf, take);
        if (take < static_cast<size_t>(n))
            out.truncated = true;
    }
    ::close(p[0]);
    out.status = wait_program(pid);
    return true;
}

pid_t start_program_with_input(const std::vector<std::string> &argv, int &input_fd, int *error_fd) {
    input_fd = -1;
    if (error_fd)
        *error_fd = -1;
    int p[2], e2[2] = {-1, -1};
    if (::pipe2(p, O_CLOEXEC) < 0)
        return -1;
    if (error_fd && ::pipe2(e2, O_CLOEXEC) < 0) {
        int e = errno;
        ::close(p[0]);
        ::close(p[1]);
        errno = e;
        return -1;
    }
    pid_t pid = spawn(argv, p[0], -1, e2[1]);
    int e = errno;
    ::close(p[0]);
    if (e2[1] >= 0)
        ::close(e2[1]);
    if (pid < 0) {
        ::close(p[1]);
        if (e2[0] >= 0)
            ::close(e2[0]);
        errno = e;
        return -1;
    }
    input_fd = p[1];
    if (error_fd)
        *error_fd = e2[0];
    return pid;
}

} // namespace vorel
