// Running a shell command line from a test and reading what it printed.
#pragma once

#include <array>
#include <cstdio>
#include <string>
#include <sys/wait.h>

namespace vorel::testing {

struct ShellOutput {
    int status = -1; // exit status, -1 when it did not exit normally
    std::string text;
};

// Runs line with /bin/sh, standard output and error collected together in
// the order they were written.
inline ShellOutput run_shell(const std::string &line) {
    ShellOutput o;
    FILE *p = popen((line + " 2>&1").c_str(), "r");
    if (!p)
        return o;
    std::array<char, 4096> buf;
    size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0)
        o.text.append(buf.data(), n);
    int st = pclose(p);
    o.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return o;
}

// s as one word of a shell command line.
inline std::string shell_quoted(const std::string &s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

} // namespace vorel::testing
