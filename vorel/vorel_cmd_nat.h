// What the NAT actions of the firewall/NAT family share beyond the
// family's core (vorel_cmd_fwnat.h): the name a PIC is shown under, the
// XML-only views, address texts and the refusal of PICs a view does not
// run on.
//
//   vorel_cmd_fwnat_mapping.cc    mappings (address, EIM, PCP, summary)
//   vorel_cmd_fwnat_detnat.cc     deterministic NAT lookups
//   vorel_cmd_fwnat_nptv6.cc      NPTv6 address translation
//   vorel_cmd_fwnat_clear.cc      clearing mappings and NAT flows
//   vorel_cmd_fwnat_natstats.cc   NAT engine statistics
//   vorel_cmd_pcp.cc              the "pcp" command
//   vorel_cmd_si_nat.cc           the "inline-nat" command
#pragma once

#include "vorel/vorel_ams_util.h"
#include "vorel/vorel_cmd_fwnat.h"
#include "vorel/vorel_getopt.h"
#include "vorel/vorel_subcommand.h"

#include <optional>
#include <span>
#include <string>
#include <tuple>

// The name a bundle member's counters are shown under: for "mams-..." the
// "ms-..." form, and whether the snapshot knows a PIC of that name (its
// counters are then that PIC's, asked there).  Any other PIC: its name.
struct nat_pic_name {
    char text[AMS_NAME_LEN] = {};
    bool twin_known = false;
};
nat_pic_name nat_shown_pic_name(const asp_info &asp);

// An XML-only view run in text mode: `line` on standard output as the
// command prints it, and once per run a line on standard error saying
// that the view needs -X.  True in text mode (the caller stops there).
bool nat_text_mode_refused(const vorel_ctx *ctxt, const char *line);

// The address as text (the full text for IPv6).
std::string nat_addr_text(const vorel_addr &a);

// Whether an address is set: any of its words is not zero.
bool nat_addr_given(const vorel_addr &a);

// "This command is not supported on NAME interface": a text line, or in
// XML the error element (inside whatever element is open).
void nat_not_supported_on(const vorel_ctx *ctxt, const char *pic_name);

// The open and close of an XML-only action: summary_info reset (open), the
// trace; in text mode the
// command's "only xml" line (open: "vorel: only xml is supported", close:
// "vorel: only xml output is supported") and -1; in XML the close flushes
// what the queries wrote.
int nat_xml_only_open(const vorel_ctx *ctxt, const char *trace);
int nat_xml_only_close(const vorel_ctx *ctxt, const char *trace);

// What a sub-command of the pcp and inline-nat commands sets besides its
// action: the view (unset: -V's choice stays) and whether the action runs
// once per PIC.
struct nat_settings {
    std::optional<int32_t> stats_subcmd = {};
    bool pic_based = false;
    auto fields() { return std::tie(stats_subcmd, pic_based); }
};
using nat_selection = vorel_subcommand<nat_settings>;
// Names the action from the sub-command unless -A named one; either way
// the settings of its rows apply.
void nat_choose_action(fwnat_params *params, std::span<const nat_selection> rows);
// nat_choose_action and the parameters' trace; without an action the
// "vorel: HANDLER handler cannot process this command" line and false.
bool nat_settle_action(fwnat_params *params, std::span<const nat_selection> rows,
                       const char *handler);

// The option loop of the pcp and inline-nat commands: the letters they
// read as the firewall/NAT command does (fwnat_common_option), any other
// by own(c).
template <typename Own>
void nat_parse_options(int argc, char **argv, const vorel_ctx *ctxt, fwnat_params *p, Own &&own) {
    int c;
    while ((c = vorel_getopt(argc, argv, ctxt->optstring)) != -1)
        if (!fwnat_common_option(c, p))
            own(c);
}

// The debug trace of the pcp and inline-nat commands' parameters.
void nat_trace_params(const fwnat_params &params);
