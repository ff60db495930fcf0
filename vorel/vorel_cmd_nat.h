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

#include <string>

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
