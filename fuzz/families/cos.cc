// fuzz-options: -max_len=65536 -dict=fuzz/cos.dict
// -C cos: the code-point and forwarding-class counters (reply 108) per
// service set and per PIC, and the clear, from fuzzed replies.
#include "fuzz/fuzz_command.h"

const vorel::fuzz::Command vorel::fuzz::family_command{
    vorel_handle_cos_command,
    {
        {"-C", "cos", "-S", "stats"},
        {"-C", "cos", "-S", "stats_fwdclass", "-V", "s"},
        {"-C", "cos", "-S", "stats_diffserv", "-s", "sset-a"},
        {"-C", "cos", "-S", "clear_stats"},
        {"-C", "cos", "-A", "dump_stats", "-V", "x"},
    },
};
