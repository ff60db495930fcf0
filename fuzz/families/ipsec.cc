// fuzz-options: -max_len=65536 -dict=fuzz/ipsec.dict
// The IPsec family ("ipsec"): totals and tunnels of ordinary IPsec and
// group VPN on service PICs and inline interfaces, from fuzzed replies.
#include "fuzz/fuzz_command.h"

const vorel::fuzz::Command vorel::fuzz::family_command{
    vorel_handle_ipsec_command,
    {
        {"-C", "ipsec", "-S", "show_stats"},
        {"-C", "ipsec", "-S", "show_stats", "-d"},
        {"-C", "ipsec", "-S", "show_gvpn_stats"},
        {"-C", "ipsec", "-S", "show_gvpn_stats", "-V", "x", "-F", "fpc", "2", "-F", "pic", "0"},
        {"-C", "ipsec", "-S", "clear_stats"},
        {"-C", "ipsec", "-S", "clear_gvpn_stats", "-s", "vpn-si"},
        {"-C", "ipsec", "-S", "show_stats", "-R", "10.0.0.2", "-F", "index", "7"},
    },
    [] {
        using namespace vorel::fuzz;
        asp_info *a = add_pic(1, 0, 0, "ms-1/0/0", ASP_F_MSP);
        add_set(a, "sset-fw", 1, 'B');
        add_set(a, "vpn-a", 2, 'B', 2);
        add_set(a, "vpn-b", 3, 'B', 2);
        add_set(add_pic(2, 0, 0, "ms-2/0/0", ASP_F_MSP), "vpn-c", 4, 'B', 2);
        asp_info *si = add_pic(4, 0, 0, "si-4/0/0", ASP_F_SI);
        add_set(si, "vpn-si", 5, 'B', 2);
        add_set(si, "nat-si", 6, 'B');
    },
};
