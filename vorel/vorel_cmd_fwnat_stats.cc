// Firewall statistics (dump_stats, clear_stats) in the brief, detail,
// extensive and summary views and per application gateway (-F alg), the
// service sets' integrity drops (dump_hdr_err, clear_stats_hdr_err) and the
// flow-replication statistics of redundant pairs (dump_ha_stats).
//
// The statistics pages are XML only.  In the detailed and per-gateway views
// a PIC's entry element opens with the first of its service sets that
// renders and stays open across the PIC's service sets until the next PIC
// begins or the action closes.
#include "platform/xml.h"
#include "vorel/vorel_cmd_fwnat.h"
#include "vorel/vorel_counters.h"
#include "vorel/vorel_error.h"
#include "vorel/vorel_section.h"
#include "vorel/vorel_string.h"
#include "vorel/vorel_tally.h"

#include <cstdio>
#include <string>

namespace {

constexpr uint16_t kVersion = 1;
constexpr size_t kRequestSize = 20;
constexpr size_t kSubcmdOffset = 16;
constexpr size_t kAlgIdOffset = 18;
constexpr size_t kReplyHeaderSize = 24; // header and the two words at 16 and 18
constexpr uint16_t kBlock = 24;         // the counter block
constexpr uint32_t kAlgSip = 29;

// Which statistics a query asks for, and the elements they render in.
struct stats_page {
    uint16_t request, reply;
    const char *entry;         // per PIC
    const char *svc_set_entry; // per service set
    bool integrity;            // the integrity-drops reply (164)
};

const stats_page kFirewallPage{34, 35, "service-sfw-statistics-entry",
                               "sfw-stats-service-set-entry", false};
const stats_page kIntegrityPage{163, 164, "service-set-integrity-drops-entry",
                                "sset-integrity-drops-service-set-entry", true};
const stats_page kIntegrityClearPage{165, 166, "service-set-integrity-drops-entry",
                                     "sset-integrity-drops-service-set-entry", true};

// ---------------------------------------------------------------------------
// The counter block (reply offset 24): the first twenty counters are 64-bit.

const vorel_counter kBriefTotals[] = {
    {"total-flow-accepts", kBlock + 0, 8, nullptr, kBlock + 24},
    {"total-flow-discards", kBlock + 8, 8, nullptr, kBlock + 32},
    {"total-flow-rejects", kBlock + 16, 8, nullptr, kBlock + 40},
    {"total-drops", kBlock + 64, 8},
};
const vorel_counter kNewFlow[] = {
    {"new-flow-accepts", kBlock + 0, 8},
    {"new-flow-discards", kBlock + 8, 8},
    {"new-flow-rejects", kBlock + 16, 8},
};
const vorel_counter kExistingFlow[] = {
    {"existing-flow-accepts", kBlock + 24, 8},
    {"existing-flow-discards", kBlock + 32, 8},
    {"existing-flow-rejects", kBlock + 40, 8},
};
const vorel_counter kHairpinning[] = {
    {"slow-path-hairpinned-packets", kBlock + 48, 8},
    {"fast-path-hairpinned-packets", kBlock + 56, 8},
};
const vorel_counter kDrops[] = {
    {"ip-option", kBlock + 72, 8},
    {"syn-defense", kBlock + 80, 8},
    {"nat-ports-exhausted", kBlock + 88, 8},
    {"subs-flow-limit-exceeded", kBlock + 96, 8},
};
const vorel_counter kErrors[] = {
    {"ip-errors", kBlock + 104, 8},
    {"tcp-errors", kBlock + 112, 8},
    {"udp-errors", kBlock + 120, 8},
    {"icmp-errors", kBlock + 128, 8},
};
const vorel_counter kErrorsFirewallPic[] = {
    {"non-ip-packets", kBlock + 144, 8},
    {"alg-errors", kBlock + 152, 8},
};

// The extensive view's groups: counters every PIC shows, then those that
// only a PIC without the session engine keeps, then every PIC's again.
const vorel_counter kIpLength[] = {
    {"ip-length-error", kBlock + 160, 4},
};
const vorel_counter kIpLengthFirewallPic[] = {
    {"ip-header-length-error", kBlock + 164, 4},
    {"long-packet", kBlock + 168, 4},
};
const vorel_counter kIpOther[] = {
    {"illegal-source-address", kBlock + 172, 4},
    {"illegal-destination-address", kBlock + 176, 4},
    {"ttl-zero", kBlock + 180, 4},
    {"illegal-ip-protocol", kBlock + 184, 4},
    {"land-attack", kBlock + 188, 4},
    {"non-ipv4", kBlock + 200, 4},
    {"non-ipv6", kBlock + 204, 4},
    {"bad-checksum", kBlock + 208, 4},
    {"illegal-fragment-length", kBlock + 212, 4},
    {"fragment-overlap", kBlock + 216, 4},
    {"fragment-reassembly-timeout", kBlock + 220, 4},
    {"fragment-limit-exceeded", kBlock + 224, 4},
    {"unknown", kBlock + 228, 4},
};
const vorel_counter kTcp[] = {
    {"tcp-header-length-error", kBlock + 232, 4},
    {"tcp-zero-port", kBlock + 236, 4},
    {"illegal-sequence-number-flags", kBlock + 240, 4},
};
const vorel_counter kTcpFirewallPic[] = {
    {"syn-attack", kBlock + 244, 4},
    {"non-syn-first-packet", kBlock + 248, 4},
    {"tcp-port-scan", kBlock + 252, 4},
    {"bad-syn-cookie-response", kBlock + 256, 4},
    {"tcp-recon-sequence-number-error", kBlock + 260, 4},
    {"tcp-recon-retransmits", kBlock + 264, 4},
    {"tcp-partially-opened-connection-timeout-syn-rcvd", kBlock + 268, 4},
    {"tcp-partially-opened-connection-timeout-syn-ack-rcvd", kBlock + 272, 4},
    {"tcp-partially-closed-connection-reuse", kBlock + 276, 4},
    {"tcp-3way-error-client-sent-syn-ack", kBlock + 280, 4},
    {"tcp-3way-error-server-sent-ack", kBlock + 284, 4},
    {"tcp-3way-error-syn-seq-num-retrans-mismatch", kBlock + 288, 4},
    {"tcp-3way-error-rst-seq-num-mismatch", kBlock + 292, 4},
    {"tcp-3way-error-fin-received", kBlock + 296, 4},
    {"tcp-3way-error-invalid-flags", kBlock + 300, 4},
    {"tcp-3way-error-syn-no-flow-initiator", kBlock + 304, 4},
    {"tcp-3way-error-first-packet-syn-ack", kBlock + 308, 4},
    {"tcp-3way-error-first-packet-fin-ack", kBlock + 312, 4},
    {"tcp-3way-error-first-packet-fin", kBlock + 316, 4},
    {"tcp-3way-error-first-packet-rst", kBlock + 320, 4},
    {"tcp-3way-error-first-packet-ack", kBlock + 324, 4},
    {"tcp-3way-error-first-packet-invalid-flags", kBlock + 328, 4},
    {"tcp-close-error-no-final-ack", kBlock + 332, 4},
    {"tcp-resumed-flow", kBlock + 336, 4},
};
const vorel_counter kUdp[] = {
    {"udp-header-length-error", kBlock + 340, 4},
    {"udp-zero-port", kBlock + 344, 4},
};
const vorel_counter kUdpFirewallPic[] = {
    {"udp-port-scan", kBlock + 348, 4},
};
const vorel_counter kIcmp[] = {
    {"icmp-length-error", kBlock + 352, 4},
    {"icmp-error-length-error", kBlock + 356, 4},
};
const vorel_counter kIcmpFirewallPic[] = {
    {"ping-duplicate-sequence-number", kBlock + 360, 4},
    {"ping-mismatched-sequence-number", kBlock + 364, 4},
    {"icmp-error-no-matching-flow", kBlock + 368, 4},
};
// Shown in the order of their names, not of the block.
const vorel_counter kAlgErrors[] = {
    {"alg-bootp-errors", kBlock + 488, 4},
    {"alg-dce-rpc-errors", kBlock + 468, 4},
    {"alg-dce-rpc-portmap-errors", kBlock + 464, 4},
    {"alg-dns-errors", kBlock + 484, 4},
    {"alg-exec-errors", kBlock + 456, 4},
    {"alg-ftp-errors", kBlock + 384, 4},
    {"alg-h323-errors", kBlock + 388, 4},
    {"alg-icmp-errors", kBlock + 476, 4},
    {"alg-iiop-errors", kBlock + 480, 4},
    {"alg-login-errors", kBlock + 448, 4},
    {"alg-netbios-errors", kBlock + 452, 4},
    {"alg-netshow-errors", kBlock + 420, 4},
    {"alg-realaudio-errors", kBlock + 424, 4},
    {"alg-rpc-errors", kBlock + 444, 4},
    {"alg-rpc-portmap-errors", kBlock + 440, 4},
    {"alg-rtsp-errors", kBlock + 436, 4},
    {"alg-shell-errors", kBlock + 412, 4},
    {"alg-sip-errors", kBlock + 492, 4},
    {"alg-snmp-errors", kBlock + 416, 4},
    {"alg-sqlnet-errors", kBlock + 460, 4},
    {"alg-tftp-errors", kBlock + 392, 4},
    {"alg-traceroute-errors", kBlock + 408, 4},
};
constexpr size_t kMaxIngressDropFlows = kBlock + 496;
constexpr size_t kMaxEgressDropFlows = kBlock + 504;
// A configured maximum above this means "no limit configured".
constexpr uint32_t kDropFlowsDefault = 8500000;
const vorel_counter kDropFlows[] = {
    {"current-ingress-drop-flows", kBlock + 500, 4},
    {"current-egress-drop-flows", kBlock + 508, 4},
    {"ingress-drop-flowlimit-drops", kBlock + 512, 4},
    {"egress-drop-flowlimit-drops", kBlock + 516, 4},
};

// The SIP gateway's counters: 32-bit words from the start of the block.
const vorel_counter kSipActive[] = {
    {"sip-active-call-count", kBlock + 0, 4},
    {"sip-active-reg-count", kBlock + 4, 4},
};
const vorel_counter kSipTotals[] = {
    {"total-messages", kBlock + 8, 4},
    {"call-segments", kBlock + 12, 4},
};
const vorel_counter kSipMessages[] = {
    {"register-new", kBlock + 16, 4},
    {"invite-new", kBlock + 20, 4},
    {"invite-retransmits", kBlock + 24, 4},
    {"reinvites", kBlock + 28, 4},
    {"ack-valid", kBlock + 32, 4},
    {"ack-invalid", kBlock + 36, 4},
    {"ack-retransmits", kBlock + 40, 4},
    {"bye-valid", kBlock + 44, 4},
    {"bye-invalid", kBlock + 48, 4},
    {"cancel-valid", kBlock + 52, 4},
    {"cancel-invalid", kBlock + 56, 4},
    {"subscribe-valid", kBlock + 60, 4},
    {"subscribe-invalid", kBlock + 64, 4},
    {"notify-valid", kBlock + 68, 4},
    {"notify-invalid", kBlock + 72, 4},
    {"message-valid", kBlock + 76, 4},
    {"message-invalid", kBlock + 80, 4},
    {"options-valid", kBlock + 84, 4},
    {"options-invalid", kBlock + 88, 4},
    {"info-valid", kBlock + 92, 4},
    {"info-invalid", kBlock + 96, 4},
    {"update-valid", kBlock + 100, 4},
    {"update-invalid", kBlock + 104, 4},
    {"refer-valid", kBlock + 108, 4},
    {"refer-invalid", kBlock + 112, 4},
    {"response-provisional", kBlock + 116, 4},
    {"response-invite-ok", kBlock + 120, 4},
    {"response-non-invite-ok", kBlock + 124, 4},
    {"response-redir", kBlock + 128, 4},
    {"response-request-failure", kBlock + 132, 4},
    {"response-server-failure", kBlock + 136, 4},
    {"response-global-failure", kBlock + 140, 4},
    {"response-invalid", kBlock + 144, 4},
    {"response-retransmits", kBlock + 148, 4},
};
const vorel_counter kSipParser[] = {
    {"syntax-errors", kBlock + 152, 4},
    {"content-errors", kBlock + 156, 4},
    {"unknown-methods", kBlock + 160, 4},
};

// What a view reads of the reply: a shorter reply is treated like none.
constexpr size_t kBriefSize = kBlock + 72;
constexpr size_t kDetailSize = kBlock + 160;
constexpr size_t kExtensiveSize = kBlock + 520;
constexpr size_t kSipSize = kBlock + 164;

enum class stats_view { brief, summary, detail, extensive, alg, clear };

stats_view view_of(const fwnat_params &p) {
    if (p.stats_subcmd == FWNAT_STATS_CLEAR)
        return stats_view::clear;
    if (p.alg_id != FWNAT_ALG_ID_NONE)
        return stats_view::alg;
    switch (p.stats_subcmd) {
    case FWNAT_STATS_DETAIL:
        return stats_view::detail;
    case FWNAT_STATS_EXTENSIVE:
        return stats_view::extensive;
    case FWNAT_STATS_SUMMARY:
        return stats_view::summary;
    default:
        return stats_view::brief;
    }
}

size_t reply_size_for(stats_view v, const fwnat_params &p) {
    switch (v) {
    case stats_view::brief:
    case stats_view::summary:
        return kBriefSize;
    case stats_view::detail:
        return kDetailSize;
    case stats_view::extensive:
        return kExtensiveSize;
    case stats_view::alg:
        return p.alg_id == kAlgSip ? kSipSize : kReplyHeaderSize;
    case stats_view::clear:
        break;
    }
    return kReplyHeaderSize;
}

// ---------------------------------------------------------------------------
// The PIC's entry element, open across the queries of one PIC.

struct pic_entry_state {
    const char *element = nullptr; // the open entry, null when none
    uint32_t pic = 0;              // pics_visited when the PIC began
};
pic_entry_state pic_entry;

void close_pic_entry() {
    if (pic_entry.element)
        xml_send_close(pic_entry.element);
    pic_entry.element = nullptr;
}

// A query of a PIC the walk had not reached before: the previous PIC's
// entry ends.
void note_pic() {
    if (pic_entry.pic == pics_visited)
        return;
    close_pic_entry();
    pic_entry.pic = pics_visited;
}

// Opens the PIC's entry unless one of its service sets already did: the
// first service set that renders names the PIC, whether or not earlier
// ones answered.
void open_pic_entry(const stats_page &page, const asp_info &asp) {
    if (pic_entry.element)
        return;
    xml_send_open(page.entry);
    xml_send_all("interface-name", "%s", asp.name);
    pic_entry.element = page.entry;
}

void emit(const vorel_ctx *ctxt, const char *group, std::span<const vorel_counter> counters,
          const vorel::ByteReader &reply) {
    vorel_counters_emit(ctxt, {group, counters}, reply, nullptr);
}

// A group whose middle counters only a PIC without the session engine has.
void emit_split(const vorel_ctx *ctxt, const char *group, std::span<const vorel_counter> all,
                std::span<const vorel_counter> firewall_pic, std::span<const vorel_counter> rest,
                bool msp, const vorel::ByteReader &reply) {
    xml_send_open(group);
    emit(ctxt, nullptr, all, reply);
    if (!msp)
        emit(ctxt, nullptr, firewall_pic, reply);
    emit(ctxt, nullptr, rest, reply);
    xml_send_close(group);
}

void send_svc_set_name(const svc_set_info *ss) {
    if (ss)
        xml_send_all("service-set-name", "%s", ss->name);
}

// Brief (per service set) and summary (per PIC): the four totals.
void print_brief(const vorel_ctx *ctxt, const asp_info &asp, const svc_set_info *ss,
                 const vorel::ByteReader &reply) {
    vorel_section entry(ctxt, "service-sfw-statistics-entry");
    entry.open();
    xml_send_all("interface-name", "%s", asp.name);
    vorel_section svc_set(ctxt, "sfw-stats-service-set-entry");
    svc_set.open();
    send_svc_set_name(ss);
    emit(ctxt, nullptr, kBriefTotals, reply);
}

void print_drop_flows(const vorel_ctx *ctxt, const vorel::ByteReader &reply) {
    uint32_t max_ingress = reply.be32(kMaxIngressDropFlows);
    uint32_t max_egress = reply.be32(kMaxEgressDropFlows);
    xml_send_open("drop-flows");
    for (auto [element, value] : {std::pair{"max-ingress-drop-flows", max_ingress},
                                  std::pair{"max-egress-drop-flows", max_egress}}) {
        if (value > kDropFlowsDefault)
            xml_send_all(element, "%s", "Default");
        else
            xml_send_all(element, "%u", value);
    }
    if (max_ingress <= kDropFlowsDefault)
        emit(ctxt, "drop-flows-counters", kDropFlows, reply);
    xml_send_close("drop-flows");
}

// The detailed and extensive views, also the integrity drops' page.
void print_detail(const vorel_ctx *ctxt, const stats_page &page, const asp_info &asp,
                  const svc_set_info *ss, bool extensive, const vorel::ByteReader &reply) {
    const bool msp = asp.flags & ASP_F_MSP;
    const bool flow_counters = !page.integrity || !msp;
    const bool error_counters = page.integrity || !msp;

    open_pic_entry(page, asp);
    vorel_section svc_set(ctxt, page.svc_set_entry);
    svc_set.open();
    send_svc_set_name(ss);
    if (flow_counters) {
        emit(ctxt, "new-flow-counters", kNewFlow, reply);
        emit(ctxt, "existing-flow-counters", kExistingFlow, reply);
        if (!msp) {
            emit(ctxt, "hairpinning-counters", kHairpinning, reply);
            emit(ctxt, "drop_counters", kDrops, reply);
        }
    }
    if (error_counters)
        emit_split(ctxt, "error-counters", kErrors, kErrorsFirewallPic, {}, msp, reply);
    if (!extensive)
        return;
    if (error_counters) {
        emit_split(ctxt, "ip-error-counters", kIpLength, kIpLengthFirewallPic, kIpOther, msp,
                   reply);
        emit_split(ctxt, "tcp-error-counters", kTcp, kTcpFirewallPic, {}, msp, reply);
        emit_split(ctxt, "udp-error-counters", kUdp, kUdpFirewallPic, {}, msp, reply);
        emit_split(ctxt, "icmp-error-counters", kIcmp, kIcmpFirewallPic, {}, msp, reply);
    }
    if (flow_counters && !msp)
        emit(ctxt, "alg-error-counters", kAlgErrors, reply);
    print_drop_flows(ctxt, reply);
}

// One gateway's counters (-F alg): only the SIP gateway has any.  Like the
// brief view, it names its elements as the firewall page does on every page;
// only the detailed views of the integrity drops have elements of their own.
void print_alg(const vorel_ctx *ctxt, const asp_info &asp, const svc_set_info *ss,
               const fwnat_params &p, const vorel::ByteReader &reply) {
    open_pic_entry(kFirewallPage, asp);
    vorel_section svc_set(ctxt, kFirewallPage.svc_set_entry);
    svc_set.open();
    send_svc_set_name(ss);
    if (p.alg_id != kAlgSip)
        return;
    xml_send_all("alg-name", "%s", "SIP");
    emit(ctxt, nullptr, kSipActive, reply);
    vorel_section counters(ctxt, "sip-alg-counters", {xml_attribute("style", "alg-sip")});
    counters.open();
    emit(ctxt, "total-counters", kSipTotals, reply);
    emit(ctxt, "message-counters", kSipMessages, reply);
    emit(ctxt, "parser-counters", kSipParser, reply);
}

void render(const vorel_ctx *ctxt, const stats_page &page, stats_view view, const asp_info &asp,
            const svc_set_info *ss, const fwnat_params &p, const vorel::ByteReader &reply) {
    switch (view) {
    case stats_view::brief:
    case stats_view::summary:
        print_brief(ctxt, asp, view == stats_view::summary ? nullptr : ss, reply);
        break;
    case stats_view::detail:
    case stats_view::extensive:
        print_detail(ctxt, page, asp, ss, view == stats_view::extensive, reply);
        break;
    case stats_view::alg:
        print_alg(ctxt, asp, ss, p, reply);
        break;
    case stats_view::clear:
        break;
    }
}

// The one statistics query: request, one reply, its page.
int stats_query(const stats_page &page, vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp,
                svc_set_info *ss, fwnat_params *p) {
    if (!fwnat_query_args_ok(ctxt, asp, ss, p, !p->pic_based))
        return -1;
    note_pic();
    vorel::ByteWriter req = fwnat_request(page.request, kVersion, kRequestSize, ss);
    req.be16(kSubcmdOffset, static_cast<uint16_t>(p->stats_subcmd));
    req.be16(kAlgIdOffset, static_cast<uint16_t>(p->alg_id));
    stats_view view = view_of(*p);
    bool answered = false;
    int rc = vorel_tally_exchange(
        c, req, page.reply, kVersion, reply_size_for(view, *p), asp->name, short_reply::end_answer,
        [&](const vorel::ByteReader &reply) {
            if (ctxt->xml)
                render(ctxt, page, view, *asp, ss, *p, reply);
        },
        &answered);
    if (rc == 0 && !answered)
        vorel_trace("vorel: stats reply failure\n");
    return rc;
}

const char *view_style(int32_t stats_subcmd) {
    static const char *const styles[] = {"brief", "detail", "extensive", "summary"};
    if (stats_subcmd < 0 || stats_subcmd > FWNAT_STATS_SUMMARY)
        return nullptr;
    return styles[stats_subcmd];
}

void begin_stats_run() {
    summary_info = 0;
    pic_entry = {};
}

} // namespace

