// fuzz-options: -max_len=65536 -dict=fuzz/mss.dict
// -C mss: subscriber sessions with their flows and per-subscriber
// header-enrichment counters, from fuzzed replies; the routing-instance
// lookup is answered by the input's kernel chunk.
#include "fuzz/fuzz_command.h"

const vorel::fuzz::Command vorel::fuzz::family_command{
    vorel_handle_mss_command,
    {
        {"-C", "mss", "-S", "sessions"},
        {"-C", "mss", "-S", "hcm_stats"},
        {"-C", "mss", "-S", "sessions", "-I", "310150123456789"},
        {"-C", "mss", "-S", "sessions", "-R", "vrf-red", "-E", "10.0.0.1"},
        {"-C", "mss", "-A", "dump_hcm_stats", "-R", "vrf-red", "-G", "ge-0/0/0.100"},
        {"-C", "mss", "-S", "sessions", "-R", "vrf-red", "-F", "2001:db8::1"},
    },
    nullptr,
    true, // -R asks the kernel for the routing instance
};
