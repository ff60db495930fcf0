// Per-service-set statistics of the session engine: the TCP counters, the
// IDS drops (header-integrity errors, TCP counters and IDS drops, three
// exchanges on one channel) and the IDS session-limit counters, and their
// clears.  The counters are shown only in XML; text mode prints the page's
// heading when the walk opens and again when it closes.
#include "platform/xml.h"
#include "vorel/vorel_channel.h"
#include "vorel/vorel_cmd_msp.h"
#include "vorel/vorel_counters.h"
#include "vorel/vorel_error.h"
#include "vorel/vorel_tally.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr uint16_t kTcpStatsRequest = 128;
constexpr uint16_t kTcpStatsReply = 129;
constexpr uint16_t kIdsDropsRequest = 130;
constexpr uint16_t kIdsDropsReply = 131;
constexpr uint16_t kSessLimitsRequest = 132;
constexpr uint16_t kSessLimitsReply = 133;
constexpr uint16_t kHdrErrorsShowRequest = 163;
constexpr uint16_t kHdrErrorsReply = 164;
constexpr uint16_t kHdrErrorsClearRequest = 165;

constexpr size_t kRequestSize = 20;
constexpr size_t kStyleOffset = 8;

// The versions of a show and of a clear, asked and answered.
constexpr uint16_t kShowVersion = 1;
constexpr uint16_t kClearVersion = 2;
constexpr uint16_t kShowReplyVersion = 3;
constexpr uint16_t kClearReplyVersion = 4;

// What each page reads of its replies.  The IDS drops page keeps copies of
// three replies of these sizes (what arrived, the rest zero).
constexpr size_t kTcpStatsReadLen = 260;
constexpr size_t kTcpStatsCopyLen = 532;
constexpr size_t kHdrErrorsCopyLen = 552;
constexpr size_t kIdsDropsCopyLen = 360;
constexpr size_t kSessLimitsReadLen = 788;

vorel::ByteWriter stats_request(uint16_t type, uint16_t version, const svc_set_info &ss) {
    vorel::ByteWriter w = vorel_request(type, version, kRequestSize, ss.id);
    w.u8(kStyleOffset, ss.style);
    return w;
}

uint16_t request_version(const msp_action_params &p) {
    return p.clear_stats ? kClearVersion : kShowVersion;
}

uint16_t reply_version(const msp_action_params &p) {
    return p.clear_stats ? kClearReplyVersion : kShowReplyVersion;
}

// After the one reply of a request: a second one means the channel is out
// of step with what was asked.
bool second_reply(services_ui_conn *conn, uint16_t type, uint16_t version, const char *trace) {
    if (vorel_receive(conn, type, version).empty())
        return false;
    if (trace)
        vorel_trace("%s", trace);
    return true;
}

// What leads every entry: the PIC and the service set.
void entry_head(const asp_info &asp, const char *pic_element, const char *set_element,
                const svc_set_info &ss) {
    xml_send_all(pic_element, "%s", asp.name);
    xml_send_open(set_element);
    xml_send_all("service-set-name", "%s", ss.name);
    xml_send_close(set_element);
}

// ---- TCP statistics ----

const vorel_counter tcp_open_close_counters[] = {
    {"tcp-first-pkt-not-syn", 20},  {"tcp-first-pkt-rst", 24},
    {"tcp-first-pkt-fin", 28},      {"tcp-non-syn-discard", 32},
    {"tcp-ext-alloc-fail", 36},     {"tfo-syn-with-cookie-req", 236},
    {"tfo-syn-with-cookie", 240},   {"tfo-syn-ack-with-cookie", 244},
    {"tfo-packets-forwarded", 248}, {"tfo-packets-dropped", 252},
    {"tfo-packets-stripped", 256},
};

const vorel_counter tcp_sequence_error_counters[] = {
    {"tcp-invalid-syn-ack", 144},         {"tcp-invalid-ack-win-check", 148},
    {"tcp-invalid-xmit-syn", 152},        {"tcp-invalid-rst-in-listen", 156},
    {"tcp-invalid-rst-in-syn-recv", 160}, {"tcp-invalid-rst-in-syn-sent", 164},
    {"tcp-invalid-flags-handshake", 168}, {"tcp-reverse-flow-null-first-pkt-non-syn", 172},
    {"tcp-reverse-flow-null", 176},
};

