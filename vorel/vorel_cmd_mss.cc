// -C mss: the sessions of mobile subscribers on the multiservices PICs and
// their per-subscriber header-enrichment counters, selected by identity,
// routing instance and subscriber address or interface.  The views exist
// only in XML.
#include "vorel/vorel_cmd_mss.h"

#include "platform/rtslib.h"
#include "platform/xml.h"
#include "vorel/vorel_ams_util.h"
#include "vorel/vorel_channel.h"
#include "vorel/vorel_cmd_msp.h"
#include "vorel/vorel_cmds.h"
#include "vorel/vorel_driver.h"
#include "vorel/vorel_error.h"
#include "vorel/vorel_flow_entry.h"
#include "vorel/vorel_getopt.h"
#include "vorel/vorel_section.h"
#include "vorel/vorel_string.h"
#include "vorel/vorel_subcommand.h"
#include "vorel/vorel_util.h"

#include <arpa/inet.h>
#include <charconv>

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

constexpr size_t kImsiBytes = 8;
constexpr size_t kImsiMaxDigits = 2 * kImsiBytes;

bool mss_imsi_valid(const char *text) {
    size_t n = std::strlen(text);
    if (n == 0 || n > kImsiMaxDigits)
        return false;
    for (size_t i = 0; i < n; i++)
        if (text[i] < '0' || text[i] > '9')
            return false;
    return true;
}

void mss_imsi_encode(const char *text, uint8_t out[8]) {
    std::memset(out, 0xff, kImsiBytes);
    size_t n = std::strlen(text);
    for (size_t i = 0; i < n && i < kImsiMaxDigits; i++) {
        uint8_t digit = static_cast<uint8_t>(text[i] - '0');
        uint8_t &b = out[i / 2];
        // The filler nibble of an odd count stays 0xF.
        b = (i % 2 == 0) ? static_cast<uint8_t>((b & 0xf0) | digit)
                         : static_cast<uint8_t>((b & 0x0f) | (digit << 4));
    }
}

std::string mss_imsi_decode(const uint8_t in[8]) {
    std::string digits;
    for (size_t i = 0; i < kImsiMaxDigits; i++) {
        uint8_t nibble = (i % 2 == 0) ? (in[i / 2] & 0x0f) : (in[i / 2] >> 4);
        if (nibble > 9)
            break;
        digits.push_back(static_cast<char>('0' + nibble));
    }
    return digits;
}

