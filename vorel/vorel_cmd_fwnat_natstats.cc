// NAT statistics (-C nat -S stats / clear_stats): the NAT engine counters
// of each service PIC, shown or cleared.  Both views run once per PIC and
// exist only in XML.
#include "platform/xml.h"
#include "vorel/vorel_cmd_nat.h"
#include "vorel/vorel_counters.h"
#include "vorel/vorel_error.h"
#include "vorel/vorel_string.h"

#include <cstdio>

namespace {

constexpr uint16_t kStatsRequest = 28, kStatsReply = 29;
constexpr uint16_t kClearRequest = 30, kClearReply = 31;
constexpr size_t kHeaderOnly = 16;
constexpr size_t kStatsReplySize = 912; // the last counter shown ends there

constexpr const char *kOnlyXml = "vorel: only xml is supported\n";

// The counters in the order they are shown (not the order of the reply).
constexpr vorel_counter kNatCounters[] = {
    {"nat-total-session-interest", 16},
    {"nat-total-session-create", 20},
    {"nat-total-session-destroy", 24},
    {"nat-total-session-pub-req", 28},
    {"nat-total-session-accepts", 32},
    {"nat-total-session-discards", 36},
    {"nat-total-session-ignores", 40},
    {"nat-ctrl-sess-not-xltd-chld-sess-ignd", 44},
    {"nat-total-session-time-event", 48},
    {"nat-session-interest-pub-req", 52},
    {"nat-alg-data-session-interest", 56},
    {"nat-alg-data-session-created", 60},
    {"total-session-close", 64},
    {"nat-pkt-dst-in-nat-route", 68},
    {"nat-pkt-drop-in-backup-state", 72},
    {"nat-session-ext-alloc-failures", 80},
    {"nat-session-ext-set-failures", 84},
    {"nat-filtering-session", 88},
    {"nat-mapping-session", 92},
    {"nat-rule-lookup-failures", 96},
    {"no-sext-in-xlate-pkt", 104},
    {"pool-session-cnt-update-fail-on-create", 108},
    {"pool-session-cnt-update-fail-on-close", 112},
    {"session-xlate464-clat-prefix-found", 116},
    {"session-xlate464-clat-prefix-not-found", 120},
    {"session-xlate464-embeded-ipv4-found", 124},
    {"session-xlate464-embeded-ipv4-not-found", 128},
    {"session-xlate464-embeded-ipv4-invalid", 132},
    {"nat-map-allocation-successes", 136},
    {"nat-map-allocation-failures", 140},
    {"nat-map-free-success", 144},
    {"nat-map-free-failures", 148},
    {"nat_free_fail_on_inactive_sset", 152},
    {"nat-eim-mapping-reused", 156},
    {"nat-eim-mapping-alloc-failures", 160},
    {"nat-eim-mismatched-mapping", 164},
    {"nat-eim-duplicate-mapping", 168},
    {"nat-eim-mapping-create-failed", 172},
    {"nat-eim-mapping-created", 176},
    {"nat-eim-mapping-updated", 180},
    {"nat-eif-mapping-free", 184},
    {"nat-eim-mapping-free", 188},
    {"nat-eim-waiting-for-init", 192},
    {"nat-eim-waiting-for-init-failed", 196},
    {"nat-eim-lookup-hold-success", 200},
    {"nat-eim-lookup-timeout", 204},
    {"nat-eim-lookup-clear-timer", 208},
    {"nat-eim-drain-in-lookup", 212},
    {"nat-eim-lookup-entry-without-timer", 216},
    {"nat-eim-release-without-entry", 220},
    {"nat-eim-release-in-timeout", 224},
    {"nat-eim-release-race", 228},
    {"nat-eim-release-set-timeout", 232},
    {"nat-eim-timer-entry-refreshed", 236},
    {"nat-eim-timer-start-invalid", 240},
    {"nat-eim-timer-start-invalid-fail", 244},
    {"nat-eim-timer-free-mapping", 248},
    {"nat-eim-timer-update-timeout", 252},
    {"nat-eim-entry-drained", 256},
    {"nat-total-pkts-processed", 280},
    {"nat-total-bytes-processed", 272, 8},
    {"nat-total-pkts-forwarded", 284},
    {"nat-total-pkts-discarded", 288},
    {"nat-total-pkts-translated", 292},
    {"nat-total-pkts-restored", 296},
    {"nat-cm-sess-lnode-created", 456},
    {"nat-cm-sess-lnode-deleted", 460},
    {"nat-cm-eim-lnode-created", 464},
    {"nat-cm-eim-lnode-deleted", 468},
    {"nat-src-ipv4-translations", 300},
    {"nat-src-ipv4-restorations", 304},
    {"nat-dst-ipv4-translations", 308},
    {"nat-dst-ipv4-restorations", 312},
    {"nat-src-ipv6-translations", 316},
    {"nat-src-ipv6-restorations", 320},
    {"nat-dst-ipv6-translations", 324},
    {"nat-dst-ipv6-restorations", 328},
    {"nat-src-port-translations", 332},
    {"nat-src-port-restorations", 336},
    {"nat-dst-port-translations", 340},
    {"nat-dst-port-restorations", 344},
    {"nat-icmp-id-translations", 348},
    {"nat-icmp-id-restorations", 352},
    {"nat-icmp-error-translations", 356},
    {"nat-icmp-drop", 360},
    {"nat-icmp-allocation-failure", 364},
    {"nat-rule-lookup-for-icmp-err-fail", 368},
    {"nat-tcp-port-translations", 372},
    {"nat-tcp-port-restorations", 376},
    {"nat-udp-port-translations", 380},
    {"nat-udp-port-restorations", 384},
    {"nat-unexpected-proto-with-port-xlation", 388},
    {"nat-gre-call-id-translations", 392},
    {"nat-gre-call-id-restorations", 396},
    {"nat-unsupported-gre-proto", 400},
    {"nat-icmp-error-src-restored", 404},
    {"nat-icmp-error-dst-restored", 408},
    {"nat-icmp-error-src-xlated", 412},
    {"nat-icmp-error-dst-xlated", 416},
    {"nat-icmp-error-new-src-xlated", 420},
    {"nat-icmp-error-org-ip-src-restored", 424},
    {"nat-icmp-error-org-ip-src-port-restored", 428},
    {"nat-icmp-error-org-ip-dst-port-restored", 432},
    {"nat-icmp-error-org-ip-dst-restored", 436},
    {"nat-icmp-error-org-ip-src-xlated", 440},
    {"nat-icmp-error-org-ip-src-port-xlated", 444},
    {"nat-icmp-error-org-ip-dst-port-xlated", 448},
    {"nat-icmp-error-org-ip-dst-xlated", 452},
    {"nat-error-no-policy", 820},
    {"nat-error-ip-version", 824},
    {"nat-xlate-free-null-ext", 828},
    {"nat-session-ext-free-failed", 832},
    {"nat-policy-add-failed", 836},
    {"nat-policy-delete-failed", 840},
    {"nat-prefix-filter-alloc-failed", 844},
    {"nat-prefix-filter-name-failed", 848},
    {"nat-prefix-list-create-failed", 852},
    {"nat-prefix-filter-tree-add-failed", 856},
    {"nat-prefix-filter-created", 860},
    {"nat-prefix-filter-changed", 864},
    {"nat-prefix-filter-ctrl-free", 868},
    {"nat-prefix-filter-match", 872},
    {"nat-prefix-filter-no-match", 876},
    {"nat-prefix-filter-mapping-add", 880},
    {"nat-prefix-filter-mapping-remove", 884},
    {"nat-prefix-filter-mapping-free", 888},
    {"nat-prefix-filter-unsupp-ip-version", 892},
    {"nat-unsupported-layer-4-napt", 896},
    {"nat-unsupported-icmp-type-napt", 900},
    {"nat64-ipoptions-drop", 904},
    {"nat64-udp-cksum-zero-drop", 908},
};

// Service PICs of the older kind ("sp-", "rsp") have no NAT engine
// counters.
bool lacks_nat_engine(const asp_info &asp) {
    return vorel_starts_with(asp.name, "sp") || vorel_starts_with(asp.name, "rsp");
}

// The queries run once per PIC and only in XML (in text each PIC says so).
bool may_query(const vorel_ctx *ctxt, const asp_info *asp, const fwnat_params *p) {
    return fwnat_query_args_ok(ctxt, asp, nullptr, p, false) &&
           !nat_text_mode_refused(ctxt, kOnlyXml);
}

void clear_status(const char *pic_name, const char *status) {
    xml_subtree_open("service-nat-statistics-clear-information");
    xml_send_all("clear-nat-statistics-status", "Interface:%s\t\t%s", pic_name, status);
    xml_subtree_close();
}

} // namespace

