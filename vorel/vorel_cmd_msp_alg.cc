// The application-level gateways of the session engine, once per
// multiservices PIC: their conversations (control-session groups, the
// resources they hold and the child sessions and pinholes of those), their
// counters per application, the SIP gateway's settings, and the clear of
// the counters.
#include "platform/xml.h"
#include "vorel/vorel_channel.h"
#include "vorel/vorel_cmd_msp.h"
#include "vorel/vorel_counters.h"
#include "vorel/vorel_error.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <span>
#include <string>

namespace {

constexpr uint16_t kConvRequest = 136;
constexpr uint16_t kConvReply = 137;
constexpr uint16_t kStatsRequest = 138;
constexpr uint16_t kStatsReply = 139;
constexpr uint16_t kClearStatsRequest = 140;
constexpr uint16_t kSipGlobalsRequest = 142;
constexpr uint16_t kSipGlobalsReply = 143;
constexpr uint16_t kVersion = 1;

constexpr size_t kRequestSize = 116;
constexpr size_t kConvKindOffset = 18;
constexpr size_t kConvIdOffset = 20;
constexpr size_t kExtensiveOffset = 24;
constexpr size_t kFilterOffset = 28;

constexpr size_t kReplyKindOffset = 19;
constexpr size_t kAppOffset = 18;
constexpr size_t kClientNameLen = 24;
constexpr size_t kAddrTextLen = 64;
// Counts of the conversation replies are held to the entries present;
// tables without a layout limit are also held to this many.
constexpr size_t kMaxListed = 65536;

enum conv_kind : uint8_t {
    kAll = 0,
    kGroups = 1,
    kGroupById = 2,
    kResources = 3,
    kResourceById = 4,
    kSummary = 5,
};

uint8_t conv_kind_of(const msp_action_params &p) {
    if (!p.id_keyword)
        return kAll;
    const std::string &k = *p.id_keyword;
    if (k == "summary")
        return kSummary;
    if (k == "resources")
        return kResources;
    if (k == "resource-id")
        return kResourceById;
    if (k == "groups")
        return kGroups;
    if (k == "group-id")
        return kGroupById;
    return kAll;
}

vorel::ByteWriter alg_request(uint16_t type, const msp_action_params &p, bool conversations) {
    vorel::ByteWriter w = vorel_request(type, kVersion, kRequestSize);
    if (conversations) {
        uint8_t kind = conv_kind_of(p);
        w.u8(kConvKindOffset, kind);
        if (kind == kGroupById || kind == kResourceById)
            w.be32(kConvIdOffset, static_cast<uint32_t>(p.id_value));
        w.u8(kExtensiveOffset, p.extensive);
    }
    msp_filter_write(w, kFilterOffset, p);
    return w;
}

const char *state_name(uint32_t state) {
    return state == 1 ? "active" : state == 2 ? "passive" : "closed";
}

// A client (application) name: at most its field's width, never past the
// reply.
std::string client_name(const vorel::ByteReader &r, size_t off) {
    return std::string(r.text(off, kClientNameLen));
}

// The interface line or element that leads a PIC's replies.
void interface_line(const vorel_ctx *ctxt, const asp_info &asp) {
    if (ctxt->xml)
        xml_send_all("interface-name", "%s", asp.name);
    else
        std::printf("Interface name: %s\n", asp.name);
}

// Leaves of an XML entry: text mode writes nothing through these.
void leaf_u(const char *element, unsigned long long v) {
    xml_send_all(element, "%llu", v);
}
void leaf_s(const char *element, const char *v) {
    xml_send_all(element, "%s", v);
}

// ---- Conversations: summary, groups, one group, resources ----

void conv_summary(const vorel_ctx *ctxt, const vorel::ByteReader &r) {
    static const char *const labels[] = {"Applications active", "Groups active", "Resources active",
                                         "Sessions active"};
    static const char *const elements[] = {"clients-active", "groups-active", "resources-active",
                                           "sessions-active"};
    if (!ctxt->xml)
        std::printf("%-24s\n", "ALG conversation summary \n");
    else
        xml_send_open("msp-alg-conv-summary-entry");
    for (size_t i = 0; i < 4; i++) {
        uint32_t v = r.be32(24 + 4 * i);
        if (ctxt->xml)
            leaf_u(elements[i], v);
        else
            std::printf("%-24s:%u\n", labels[i], v);
    }
    if (ctxt->xml)
        xml_send_close("msp-alg-conv-summary-entry");
}

void conv_groups(const vorel_ctx *ctxt, const vorel::ByteReader &r) {
    uint32_t id = r.be32(24);
    const char *state = state_name(r.be32(32));
    std::string client = client_name(r, 40);
    size_t n = r.clamp_count(r.be32(36), 64, 4, kMaxListed);
    if (!ctxt->xml) {
        std::printf("Group ID: %u state : %s ALG : %s\n", id, state, client.c_str());
        std::printf("Number of resources: %zu\n", n);
        for (size_t i = 0; i < n; i++)
            std::printf("  Resource ID: %u\n", r.be32(64 + 4 * i));
        return;
    }
    xml_send_open("msp-alg-conv-groups-entry");
    leaf_u("group-id", id);
    leaf_s("group-is-active", state);
    leaf_s("client-name", client.c_str());
    leaf_u("num-resources", n);
    for (size_t i = 0; i < n; i++)
        leaf_u("resource-id", r.be32(64 + 4 * i));
    xml_send_close("msp-alg-conv-groups-entry");
}

void conv_group_by_id(const vorel_ctx *ctxt, const vorel::ByteReader &r) {
    uint32_t id = r.be32(24);
    const char *state = state_name(r.be32(28));
    std::string client = client_name(r, 32);
    auto parent = static_cast<unsigned long long>(r.be64(56));
    uint32_t timeout = r.be32(64);
    size_t n = r.clamp_count(r.be32(68), 76, 4, kMaxListed);
    if (!ctxt->xml) {
        std::printf("Group ID :%u state :%s\n", id, state);
        std::printf("Application   :%s\n", client.c_str());
        std::printf("Parent session ID  :%llu\n", parent);
        std::printf("Group timeout:%u\n", timeout);
        std::printf("Number of resources:%zu\n", n);
        for (size_t i = 0; i < n; i++)
            std::printf("Resource ID :%u\n", r.be32(76 + 4 * i));
        return;
    }
    xml_send_open("msp-alg-conv-group-num-entry");
    leaf_u("group-id", id);
    leaf_s("group-is-active", state);
    leaf_s("client-name", client.c_str());
    leaf_u("parent-session-id", parent);
    leaf_u("group-timeout", timeout);
    leaf_u("num-resources", n);
    for (size_t i = 0; i < n; i++)
        leaf_u("resource", r.be32(76 + 4 * i));
    xml_send_close("msp-alg-conv-group-num-entry");
}

void conv_resources(const vorel_ctx *ctxt, const vorel::ByteReader &r) {
    uint32_t id = r.be32(24), group = r.be32(32);
    const char *state = state_name(r.be32(40));
    std::string client = client_name(r, 44);
    size_t n = r.clamp_count(r.be32(68), 72, 8, kMaxListed);
    if (!ctxt->xml) {
        std::printf("Resource ID: %u state : %s group ID : %u ALG : %s\n", id, state, group,
                    client.c_str());
        std::printf("Number of sessions: %zu\n", n);
        // The text shows the low-order half of each 64-bit id.
        for (size_t i = 0; i < n; i++)
            std::printf("Session ID: %u\n", static_cast<uint32_t>(r.be64(72 + 8 * i)));
        return;
    }
    xml_send_open("msp-alg-conv-resources-entry");
    leaf_u("resource-id", id);
    leaf_s("resource-is-active", state);
    leaf_u("group-id", group);
    leaf_s("client-name", client.c_str());
    leaf_u("num-sessions", n);
    for (size_t i = 0; i < n; i++)
        leaf_u("session-id", r.be64(72 + 8 * i));
    xml_send_close("msp-alg-conv-resources-entry");
}

// ---- Conversations: one resource with its pinholes ----

constexpr size_t kResSessionsOffset = 48;
constexpr size_t kResSessionsRoom = 2; // the ids end where the hole count begins
constexpr size_t kPinholesOffset = 72;
constexpr size_t kPinholeLen = 44;

struct pinhole {
    char src_low[16], src_high[16], dst_low[16], dst_high[16], xlat_src[16], xlat_dst[16];
    uint16_t sport_low, sport_high, dport_low, dport_high, xlat_sport, xlat_dport;
    uint32_t refs;
    uint8_t proto;
};

pinhole pinhole_read(const vorel::ByteReader &r, size_t off) {
    pinhole h;
    ip2str(r.be32(off), h.src_low, sizeof h.src_low);
    ip2str(r.be32(off + 4), h.src_high, sizeof h.src_high);
    ip2str(r.be32(off + 8), h.dst_low, sizeof h.dst_low);
    ip2str(r.be32(off + 12), h.dst_high, sizeof h.dst_high);
    h.sport_low = r.be16(off + 16);
    h.sport_high = r.be16(off + 18);
    h.dport_low = r.be16(off + 20);
    h.dport_high = r.be16(off + 22);
    ip2str(r.be32(off + 24), h.xlat_src, sizeof h.xlat_src);
    ip2str(r.be32(off + 28), h.xlat_dst, sizeof h.xlat_dst);
    h.xlat_sport = r.be16(off + 32);
    h.xlat_dport = r.be16(off + 34);
    h.refs = r.be32(off + 36);
    h.proto = r.u8(off + 40);
    return h;
}

void pinhole_text(const pinhole &h) {
    std::printf("Source IP range        : {%s,", h.src_low);
    std::printf(" %s}\n", h.src_high);
    std::printf("Destination IP range        : {%s,", h.dst_low);
    std::printf(" %s}\n", h.dst_high);
    std::printf("Source port range      : {%d, %d}\n", h.sport_low, h.sport_high);
    std::printf("Destination port range : {%d, %d}\n", h.dport_low, h.dport_high);
    std::printf("Translated : {%s", h.xlat_src);
    std::printf("/%d", h.xlat_sport);
    std::printf("-> %s", h.xlat_dst);
    std::printf("/%d\n", h.xlat_dport);
    std::printf("Reference count : %u\n", h.refs);
    std::printf("Protocol :%d\n", h.proto);
}

void pinhole_xml(const pinhole &h) {
    leaf_s("src-ip-low", h.src_low);
    leaf_s("src-ip-high", h.src_high);
    leaf_s("dst-ip-low", h.dst_low);
    leaf_s("dst-ip-high", h.dst_high);
    leaf_u("src-port-low", h.sport_low);
    leaf_u("src-port-high", h.sport_high);
    leaf_u("dst-port-low", h.dport_low);
    leaf_u("dst-port-high", h.dport_high);
    leaf_s("translated-src-ip", h.xlat_src);
    leaf_u("translated-src-port", h.xlat_sport);
    leaf_s("translated-dst-ip", h.xlat_dst);
    leaf_u("translated-dst-port", h.xlat_dport);
    leaf_u("ref-count", h.refs);
    leaf_u("proto", h.proto);
}

void conv_resource_by_id(const vorel_ctx *ctxt, const vorel::ByteReader &r) {
    uint32_t id = r.be32(24);
    const char *state = state_name(r.be32(32));
    size_t sessions = r.clamp_count(r.be32(40), kResSessionsOffset, 8, kResSessionsRoom);
    uint32_t holes = r.be32(64);
    size_t pinholes = r.clamp_count(r.be32(68), kPinholesOffset, kPinholeLen, kMaxListed);
    if (!ctxt->xml) {
        std::printf("Resource ID: %u  state : %s\n", id, state);
        std::printf("Number of sessions  : %zu\n", sessions);
        for (size_t i = 0; i < sessions; i++)
            std::printf("Session ID : %llu\n",
                        static_cast<unsigned long long>(r.be64(kResSessionsOffset + 8 * i)));
        std::printf("Number of pinholes : %zu\n", pinholes);
        for (size_t i = 0; i < pinholes; i++)
            pinhole_text(pinhole_read(r, kPinholesOffset + i * kPinholeLen));
        return;
    }
    xml_send_open("msp-alg-conv-resource-num-entry");
    leaf_u("resource-id", id);
    leaf_s("resource-is-active", state);
    leaf_u("num-sessions", sessions);
    for (size_t i = 0; i < sessions; i++)
        leaf_u("session-ids", r.be64(kResSessionsOffset + 8 * i));
    leaf_u("num-holes", holes);
    for (size_t i = 0; i < pinholes; i++)
        pinhole_xml(pinhole_read(r, kPinholesOffset + i * kPinholeLen));
    xml_send_close("msp-alg-conv-resource-num-entry");
}

// ---- Conversations: everything of one client (kind 0) ----
//
// One reply per client.  Each level is a table of fixed-size entries, so
// every count is held to the entries that fit its table and arrived:
//   20 client state, 24 client name (24 bytes), 48 number of groups,
//   52 groups[4] of 1992 bytes:
//      0 group id, 4 group state, 8 parent session state, 16 parent session
//      id (u64), 24 parent flow protocol (u8), 32 forward flow, 80 reverse
//      flow, 128 number of resources, 136 resources[4] of 464 bytes:
//         0 resource id, 4 state, 8 number of sessions, 16 sessions[4] of
//         112 bytes:
//            0 session id (u64), 8 protocol (u8), 16 forward flow,
//            64 reverse flow
//   a flow (48 bytes): 0 source, 20 destination (20-byte address values),
//   40 source port, 42 destination port.
constexpr size_t kAllGroupsOffset = 52;
constexpr size_t kGroupLen = 1992;
constexpr size_t kGroupResourcesOffset = 136;
constexpr size_t kResourceLen = 464;
constexpr size_t kResourceSessionsOffset = 16;
constexpr size_t kSessionLen = 112;
constexpr size_t kFlowLen = 48;
constexpr size_t kAllTableRoom = 4;
constexpr size_t kAllReadLen = kAllGroupsOffset;

// The flow elements of a parent or child session (detail only).
void conv_flows_xml(const vorel::ByteReader &r, size_t proto_off, size_t flows_off,
                    const char *who) {
    std::string p(who);
    leaf_s((p + "-flow-protocol").c_str(), proto2str(r.u8(proto_off)).data());
    static const char *const dirs[] = {"fflow", "rflow"};
    for (size_t d = 0; d < 2; d++) {
        size_t off = flows_off + d * kFlowLen;
        std::string f = p + "-" + dirs[d];
        char src[kAddrTextLen], dst[kAddrTextLen];
        vorel_addr s = vorel_addr_read(r, off), t = vorel_addr_read(r, off + 20);
        leaf_s((f + "-src-ip").c_str(), ipaddr_tostring(&s, src, sizeof src));
        leaf_u((f + "-src-port").c_str(), r.be16(off + 40));
        leaf_s((f + "-dst-ip").c_str(), ipaddr_tostring(&t, dst, sizeof dst));
        leaf_u((f + "-dst-port").c_str(), r.be16(off + 42));
    }
}

void conv_all_resource(const vorel_ctx *ctxt, const vorel::ByteReader &res, bool extensive) {
    uint32_t id = res.be32(0);
    const char *state = state_name(res.be32(4));
    size_t n = res.clamp_count(res.be32(8), kResourceSessionsOffset, kSessionLen, kAllTableRoom);
    if (!ctxt->xml)
        std::printf("  Resource ID: %u state: %s\n", id, state);
    leaf_u("resource-id", id);
    leaf_s("resource-state", state);
    leaf_u("num-sessions", n);
    for (size_t i = 0; i < n; i++) {
        vorel::ByteReader s = res.sub(kResourceSessionsOffset + i * kSessionLen, kSessionLen);
        auto sess_id = static_cast<unsigned long long>(s.be64(0));
        if (!ctxt->xml)
            std::printf("    Session ID: %llu\n", sess_id);
        leaf_u("child-sess-id", sess_id);
        if (extensive)
            conv_flows_xml(s, 8, 16, "child");
    }
}

void conv_all_group(const vorel_ctx *ctxt, const vorel::ByteReader &g, bool extensive) {
    uint32_t id = g.be32(0);
    const char *state = state_name(g.be32(4));
    auto parent = static_cast<unsigned long long>(g.be64(16));
    size_t n = g.clamp_count(g.be32(128), kGroupResourcesOffset, kResourceLen, kAllTableRoom);
    if (!ctxt->xml) {
        std::printf("  group ID : %u state : %s\n", id, state);
        std::printf("  Parent session ID: %llu\n", parent);
        std::printf("  Number of resources: %zu\n", n);
    }
    leaf_u("group-id", id);
    leaf_s("group-state", state);
    leaf_s("parent-sess-state", state_name(g.be32(8)));
    leaf_u("parent-sess-id", parent);
    if (extensive)
        conv_flows_xml(g, 24, 32, "parent");
    leaf_u("num-resources", n);
    for (size_t i = 0; i < n; i++)
        conv_all_resource(ctxt, g.sub(kGroupResourcesOffset + i * kResourceLen, kResourceLen),
                          extensive);
}

void conv_all(const vorel_ctx *ctxt, const vorel::ByteReader &r, bool extensive) {
    const char *entry = extensive ? "msp-alg-conv-all-extensive-entry" : "msp-alg-conv-all-entry";
    std::string client = client_name(r, 24);
    const char *state = state_name(r.be32(20));
    size_t n = r.clamp_count(r.be32(48), kAllGroupsOffset, kGroupLen, kAllTableRoom);
    if (!ctxt->xml) {
        std::printf("ALG : %s state : %s\n", client.c_str(), state);
        std::printf("Number of groups: %zu\n", n);
    }
    xml_send_open(entry);
    leaf_s("client-name", client.c_str());
    leaf_s("client-state", state);
    leaf_u("num-groups", n);
    for (size_t i = 0; i < n; i++)
        conv_all_group(ctxt, r.sub(kAllGroupsOffset + i * kGroupLen, kGroupLen), extensive);
    xml_send_close(entry);
}

// What each reply kind reads before its tables (0 for kinds the command
// does not know).
size_t conv_read_len(uint8_t kind) {
    switch (kind) {
    case kAll:
        return kAllReadLen;
    case kGroups:
        return 64;
    case kGroupById:
        return 76;
    case kResources:
        return 72;
    case kResourceById:
        return kPinholesOffset;
    case kSummary:
        return 40;
    default:
        return 0;
    }
}

// Renders one reply.  The interface line comes before the first reply; a
// reply of a kind the command does not know is then passed over, one too
// short for its kind counts as no reply.
void conv_render(const vorel_ctx *ctxt, const asp_info &asp, const vorel::ByteReader &r,
                 bool extensive, bool *first) {
    uint8_t kind = r.u8(kReplyKindOffset);
    size_t need = conv_read_len(kind);
    if (r.size() < need) {
        vorel_trace("vorel: %s: reply %u is %zu bytes, shorter than %zu; ignored\n", asp.name,
                    kConvReply, r.size(), need);
        return;
    }
    if (*first) {
        interface_line(ctxt, asp);
        *first = false;
    }
    switch (kind) {
    case kAll:
        conv_all(ctxt, r, extensive);
        break;
    case kGroups:
        conv_groups(ctxt, r);
        break;
    case kGroupById:
        conv_group_by_id(ctxt, r);
        break;
    case kResources:
        conv_resources(ctxt, r);
        break;
    case kResourceById:
        conv_resource_by_id(ctxt, r);
        break;
    case kSummary:
        conv_summary(ctxt, r);
        break;
    default:
        vorel_trace("vorel: %s: conversation reply of kind %u passed over\n", asp.name, kind);
        break;
    }
}

int msp_alg_conv_query(vorel_ctx *ctxt, services_ui_conn *conn, asp_info *asp, svc_set_info *,
                       msp_action_params *p) {
    if (!conn)
        return -1;
    if (vorel_send(conn, alg_request(kConvRequest, *p, true)) < 0)
        return -1;
    bool first = true;
    for (;;) {
        vorel::ByteReader r = vorel_receive_at_least(
            conn, kConvReply, kVersion, kReplyKindOffset + 1, asp->name, short_reply::skip);
        if (r.empty())
            break;
        conv_render(ctxt, *asp, r, p->extensive != 0, &first);
    }
    return 0;
}

// ---- SIP settings ----

const vorel_counter sip_globals_counters[] = {
    {"sip-max-no-calls", 24, 4, "Max SIP No Calls"},
    {"sip-inactive-media-timeout", 28, 4, "SIP inactive media timeout"},
    {"sip-max-call-timeout", 32, 4, "SIP max call timeout"},
    {"sip-t1-interval", 36, 4, "SIP T1 interval"},
    {"sip-t4-interval", 40, 4, "SIP T4 interval"},
    {"sip-c-interval", 44, 4, "SIP C interval"},
};
constexpr size_t kSipGlobalsReadLen = 48;

// The text form of every counter row.
constexpr const char *kRowFmt = "%-24s:%llu\n";

int msp_alg_sip_globals_query(vorel_ctx *ctxt, services_ui_conn *conn, asp_info *asp,
                              svc_set_info *, msp_action_params *p) {
    if (!conn)
        return -1;
    if (vorel_send(conn, alg_request(kSipGlobalsRequest, *p, false)) < 0)
        return -1;
    for (;;) {
        vorel::ByteReader r = vorel_receive_at_least(
            conn, kSipGlobalsReply, kVersion, kSipGlobalsReadLen, asp->name, short_reply::skip);
        if (r.empty())
            break;
        interface_line(ctxt, *asp);
        if (!ctxt->xml)
            std::printf("%-24s\n", "SIP ALG GLOBALS Configurations \n");
        vorel_counters_emit(ctxt, {"msp-alg-sip-globals-entry", sip_globals_counters}, r, kRowFmt);
    }
    return 0;
}

// ---- Counters per application ----

struct alg_block {
    const char *element;
    const char *heading; // null: no heading line
    std::span<const vorel_counter> counters;
};

const vorel_counter ike_esp_counters[] = {
    {"ike-esp-sess-interest", 716, 4, "Session interest"},
    {"ike-esp-sess-create", 720, 4, "Session create"},
    {"ike-esp-sess-destroy", 724, 4, "Session destroy"},
    {"ike-esp-ctrl-sess-create", 728, 4, "Control session create"},
    {"ike-esp-ctrl-sess-destroy", 732, 4, "Control session destroy"},
    {"ike-esp-data-sess-create", 736, 4, "Data session create"},
    {"ike-esp-data-sess-destroy", 740, 4, "Data session destroy"},
    {"ike-esp-gate-create", 744, 4, "Gate create"},
    {"ike-esp-gate-hit", 748, 4, "Gate hit"},
    {"ike-esp-gate-timeout", 752, 4, "Gate timeout"},
};
const vorel_counter tftp_counters[] = {
    {"tftp-total-invalid-pkts", 704, 4, "Invalid packets received"},
    {"tftp-total-sessions", 708, 4, "Total sessions"},
    {"tftp-active-sessions", 712, 4, "Active sessions"},
};
const vorel_counter h323_counters[] = {
    {"h323-call-total", 624, 4, "H323 total calls"},
    {"h323-call-active", 628, 4, "H323 active calls"},
    {"h323-gate-install-fail", 632, 4, "H323 gate install failed"},
    {"h323-pinhole-open-too-late", 636, 4, "H323 pinhole opened too late"},
    {"h323-pinhole-hit-drop", 640, 4, "H323 pinhole hit dropped"},
    {"h323-gate-timeout-fail", 644, 4, "H323 gate timeout failed"},
    {"h323-drop-packet", 648, 4, "H323 packets dropped"},
    {"h323-pkh-vctx-fail", 652, 4, "H323 get virtual ctx failed"},
    {"h323-alloc-obj-fail", 656, 4, "H323 obj alloc failed"},
    {"h323-alloc-grp-fail", 660, 4, "H323 group alloc failed"},
    {"h323-alloc-ce-fail", 664, 4, "H323 ce alloc failed"},
    {"h323-q931-decode-error", 668, 4, "H323 Q931 decode error"},
    {"h323-h245-decode-error", 672, 4, "H323 H245 decode error"},
    {"h323-q931-process-error", 676, 4, "H323 Q931 process error"},
    {"h323-h245-process-error", 680, 4, "H323 H245 process error"},
    {"h323-do-nat-fail", 684, 4, "H323 do nat failed"},
    {"h323-do-rm-fail", 688, 4, "H323 do rm failed"},
    {"h323-dscp-marked", 692, 4, "H323 dscp marked"},
    {"h323-dscp-marked-err", 696, 4, "H323 dscp marked error"},
    {"ras-alloc-obj-fail", 596, 4, "RAS obj alloc failed"},
    {"ras-alloc-grp-fail", 600, 4, "RAS group alloc failed"},
    {"ras-drop-packet", 604, 4, "RAS packets dropped"},
    {"ras-packet-exist-err", 608, 4, "RAS packet exists in cookie error"},
    {"ras-decode-error", 612, 4, "RAS decode error"},
    {"ras-flood-error", 616, 4, "RAS flood error"},
    {"ras-do-nat-fail", 620, 4, "RAS do nat failed"},
};
const vorel_counter sip_counters[] = {
    {"active-sip-call-count", 516},
    {"sip-register-count", 520},
    {"sip-invite-count", 524},
    {"sip-invite-retransmit-count", 528},
    {"sip-bye-count", 532},
    {"sip-cancel-count", 536},
    {"sip-subscribe-count", 540},
    {"sip-notify-count", 544},
    {"sip-options-count", 548},
    {"sip-info-count", 552},
    {"sip-update-count", 556},
    {"sip-refer-count", 560},
    {"sip-resp-ok-to-invite-count", 568},
    {"sip-resp-ok-to-non-invite-count", 572},
    {"sip-resp-1xx-count", 564},
    {"sip-redirection-3xx-resp-count", 576},
    {"sip-req-failure-4xx-resp-count", 580},
    {"sip-server-failure-5xx-resp-count", 584},
    {"sip-global-failure-6xx-resp-count", 588},
    {"sip-resp-all-retransmits-count", 592},
    {"sip-pkts-drop", 464, 4, "Packets dropped"},
    {"sip-unexpect-req-drop", 468, 4, "Unexpected requests dropped"},
    {"sip-unexpect-res-drop", 472, 4, "Unexpected responses dropped"},
    {"sip-dscp-marked", 476, 4, "DSCP marked "},
    {"sip-dscp-marked-err", 480, 4, "DSCP marked error"},
    {"sip-nat-err", 484, 4, "NAT errors"},
    {"sip-rr-hdr-exceed-max", 488, 4, "RR header exceeded max limits"},
    {"sip-contact-hdr-exceed-max", 492, 4, "Contact header exceeded max limits"},
    {"sip-invite-drop-call-limit", 496, 4, "INVITE dropped due to call limits"},
    {"sip-msgs-not-processed", 500, 4, "Messages not processed by stack"},
    {"sip-unknown-pkts-drop", 504, 4, "unknown packets dropped "},
    {"sip-decoding-error", 508, 4, "Decoding errors"},
    {"sip-out-of-state", 512, 4, "Packets received in out of state"},
};
const vorel_counter rpc_portmap_counters[] = {
    {"rpc-process-fail", 420, 4, "Process fail              "},
    {"rpc-request", 424, 4, "Process request           "},
    {"rpc-call-dump", 428, 4, "Process request dump      "},
    {"rpc-call-callit", 432, 4, "Process request callit    "},
    {"rpc-reply-ok", 436, 4, "Process reply             "},
    {"rpc-reply-dump", 440, 4, "Process reply dump        "},
    {"rpc-reply-callit", 444, 4, "Process reply callit      "},
    {"rpc-process-reply-deny", 448, 4, "Process reply deny        "},
    {"rpc-process-reply-xid-mismatch", 452, 4, "Process reply xid_mismatch"},
    {"rpc-pkt-ver-error", 456, 4, "Invalid RPC version       "},
    {"rpc-pkt-not-rpcbind", 460, 4, "Non_RPCBIND packets       "},
};
const vorel_counter rpc_bind_counters[] = {
    {"rpc-call-bind-version-2", 376, 4, "Call packet with rpcbind2 "},
    {"rpc-call-bind-version-3", 380, 4, "Call packet with rpcbind3 "},
    {"rpc-call-bind-version-4", 384, 4, "Call packet with rpcbind4 "},
    {"rpc-call-bind-version-error", 388, 4, "Invalid rpcbind call      "},
    {"rpc-reply-bind-version-2", 392, 4, "Reply packet with rpcbind2"},
    {"rpc-reply-bind-version-3", 396, 4, "Reply packet with rpcbind3"},
    {"rpc-reply-bind-version-4", 400, 4, "Reply packet with rpcbind4"},
    {"rpc-reply-bind-version-error", 404, 4, "Invalid rpcbind reply     "},
    {"rpc-pkt-fragmented", 408, 4, "Packets fragmented"},
    {"rpc-pkt-drop", 412, 4, "Packets dropped"},
    {"rpc-pkt-release", 416, 4, "Packets released"},
};
const vorel_counter dce_rpc_portmap_counters[] = {
    {"dce-rpc-lookup-request", 340, 4, "Lookup requests"},
    {"dce-rpc-map-request", 344, 4, "Map requests"},
    {"dce-rpc-lookup-reply", 348, 4, "Lookup replies"},
    {"dce-rpc-map-reply", 352, 4, "Map replies"},
    {"dce-rpc-fail-reply", 356, 4, "Fail replies"},
};
const vorel_counter dce_rpc_counters[] = {
    {"dce-rpc-wrong-header", 320, 4, "Packets with wrong header"},
    {"dce-rpc-non-epm3", 324, 4, "Non epm 3.0 packets"},
    {"dce-rpc-type-mismatch", 328, 4, "Packets with type mismatch"},
    {"dce-rpc-id-mismatch", 332, 4, "Packets with id mismatch"},
    {"dce-rpc-call-mismatch", 336, 4, "Packets with call mismatch"},
    {"dce-rpc-fragment-pkts", 360, 4, "Packets fragmented"},
    {"dce-rpc-queue-pkts", 364, 4, "Packets queued"},
    {"dce-rpc-drop-pkts", 368, 4, "Packets dropped"},
    {"dce-rpc-released-pkts", 372, 4, "Packets released"},
};
const vorel_counter rtsp_counters[] = {
    {"rtsp-exceed-max-data-len", 248, 4, "Packets exceeded maximum length"},
    {"rtsp-drop-packets", 252, 4, "Packets dropped by ALG"},
    {"rtsp-describe-msg-cnt", 256, 4, "Describe messages received"},
    {"rtsp-setup-msg-cnt", 260, 4, "Setup messages received"},
    {"rtsp-teardown-msg-cnt", 264, 4, "Teardown messages received"},
};
const vorel_counter talk_counters[] = {
    {"talk-lookup-pkts", 296, 4, "Lookup packets"},
    {"talk-announce-pkts", 292, 4, "Announce packets"},
    {"talk-delete-pkts", 300, 4, "Delete packets"},
};
const vorel_counter ftp_counters[] = {
    {"ftp-drop-pkts", 268, 4, "Packets dropped"},
    {"ftp-parse-fail-pkts", 272, 4, "Packets parsing failed"},
    {"ftp-bad-ip-pkts", 280, 4, "Number of bad IPs received in FTP command"},
    {"ftp-bad-port-pkts", 284, 4, "Number of bad ports received in FTP command"},
    {"ftp-bad-cmd-pkts", 288, 4, "Number of bad commands received in FTP command"},
};
const vorel_counter rsh_counters[] = {
    {"rsh-invalid-pkts", 24, 4, "Invalid packets recevied"},
    {"rsh-drop-pkts", 28, 4, "Packets dropped by ALG"},
    {"rsh-parse-fail-pkts", 32, 4, "Packets parsing failed"},
    {"rsh-freed-pkts", 36, 4, "Packets freed by ALG"},
};
const vorel_counter dns_counters[] = {
    {"dns-invalid-pkts", 40, 4, "Invalid packets received"},
    {"dns-reply-pkts", 48, 4, "Reply packets received"},
    {"dns-oversize-pkts", 52, 4, "Oversize packets received"},
};
const vorel_counter sql_counters[] = {
    {"sql-rcvd-pkts", 304, 4, "Packets recevied"},
    {"sql-parse-fail-pkts", 308, 4, "Packets parsing failed"},
    {"sql-freed-pkts", 312, 4, "Packets freed by ALG"},
    {"sql-gate-fail-errs", 316, 4, "Gate fail errors"},
};
// PPTP's XML leaves; its text lines are below.
const vorel_counter pptp_counters[] = {
    {"pptp-objects-active", 56},
    {"pptp-objects-total", 60},
    {"pptp-objects-error", 64},
    {"pptp-group-active", 68},
    {"pptp-group-total", 72},
    {"pptp-group-error", 76},
    {"pptp-packets-received", 80},
    {"pptp-packets-discarded", 84},
    {"pptp-packets-free", 88},
    {"pptp-ocrq-rcvd", 92},
    {"pptp-ocrq-discarded", 96},
    {"pptp-ocrp-rcvd", 100},
    {"pptp-ocrp-discarded", 104},
    {"pptp-wen-rcvd", 108},
    {"pptp-wen-discarded", 112},
    {"pptp-ccrq-rcvd", 116},
    {"pptp-cdsn-rcvd", 120},
    {"pptp-ccrq-discarded", 124},
    {"pptp-session-create", 128},
    {"pptp-session-destroy", 132},
    {"pptp-gate-create", 136},
    {"pptp-gate-hit", 140},
    {"pptp-gate-timeout", 144},
    {"pptp-nat-event", 148},
    {"pptp-nat-total", 152},
    {"pptp-nat-ok", 156},
    {"pptp-nat-pending", 160},
    {"pptp-nat-fail", 164},
    {"pptp-rm-total", 168},
    {"pptp-rm-ok", 172},
    {"pptp-rm-pending", 176},
    {"pptp-rm-fail", 180},
    {"pptp-nat-async-total", 184},
    {"pptp-nat-async-invalid", 188},
    {"pptp-nat-async-error1", 192},
    {"pptp-nat-async-error2", 196},
    {"pptp-asl-hole-ok", 200},
    {"pptp-asl-hole-error", 204},
    {"pptp-asl-first-hit", 208},
    {"pptp-asl-hole-ok", 212},
    {"pptp-asl-invalid", 216},
    {"pptp-nat-ctx-free", 220},
    {"pptp-create-resource-error", 224},
    {"pptp-s2c-hole-error", 228},
    {"pptp-c2s-hole-error", 232},
    {"pptp-lnbrk-error", 236},
    {"pptp-mpool-error", 240},
    {"pptp-rm-client-error", 244},
};

// A PPTP text line: a label and `count` consecutive counters joined by
// "/", then one line break, or two.
struct pptp_line {
    const char *label;
    uint16_t offset;
    uint8_t count;
    bool blank_after;
};
const pptp_line pptp_lines[] = {
    {"pptp obj active/total/error:", 56, 3, false},
    {"group active/total/error:", 68, 3, true},
    {"packets received/discarded/I free:", 80, 3, false},
    {"ocrq received/discarded:", 92, 2, false},
    {"ocrp received/discarded:", 100, 2, false},
    {"wen(sli) received/discarded:", 108, 2, false},
    {"ccrq-cdsn received/cdsn/discarded:", 116, 3, true},
    {"pptp do nat SCR/SCD/GCR/GHIT/GTM/NAT_EV:", 128, 6, true},
    {"pptp do nat total/ok/pending/fail:", 152, 4, false},
    {"pptp do rm total/ok/pending/fail:", 168, 4, false},
    {"nat_async total/invalid/err1/err2:", 184, 4, false},
    {"rm_async hole_ok/hole_fail/hit/timeout/error:", 200, 5, false},
    {"free nat ctx:", 220, 1, true},
    {"pptp create resource error:", 224, 1, false},
    {"pptp set s2c hole error:", 228, 1, false},
    {"pptp set c2s hole error:", 232, 1, false},
    {"pptp lnbrk error:", 236, 1, false},
    {"pptp mpool create error:", 240, 1, false},
    {"pptp rm register client error:", 244, 1, false},
};

void pptp_text(const vorel::ByteReader &r) {
    for (const pptp_line &l : pptp_lines) {
        std::printf("%-24s:", l.label);
        for (size_t i = 0; i < l.count; i++)
            std::printf(i ? "/%u" : "%u", r.be32(l.offset + 4 * i));
        std::fputs(l.blank_after ? "\n\n" : "\n", stdout);
    }
}

enum alg_block_id {
    kRsh,
    kDns,
    kPptp,
    kRtsp,
    kFtp,
    kTalk,
    kSqlnet,
    kDceRpcPortmap,
    kDceRpc,
    kRpcPortmap,
    kRpcBind,
    kSip,
    kH323,
    kTftp,
    kIkeEsp,
};

// In the order the all-applications answer shows them.
const alg_block alg_blocks[] = {
    {"msp-alg-rsh-entry", "RSH statistics \n", rsh_counters},
    {"msp-alg-dns-entry", "DNS statistics", dns_counters},
    {"msp-alg-pptp-entry", "PPTP statistics", pptp_counters},
    {"msp-alg-rtsp-entry", "RTSP statistics \n", rtsp_counters},
    {"msp-alg-ftp-entry", "FTP statistics \n", ftp_counters},
    {"msp-alg-talk-entry", "TALK statistics \n", talk_counters},
    {"msp-alg-sql-entry", "SQLNET statistics \n", sql_counters},
    {"msp-alg-dce-rpc-portmap-entry", "DCE_RPC portmap statistics \n", dce_rpc_portmap_counters},
    {"msp-alg-dce-rpc-entry", "DCE_RPC statistics \n", dce_rpc_counters},
    {"msp-alg-rpc-portmap-entry", "RPC PORTMAP statistics \n", rpc_portmap_counters},
    {"msp-alg-rpc-entry", "RPC statistics \n", rpc_bind_counters},
    {"msp-alg-sip-entry", "SIP ALG statistics \n", sip_counters},
    {"msp-alg-h323-entry", nullptr, h323_counters},
    {"msp-alg-tftp-entry", "TFTP ALG statistics \n", tftp_counters},
    {"msp-alg-ike-esp-entry", "IKE ESP ALG statistics \n", ike_esp_counters},
};

// The block a single-application reply carries; null for numbers that
// have none.
const alg_block *block_of_app(uint16_t app) {
    switch (app) {
    case 1:
        return &alg_blocks[kFtp];
    case 2:
        return &alg_blocks[kH323];
    case 3:
        return &alg_blocks[kTftp];
    case 8:
    case 35:
        return &alg_blocks[kRsh];
    case 14:
        return &alg_blocks[kRtsp];
    case 15:
        return &alg_blocks[kRpcPortmap];
    case 16:
        return &alg_blocks[kRpcBind];
    case 20:
        return &alg_blocks[kSqlnet];
    case 22:
        return &alg_blocks[kDceRpcPortmap];
    case 23:
        return &alg_blocks[kDceRpc];
    case 27:
        return &alg_blocks[kDns];
    case 29:
        return &alg_blocks[kSip];
    case 32:
        return &alg_blocks[kPptp];
    case 37:
        return &alg_blocks[kTalk];
    case 49:
        return &alg_blocks[kIkeEsp];
    default:
        return nullptr;
    }
}

// The bytes a block reads.
size_t block_read_len(const alg_block &b) {
    size_t end = 0;
    for (const vorel_counter &c : b.counters)
        end = std::max<size_t>(end, c.offset + c.width);
    return end;
}

void render_block(const vorel_ctx *ctxt, const alg_block &b, const vorel::ByteReader &r) {
    if (!ctxt->xml && b.heading)
        std::printf("%-24s\n", b.heading);
    if (!ctxt->xml && &b == &alg_blocks[kPptp]) {
        pptp_text(r);
        return;
    }
    vorel_counters_emit(ctxt, {b.element, b.counters}, r, kRowFmt);
}

// The bytes the all-applications answer reads: up to the last IKE ESP
// counter.
size_t all_blocks_read_len() {
    size_t end = 0;
    for (const alg_block &b : alg_blocks)
        end = std::max(end, block_read_len(b));
    return end;
}

int msp_alg_stats_query(vorel_ctx *ctxt, services_ui_conn *conn, asp_info *asp, svc_set_info *,
                        msp_action_params *p) {
    if (!conn)
        return -1;
    if (vorel_send(conn, alg_request(kStatsRequest, *p, false)) < 0)
        return -1;
    for (;;) {
        vorel::ByteReader r = vorel_receive_at_least(conn, kStatsReply, kVersion, kAppOffset + 2,
                                                     asp->name, short_reply::skip);
        if (r.empty())
            break;
        uint16_t app = r.be16(kAppOffset);
        const alg_block *one = app ? block_of_app(app) : nullptr;
        size_t need = app ? (one ? block_read_len(*one) : 0) : all_blocks_read_len();
        if (r.size() < need) {
            vorel_trace("vorel: %s: reply %u is %zu bytes, shorter than %zu; ignored\n", asp->name,
                        kStatsReply, r.size(), need);
            continue;
        }
        interface_line(ctxt, *asp);
        if (app) {
            if (one)
                render_block(ctxt, *one, r);
            return 0;
        }
        for (const alg_block &b : alg_blocks)
            render_block(ctxt, b, r);
    }
    if (p->alg)
        vorel_xml_error(1, "Command is not supported for application %s\n", alg2str(p->alg));
    return 0;
}

int msp_alg_clear_stats_query(vorel_ctx *, services_ui_conn *conn, asp_info *, svc_set_info *,
                              msp_action_params *p) {
    if (!conn)
        return -1;
    return vorel_send(conn, alg_request(kClearStatsRequest, *p, false)) < 0 ? -1 : 0;
}

// ---- Open and close ----

template <const char *Element> int alg_open(vorel_ctx *ctxt) {
    vorel_open_enclosing(ctxt, "vorel: alg dump start \n", Element, nullptr);
    return 0;
}

int alg_close(vorel_ctx *ctxt) {
    vorel_close_enclosing(ctxt, "vorel: alg dump done \n", nullptr);
    return 0;
}

int nothing(vorel_ctx *) {
    return 0;
}

constexpr char kConvRoot[] = "service-msp-alg-conversation-information";
constexpr char kStatsRoot[] = "service-msp-alg-stats-information";
constexpr char kSipGlobalsRoot[] = "service-msp-alg-sip-globals-information";

} // namespace

const msp_cmd_handlers msp_alg_conv_handlers = {alg_open<kConvRoot>, alg_close, msp_alg_conv_query};
const msp_cmd_handlers msp_alg_stats_handlers = {alg_open<kStatsRoot>, alg_close,
                                                 msp_alg_stats_query};
const msp_cmd_handlers msp_alg_sip_globals_handlers = {alg_open<kSipGlobalsRoot>, alg_close,
                                                       msp_alg_sip_globals_query};
const msp_cmd_handlers msp_alg_clear_stats_handlers = {nothing, nothing, msp_alg_clear_stats_query};
