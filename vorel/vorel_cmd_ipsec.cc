// -C ipsec: the IPsec statistics of the service sets that run IPsec on
// service PICs and on inline service interfaces: totals per service set,
// or per-tunnel statistics (filtered by remote gateway or tunnel index),
// for ordinary IPsec and for group VPN, and their clearing.  The views
// exist only in XML.  There is no action table: the action chooses the
// request inside one walk.
#include "platform/xml.h"
#include "vorel/vorel_cmds.h"
#include "vorel/vorel_counters.h"
#include "vorel/vorel_driver.h"
#include "vorel/vorel_error.h"
#include "vorel/vorel_getopt.h"
#include "vorel/vorel_section.h"
#include "vorel/vorel_string.h"
#include "vorel/vorel_subcommand.h"
#include "vorel/vorel_util.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

namespace {

// Service sets that run IPsec are of this kind (rule words at 168/188 or
// the byte at 87 of their configuration, none of the firewall/NAT words).
constexpr uint32_t kIpsecKind = 2;

struct ipsec_params {
    std::optional<std::string> action;
    uint8_t detail = 0;
    uint32_t index = 0;
    uint16_t fpc = 0xffff, pic = 0xffff;
    uint32_t fpc_pic_present = 0;
    uint32_t remote_gw = 0; // host order
    std::optional<std::string> svc_set_name;
    std::optional<std::string> if_name;
    std::optional<std::string> command;
    std::optional<std::string> subcommand;
    bool gvpn = false;
};

// unknown: an action no row names; each service set the walk reaches says so.
enum class ipsec_action { show, clear, unknown };

// ---------------------------------------------------------------------------
// Rendering

// The statistics of one IPsec protocol block (300 bytes: AH, ESP, replay
// and error counters, and for group VPN the anti-replay D3P counters).
constexpr size_t kProtocolBlockSize = 300;
constexpr vorel_counter kEspCounters[] = {
    {"esp-encrypted-bytes", 56, 8},
    {"esp-decrypted-bytes", 64, 8},
    {"esp-encrypted-packets", 16, 8},
    {"esp-decrypted-packets", 24, 8},
};
constexpr vorel_counter kAhCounters[] = {
    {"ah-input-bytes", 112, 8},
    {"ah-output-bytes", 104, 8},
    {"ah-input-packets", 128, 8},
    {"ah-output-packets", 120, 8},
};
constexpr vorel_counter kD3pCounters[] = {
    {"d3p-old-packets", 136, 8},
    {"d3p-new-packets", 144, 8},
    {"d3p-no-header-packets", 160, 8},
    {"d3p-unexpected-header-packets", 168, 8},
};
constexpr vorel_counter kProtocolErrorCounters[] = {
    {"ah-authentication-failures", 240},
    {"esp-authentication-failures", 296},
    {"esp-decryption-failures", 256},
    {"bad-headers", 248},
    {"bad-trailers", 252},
    {"replay-before-window-drops", 184, 4, nullptr, 216},
    {"replay-pkts", 188, 4, nullptr, 220},
};

void emit_protocol_block(const vorel_ctx *ctxt, const vorel::ByteReader &block, bool gvpn) {
    vorel_counters_emit(ctxt, {"esp-statistics", kEspCounters}, block, nullptr);
    vorel_counters_emit(ctxt, {"ah-statistics", kAhCounters}, block, nullptr);
    if (gvpn)
        vorel_counters_emit(ctxt, {"d3p-statistics", kD3pCounters}, block, nullptr);
    vorel_counters_emit(ctxt, {"error-statistics", kProtocolErrorCounters}, block, nullptr);
}

// The PIC's own error counters (136 bytes of u32 words and, for group VPN,
// the fail-open and policy-mismatch packet counts).
constexpr size_t kErrorBlockSize = 136;

uint64_t sum_of(const vorel::ByteReader &block, std::initializer_list<size_t> offsets) {
    uint64_t sum = 0;
    for (size_t off : offsets)
        sum += block.be32(off);
    return sum;
}

void emit_error_block(const vorel::ByteReader &block) {
    xml_send_open("error-statistics");
    xml_send_all("ip-integrity-errors", "%u", block.be32(28));
    xml_send_all("exceeds-tunnel-mtu", "%u", block.be32(76));
    xml_send_all("rule-lookup-fail", "%u", block.be32(52));
    xml_send_all("no-sa-errors", "%llu",
                 static_cast<unsigned long long>(sum_of(block, {8, 12, 16, 32, 36, 40, 84})));
    xml_send_all("flow-errors", "%llu",
                 static_cast<unsigned long long>(sum_of(block, {0, 48, 56})));
    xml_send_all("misc-errors", "%llu",
                 static_cast<unsigned long long>(sum_of(block, {4, 20, 24})));
    xml_send_close("error-statistics");
}

constexpr vorel_counter kFailOpenCounters[] = {
    {"fail-open-packets-received", 104, 8},
    {"fail-open-packets-sent", 112, 8},
};
constexpr vorel_counter kPolicyMismatchCounters[] = {
    {"policy-mismatch-packets-received", 120, 8},
    {"policy-mismatch-packets-sent", 128, 8},
};

// Totals: a protocol block at 72 and the error block at 488.
constexpr size_t kTotalsProtocolOffset = 72;
constexpr size_t kTotalsErrorOffset = 488;
constexpr size_t kTotalsReplySize = kTotalsErrorOffset + kErrorBlockSize; // 624
constexpr uint32_t kTotalsCount = 2;

void emit_totals(const vorel_ctx *ctxt, const vorel::ByteReader &reply, bool gvpn) {
    vorel::ByteReader protocol = reply.sub(kTotalsProtocolOffset, kProtocolBlockSize);
    vorel::ByteReader errors = reply.sub(kTotalsErrorOffset, kErrorBlockSize);
    if (!gvpn) {
        xml_send_open("ipsec-statistics");
        emit_protocol_block(ctxt, protocol, false);
        emit_error_block(errors);
        xml_send_close("ipsec-statistics");
        return;
    }
    emit_protocol_block(ctxt, protocol, true);
    emit_error_block(errors);
    vorel_counters_emit(ctxt, {"fail-open-statistics", kFailOpenCounters}, errors, nullptr);
    vorel_counters_emit(ctxt, {"forward-policy-mismatch-statistics", kPolicyMismatchCounters},
                        errors, nullptr);
}

// Details: tunnel records of 416 bytes from 24.
constexpr size_t kTunnelsOffset = 24;
constexpr size_t kTunnelSize = 416;
constexpr size_t kMaxTunnels = 1u << 20;

void emit_tunnel(const vorel_ctx *ctxt, const vorel::ByteBlock<kTunnelSize> &b, bool gvpn) {
    // Each gateway: 16 bytes and an IPv6 flag byte after them.
    vorel::ByteReader rec = b.reader();
    vorel_addr local = vorel_addr_read(rec, 0), remote = vorel_addr_read(rec, 20);
    char local_text[INET6_ADDRSTRLEN + 8], remote_text[INET6_ADDRSTRLEN + 8];
    const char *element = gvpn ? "usp-ipsec-statistics" : "ipsec-statistics";
    xml_send_open(element);
    xml_send_all("local-gateway", "%s", ipaddr_tostring(&local, local_text, sizeof local_text));
    xml_send_all("remote-gateway", "%s", ipaddr_tostring(&remote, remote_text, sizeof remote_text));
    xml_send_all("tunnel-index", "%u", b.be32<40>());
    if (gvpn)
        xml_send_close(element);
    emit_protocol_block(ctxt, b.block<48, kProtocolBlockSize>().reader(), gvpn);
    if (!gvpn)
        xml_send_close(element);
}

// ---------------------------------------------------------------------------
// Requests

constexpr uint16_t kStatsRequest = 60;
constexpr uint16_t kStatsReply = 61;
constexpr uint16_t kClearReply = 62;
constexpr size_t kRequestSize = 112;
constexpr size_t kCountOffset = 16;
constexpr uint8_t kKindDetails = 0;
constexpr uint8_t kKindClear = 1;
constexpr uint8_t kKindTotals = 3;
constexpr uint32_t kGroupVpn = 2;

bool totals_mode(const ipsec_params &p) {
    return !p.detail && !p.remote_gw && !p.index;
}

vorel::ByteWriter ipsec_request(const svc_set_info *ss, const ipsec_params &p, uint8_t kind) {
    vorel::ByteWriter req = vorel_request(kStatsRequest, 1, kRequestSize, ss ? ss->id : 0);
    req.u8(8, ss ? ss->style : 0);
    req.be32(16, p.remote_gw);
    req.be32(36, p.gvpn ? kGroupVpn : 0);
    if (kind != kKindTotals)
        req.be32(40, p.index);
    req.u8(44, kind);
    return req;
}

// Sends the clear; the PIC acknowledges twice, and nothing is shown.
int ipsec_clear_stats_cmd_handler(services_ui_conn *conn, const svc_set_info *ss,
                                  const ipsec_params &p) {
    if (vorel_send(conn, ipsec_request(ss, p, kKindClear)) < 0)
        return -1;
    vorel_receive(conn, kClearReply, 1);
    vorel_receive(conn, kClearReply, 1);
    return 0;
}

int ipsec_show_stats_cmd_handler(const vorel_ctx *ctxt, services_ui_conn *conn, const asp_info &asp,
                                 const svc_set_info &ss, const ipsec_params &p) {
    bool totals = totals_mode(p);
    if (vorel_send(conn, ipsec_request(&ss, p, totals ? kKindTotals : kKindDetails)) < 0)
        return -1;
    vorel_trace("vorel: ipsec stats query start to receive reply \n");
    vorel_section section(ctxt, p.gvpn ? "usp-ipsec-service-set-statistics"
                                       : "ipsec-service-set-statistics");
    size_t min_size = totals ? kTotalsReplySize : kTunnelsOffset;
    for (;;) {
        vorel::ByteReader reply =
            vorel_receive_at_least(conn, kStatsReply, 1, min_size, asp.name, short_reply::skip);
        if (reply.empty())
            break;
        uint32_t count = reply.be32(kCountOffset);
        if (count == 0)
            continue;
        if (section.open()) {
            xml_send_all("pic-name", "%s", asp.name);
            xml_send_all("service-set-name", "%.*s", static_cast<int>(SVC_SET_NAME_LEN), ss.name);
        }
        if (totals) {
            if (count != kTotalsCount)
                vorel_trace("%s msg_count != 2\n", "ipsec_parse_total_replies");
            else
                emit_totals(ctxt, reply, p.gvpn);
            continue;
        }
        size_t n = reply.clamp_count(count, kTunnelsOffset, kTunnelSize, kMaxTunnels);
        for (size_t i = 0; i < n; i++) {
            vorel::ByteBlock<kTunnelSize> rec;
            if (reply.block(kTunnelsOffset + i * kTunnelSize, rec))
                emit_tunnel(ctxt, rec, p.gvpn);
        }
    }
    vorel_trace("vorel: ipsec stats reply finished\n");
    return 0;
}

// ---------------------------------------------------------------------------
// The walk

// Service sets of the IPsec kind, of style 'B' (only the one named with
// -s).  A clear without -s on a service PIC is one request for the whole
// PIC instead.
pic_loop ipsec_loop(const ipsec_params &p, ipsec_action action, bool whole_pic_clear) {
    return [&p, action, whole_pic_clear](services_ui_conn *c, asp_info *asp,
                                         const pic_query_fn &query) {
        if (action == ipsec_action::clear && !p.svc_set_name && whole_pic_clear)
            return query(c, asp, nullptr);
        for (svc_set_info *ss = nullptr; (ss = vorel_db_svc_set_find_next(asp, ss));) {
            if (ss->style != 'B' || ss->kind != kIpsecKind)
                continue;
            if (p.svc_set_name && std::strncmp(ss->name, p.svc_set_name->c_str(), SVC_SET_NAME_LEN))
                continue;
            if (query(c, asp, ss) < 0)
                return -1;
        }
        return 0;
    };
}

bool admit(const asp_info &asp, const ipsec_params &p) {
    if (p.gvpn && p.fpc_pic_present && (asp.fpc_slot != p.fpc || asp.pic_slot != p.pic))
        return false;
    return true;
}

int ipsec_walk(vorel_ctx *ctxt, const ipsec_params &p, ipsec_action action) {
    pic_query_fn query = [&](services_ui_conn *c, asp_info *asp, svc_set_info *ss) {
        if (action == ipsec_action::unknown) {
            vorel_user_message("vorel: ipsec handler unknown action: %s \n", p.action->c_str());
            return 0;
        }
        if (action == ipsec_action::clear)
            return ipsec_clear_stats_cmd_handler(c, ss, p);
        return ipsec_show_stats_cmd_handler(ctxt, c, *asp, *ss, p);
    };
    pic_walk walk;
    if (p.if_name)
        walk.pic_name = p.if_name->c_str();
    walk.admit = [&p](const asp_info &asp) { return admit(asp, p); };

    // Service PICs: one that cannot be reached is passed over.
    walk.records = walk_records::asp;
    walk.open_channel = vorel_open_pic_fatal;
    walk.on_open_failure = open_failure::skip_pic;
    walk.loop = ipsec_loop(p, action, true);
    if (vorel_walk_pics(walk, query) < 0)
        return -1;

    // Inline service interfaces: one that cannot be reached ends the walk.
    walk.records = walk_records::service_interfaces;
    walk.open_channel = vorel_open_inline_fatal;
    walk.on_open_failure = open_failure::stop_walk;
    walk.loop = ipsec_loop(p, action, false);
    return vorel_walk_pics(walk, query);
}

// ---------------------------------------------------------------------------
// Command line

// -F index N, -F fpc N, -F pic N: the term, then its value in the next word.
void parse_filter(int argc, char **argv, ipsec_params *p) {
    const char *term = vorel_optarg;
    const char *value = vorel_getopt_next_word(argc, argv);
    if (!value)
        return;
    if (std::strncmp(term, "index", 5) == 0) {
        p->index = static_cast<uint32_t>(std::strtoul(value, nullptr, 10));
    } else if (std::strncmp(term, "fpc", 3) == 0) {
        p->fpc = static_cast<uint8_t>(std::atoi(value));
        p->fpc_pic_present = 1;
    } else if (std::strncmp(term, "pic", 3) == 0) {
        p->pic = static_cast<uint8_t>(std::atoi(value));
    }
}

// -R: the remote gateway, the address of an IPv4 prefix.
bool parse_gateway(const char *value, ipsec_params *p) {
    uint32_t length = 0;
    return vorel_option_prefix4(value, &p->remote_gw, &length);
}

bool parse_options(int argc, char **argv, const vorel_ctx *ctxt, ipsec_params *p) {
    bool ok = true;
    int c;
    while ((c = vorel_getopt(argc, argv, ctxt->optstring)) != -1) {
        if (vorel_command_word_option(c, p))
            continue;
        switch (c) {
        case 's':
            p->svc_set_name = vorel_optarg;
            break;
        case 'i':
            p->if_name = vorel_optarg;
            break;
        case 'R':
            ok = parse_gateway(vorel_optarg, p) && ok;
            break;
        case 'V':
            // The view letter: x details, t or b totals.
            if (vorel_optarg[0] == 'x')
                p->detail = 1;
            else if (vorel_optarg[0] == 't' || vorel_optarg[0] == 'b')
                p->detail = 0;
            break;
        case 'd':
            p->detail = 1;
            break;
        case 't':
            debug = 1;
            break;
        case 'F':
            parse_filter(argc, argv, p);
            break;
        default:
            break;
        }
    }
    return ok;
}

// The actions; -S names one by its own name.  Each says whether it shows
// or clears and whether it is the group VPN's.
struct ipsec_kind {
    ipsec_action action;
    bool gvpn;
    bool operator==(const ipsec_kind &) const = default;
};
constexpr vorel_subcommand<ipsec_kind> kSubcommands[] = {
    {"show_stats", "show_stats", {ipsec_action::show, false}},
    {"clear_stats", "clear_stats", {ipsec_action::clear, false}},
    {"show_gvpn_stats", "show_gvpn_stats", {ipsec_action::show, true}},
    {"clear_gvpn_stats", "clear_gvpn_stats", {ipsec_action::clear, true}},
};

void trace_params(const ipsec_params &p) {
    if (!debug)
        return;
    char gw[INET_ADDRSTRLEN + 8];
    std::printf("vorel: command: %s, subcommand: %s \n", vorel_str_or_null(vorel_text(p.command)),
                vorel_str_or_null(vorel_text(p.subcommand)));
    std::printf("vorel: srv_set_name: %s, interface_name: %s,\n",
                vorel_str_or_null(vorel_text(p.svc_set_name)),
                vorel_str_or_null(vorel_text(p.if_name)));
    std::printf("vorel: ipsec action=%s ,detail=%s, remote_gw=%s\n",
                vorel_str_or_null(vorel_text(p.action)), p.detail ? "TRUE" : "FALSE",
                ip2str(p.remote_gw, gw, sizeof gw));
    std::printf("vorel: fpc_pic_present =%s, fpc =%d, pic =%d \n",
                p.fpc_pic_present ? "TRUE" : "FALSE", p.fpc, p.pic);
}

} // namespace