void render_tcp_stats(const vorel_ctx *ctxt, const asp_info &asp, const svc_set_info &ss,
                      const vorel::ByteReader &reply) {
    if (!ctxt->xml)
        return;
    xml_send_open("msp-service-set-tcp-statistics-entry");
    entry_head(asp, "interface-name", "msp-sset-tcp-statistics-service-set-entry", ss);
    vorel_counters_emit(ctxt, {"tcp-open-close-counters", tcp_open_close_counters}, reply, nullptr);
    vorel_counters_emit(ctxt, {"tcp-sequence-error-counters", tcp_sequence_error_counters}, reply,
                        nullptr);
    xml_send_close("msp-service-set-tcp-statistics-entry");
}

// The TCP statistics exchange, shared by its own page and the IDS drops
// page: the request, its one reply (read when clearing too, not shown), and
// the check for a second one.  The reply, copied, goes to *copy when it is
// given.  1 when a reply came, 0 when none, -1 on a failed send or a second
// reply.
int tcp_stats_exchange(services_ui_conn *conn, const asp_info &asp, const svc_set_info &ss,
                       const msp_action_params &p, std::vector<uint8_t> *copy, size_t min_len) {
    bool answered = false;
    int rc = vorel_tally_exchange(
        conn, stats_request(kTcpStatsRequest, request_version(p), ss), kTcpStatsReply,
        reply_version(p), min_len, asp.name, short_reply::end_answer,
        [copy](const vorel::ByteReader &reply) {
            if (copy)
                copy->assign(reply.data(), reply.data() + reply.size());
        },
        &answered);
    return rc < 0 ? -1 : answered ? 1 : 0;
}

int msp_service_set_tcp_stats_query(vorel_ctx *ctxt, services_ui_conn *conn, asp_info *asp,
                                    svc_set_info *ss, msp_action_params *p) {
    if (!conn || !ss)
        return -1;
    std::vector<uint8_t> reply;
    int rc = tcp_stats_exchange(conn, *asp, *ss, *p, &reply, p->clear_stats ? 0 : kTcpStatsReadLen);
    // A reply followed by a second one is shown before the query fails, as
    // the count replies are.
    if (rc != 0 && !p->clear_stats && !reply.empty())
        render_tcp_stats(ctxt, *asp, *ss, vorel::ByteReader(reply));
    return rc < 0 ? -1 : 0;
}

// ---- IDS drops ----

// The three replies the page is made of.
enum : uint8_t { HDR, DROPS, TCP };

constexpr vorel_counter hdr(const char *e, uint16_t off, uint8_t width = 4) {
    return {e, off, width, nullptr, 0, HDR};
}
constexpr vorel_counter drops(const char *e, uint16_t off) {
    return {e, off, 4, nullptr, static_cast<uint16_t>(off + 4), DROPS};
}

const vorel_counter ids_error_counters[] = {
    hdr("ids-ip-errors", 128, 8),
    hdr("ids-tcp-errors", 136, 8),
    hdr("ids-udp-errors", 144, 8),
    hdr("ids-icmp-errors", 152, 8),
};

const vorel_counter ids_ip_error_counters[] = {
    hdr("ids-ip-length-error", 184),
    hdr("ids-illegal-source-address", 196),
    hdr("ids-illegal-destination-address", 200),
    hdr("ids-ttl-zero", 204),
    hdr("ids-illegal-ip-protocol", 208),
    hdr("ids-land-attack", 212),
    hdr("ids-non-ipv4", 224),
    hdr("ids-non-ipv6", 228),
    hdr("ids-bad-checksum", 232),
    hdr("ids-illegal-fragment-length", 236),
    hdr("ids-fragment-overlap", 240),
    hdr("ids-fragment-reassembly-timeout", 244),
    hdr("ids-fragment-limit-exceeded", 248),
    drops("ids-ipv4-bad-options", 20),
    drops("ids-ip-option-not-allowed", 100),
    drops("ids-ipv6-bad-extension-headers", 28),
    drops("ids-drops-land-attack", 84),
    drops("ids-drops-land-port-attack", 92),
    drops("ids-session-limit-exceeded-source", 36),
    drops("ids-session-limit-exceeded-destination", 44),
    drops("ids-cps-limit-exceeded-source", 52),
    drops("ids-cps-limit-exceeded-destination", 60),
    drops("ids-pps-limit-exceeded-source", 68),
    drops("ids-pps-limit-exceeded-destination", 76),
    drops("ids-drops-unknown", 108),
    hdr("ids-unknown", 252),
};