void fwnat_note_xml_only(const vorel_ctx *ctxt, const fwnat_params *params) {
    std::string view = std::string("action ") + vorel_str_or_null(vorel_text(params->action));
    vorel_xml_only_view(ctxt, view.c_str());
}

// ---------------------------------------------------------------------------
// dump_stats and clear_stats

int fwnat_stats_dump_open(vorel_ctx *ctxt, fwnat_params *p) {
    begin_stats_run();
    const char *style = p->alg_id == FWNAT_ALG_ID_NONE         ? view_style(p->stats_subcmd)
                        : p->stats_subcmd != FWNAT_STATS_CLEAR ? "alg"
                                                               : nullptr;
    xml_attrs attrs;
    if (style)
        attrs.push_back(xml_attribute("style", style));
    vorel_open_enclosing(ctxt, nullptr, "service-sfw-statistics-information", nullptr, attrs);
    if (p->stats_subcmd != FWNAT_STATS_CLEAR)
        fwnat_note_xml_only(ctxt, p);
    return 0;
}

int fwnat_stats_dump_close(vorel_ctx *ctxt, fwnat_params *) {
    close_pic_entry();
    vorel_close_enclosing(ctxt, nullptr, nullptr);
    return 0;
}

int fwnat_stats_dump_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp, svc_set_info *ss,
                           fwnat_params *p) {
    return stats_query(kFirewallPage, ctxt, c, asp, ss, p);
}