namespace {

struct mss_params {
    std::optional<std::string> action;
    std::optional<std::string> routing_instance;
    std::optional<std::string> ipv4_addr;
    std::optional<std::string> ipv6_addr;
    std::optional<std::string> subs_ifname;
    std::optional<std::string> imsi;
    std::optional<std::string> command;
    std::optional<std::string> subcommand;
    // The request every PIC is sent (built once the selectors are checked).
    std::optional<vorel::ByteWriter> request;
    // Whether the PIC being visited has shown its name yet.
    bool pic_named = false;
};

// ---------------------------------------------------------------------------
// The request

constexpr size_t kRequestSize = 120;
constexpr size_t kImsiOffset = 8;
constexpr size_t kVrfOffset = 16;
constexpr size_t kIpv4Offset = 20;
constexpr size_t kIpv6Offset = 24;
constexpr size_t kIfnameOffset = 40;
constexpr size_t kIfnameWidth = 65; // 64 characters and the NUL
constexpr uint32_t kUnknownVrf = 0xffffffffu;

// Refuses the selectors that cannot be sent: an identity that is not 1 to
// 16 digits, an address that does not parse.  True when they are usable.
bool selectors_valid(const mss_params &p) {
    if (p.imsi && !mss_imsi_valid(p.imsi->c_str())) {
        vorel_xml_error(0, "Invalid IMSI %s: 1 to 16 decimal digits expected\n", p.imsi->c_str());
        return false;
    }
    uint8_t addr[16];
    if (p.ipv4_addr && inet_pton(AF_INET, p.ipv4_addr->c_str(), addr) != 1) {
        vorel_xml_error(0, "Invalid IPv4 address %s\n", p.ipv4_addr->c_str());
        return false;
    }
    if (p.ipv6_addr && inet_pton(AF_INET6, p.ipv6_addr->c_str(), addr) != 1) {
        vorel_xml_error(0, "Invalid IPv6 address %s\n", p.ipv6_addr->c_str());
        return false;
    }
    return true;
}

// The routing instance and the one subscriber selector it scopes: the
// IPv4 address, else the IPv6 address, else the interface name.
bool write_instance_selector(vorel::ByteWriter &w, const mss_params &p) {
    uint32_t vrf = vrf_getindexbyvrfname(p.routing_instance->c_str(), nullptr, 0);
    if (vrf == kUnknownVrf) {
        vorel_note_failure("Unknown routing instance %s", p.routing_instance->c_str());
        return false;
    }
    w.be32(kVrfOffset, vrf);
    uint8_t addr[16] = {};
    if (p.ipv4_addr) {
        inet_pton(AF_INET, p.ipv4_addr->c_str(), addr);
        w.bytes(kIpv4Offset, addr, 4);
    } else if (p.ipv6_addr) {
        inet_pton(AF_INET6, p.ipv6_addr->c_str(), addr);
        w.bytes(kIpv6Offset, addr, 16);
    } else if (p.subs_ifname) {
        w.text(kIfnameOffset, kIfnameWidth, *p.subs_ifname);
    } else {
        vorel_note_failure("Routing instance %s needs a subscriber address or interface",
                           p.routing_instance->c_str());
        return false;
    }
    return true;
}

// The request of the action, or nothing after saying on standard error why
// the routing instance cannot scope it.
std::optional<vorel::ByteWriter> build_request(uint16_t type, const mss_params &p) {
    vorel::ByteWriter w = vorel_request(type, 1, kRequestSize);
    if (p.imsi) {
        uint8_t tbcd[kImsiBytes];
        mss_imsi_encode(p.imsi->c_str(), tbcd);
        w.bytes(kImsiOffset, tbcd, kImsiBytes);
    }
    // Without a routing instance the selectors are not sent.
    if (p.routing_instance && !write_instance_selector(w, p))
        return std::nullopt;
    return w;
}

// ---------------------------------------------------------------------------
// What both replies begin with

constexpr size_t kSvcSetIdOffset = 16;
constexpr size_t kSubscTypeOffset = 17;

const char *subsc_type2str(uint8_t type) {
    switch (type) {
    case 1:
        return "IP";
    case 2:
        return "IFL";
    case 3:
        return "VRF";
    default:
        return "Unknown";
    }
}

std::string imsi_at(const vorel::ByteReader &r, size_t off) {
    uint8_t tbcd[kImsiBytes];
    std::memset(tbcd, 0xff, sizeof tbcd);
    r.copy(off, tbcd, sizeof tbcd);
    return mss_imsi_decode(tbcd);
}

// The service set a reply names, among the PIC's (one byte of id).
const svc_set_info *reply_svc_set(const asp_info &asp, const vorel::ByteReader &r) {
    return vorel_db_svc_set_find_by_id(&asp, r.u8(kSvcSetIdOffset));
}

// The PIC's name (completed with its bundle), before its first reply.
void name_pic_once(const asp_info &asp, mss_params *p, const char *element) {
    if (p->pic_named)
        return;
    p->pic_named = true;
    char concat[AMS_CONCAT_NAME_LEN];
    xml_send_all(element, "%s", find_and_concat_pifd_name(asp.name, concat));
}

using mss_render_fn = void (*)(const asp_info &asp, const svc_set_info &ss,
                               const vorel::ByteReader &r);

// Sends the request and renders every reply of the answer whose service
// set the PIC has.
int mss_exchange(services_ui_conn *conn, const asp_info &asp, mss_params *p, uint16_t reply_type,
                 size_t reply_size, const char *name_element, mss_render_fn render) {
    // A routing instance that cannot scope the request fails the query
    // before anything is sent; the action's element still opens and closes.
    if (!p->request || vorel_send(conn, *p->request) < 0)
        return -1;
    p->pic_named = false;
    for (;;) {
        vorel::ByteReader r =
            vorel_receive_at_least(conn, reply_type, 1, reply_size, asp.name, short_reply::skip);
        if (r.empty())
            return 0;
        const svc_set_info *ss = reply_svc_set(asp, r);
        if (!ss)
            continue;
        name_pic_once(asp, p, name_element);
        render(asp, *ss, r);
    }
}

// ---------------------------------------------------------------------------
// Sessions

constexpr uint16_t kSessionsRequest = 171;
constexpr uint16_t kSessionsReply = 172;
constexpr size_t kForwardFlowOffset = 44;
constexpr size_t kReverseFlowOffset = 160;
constexpr size_t kFlowRecordSize = 116;
constexpr size_t kSessionReplySize = kReverseFlowOffset + kFlowRecordSize;
constexpr uint8_t kProtoIcmp = 1;
constexpr uint8_t kProtoIcmpv6 = 58;

// The elements of a session entry, their tags made once (a PIC may hold
// millions of subscriber sessions).
struct mss_session_tags {
    xml_tag entry{"mss-sess-entry"};
    xml_tag svc_set{"mss-serv-set-name"};
    xml_tag id{"mss-sess-id"};
    xml_tag type{"mss-subsc-type"};
    xml_tag imsi{"mss-imsi"};
    xml_tag msisdn{"mss-msisdn"};
    xml_tag alg{"mss-sess-alg-id"};
};
const mss_session_tags kSessionTags;

// A flow of a subscriber session: the session family's row, with the
// ports as plain numbers (no wildcard) and no softwire or detail part.  A
// DS-Lite flow is named so and has no ports, as in the session family.
void render_subscriber_flow(const msp_flow &f) {
    const vorel_flow_tags &t = vorel_flow_xml_tags();
    // Both addresses take the family of the source.
    char src_buf[VOREL_ADDR_TEXT], dst_buf[VOREL_ADDR_TEXT];
    std::string_view src = vorel_addr_text(f.src, f.src.is_v6, src_buf);
    std::string_view dst = vorel_addr_text(f.dst, f.src.is_v6, dst_buf);
    const bool ds_lite = f.ds_lite == 1;
    const bool ports = !ds_lite && f.proto != kProtoIcmp && f.proto != kProtoIcmpv6;
    char port[8];
    xml_open(t.entry);
    xml_leaf(t.protocol, ds_lite ? std::string_view("DS-LITE") : proto2str(f.proto));
    xml_leaf(t.source_ip, src);
    if (ports)
        xml_leaf(t.source_port, vorel_port_column(f.src_port, port));
    xml_leaf(t.destination_ip, dst);
    if (ports)
        xml_leaf(t.destination_port, vorel_port_column(f.dst_port, port));
    xml_leaf(t.state, flowtype2str(f.state));
    xml_leaf(t.direction, dir2str(f.direction));
    xml_leaf(t.frames, unsigned{f.frames});
    xml_close(t.entry);
}

void render_session(const asp_info &, const svc_set_info &ss, const vorel::ByteReader &r) {
    const mss_session_tags &t = kSessionTags;
    // The session's 28 lines go out in one write.
    xml_batch batch;
    char msisdn[24];
    char *msisdn_end = std::to_chars(msisdn, msisdn + sizeof msisdn, r.be64(32)).ptr;
    xml_open(t.entry);
    xml_leaf(t.svc_set, std::string_view(ss.name, strnlen(ss.name, sizeof ss.name)));
    xml_leaf(t.id, unsigned{r.be32(40)});
    xml_leaf(t.type, subsc_type2str(r.u8(kSubscTypeOffset)));
    xml_leaf(t.imsi, imsi_at(r, 24));
    xml_leaf(t.msisdn, std::string_view(msisdn, static_cast<size_t>(msisdn_end - msisdn)));
    xml_leaf(t.alg, qrtalg2str(r.be16(18)));
    xml_close(t.entry);
    for (size_t off : {kForwardFlowOffset, kReverseFlowOffset}) {
        msp_flow flow;
        if (msp_flow_read(r, off, &flow))
            render_subscriber_flow(flow);
    }
}

int mss_sessions_dump_query(vorel_ctx *, services_ui_conn *conn, asp_info *asp, svc_set_info *,
                            mss_params *p) {
    return mss_exchange(conn, *asp, p, kSessionsReply, kSessionReplySize, "mss-interface-name",
                        render_session);
}

constexpr vorel_enclosing kSessionsEnclosing{nullptr, "service-mss-sess-table-information", nullptr,
                                             nullptr};

// ---------------------------------------------------------------------------
// Header-enrichment counters per subscriber

constexpr uint16_t kHcmStatsRequest = 175;
constexpr uint16_t kHcmStatsReply = 176;
constexpr size_t kHcmCountersOffset = 40;
constexpr const char *kHcmCounters[] = {
    "mss-hdr",
    "mss-hdr-fail",
    "mss-hdr-rename",
    "mss-hdr-rename-fail",
    "mss-ipv4-mask-modification",
    "mss-ipv6-mask-modification",
    "mss-tag-large",
    "mss-tag-fail",
    "mss-get",
    "mss-no-subs",
    "mss-subs-attribute-missing",
    "mss-ipv4-attribute-missing",
    "mss-ipv6-attribute-missing",
    "mss-ipv4-ipv6-attribute",
};
constexpr size_t kHcmStatsReplySize = kHcmCountersOffset + 4 * std::size(kHcmCounters);

void render_hcm_stats(const asp_info &, const svc_set_info &, const vorel::ByteReader &r) {
    xml_send_open("mss-hcm-sess-entry");
    xml_send_all("mss-session-id", "%u", r.be32(20));
    xml_send_all("mss-hcm-subsc-type", "%s", subsc_type2str(r.u8(kSubscTypeOffset)));
    xml_send_all("mss-hcm-imsi", "%s", imsi_at(r, 24).c_str());
    xml_send_all("mss-hcm-msisdn", "%llu", static_cast<unsigned long long>(r.be64(32)));
    xml_send_close("mss-hcm-sess-entry");
    xml_send_open("mss-hcm-stats-entry");
    size_t off = kHcmCountersOffset;
    for (const char *counter : kHcmCounters) {
        xml_send_all(counter, "%u", r.be32(off));
        off += 4;
    }
    xml_send_close("mss-hcm-stats-entry");
}

int mss_hcm_stats_dump_query(vorel_ctx *, services_ui_conn *conn, asp_info *asp, svc_set_info *,
                             mss_params *p) {
    return mss_exchange(conn, *asp, p, kHcmStatsReply, kHcmStatsReplySize, "mss-hcm-interface-name",
                        render_hcm_stats);
}

constexpr vorel_enclosing kHcmStatsEnclosing{nullptr, "service-hcm-stats-table-information",
                                             nullptr, nullptr};

const vorel_action<mss_params> mss_cmd_handlers_table[] = {
    {"dump_sessions", vorel_enclosing_open<kSessionsEnclosing, mss_params>,
     vorel_enclosing_close<kSessionsEnclosing, mss_params>, mss_sessions_dump_query},
    {"dump_hcm_stats", vorel_enclosing_open<kHcmStatsEnclosing, mss_params>,
     vorel_enclosing_close<kHcmStatsEnclosing, mss_params>, mss_hcm_stats_dump_query},
    {nullptr, nullptr, nullptr, nullptr},
};

// ---------------------------------------------------------------------------
// Command line and the walk

// The sub-commands, their actions and the request type each sends.
constexpr vorel_subcommand<uint16_t> kSubcommands[] = {
    {"sessions", "dump_sessions", kSessionsRequest},
    {"hcm_stats", "dump_hcm_stats", kHcmStatsRequest},
};

void parse_options(int argc, char **argv, const vorel_ctx *ctxt, mss_params *p) {
    int c;
    while ((c = vorel_getopt(argc, argv, ctxt->optstring)) != -1) {
        if (vorel_command_word_option(c, p))
            continue;
        switch (c) {
        case 'R':
            p->routing_instance = vorel_optarg;
            break;
        case 'E':
            p->ipv4_addr = vorel_optarg;
            break;
        case 'F':
            p->ipv6_addr = vorel_optarg;
            break;
        case 'G':
            p->subs_ifname = vorel_optarg;
            break;
        case 'I':
            p->imsi = vorel_optarg;
            break;
        default:
            break;
        }
    }
}

// The action named by -A or derived from the command words, and the
// request type it sends (nothing for an action of no row).
std::optional<uint16_t> choose_action(mss_params *p) {
    if (!p->action) {
        if (!p->command || *p->command != "mss")
            return std::nullopt;
        const auto *row = vorel_subcommand_find(kSubcommands, p->subcommand);
        if (!row)
            return std::nullopt;
        p->action = row->action;
    }
    return vorel_subcommand_shared(kSubcommands, *p->action);
}

} // namespace

int vorel_handle_mss_command(int argc, char **argv, vorel_ctx *ctxt) {
    mss_params p;
    parse_options(argc, argv, ctxt, &p);
    std::optional<uint16_t> request = choose_action(&p);
    if (!request) {
        if (!p.action)
            return vorel_note_no_action("mss", p.command, p.subcommand);
        vorel_note_failure("mss: unknown action %s", p.action->c_str());
        return -1;
    }
    // Checked once, before any PIC is asked.
    if (!selectors_valid(p))
        return -1;
    p.request = build_request(*request, p);
    vorel_xml_only_view(ctxt, "the mobile subscriber view");

    pic_walk walk;
    walk.admit = [](const asp_info &asp) { return (asp.flags & ASP_F_MSP) != 0; };
    walk.open_channel = vorel_open_pic_fatal;
    walk.on_open_failure = open_failure::log_and_stop_walk;

    bool ran = false;
    return vorel_run_action(mss_cmd_handlers_table, p.action->c_str(), walk, ctxt, &p,
                            "vorel_handle_mss_command: mss action %s is not supported yet\n", &ran);
}
