// fuzz-options: -max_len=65536 -dict=fuzz/nat.dict
// The NAT side of the firewall/NAT family ("nat", "pcp", "inline-nat"),
// in text and XML, from fuzzed replies.
#include "fuzz/fuzz_command.h"

#include <cstring>

namespace {

// The three handlers of the NAT side, chosen by the -C word (argv[2]).
int nat_side(int argc, char **argv, vorel_ctx *ctxt) {
    const char *command = argc > 2 ? argv[2] : "";
    if (std::strcmp(command, "pcp") == 0)
        return vorel_handle_pcp_command(argc, argv, ctxt);
    if (std::strcmp(command, "inline-nat") == 0)
        return vorel_handle_si_nat_command(argc, argv, ctxt);
    return vorel_handle_fwnat_command(argc, argv, ctxt);
}

} // namespace

const vorel::fuzz::Command vorel::fuzz::family_command{
    nat_side,
    {
        {"-C", "nat", "-S", "mappingsv2-eim"},
        {"-C", "nat", "-S", "mapping-detail", "-F", "dprefix", "203.0.113.0/24"},
        {"-C", "nat", "-S", "mappingsv2-summary"},
        {"-C", "nat", "-S", "mappingsv2-pcp"},
        {"-C", "nat", "-S", "detnat", "-I", "10.1.1.1"},
        {"-C", "inline-nat", "-S", "mapping-nptv6", "-w", "a", "2001:db8::1"},
        {"-C", "nat", "-S", "clear_mappings", "-x", "app_subs_ip", "10.0.0.0/8"},
        {"-C", "nat", "-S", "clear_nat_flows", "-x", "flows_sw_ip", "2001:db8::/96"},
        {"-C", "nat", "-S", "stats"},
        {"-C", "nat", "-S", "clear_stats"},
        {"-C", "pcp", "-S", "pcp-stats", "-V", "d"},
        {"-C", "pcp", "-S", "clear_pcp_epoch", "-P", "epoch-a"},
        {"-C", "inline-nat", "-S", "stats"},
        {"-C", "inline-nat", "-S", "pool"},
        {"-C", "nat", "-S", "mapping-brief", "-i", "mams-3/0/0"},
        {"-C", "nat", "-S", "detnat", "-E", "203.0.113.5", "-P", "2000"},
        {"-C", "pcp", "-S", "clear_pcp_stats"},
        {"-C", "nat", "-S", "stats", "-i", "mams-3/0/0"},
    },
};
