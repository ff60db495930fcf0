// -C pcp: the Port Control Protocol function of the service PICs: its
// statistics (-S pcp-stats; -V p protocol counters, the default, -V d the
// debug counters), clearing them (clear_pcp_stats) and clearing the PCP
// epoch of each service set (clear_pcp_epoch, -P names it).  XML only.
// The command shares the firewall/NAT family's parameters and driver.
#include "platform/xml.h"
#include "vorel/vorel_cmd_nat.h"
#include "vorel/vorel_cmds.h"
#include "vorel/vorel_counters.h"
#include "vorel/vorel_error.h"
#include "vorel/vorel_getopt.h"
#include "vorel/vorel_string.h"

#include <cstdio>

namespace {

constexpr uint16_t kStatsRequest = 230, kStatsReply = 231;
constexpr size_t kStatsRequestSize = 16;
constexpr size_t kStatsReplySize = 204;
constexpr uint16_t kStatsClearRequest = 234, kStatsClearReply = 235;
constexpr size_t kStatsClearRequestSize = 80;
constexpr uint16_t kEpochClearRequest = 232, kEpochClearReply = 233;
constexpr size_t kEpochClearRequestSize = 144;
constexpr size_t kEpochReplySize = 20;
constexpr size_t kNameWidth = 64;

// stats_subcmd: which counters the statistics show.
constexpr int32_t kProtocolCounters = 1, kDebugCounters = 2;

constexpr vorel_counter kDebugTable[] = {
    {"pcp-context-memory-allocation-error", 16},
    {"pcpd-library-error", 24},
    {"no-pcp-mapping-for-subscriber", 28},
    {"pcp-mapping-not-in-valid-state-for-refresh", 32},
    {"no-eim-entry-for-pcp-mapping", 36},
    {"eim-entry-not-valid", 40},
    {"eim-entry-invalid", 44},
    {"error-while-eim-timer-set", 48},
    {"pcp-map-refresh-error", 52},
    {"pcp-map-refreshed", 56},
    {"no-nat-pool-set-for-pcp", 60},
    {"pcp-map-alloc-failed", 64},
    {"pcp-lifetime-set-error", 68},
    {"pcp-cache-memory-allocation-error", 72},
    {"pcp-mapping-memory-allocation-fail", 76},
    {"update-subscriber-entry-error", 80},
    {"delete-subscriber-entry-error", 84},
    {"pcp-mapping-not-found-while-delete-error", 88},
    {"pcp-mapping-not-valid-while-delete-error", 92},
    {"eim-entry-deleted-for-pcp", 96},
    {"pcp-mapping-created", 100},
};

constexpr vorel_counter kProtocolTable[] = {
    {"map-request-received", 104},
    {"peer-request-received", 108},
    {"other-operational-counters", 112},
    {"unprocessed-requests-received", 116},
    {"third-party-requests-received", 120},
    {"prefer-fail-options-received", 124},
    {"filter-option-received", 128},
    {"other-options-counters", 132},
    {"option-optional-received", 136},
    {"pcp-success", 140},
    {"pcp-unsupported-version", 144},
    {"not-authorized", 148},
    {"bad-requests", 152},
    {"unsupported-opcode", 156},
    {"unsupported-option", 160},
    {"bad-option", 164},
    {"network-failure", 168},
    {"out-of-resources", 172},
    {"unsupported-protocol", 176},
    {"user-exceeded-quota", 180},
    {"cannot-provide-external", 184},
    {"address-mismatch", 188},
    {"excessive-number-of-remote-peers", 192},
    {"processing-error", 196},
    {"other-result-counters", 200},
};

// ---------------------------------------------------------------------------
// Statistics

int pcp_stats_dump_open(vorel_ctx *ctxt, fwnat_params *) {
    summary_info = 0;
    vorel_trace("%s:%d: pcp statistics start\n", "pcp_stats_dump_open", 118);
    if (nat_text_mode_refused(ctxt, ""))
        return 0;
    xml_subtree_open("service-pcp-statistics-information");
    return 0;
}

int pcp_stats_dump_close(vorel_ctx *, fwnat_params *) {
    vorel_trace("%s:%d pcp statistics done \n", "pcp_stats_dump_close", 131);
    xml_subtree_close();
    xml_subtree_once();
    return 0;
}

int pcp_stats_dump_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp, svc_set_info *,
                         fwnat_params *p) {
    if (!fwnat_query_args_ok(ctxt, asp, nullptr, p, false))
        return -1;
    if (vorel_send(c, fwnat_request(kStatsRequest, 1, kStatsRequestSize, nullptr)) < 0)
        return -1;
    vorel_trace("vorel: PCP stats query start to receive reply \n");
    for (;;) {
        vorel::ByteReader reply = vorel_receive_at_least(c, kStatsReply, 1, kStatsReplySize,
                                                         asp->name, short_reply::skip);
        if (reply.empty())
            break;
        xml_send_open("flow-analysis-statistics-pic-info");
        xml_send_all("pic-name", "%s", asp->name);
        xml_send_close("flow-analysis-statistics-pic-info");
        if (p->stats_subcmd & kDebugCounters)
            vorel_counters_emit(ctxt, {"pcp-debug-statistics", kDebugTable}, reply, nullptr);
        if (p->stats_subcmd & kProtocolCounters)
            vorel_counters_emit(ctxt, {"pcp-protocol-statistics", kProtocolTable}, reply, nullptr);
    }
    vorel_trace("vorel: PCP stats reply finished\n");
    return 0;
}

