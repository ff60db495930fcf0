// The command context every handler and callback receives as ctxt.
#pragma once

struct vorel_ctx {
    const char *optstring = nullptr; // always the global option string
    int xml = 0;                     // 1 with -X
};

// The global option string: every letter of every command.
extern const char *const vorel_optstring;
