// Softwire statistics (XML only): per service PIC the DS-Lite and 6rd
// counters, or on multiservices PICs the softwire plug-in's counters; per
// line card the inline 6rd and MAP-E engines' counters.  The clear actions
// share the queries and show nothing.
#include "platform/xml.h"
#include "vorel/vorel_channel.h"
#include "vorel/vorel_cmd_sw.h"
#include "vorel/vorel_counters.h"
#include "vorel/vorel_error.h"
#include "vorel/vorel_section.h"

#include <cstdio>

namespace {

constexpr uint16_t kStatsRequest = 48;
constexpr uint16_t kStatsReply = 49;
constexpr uint16_t kStatsReplyVersion = 3;
constexpr size_t kStatsRequestSize = 20; // 5 words
constexpr size_t kStatsReplySize = 528;  // through the last plug-in counter

constexpr uint16_t kInlineRequest = 183;
constexpr uint16_t kInlineReply = 184;
constexpr size_t kInlineRequestSize = 80; // 20 words
constexpr size_t kInlineNameOffset = 18;
constexpr size_t kInlineNameWidth = 60;
constexpr size_t kInlineReplySize = 456; // through the last MAP-E counter

// The open routines' text-mode line names the routine and this number.
constexpr int kTextModeLine = 1;

const vorel_counter kDsliteCounters[] = {
    {"softwire-created", 16},
    {"softwire-created-for-reverse-packet", 164},
    {"softwire-deleted", 20},
    {"flows-created", 36},
    {"flows-deleted", 40},
    {"slow-path", 52},
    {"slow-path-reverse-packet", 172},
    {"fast-path", 80},
    {"fast-path-encap", 76},
    {"softwire-eif-rule-accepts", 160},
    {"rule-match-succeeded", 68},
    {"rule-match-failed", 64},
    {"ipv6-packets-fragmented", 112},
    {"ipv4-client-fragments", 120},
    {"ipv4-server-first-fragments", 124},
    {"ipv4-server-more-fragments", 128},
    {"ipv4-server-last-fragments", 132},
    {"softwire-icmpv4-sent", 148},
    {"softwire-icmpv4-err-sent", 144},
    {"softwire-icmpv6-sent", 152},
    {"softwire-icmpv6-drop", 156},
    {"flow-creation-failed-retry", 48},
    {"flow-creation-failed-retry-for-reverse-packet", 180},
    {"slow-path-failed-retry", 60},
    {"softwire-creation-failed", 24},
    {"softwire-creation-failed-for-reverse-packet", 168},
    {"flow-creation-failed", 44},
    {"flow-creation-failed-for-reverse-packet", 176},
    {"slow-path-failed", 56},
    {"packet-not-ipv4-in-ipv6", 72},
    {"ipv6-fragmentation-error", 116},
    {"softwire-creation-failed-ipv6-next-header-offset", 32},
    {"decap-failed-packet-not-ipv4", 92},
    {"decap-failed-ipv6-next-header-offset", 96},
    {"decap-failed-ipv4-l3-integrity", 100},
    {"decap-failed-ipv4-l4-integrity", 104},
    {"decap-failed-ipv6-frag-no-mem", 108},
    {"no-softwire-id", 84},
    {"no-flow-extension", 88},
    {"flow-limit-exceeded", 136},
    {"session-limit-exceeded", 140},
};
const vorel_counter k6rdCounters[] = {
    {"softwire-created", 204},
    {"softwire-deleted", 208},
    {"flows-created", 224},
    {"flows-deleted", 228},
    {"slow-path", 240},
    {"slow-path-gratuitous-packet", 388},
    {"fast-path", 268},
    {"fast-path-encap", 264},
    {"rule-match-succeeded", 256},
    {"rule-match-failed", 252},
    {"flow-creation-failed-retry", 236},
    {"slow-path-failed-retry", 248},
    {"softwire-creation-failed", 212},
    {"flow-creation-failed", 232},
    {"slow-path-failed", 244},
    {"packet-not-ipv6-in-ipv4", 260},
    {"softwire-creation-failed-ipv6-next-header-offset", 220},
    {"decap-packet-not-ipv6", 372},
    {"no-space-for-outer-header", 376},
    {"no-softwire-id", 272},
    {"no-flow-extension", 276},
    {"icmpv4-dropped-packets", 384},
};
const vorel_counter kPluginCounters[] = {
    {"sw-total-session-interest", 392},
    {"sw-total-session-destroy", 396},
    {"sw-total-public-events", 400},
    {"sw-session-accepts", 404},
    {"sw-session-discards", 408},
    {"sw-session-ignores", 412},
    {"sw-sess-ext-alloc-failures", 416},
    {"sw-sess-ext-set-failures", 420},
    {"sw-session-created", 424},
    {"sw-session-deleted", 428},
    {"sw-session-create-for-reverse-pkts", 432},
    {"sw-session-create-failures-for-reverse-pkts", 436},
    {"sw-rule-match-success", 440},
    {"sw-rule-match-failures", 444},
    {"sw-session-limit-exceeded", 448},
    {"sw-ipv6-packets-fragmented", 524},
    {"sw-total-pkts-processed", 452},
    {"sw-encap-pkts", 456},
    {"sw-decap-pkts", 460},
    {"sw-encap-errors", 464},
    {"sw-decap-errors", 468},
    {"sw-encap-reinject-errors", 472},
    {"sw-decap-reinject-errors", 476},
    {"sw-dslite-icmpv4-echo-reply-sent", 480},
    {"sw-dslite-icmpv4-ttl-exceed-msg-sent", 484},
    {"sw-dslite-icmpv6-echo-req-recvd", 488},
    {"sw-dslite-icmpv6-echo-reply-sent", 492},
    {"sw-dslite-icmpv6-echo-req-process-err", 496},
    {"sw-dslite-pkt-to-aftrv6-drop", 500},
    {"sw-policy-add-errors", 504},
    {"sw-policy-del-errors", 508},
    {"sw-policy-mem-alloc-failures", 512},
    {"sw-untunnelled-pkts", 516},
    {"sw-dslite-icmpv4-ttl-exceed-process-errors", 520},
};
const vorel_counter kInline6rdCounters[] = {
    {"sc-icmpv4-echo-reqs", 16, 8},
    {"sc-icmpv4-echo-resp", 24, 8},
    {"sc-icmpv4-drops", 32, 8},
    {"sc-trace-rcvd", 88, 8},
    {"sc-icmpv4-port-unreachable-errors", 96, 8},
    {"sc-otherv4-drops", 80, 8},
    {"v6rd-decap-pkts", 104, 8},
    {"v6rd-decap-bytes", 168, 8},
    {"v6rd-encap-pkts", 112, 8},
    {"v6rd-encap-bytes", 176, 8},
    {"v6rd-decap-errors", 120, 8},
    {"v6rd-decap-errors-bytes", 184, 8},
    {"v6rd-decap-frag-errors", 152, 8},
    {"v6rd-decap-frag-errors-bytes", 216, 8},
    {"v6rd-decap-spoof-errors", 160, 8},
    {"v6rd-decap-spoof-errors-bytes", 224, 8},
    {"v6rd-v4-mtu-errors", 136, 8},
    {"v6rd-v4-mtu-errors-bytes", 200, 8},
};
const vorel_counter kInlineMapeCounters[] = {
    {"sc-mape-icmpv6-echo-reqs", 232, 8},
    {"sc-mape-icmpv6-echo-resp", 240, 8},
    {"sc-mape-icmpv6-drops", 248, 8},
    {"mape-v6-decap-pkts", 264, 8},
    {"mape-v6-decap-bytes", 360, 8},
    {"mape-icmp-decap-errors", 280, 8},
    {"mape-icmp-decap-errors-bytes", 376, 8},
    {"mape-decap-spoof-errors", 304, 8},
    {"mape-decap-spoof-errors-bytes", 400, 8},
    {"mape-v6-reass-pkts", 328, 8},
    {"mape-v6-reass-bytes", 424, 8},
    {"mape-v6-frag-errors", 344, 8},
    {"mape-v6-frag-errors-bytes", 440, 8},
    {"mape-v6-unsupp-proto", 352, 8},
    {"mape-v6-unsupp-proto-bytes", 448, 8},
    {"mape-v4-encap-pkts", 272, 8},
    {"mape-v4-encap-bytes", 368, 8},
    {"mape-icmp-encap-errors", 288, 8},
    {"mape-icmp-encap-errors-bytes", 384, 8},
    {"mape-v6-tunnel-mtu-errors", 296, 8},
    {"mape-v6-tunnel-mtu-errors-bytes", 392, 8},
    {"mape-v4-reass-pkts", 320, 8},
    {"mape-v4-reass-bytes", 416, 8},
    {"mape-v4-frag-errors", 336, 8},
    {"mape-v4-frag-errors-bytes", 432, 8},
};

// The statistics are an XML view: text mode gets the routine's line on
// standard output and the reason on standard error.
void text_mode_refusal(const vorel_ctx *ctxt, const char *fmt, const char *routine) {
    std::printf(fmt, routine, kTextModeLine);
    vorel_xml_only_view(ctxt, "the softwire statistics");
}

// The root of a statistics view: none when clearing; in text mode the
// refusal line with the open routine's name.
struct stats_root {
    uint32_t clear_subcmd;
    const char *element;
    const char *refusal_fmt;
    const char *open_routine;
};
constexpr stats_root kSoftwireRoot{SW_STATS_CLEAR, "service-softwire-statistics-information",
                                   "%s:%d Command failed \n", "softwire_stats_dump_open"};
constexpr stats_root kInlineRoot{SI_SW_STATS_CLEAR, "inline-service-sw-statistics-information",
                                 "%s:%d command failed \n", "si_sw_stats_dump_open"};

int open_stats_root(const stats_root &root, const vorel_ctx *ctxt, const softwire_params &p) {
    if (p.stats_subcmd == root.clear_subcmd)
        return 0;
    if (ctxt->xml)
        xml_subtree_open(root.element);
    else
        text_mode_refusal(ctxt, root.refusal_fmt, root.open_routine);
    return 0;
}

int close_stats_root(const stats_root &root, const vorel_ctx *ctxt, const softwire_params &p) {
    if (p.stats_subcmd != root.clear_subcmd)
        vorel_close_enclosing(ctxt, nullptr, nullptr);
    return 0;
}

void counters_entry(const vorel_ctx *ctxt, const char *element, const xml_attrs &attrs,
                    const char *name_leaf, const asp_info &asp,
                    std::span<const vorel_counter> counters, const vorel::ByteReader &reply) {
    xml_send_open(element, attrs);
    xml_send_all(name_leaf, "%s", asp.name);
    vorel_counters_emit(ctxt, {nullptr, counters}, reply, nullptr);
    xml_send_close(element);
}

// What a statistics exchange came to.
enum class stats_answer { failed, none, reply };

// Sends a statistics request and receives its one reply (at least
// min_size bytes); a missing reply is traced with the query's name.
stats_answer stats_exchange(services_ui_conn *c, const vorel::ByteWriter &req, uint16_t type,
                            uint16_t version, size_t min_size, const char *who, const char *query,
                            vorel::ByteReader *reply) {
    if (!c) {
        vorel_trace("asp_conn is null\n");
        return stats_answer::failed;
    }
    if (vorel_send(c, req) < 0)
        return stats_answer::failed;
    *reply = vorel_receive_at_least(c, type, version, min_size, who, short_reply::end_answer);
    if (reply->empty()) {
        vorel_trace("%s:%d: stats reply failure\n", query, kTextModeLine);
        return stats_answer::none;
    }
    return stats_answer::reply;
}

} // namespace