// ---------------------------------------------------------------------------
// dump_hdr_err and clear_stats_hdr_err

int fwnat_hdr_err_dump_open(vorel_ctx *ctxt, fwnat_params *p) {
    begin_stats_run();
    vorel_open_enclosing(ctxt, nullptr, "service-set-integrity-drops-statistics", nullptr,
                         {xml_attribute("style", "extensive")});
    if (p->stats_subcmd != FWNAT_STATS_CLEAR)
        fwnat_note_xml_only(ctxt, p);
    return 0;
}

int fwnat_hdr_err_dump_close(vorel_ctx *ctxt, fwnat_params *) {
    close_pic_entry();
    vorel_close_enclosing(ctxt, nullptr, nullptr);
    return 0;
}

// Only multiservices PICs keep integrity drops; the others answer nothing.
int fwnat_hdr_err_dump_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp, svc_set_info *ss,
                             fwnat_params *p) {
    if (asp && !(asp->flags & ASP_F_MSP))
        return 0;
    return stats_query(kIntegrityPage, ctxt, c, asp, ss, p);
}

int fwnat_clear_stats_hdr_err_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp,
                                    svc_set_info *ss, fwnat_params *p) {
    return stats_query(kIntegrityClearPage, ctxt, c, asp, ss, p);
}

