// fuzz-options: -max_len=65536 -dict=fuzz/fwnat.dict
// The stateful firewall and NAT family ("sfw", "nat",
// "inline-stateful-firewall"): every flow, conversation and pool action of
// the vectors, in text and XML, from fuzzed replies.
#include "fuzz/fuzz_command.h"

const vorel::fuzz::Command vorel::fuzz::family_command{
    vorel_handle_fwnat_command,
    {
        {"-C", "sfw", "-S", "flows"},
        {"-C", "sfw", "-S", "flows", "-d"},
        {"-C", "sfw", "-S", "flows", "-c"},
        {"-C", "sfw", "-S", "clear_flows", "-s", "sset-a"},
        {"-C", "sfw", "-S", "conversations", "-d"},
        {"-C", "nat", "-S", "pool"},
        {"-C", "nat", "-S", "pool", "-d", "-s", "sset-a"},
        {"-C", "inline-stateful-firewall", "-S", "flows", "-d"},
        {"-C", "sfw", "-S", "flows", "-i", "mams-3/0/0", "-F", "sprefix", "10.0.0.0/8", "-F",
         "proto", "tcp"},
        {"-C", "nat", "-S", "pool", "-i", "ms-2/0/0", "-N", "pool-a"},
    },
};