int softwire_stats_dump_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp, svc_set_info *ss,
                              softwire_params *p) {
    if (!ctxt || !asp || !p || (!p->pic_based && !ss))
        return -1;
    vorel::ByteWriter req = sw_request(kStatsRequest, 2, kStatsRequestSize, ss);
    req.be16(16, static_cast<uint16_t>(p->stats_subcmd));
    vorel::ByteReader reply;
    stats_answer answer = stats_exchange(c, req, kStatsReply, kStatsReplyVersion, kStatsReplySize,
                                         asp->name, "softwire_stats_dump_query", &reply);
    if (answer == stats_answer::failed)
        return -1;
    if (answer == stats_answer::none || p->stats_subcmd == SW_STATS_CLEAR)
        return 0;
    bool multiservices = sw_name_begins(asp->name, "ms") || sw_name_begins(asp->name, "mams");
    // The refusal is a message, in text mode too; the counters are XML only.
    if (multiservices && p->sw_type == SW_TYPE_6RD) {
        sw_refuse_pic(ctxt, "msp-softwire-plugin-statistics-entry", *asp);
        return 0;
    }
    if (!ctxt->xml)
        return 0;
    if (!multiservices) {
        if (p->sw_type != SW_TYPE_6RD)
            counters_entry(ctxt, "service-softwire-dslite-statistics-entry", {}, "srv-pic-name",
                           *asp, kDsliteCounters, reply);
        if (p->sw_type != SW_TYPE_DSLITE)
            counters_entry(ctxt, "service-softwire-6rd-statistics-entry", {}, "srv-pic-name", *asp,
                           k6rdCounters, reply);
        return 0;
    }
    counters_entry(ctxt, "msp-softwire-plugin-statistics-entry", {}, "interface-name", *asp,
                   kPluginCounters, reply);
    return 0;
}

