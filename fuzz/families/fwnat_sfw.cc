// fuzz-options: -max_len=65536 -dict=fuzz/fwnat_sfw.dict
// The stateful firewall's SIP, analysis and statistics actions, in text and
// XML, from fuzzed replies.  The PICs have no session engine (the first two
// are asked), so the SIP and analysis replies are read; a multiservices PIC
// and an inline interface follow.
#include "fuzz/fuzz_command.h"

const vorel::fuzz::Command vorel::fuzz::family_command{
    vorel_handle_fwnat_command,
    {
        {"-C", "sfw", "-S", "sip-call", "-d"},
        {"-C", "sfw", "-S", "sip-reg", "-d"},
        {"-C", "sfw", "-S", "sip-call", "-c"},
        {"-C", "sfw", "-S", "clear_sip_reg"},
        {"-C", "sfw", "-S", "flow-analysis"},
        {"-C", "sfw", "-S", "subs-analysis"},
        {"-C", "sfw", "-S", "stats", "-V", "x"},
        {"-C", "sfw", "-S", "stats", "-V", "d"},
        {"-C", "sfw", "-S", "stats", "-V", "s"},
        {"-C", "sfw", "-S", "alg", "-F", "alg", "sip"},
        {"-C", "sfw", "-S", "hdr_err", "-V", "x"},
        {"-C", "sfw", "-S", "ha-stats", "-d"},
        {"-C", "inline-stateful-firewall", "-S", "stats"},
        {"-C", "sfw", "-S", "clear-flow-analysis"},
    },
    //   sp-1/0/0  service PIC: sset-a (1), sset-b (2)
    //   sp-2/0/0  service PIC: sset-c (3)
    //   ms-3/0/0  multiservices PIC: sset-d (4)
    //   si-4/0/0  inline service interface: sset-si (20)
    [] {
        using namespace vorel::fuzz;
        asp_info *a = add_pic(1, 0, 0, "sp-1/0/0", 0);
        add_set(a, "sset-a", 1, 'B');
        add_set(a, "sset-b", 2, 'B');
        add_set(add_pic(2, 0, 0, "sp-2/0/0", 0), "sset-c", 3, 'B');
        add_set(add_pic(3, 0, 0, "ms-3/0/0", ASP_F_MSP), "sset-d", 4, 'B');
        add_set(add_pic(4, 0, 0, "si-4/0/0", ASP_F_SI), "sset-si", 20, 'B');
    },
};