const vorel_counter ids_tcp_error_counters[] = {
    hdr("ids-tcp-header-length-error", 256),
    hdr("ids-tcp-zero-port", 260),
    hdr("ids-illegal-sequence-number-flags", 264),
    drops("ids-tcp-winnuke", 116),
    drops("ids-tcp-syn-fragment", 124),
    {"ids-tcp-connection-closed-syn-defense", 204, 4, nullptr, 0, TCP},
    drops("ids-tcp-session-limit-exceeded-source", 140),
    drops("ids-tcp-session-limit-exceeded-destination", 148),
    drops("ids-tcp-cps-limit-exceeded-source", 156),
    drops("ids-tcp-cps-limit-exceeded-destination", 164),
    drops("ids-tcp-pps-limit-exceeded-source", 172),
    drops("ids-tcp-pps-limit-exceeded-destination", 180),
};

const vorel_counter ids_udp_error_counters[] = {
    hdr("ids-udp-header-length-error", 364),
    hdr("ids-udp-zero-port", 368),
    drops("ids-udp-session-limit-exceeded-source", 212),
    drops("ids-udp-session-limit-exceeded-destination", 220),
    drops("ids-udp-cps-limit-exceeded-source", 228),
    drops("ids-udp-cps-limit-exceeded-destination", 236),
    drops("ids-udp-pps-limit-exceeded-source", 244),
    drops("ids-udp-pps-limit-exceeded-destination", 252),
};

const vorel_counter ids_icmp_error_counters[] = {
    hdr("ids-icmp-length-error", 376),
    hdr("ids-icmp-error-length-error", 380),
    hdr("ids-icmp-large-packet-error", 400),
    drops("ids-icmp-fragments", 260),
    drops("ids-icmp-session-limit-exceeded-source", 268),
    drops("ids-icmp-session-limit-exceeded-destination", 276),
    drops("ids-icmp-cps-limit-exceeded-source", 284),
    drops("ids-icmp-cps-limit-exceeded-destination", 292),
    drops("ids-icmp-pps-limit-exceeded-source", 300),
    drops("ids-icmp-pps-limit-exceeded-destination", 308),
};

const vorel_counter_group ids_drops_groups[] = {
    {"ids-error-counters", ids_error_counters},
    {"ids-ip-error-counters", ids_ip_error_counters},
    {"ids-tcp-error-counters", ids_tcp_error_counters},
    {"ids-udp-error-counters", ids_udp_error_counters},
    {"ids-icmp-error-counters", ids_icmp_error_counters},
};

// A copy of a reply's first `size` bytes: what arrived, the rest zero.
std::vector<uint8_t> fixed_copy(const uint8_t *data, size_t len, size_t size) {
    std::vector<uint8_t> out(size, 0);
    if (len)
        std::memcpy(out.data(), data, std::min(len, size));
    return out;
}

void render_ids_drops(const vorel_ctx *ctxt, const asp_info &asp, const svc_set_info &ss,
                      const std::array<vorel::ByteReader, 3> &sources) {
    if (!ctxt->xml)
        return;
    xml_send_open("service-set-ids-drops-entry");
    entry_head(asp, "ids-interface-name", "sset-ids-drops-service-set-entry", ss);
    for (const vorel_counter_group &g : ids_drops_groups)
        vorel_counters_emit(ctxt, g, sources, nullptr);
    xml_send_close("service-set-ids-drops-entry");
}

// Step 1: the header-integrity errors (only sent when clearing).  -1 when
// the send fails, no reply came or a second one did.
int hdr_errors_exchange(services_ui_conn *conn, const svc_set_info &ss, const msp_action_params &p,
                        std::vector<uint8_t> *copy) {
    uint16_t type = p.clear_stats ? kHdrErrorsClearRequest : kHdrErrorsShowRequest;
    if (vorel_send(conn, stats_request(type, kShowVersion, ss)) < 0) {
        vorel_trace("vorel: failed to send query for hdr integrity errors\n");
        return -1;
    }
    if (p.clear_stats)
        return 0;
    vorel::ByteReader reply = vorel_receive(conn, kHdrErrorsReply, kShowVersion);
    if (reply.empty()) {
        vorel_trace("vorel:failed to get reply for hdr integrity errors\n");
        return -1;
    }
    *copy = fixed_copy(reply.data(), reply.size(), kHdrErrorsCopyLen);
    if (second_reply(conn, kHdrErrorsReply, kShowVersion,
                     "vorel: got hdr error response but later got unexpected message, out of "
                     "sync\n"))
        return -1;
    return 0;
}