int fwnat_natstatistics_dump_open(vorel_ctx *ctxt, fwnat_params *) {
    return nat_xml_only_open(ctxt, "vorel: natstats query start \n");
}

int fwnat_natstatistics_dump_close(vorel_ctx *ctxt, fwnat_params *) {
    return nat_xml_only_close(ctxt, "vorel: natstatistics dump done \n");
}

int fwnat_natstatistics_dump_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp,
                                   svc_set_info *, fwnat_params *p) {
    if (!may_query(ctxt, asp, p))
        return -1;
    if (lacks_nat_engine(*asp)) {
        if (!p->if_name)
            return 0;
        xml_subtree_open("service-nat-statistics-information");
        xml_send_all("interface-name", "%s", asp->name);
        nat_not_supported_on(ctxt, asp->name);
        xml_subtree_close();
        return 0;
    }
    nat_pic_name shown = nat_shown_pic_name(*asp);
    if (shown.twin_known && !p->if_name)
        return 0;
    if (vorel_send(c, vorel_request(kStatsRequest, 1, kHeaderOnly)) < 0)
        return -1;
    vorel_trace("vorel: fwnat natstats query start to receive reply \n");
    for (;;) {
        vorel::ByteReader reply = vorel_receive_at_least(c, kStatsReply, 1, kStatsReplySize,
                                                         asp->name, short_reply::skip);
        if (reply.empty())
            break;
        xml_subtree_open("service-nat-statistics-information");
        xml_send_all("interface-name", "%s", shown.text);
        xml_send_empty("query-unsupported-msg");
        xml_send_empty("query-unsupported-msg");
        vorel_counters_emit(ctxt, {nullptr, kNatCounters}, reply, nullptr);
        xml_subtree_close();
    }
    vorel_trace("vorel: fwnat natstats reply finished\n");
    return 0;
}