// The result is -1 whatever happened, as callers of this command expect.
int vorel_handle_ipsec_command(int argc, char **argv, vorel_ctx *ctxt) {
    ipsec_params p;
    if (!parse_options(argc, argv, ctxt, &p))
        return -1;
    if (!p.action && p.command && *p.command == "ipsec")
        if (const auto *row = vorel_subcommand_find(kSubcommands, p.subcommand))
            p.action = row->action;
    std::optional<ipsec_kind> kind =
        p.action ? vorel_subcommand_shared(kSubcommands, *p.action) : std::nullopt;
    p.gvpn = kind && kind->gvpn;
    trace_params(p);
    if (!p.action) {
        vorel_user_message("vorel: ipsec handler don't know what to do\n");
        return -1;
    }
    ipsec_action action = kind ? kind->action : ipsec_action::unknown;
    if (action == ipsec_action::show)
        vorel_xml_only_view(ctxt, "the IPsec statistics view");

    if (p.gvpn)
        xml_subtree_open("usp-ipsec-total-statistics-information");
    else
        xml_subtree_open("ipsec-total-statistics-information",
                         {xml_attr_style(p.detail || p.remote_gw ? "detail" : "brief")});
    ipsec_walk(ctxt, p, action);
    xml_subtree_close();
    xml_subtree_once();
    return -1;
}
