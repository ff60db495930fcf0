// The global option string and the Command table.
#include "vorel/vorel_cmds.h"

const char *const vorel_optstring =
    "r:C:Di:ns:XS:p:zZaA:l:bdtfV:L:O:F:T:cN:g:H:B:ieaw:x:K:I:P:Q:R:U:Y:Z:O:H:E:G:";

const char *vorel_command_name = nullptr;

const vorel_cmd vorel_cmd_table[] = {
    {"svc_set", vorel_handle_svc_set_command},
    {"sfw", vorel_handle_fwnat_command},
    {"softwire", vorel_handle_softwire_command},
    {"inline-softwire", vorel_handle_si_sw_command},
    {"msp", vorel_handle_msp_command},
    {"nat", vorel_handle_fwnat_command},
    {"inline-nat", vorel_handle_si_nat_command},
    {"ids", vorel_handle_ids_command},
    {"ipsec", vorel_handle_ipsec_command},
    {"fips", vorel_handle_fips_command},
    {"cos", vorel_handle_cos_command},
    {"lb", vorel_handle_lb_command},
    {"hcm", vorel_handle_hcm_command},
    {"inline-ip-reass", vorel_handle_si_ip_reass_command},
    {"inline-ipv6-reass", vorel_handle_si_ipv6_reass_command},
    {"mss", vorel_handle_mss_command},
    {"pcp", vorel_handle_pcp_command},
    {"redundancy", vorel_handle_redundancy_command},
    {"ha", vorel_handle_redundancy_command},
    {"inline-stateful-firewall", vorel_handle_fwnat_command},
    {"capture", vorel_handle_capture_command},
    {"lrf", vorel_handle_lrf_command},
    {"match_policy", vorel_handle_match_policy_command},
    {"tcplog", vorel_handle_tcplog_command},
    {nullptr, nullptr},
};