int softwire_stats_dump_open(vorel_ctx *ctxt, softwire_params *p) {
    return open_stats_root(kSoftwireRoot, ctxt, *p);
}

int softwire_stats_dump_close(vorel_ctx *ctxt, softwire_params *p) {
    return close_stats_root(kSoftwireRoot, ctxt, *p);
}

int si_sw_stats_dump_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *si, svc_set_info *,
                           softwire_params *p) {
    if (!ctxt || !si || !p || !p->pic_based)
        return -1;
    vorel::ByteWriter req = vorel_request(kInlineRequest, 1, kInlineRequestSize);
    // The engine asked for: 2 (6rd) or 3 (MAP-E), else 'B' for both.
    bool typed = p->sw_type == SW_TYPE_6RD || p->sw_type == SW_TYPE_MAPE;
    req.u8(8, typed ? static_cast<uint8_t>(p->sw_type) : 'B');
    req.be16(16, static_cast<uint16_t>(p->stats_subcmd));
    req.text(kInlineNameOffset, kInlineNameWidth, si->name);
    vorel::ByteReader reply;
    stats_answer answer = stats_exchange(c, req, kInlineReply, 1, kInlineReplySize, si->name,
                                         "si_sw_stats_dump_query", &reply);
    if (answer == stats_answer::failed)
        return -1;
    if (answer == stats_answer::none || p->stats_subcmd == SI_SW_STATS_CLEAR || !ctxt->xml)
        return 0;
    if (p->sw_type != SW_TYPE_MAPE)
        counters_entry(ctxt, "inline-sw-6rd-statistics-entry", {xml_attr_style("inline-v6rd")},
                       "srv-pic-name", *si, kInline6rdCounters, reply);
    if (p->sw_type != SW_TYPE_6RD)
        counters_entry(ctxt, "inline-sw-mape-statistics-entry", {xml_attr_style("inline-mape")},
                       "srv-pic-name", *si, kInlineMapeCounters, reply);
    return 0;
}

int si_sw_stats_dump_open(vorel_ctx *ctxt, softwire_params *p) {
    return open_stats_root(kInlineRoot, ctxt, *p);
}

int si_sw_stats_dump_close(vorel_ctx *ctxt, softwire_params *p) {
    return close_stats_root(kInlineRoot, ctxt, *p);
}
