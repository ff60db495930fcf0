// The external programs vorel runs, and running them without a shell.
#pragma once

#include <cstddef>
#include <string>
#include <sys/types.h>
#include <vector>

namespace vorel {

// The sibling command that runs a command on a PIC: $VOREL_MVOREL, else
// "mvorel" in the directory of the running program.
std::string mvorel_path();
// The system's packet printer: $VOREL_TCPDUMP, else /usr/sbin/tcpdump or
// /usr/bin/tcpdump, whichever the system has.
std::string tcpdump_path();

struct ProgramResult {
    int status = -1;        // exit status; 128 + signal number when killed
    std::string output;     // standard output, at most the bound asked for
    bool truncated = false; // the program wrote more than the bound
};

// Runs argv[0] (a path, not searched for) with the arguments argv, its
// standard input from /dev/null, its standard output captured (what passes
// max_output bytes is read and dropped, so the program finishes normally),
// its standard error shared with ours.  Waits for it to end.  false with
// errno when it could not be started (an exec failure included).
bool run_program(const std::vector<std::string> &argv, size_t max_output, ProgramResult &out);

// Starts argv[0] with a pipe to its standard input; its output is shared
// with ours, and so is its standard error unless error_fd is given (it then
// receives the reading end of a pipe from the program's standard error).
// The pid, or -1 with errno; input_fd receives the writing end (close it to
// signal the end of input, then wait_program).  A write after the program
// has ended raises SIGPIPE unless the caller ignores it.
pid_t start_program_with_input(const std::vector<std::string> &argv, int &input_fd,
                               int *error_fd = nullptr);

// Waits for the program to end: its exit status, 128 + signal number when
// it was killed, or -1 with errno.
int wait_program(pid_t pid);

} // namespace vorel
