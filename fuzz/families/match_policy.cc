// fuzz-options: -max_len=65536 -dict=fuzz/match_policy.dict
// -C match_policy: the four lookup phases per service set, policy records
// with their address lists and counts, from fuzzed replies; filters from
// the argument vectors and the input's extra words.
#include "fuzz/fuzz_command.h"

const vorel::fuzz::Command vorel::fuzz::family_command{
    vorel_handle_match_policy_command,
    {
        {"-C", "match_policy", "-S", "m", "-Fsprefix", "10.1.1.1", "-Fdprefix", "10.2.2.2/24",
         "-Fsport", "1024", "-Fdport", "80", "-Fproto", "tcp"},
        {"-C", "match_policy", "-S", "m", "-V", "i", "-Fsprefix", "2001:db8::1", "-Fdprefix",
         "2001:db8::2", "-Fsport", "0", "-Fdport", "53", "-Fproto", "17"},
        {"-C", "match_policy", "-S", "m", "-s", "sset-a", "-Fsprefix", "10.1.1.1", "-Fdprefix",
         "10.2.2.2", "-Fsport", "1", "-Fdport", "2", "-Fproto", "6", "-Fresult", "1"},
        {"-C", "match_policy", "-S", "m", "-V", "o", "-Fsprefix", "10.1.1.1", "-Fdprefix",
         "10.2.2.2", "-Fsport", "1", "-Fdport", "2", "-Fproto", "6"},
        {"-C", "match_policy", "-S", "m"},
    },
};
