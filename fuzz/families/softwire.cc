// fuzz-options: -max_len=65536 -dict=fuzz/softwire.dict
// The softwire family ("softwire", "inline-softwire") on service PICs and
// line cards, in text and XML, from fuzzed replies.
#include "fuzz/fuzz_command.h"

#include <cstring>

namespace {

// Both commands of the family, chosen by the vector's command word.
int softwire_commands(int argc, char **argv, vorel_ctx *ctxt) {
    if (argc > 2 && std::strcmp(argv[2], "inline-softwire") == 0)
        return vorel_handle_si_sw_command(argc, argv, ctxt);
    return vorel_handle_softwire_command(argc, argv, ctxt);
}

} // namespace

const vorel::fuzz::Command vorel::fuzz::family_command{
    softwire_commands,
    {
        {"-C", "softwire", "-S", "flows"},
        {"-C", "softwire", "-S", "entries", "-d"},
        {"-C", "softwire", "-S", "flows", "-c"},
        {"-C", "softwire", "-N", "tunnel"},
        {"-C", "softwire", "-S", "sessions"},
        {"-C", "softwire", "-S", "sessions", "-c"},
        {"-C", "softwire", "-S", "stats"},
        {"-C", "softwire", "-S", "stats", "-i", "mams-3/0/0", "-T", "r"},
        {"-C", "softwire", "-S", "dslite", "-O", "b", "2001:db8::1", "-F", "sprefix", "10.0.0.0/8"},
        {"-C", "inline-softwire", "-S", "stats"},
        {"-C", "inline-softwire", "-S", "stats", "-T", "m", "-i", "si-4/0/0"},
    },
};
