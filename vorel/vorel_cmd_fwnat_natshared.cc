// Helpers the NAT actions share (vorel_cmd_nat.h).
#include "platform/xml.h"
#include "vorel/vorel_cmd_nat.h"
#include "vorel/vorel_error.h"
#include "vorel/vorel_string.h"

#include <cstdio>

nat_pic_name nat_shown_pic_name(const asp_info &asp) {
    nat_pic_name n;
    uint8_t is_member = 0;
    vorel_ms_name_of_mams(asp.name, &is_member, n.text);
    if (!is_member) {
        vorel_strlcpy(n.text, asp.name, sizeof n.text);
        return n;
    }
    n.twin_known = vorel_db_asp_find_by_name(n.text) != nullptr;
    return n;
}

bool nat_text_mode_refused(const vorel_ctx *ctxt, const char *line) {
    static bool noted = false;
    if (ctxt->xml)
        return false;
    std::fputs(line, stdout);
    if (!noted)
        vorel_xml_only_view(ctxt, "this view");
    noted = true;
    return true;
}

std::string nat_addr_text(const vorel_addr &a) {
    char buf[80];
    return ipaddr_tostring(&a, buf, sizeof buf);
}

bool nat_addr_given(const vorel_addr &a) {
    return a.words[0] || a.words[1] || a.words[2] || a.words[3];
}

void nat_not_supported_on(const vorel_ctx *ctxt, const char *pic_name) {
    if (ctxt->xml)
        vorel_xml_error(1, "This command is not supported on %s interface\n\n", pic_name);
    else
        std::printf("This command is not supported on %s interface\n", pic_name);
}

int nat_xml_only_open(const vorel_ctx *ctxt, const char *trace) {
    summary_info = 0;
    vorel_trace("%s", trace);
    return nat_text_mode_refused(ctxt, "vorel: only xml is supported\n") ? -1 : 0;
}

int nat_xml_only_close(const vorel_ctx *ctxt, const char *trace) {
    vorel_trace("%s", trace);
    if (nat_text_mode_refused(ctxt, "vorel: only xml output is supported\n"))
        return -1;
    xml_subtree_once();
    return 0;
}

namespace {

void apply(const nat_settings &s, fwnat_params *p) {
    if (s.stats_subcmd)
        p->stats_subcmd = *s.stats_subcmd;
    p->pic_based = s.pic_based;
}

} // namespace

void nat_choose_action(fwnat_params *p, std::span<const nat_selection> rows) {
    if (p->action) {
        if (auto shared = vorel_subcommand_shared(rows, *p->action))
            apply(*shared, p);
    } else if (const nat_selection *row = vorel_subcommand_find(rows, p->subcommand)) {
        p->action = row->action;
        apply(row->settings, p);
    }
}

bool nat_settle_action(fwnat_params *p, std::span<const nat_selection> rows, const char *handler) {
    nat_choose_action(p, rows);
    nat_trace_params(*p);
    if (p->action)
        return true;
    vorel_user_message("vorel: %s handler cannot process this command\n", handler);
    return false;
}

void nat_trace_params(const fwnat_params &p) {
    if (!debug)
        return;
    std::printf("vorel: command: %s, subcommand: %s \n", vorel_str_or_null(vorel_text(p.command)),
                vorel_str_or_null(vorel_text(p.subcommand)));
    std::printf("vorel: stats_subcmd: %d\n", p.stats_subcmd);
    std::printf("vorel: srv_set_name: %s, interface_name: %s,\n",
                vorel_str_or_null(vorel_text(p.svc_set_name)),
                vorel_str_or_null(vorel_text(p.if_name)));
    std::printf("vorel: action=%s , detail=%s, natpool=%s\n",
                vorel_str_or_null(vorel_text(p.action)), p.detail ? "TRUE" : "FALSE",
                vorel_str_or_null(vorel_text(p.natpool)));
}