int fwnat_natstatistics_clear_open(vorel_ctx *ctxt, fwnat_params *) {
    return nat_xml_only_open(ctxt, "vorel: natstats clear start \n");
}

int fwnat_natstatistics_clear_close(vorel_ctx *ctxt, fwnat_params *) {
    return nat_xml_only_close(ctxt, "vorel: natstatistics clear done \n");
}

int fwnat_natstatistics_clear_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp,
                                    svc_set_info *, fwnat_params *p) {
    if (!may_query(ctxt, asp, p))
        return -1;
    if (lacks_nat_engine(*asp)) {
        if (p->if_name)
            clear_status(asp->name, "Command not supported");
        return 0;
    }
    if (nat_shown_pic_name(*asp).twin_known)
        return 0;
    if (vorel_send(c, vorel_request(kClearRequest, 1, kHeaderOnly)) < 0)
        return -1;
    vorel_trace("vorel: fwnat natstats clear query start to receive reply \n");
    vorel::ByteReader reply =
        vorel_receive_at_least(c, kClearReply, 1, 8, asp->name, short_reply::end_answer);
    if (reply.empty()) {
        vorel_trace("vorel: fwnat natstats clear reply finished\n");
        return 0;
    }
    clear_status(asp->name, "NAT statistics cleared");
    return 0;
}