int msp_service_set_ids_drops_stats_query(vorel_ctx *ctxt, services_ui_conn *conn, asp_info *asp,
                                          svc_set_info *ss, msp_action_params *p) {
    if (!conn || !ss)
        return -1;
    std::vector<uint8_t> hdr_copy, tcp_reply;
    if (hdr_errors_exchange(conn, *ss, *p, &hdr_copy) < 0)
        return -1;

    int tcp = tcp_stats_exchange(conn, *asp, *ss, *p, &tcp_reply, 0);
    if (tcp < 0 || (tcp == 0 && !p->clear_stats))
        return -1;
    std::vector<uint8_t> tcp_copy =
        fixed_copy(tcp_reply.data(), tcp_reply.size(), kTcpStatsCopyLen);

    if (vorel_send(conn, stats_request(kIdsDropsRequest, request_version(*p), *ss)) < 0) {
        vorel_trace("vorel: failed to send ids_drops query\n");
        return -1;
    }
    if (p->clear_stats)
        return 0;
    vorel::ByteReader reply = vorel_receive(conn, kIdsDropsReply, kShowReplyVersion);
    if (reply.empty()) {
        vorel_trace("vorel: failed to get ids_drops response\n");
        return 0;
    }
    std::vector<uint8_t> drops_copy = fixed_copy(reply.data(), reply.size(), kIdsDropsCopyLen);
    render_ids_drops(
        ctxt, *asp, *ss,
        {vorel::ByteReader(hdr_copy), vorel::ByteReader(drops_copy), vorel::ByteReader(tcp_copy)});
    if (second_reply(conn, kIdsDropsReply, kShowReplyVersion,
                     "vorel: got IDS drops response but later got unexpected message, out of "
                     "sync\n"))
        return -1;
    return 0;
}

// ---- IDS session-limit counters ----

constexpr size_t kSessLimitsNameLen = 64;
// The texts of each direction: ingress at these offsets, egress 64 later.
struct limits_text {
    const char *element; // completed with "-ingress" or "-egress"
    uint16_t ingress_offset;
};
const limits_text limits_texts[] = {
    {"ids-match-direction", 18},
    {"ids-rule-set-name", 146},
    {"ids-rule-name", 274},
    {"ids-term-name", 402},
};

// The counter blocks: (ingress, egress) pairs.  The TCP and UDP blocks
// carry one pair that is not shown, after the first.
struct limits_block {
    const char *proto;
    uint16_t offset;
    bool unshown_pair;
};
const limits_block limits_blocks[] = {
    {"tcp", 532, true},
    {"udp", 612, true},
    {"icmp", 676, false},
    {"other-proto", 732, false},
};
const char *const limits_counter_names[] = {
    "sessions-allowed",
    "sessions-ignored",
    "sessions-dropped-maximum-reached",
    "sessions-dropped-high-rate",
    "sessions-dropped-suspicious-packets",
    "packets-allowed",
    "packets-dropped-high-pps",
};
constexpr size_t kLimitsCounters = std::size(limits_counter_names);
constexpr size_t kPairLen = 8;

// One direction's counters of one block, with their element names.
struct limits_table {
    std::vector<std::string> names;
    std::vector<vorel_counter> counters;
};

limits_table limits_counters(const limits_block &b, const char *dir, uint16_t dir_offset) {
    limits_table t;
    t.names.reserve(kLimitsCounters);
    for (size_t i = 0; i < kLimitsCounters; i++) {
        size_t pair = i == 0 || !b.unshown_pair ? i : i + 1;
        t.names.push_back(std::string("ids-") + b.proto + "-" + limits_counter_names[i] + "-" +
                          dir);
        t.counters.push_back(
            {nullptr, static_cast<uint16_t>(b.offset + pair * kPairLen + dir_offset)});
    }
    for (size_t i = 0; i < kLimitsCounters; i++)
        t.counters[i].element = t.names[i].c_str();
    return t;
}

void render_limits_direction(const vorel_ctx *ctxt, const vorel::ByteReader &reply, const char *dir,
                             uint16_t dir_offset) {
    std::string info = std::string("ids-session-limits-counters-general-info-") + dir;
    xml_send_open(info.c_str());
    for (const limits_text &t : limits_texts) {
        std::string element = std::string(t.element) + "-" + dir;
        std::string text(reply.text(t.ingress_offset + (dir_offset ? kSessLimitsNameLen : 0),
                                    kSessLimitsNameLen));
        xml_send_all(element.c_str(), "%s", text.c_str());
    }
    xml_send_close(info.c_str());
    for (const limits_block &b : limits_blocks) {
        limits_table t = limits_counters(b, dir, dir_offset);
        std::string group = std::string("ids-") + b.proto + "-session-limits-counters-" + dir;
        vorel_counters_emit(ctxt, {group.c_str(), t.counters}, reply, nullptr);
    }
}

