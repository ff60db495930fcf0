// The fuzz target of a command family: the family's real handler runs end
// to end over a small snapshot, its replies cut from the fuzz input.
//
// Input: byte 0 chooses the mode (bit 0 XML, bit 1 debug traces, bit 2
// more command-line words, bit 3 kernel answers, bits 4-7 which package
// checks find the package missing: fakes.h), byte 1 one of the family's
// argument vectors; with bit 2 a chunk follows whose NUL-separated words
// (at most 16) are added after that vector; with bit 3 (families that set
// Command::kernel) a chunk with the kernel's answers; the rest is what the
// PIC agents and daemons answer (fakes.h: one byte per channel or
// connection opened, then a chunk per receive).  A deliberate exit of the
// handler (a refused argument, a fatal error, an open failure that ends the
// run) ends the run like a return: vorel_exit throws here, and the
// handler's channels close as the stack unwinds.  Standard output goes to
// /dev/null; XML output is kept and must be well formed once the run's open
// elements are closed, and every channel opened must have been closed:
// either failing aborts the run, so the fuzzer reports it.
//
// A family adds its target as one file, fuzz/families/<family>.cc
// (docs/robustness.md, "Adding a target for a new command family").
#pragma once

#include "vorel/vorel_cmds.h"
#include "vorel/vorel_db.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace vorel::fuzz {

struct Command {
    vorel_handler handler = nullptr;
    // Argument vectors after the program's name; byte 1 of the input picks one.
    std::vector<std::vector<std::string>> arguments;
    // Builds the snapshot the handler walks (default_snapshot when null).
    void (*snapshot)() = nullptr;
    // Whether the family asks the kernel as it runs (a bundle's member
    // list): then mode bit 3 takes a chunk of the input as the kernel's
    // answers (fakes.h, control_feed).  Without it nobody answers the
    // kernel, as in every family's run the timer choice falls back.
    bool kernel = false;
};

// The snapshot every family gets unless it builds its own:
//   ms-1/0/0   service sets sset-a (1), sset-b (2, kind 2), tunnel group tg-1 (7)
//   ms-2/0/0   service set sset-c (3); a redundant pair's active member, peer 2/1
//   mams-3/0/0 bundle member (interface index 31), service set sset-ams (12)
//   ms-3/0/0   its twin, service set sset-twin (13)
//   si-4/0/0   an inline service interface, service set sset-si (20)
void default_snapshot();

// Snapshot builders for a family's own snapshot.
asp_info *add_pic(uint16_t fpc, uint16_t pic, uint16_t ifd_index, const char *name, uint32_t flags);
void add_set(asp_info *a, const char *name, uint16_t id, uint8_t style, uint32_t kind = 0);

int run_command(const Command &cmd, const uint8_t *data, size_t size);

// The command of a family's target: the family's file defines it, and the
// input function of fuzz/family_main.cc runs it (a family with an input
// function of its own, such as ipreass, leaves it out).
extern const Command family_command;

// Sends standard output to /dev/null, once (kept with $VOREL_FUZZ_SHOW).
void quiet_stdout();

// Collects the XML output of one run: from construction to finish(), which
// closes every element still open and checks that the output is well
// formed (aborting when not, so the fuzzer reports it).  With
// $VOREL_FUZZ_SHOW the output is also copied to standard output.
class XmlCapture {
  public:
    XmlCapture();
    ~XmlCapture();
    XmlCapture(const XmlCapture &) = delete;
    XmlCapture &operator=(const XmlCapture &) = delete;
    void finish();

  private:
    char *text_ = nullptr;
    size_t size_ = 0;
    FILE *out_ = nullptr;
};

} // namespace vorel::fuzz
