// cmd_handlers_table: every action of the stateful firewall and NAT
// family with its open, close and query callbacks.  Actions that share
// callbacks differ only in what the parameter block says (stats_subcmd,
// pic_based), which the handler sets when it names the action.
#include "vorel/vorel_cmd_fwnat.h"

#define FWNAT_ROW(name, prefix)                                                                    \
    { name, prefix##_open, prefix##_close, prefix##_query }

const fwnat_action cmd_handlers_table[] = {
    FWNAT_ROW("drain_flow", fwnat_flow_drain),
    FWNAT_ROW("drain_sip_call", fwnat_sip_call_drain),
    FWNAT_ROW("drain_sip_reg", fwnat_sip_reg_drain),
    FWNAT_ROW("count_flow", fwnat_flow_count),
    FWNAT_ROW("dump_flow", fwnat_flow_dump),
    FWNAT_ROW("flow_analysis", fwnat_flow_analysis),
    FWNAT_ROW("clear_flow_analysis", fwnat_flow_analysis),
    FWNAT_ROW("subs_analysis", fwnat_subs_analysis),
    FWNAT_ROW("clear_subs_analysis", fwnat_subs_analysis),
    FWNAT_ROW("dump_conv", fwnat_conv_dump),
    FWNAT_ROW("dump_sip_call", fwnat_sip_call_dump),
    FWNAT_ROW("count_sip_call", fwnat_sip_call_count),
    FWNAT_ROW("dump_sip_reg", fwnat_sip_reg_dump),
    FWNAT_ROW("count_sip_reg", fwnat_sip_reg_count),
    FWNAT_ROW("dump_stats", fwnat_stats_dump),
    FWNAT_ROW("dump_hdr_err", fwnat_hdr_err_dump),
    {"clear_stats_hdr_err", fwnat_hdr_err_dump_open, fwnat_hdr_err_dump_close,
     fwnat_clear_stats_hdr_err_query},
    FWNAT_ROW("clear_stats", fwnat_stats_dump),
    FWNAT_ROW("dump_ha_stats", fwnat_ha_stats_dump),
    FWNAT_ROW("dump_natpool", fwnat_natpool_dump),
    FWNAT_ROW("dump_natmappingv2", fwnat_nat_mapping_v2_dump),
    FWNAT_ROW("dump_natstatistics", fwnat_natstatistics_dump),
    FWNAT_ROW("clear_natstatistics", fwnat_natstatistics_clear),
    FWNAT_ROW("dump_detnat", fwnat_detnat_dump),
    FWNAT_ROW("nptv6_addr_mapping", fwnat_nptv6_mapping_dump),
    FWNAT_ROW("clear_natmappings", fwnat_natmappings_clear),
    FWNAT_ROW("clear_natflows", fwnat_natflows_clear),
    {nullptr, nullptr, nullptr, nullptr},
};