void render_sess_limits(const vorel_ctx *ctxt, const asp_info &asp, const svc_set_info &ss,
                        const vorel::ByteReader &reply) {
    if (!ctxt->xml)
        return;
    xml_send_open("service-set-ids-session-limits-counters-statistics-entry");
    entry_head(asp, "ids-interface-name", "service-set-ids-session-limits-counters-entry", ss);
    render_limits_direction(ctxt, reply, "ingress", 0);
    render_limits_direction(ctxt, reply, "egress", 4);
    xml_send_close("service-set-ids-session-limits-counters-statistics-entry");
}

int msp_service_set_ids_session_limits_counters_stats_query(vorel_ctx *ctxt, services_ui_conn *conn,
                                                            asp_info *asp, svc_set_info *ss,
                                                            msp_action_params *p) {
    if (!conn || !ss)
        return -1;
    if (vorel_send(conn, stats_request(kSessLimitsRequest, request_version(*p), *ss)) < 0) {
        vorel_trace("vorel: failed to send ids_session_limits_counters query\n");
        return -1;
    }
    if (p->clear_stats)
        return 0;
    vorel::ByteReader reply =
        vorel_receive_at_least(conn, kSessLimitsReply, kShowReplyVersion, kSessLimitsReadLen,
                               asp->name, short_reply::end_answer);
    if (reply.empty()) {
        vorel_trace("vorel: failed to get ids_session_limits_counters response\n");
        return 0;
    }
    render_sess_limits(ctxt, *asp, *ss, reply);
    if (second_reply(conn, kSessLimitsReply, kShowReplyVersion,
                     "vorel: got IDS session_limits_counters response but later got unexpected "
                     "message, out of sync\n"))
        return -1;
    return 0;
}

// ---- Open and close ----

// Each page opens and closes its root element (with style "extensive") in
// XML and prints its heading at both ends in text.  Shown in text mode, a
// page's counters are missing, so its show variant says once that the page
// needs -X.
struct stats_page {
    const char *view; // as the note names it
    const char *element;
    const char *heading;
};
constexpr stats_page tcp_page = {"the TCP statistics", "msp-service-set-tcp-statistics",
                                 "\n service set tcp statistics \n"};
constexpr stats_page ids_drops_page = {"the IDS drops statistics",
                                       "service-set-ids-drops-statistics",
                                       "\n service set ids_drops statistics \n"};
constexpr stats_page sess_limits_page = {
    "the IDS session-limit statistics", "service-set-ids-session-limits-counters-statistics",
    "\n service set ids_session_limits_counters statistics \n"};

template <const stats_page &P, bool Show> int page_open(vorel_ctx *ctxt) {
    vorel_open_enclosing(ctxt, "vorel: service set statistics start \n", P.element, P.heading,
                         {xml_attr_style("extensive")});
    if (Show)
        vorel_xml_only_view(ctxt, P.view);
    return 0;
}

template <const stats_page &P> int page_close(vorel_ctx *ctxt) {
    vorel_close_enclosing(ctxt, "vorel: service set statistics done \n", P.heading);
    return 0;
}

} // namespace

const msp_cmd_handlers msp_tcp_stats_handlers = {page_open<tcp_page, true>, page_close<tcp_page>,
                                                 msp_service_set_tcp_stats_query};
const msp_cmd_handlers msp_tcp_stats_clear_handlers = {
    page_open<tcp_page, false>, page_close<tcp_page>, msp_service_set_tcp_stats_query};
const msp_cmd_handlers msp_ids_drops_stats_handlers = {page_open<ids_drops_page, true>,
                                                       page_close<ids_drops_page>,
                                                       msp_service_set_ids_drops_stats_query};
const msp_cmd_handlers msp_ids_drops_stats_clear_handlers = {page_open<ids_drops_page, false>,
                                                             page_close<ids_drops_page>,
                                                             msp_service_set_ids_drops_stats_query};
const msp_cmd_handlers msp_ids_sess_limits_stats_handlers = {
    page_open<sess_limits_page, true>, page_close<sess_limits_page>,
    msp_service_set_ids_session_limits_counters_stats_query};
const msp_cmd_handlers msp_ids_sess_limits_stats_clear_handlers = {
    page_open<sess_limits_page, false>, page_close<sess_limits_page>,
    msp_service_set_ids_session_limits_counters_stats_query};