// ---------------------------------------------------------------------------
// dump_ha_stats: flow replication between the members of a redundant pair.

namespace {

constexpr uint16_t kHaRequest = 144, kHaReply = 145;
constexpr size_t kHaRequestSize = 24;
constexpr size_t kHaDetailOffset = 16;
constexpr size_t kHaBriefSize = 24;
constexpr size_t kHaDetailSize = 104; // 22 counters from 16

// Reply offsets of the detailed counters.
enum ha_counter : uint16_t {
    compute_tx_pkts = 16,
    compute_tx_bytes = 20,
    compute_tx_flows = 24,
    compute_rx_pkts = 28,
    compute_rx_bytes = 32,
    compute_rx_flows = 36,
    control_tx_pkts = 40,
    control_tx_bytes = 44,
    control_tx_flows = 48,
    control_rx_pkts = 52,
    control_rx_bytes = 56,
    control_rx_flows = 60,
    tcp_tx_pkts = 64,
    tcp_tx_bytes = 68,
    tcp_tx_flows = 72,
    tcp_rx_pkts = 76,
    tcp_rx_bytes = 80,
    tcp_rx_flows = 84,
    tx_errors = 88,
    rx_errors = 92,
    nacks = 96,
    dirty_flows = 100,
};

// In the order they are shown: flows, bytes, packets, each compute,
// control, TCP, output before input; then the errors.
const vorel_counter kHaDetail[] = {
    {"compute-tx-flows", compute_tx_flows},
    {"compute-rx-flows", compute_rx_flows},
    {"control-tx-flows", control_tx_flows},
    {"control-rx-flows", control_rx_flows},
    {"tcp-tx-flows", tcp_tx_flows},
    {"tcp-rx-flows", tcp_rx_flows},
    {"compute-tx-bytes", compute_tx_bytes},
    {"compute-rx-bytes", compute_rx_bytes},
    {"control-tx-bytes", control_tx_bytes},
    {"control-rx-bytes", control_rx_bytes},
    {"tcp-tx-bytes", tcp_tx_bytes},
    {"tcp-rx-bytes", tcp_rx_bytes},
    {"compute-tx-pkts", compute_tx_pkts},
    {"compute-rx-pkts", compute_rx_pkts},
    {"control-tx-pkts", control_tx_pkts},
    {"control-rx-pkts", control_rx_pkts},
    {"tcp-tx-pkts", tcp_tx_pkts},
    {"tcp-rx-pkts", tcp_rx_pkts},
    {"tx-errors", tx_errors},
    {"rx-errors", rx_errors},
    {"num-of-nacks", nacks},
    {"extended-num-of-dirty-flows", dirty_flows},
};
const vorel_counter kHaBrief[] = {
    {"num-replicated-flows", 16},
    {"brief-num-of-dirty-flows", 20},
};

void print_ha_detail_text(const vorel::ByteReader &r) {
    auto row = [&r](const char *label, uint16_t compute_tx, uint16_t compute_rx,
                    uint16_t control_tx, uint16_t control_rx, uint16_t tcp_tx, uint16_t tcp_rx) {
        std::printf("%s\t%u\t%u\t\t%u\t%u\t\t%u\t%u\n", label, r.be32(compute_tx),
                    r.be32(compute_rx), r.be32(control_tx), r.be32(control_rx), r.be32(tcp_tx),
                    r.be32(tcp_rx));
    };
    std::printf("\tCompute\t\tCtrl\t\tTCP\n\tOutput\tInput\t\tOutput\tInput\t\tOutput\tInput\n");
    row("flows", compute_tx_flows, compute_rx_flows, control_tx_flows, control_rx_flows,
        tcp_tx_flows, tcp_rx_flows);
    row("bytes", compute_tx_bytes, compute_rx_bytes, control_tx_bytes, control_rx_bytes,
        tcp_tx_bytes, tcp_rx_bytes);
    row("pkts", compute_tx_pkts, compute_rx_pkts, control_tx_pkts, control_rx_pkts, tcp_tx_pkts,
        tcp_rx_pkts);
    std::printf("Tx errors: %u\nRx errors: %u\nNum of NACKs: %u\nNum of dirty flows: %u\n",
                r.be32(tx_errors), r.be32(rx_errors), r.be32(nacks), r.be32(dirty_flows));
}

} // namespace