// ---------------------------------------------------------------------------
// Clearing

int pcp_stats_clear_open(vorel_ctx *ctxt, fwnat_params *) {
    return nat_xml_only_open(ctxt, "vorel: pcp stats clear start \n");
}

int pcp_stats_clear_close(vorel_ctx *ctxt, fwnat_params *) {
    return nat_xml_only_close(ctxt, "vorel: pcp stats clear done \n");
}

int pcp_stats_clear_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp, svc_set_info *ss,
                          fwnat_params *p) {
    if (!fwnat_query_args_ok(ctxt, asp, ss, p, false))
        return -1;
    if (vorel_send(c, fwnat_request(kStatsClearRequest, 1, kStatsClearRequestSize, ss)) < 0)
        return -1;
    vorel::ByteReader reply =
        vorel_receive_at_least(c, kStatsClearReply, 1, 8, asp->name, short_reply::end_answer);
    if (reply.empty())
        vorel_trace("vorel: pcp stats reply finished\n");
    return 0;
}

int pcp_epoch_clear_open(vorel_ctx *ctxt, fwnat_params *) {
    return nat_xml_only_open(ctxt, "vorel: pcp epoch clear start \n");
}

int pcp_epoch_clear_close(vorel_ctx *ctxt, fwnat_params *) {
    return nat_xml_only_close(ctxt, "vorel: pcp epoch clear done \n");
}

int pcp_epoch_clear_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp, svc_set_info *ss,
                          fwnat_params *p) {
    if (!fwnat_query_args_ok(ctxt, asp, ss, p, false))
        return -1;
    vorel::ByteWriter req = fwnat_request(kEpochClearRequest, 1, kEpochClearRequestSize, ss);
    if (p->pcp_name)
        req.text(16, kNameWidth, vorel_text(p->pcp_name));
    if (vorel_send(c, req) < 0)
        return -1;
    vorel_trace("vorel: pcp epoch clear query start to receive reply\n");
    vorel::ByteBlock<kEpochReplySize> b;
    if (!vorel_receive_block(c, kEpochClearReply, 1, asp->name, short_reply::end_answer, &b)) {
        vorel_trace("vorel: pcp epoch reply finished\n");
        return 0;
    }
    xml_subtree_open("service-pcp-epoch-information");
    xml_send_all("epoch-value", "%u", b.be32<16>());
    xml_subtree_close();
    return 0;
}

// ---------------------------------------------------------------------------
// The table and the handler

const fwnat_action pcp_cmd_handlers_table[] = {
    {"dump_pcp_stats", pcp_stats_dump_open, pcp_stats_dump_close, pcp_stats_dump_query},
    {"clear_pcp_stats", pcp_stats_clear_open, pcp_stats_clear_close, pcp_stats_clear_query},
    {"clear_pcp_epoch", pcp_epoch_clear_open, pcp_epoch_clear_close, pcp_epoch_clear_query},
    {nullptr, nullptr, nullptr, nullptr},
};

// The sub-commands and their actions; -A naming an action applies the
// same settings.
constexpr nat_selection kSelection[] = {
    {"pcp-stats", "dump_pcp_stats", {.pic_based = true}},
    {"clear_pcp_epoch", "clear_pcp_epoch", {}},
    {"clear_pcp_stats", "clear_pcp_stats", {}},
};

// -P names the PCP server; -V p and -V d choose the protocol or debug counters.
void parse_options(int argc, char **argv, const vorel_ctx *ctxt, fwnat_params *p) {
    nat_parse_options(argc, argv, ctxt, p, [p](int c) {
        if (c == 'P')
            p->pcp_name = vorel_optarg;
        else if (c == 'V' && vorel_optarg[0] == 'p')
            p->stats_subcmd = kProtocolCounters;
        else if (c == 'V' && vorel_optarg[0] == 'd')
            p->stats_subcmd = kDebugCounters;
    });
}

} // namespace

int vorel_handle_pcp_command(int argc, char **argv, vorel_ctx *ctxt) {
    fwnat_params p;
    fwnat_params_init(&p);
    p.stats_subcmd = kProtocolCounters;
    parse_options(argc, argv, ctxt, &p);
    if (!nat_settle_action(&p, kSelection, "pcp")) {
        fwnat_params_free(&p);
        return -1;
    }
    const fwnat_action *row = vorel_find_action(pcp_cmd_handlers_table, vorel_text(p.action),
                                                "vorel: pcp action %s is not supported \n");
    int rc = row ? fwnat_run_action(ctxt, row, &p) : -1;
    if (!row)
        vorel_user_message("vorel: pcp handler cannot process unknown action: %s \n",
                           vorel_text(p.action));
    fwnat_params_free(&p);
    return rc;
}
