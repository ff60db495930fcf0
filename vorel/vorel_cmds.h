// The command handlers, one per command family, and the Command table.
#pragma once

#include "vorel/vorel_ctx.h"

using vorel_handler = int (*)(int argc, char **argv, vorel_ctx *ctxt);

struct vorel_cmd {
    const char *name;
    vorel_handler handler;
};

// The -C name of this run (null without -C).
extern const char *vorel_command_name;

// The Command table, ended by a null name.
extern const vorel_cmd vorel_cmd_table[];

int vorel_handle_svc_set_command(int argc, char **argv, vorel_ctx *ctxt);
int vorel_handle_fwnat_command(int argc, char **argv, vorel_ctx *ctxt);
int vorel_handle_softwire_command(int argc, char **argv, vorel_ctx *ctxt);
int vorel_handle_si_sw_command(int argc, char **argv, vorel_ctx *ctxt);
int vorel_handle_msp_command(int argc, char **argv, vorel_ctx *ctxt);
int vorel_handle_si_nat_command(int argc, char **argv, vorel_ctx *ctxt);
int vorel_handle_ids_command(int argc, char **argv, vorel_ctx *ctxt);
int vorel_handle_ipsec_command(int argc, char **argv, vorel_ctx *ctxt);
int vorel_handle_fips_command(int argc, char **argv, vorel_ctx *ctxt);
int vorel_handle_cos_command(int argc, char **argv, vorel_ctx *ctxt);
int vorel_handle_lb_command(int argc, char **argv, vorel_ctx *ctxt);
int vorel_handle_hcm_command(int argc, char **argv, vorel_ctx *ctxt);
int vorel_handle_si_ip_reass_command(int argc, char **argv, vorel_ctx *ctxt);
int vorel_handle_si_ipv6_reass_command(int argc, char **argv, vorel_ctx *ctxt);
int vorel_handle_mss_command(int argc, char **argv, vorel_ctx *ctxt);
int vorel_handle_pcp_command(int argc, char **argv, vorel_ctx *ctxt);
int vorel_handle_redundancy_command(int argc, char **argv, vorel_ctx *ctxt);
int vorel_handle_capture_command(int argc, char **argv, vorel_ctx *ctxt);
int vorel_handle_lrf_command(int argc, char **argv, vorel_ctx *ctxt);
int vorel_handle_match_policy_command(int argc, char **argv, vorel_ctx *ctxt);
int vorel_handle_tcplog_command(int argc, char **argv, vorel_ctx *ctxt);