constexpr vorel_enclosing kHaStatsEnclosing{"vorel: redundancy statistics start \n",
                                            "service-sfw-ha-statistics", "Ha statistics \n\n",
                                            "vorel: redundancy statistics done \n"};
FWNAT_ENCLOSING_CALLBACKS(fwnat_ha_stats_dump, kHaStatsEnclosing)

int fwnat_ha_stats_dump_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp, svc_set_info *ss,
                              fwnat_params *p) {
    if (!fwnat_query_args_ok(ctxt, asp, ss, p, !p->pic_based))
        return -1;
    vorel::ByteWriter req = fwnat_request(kHaRequest, kVersion, kHaRequestSize, ss);
    req.u8(kHaDetailOffset, p->detail ? 1 : 0);
    if (vorel_send(c, req) < 0)
        return -1;
    vorel::ByteReader reply =
        vorel_receive_at_least(c, kHaReply, kVersion, p->detail ? kHaDetailSize : kHaBriefSize,
                               asp->name, short_reply::end_answer);
    if (reply.empty())
        return 0;
    if (ctxt->xml)
        emit(ctxt, nullptr,
             p->detail ? std::span<const vorel_counter>(kHaDetail)
                       : std::span<const vorel_counter>(kHaBrief),
             reply);
    else if (p->detail)
        print_ha_detail_text(reply);
    else
        std::printf("Replicated flows: %u\nNum of dirty flows: %u\n", reply.be32(16),
                    reply.be32(20));
    return 0;
}
