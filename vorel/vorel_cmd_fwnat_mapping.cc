// NAT mappings (-C nat -S mappingsv2-app / -eim / -pcp / -summary,
// mapping-brief, mapping-detail): the address mappings, endpoint-
// independent mappings (EIM) and PCP mappings of each service set, or the
// mapping totals of each PIC.
//
// The view is stats_subcmd.  Brief lists address mappings and stays that
// view for the rest of the walk (stats_subcmd becomes that of address
// mappings); detail lists each service set's EIM mappings, then its
// address mappings, and returns to detail for the next service set.
#include "platform/format.h"
#include "platform/xml.h"
#include "vorel/vorel_cmd_nat.h"
#include "vorel/vorel_error.h"
#include "vorel/vorel_section.h"
#include "vorel/vorel_string.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr uint16_t kMappingRequest = 26, kMappingReply = 27;
constexpr uint16_t kMappingVersion = 2;
constexpr size_t kRequestSize = 172;
constexpr size_t kReplySize = 192;
constexpr size_t kPoolNameWidth = 64;

// map_kind of the request.
constexpr uint32_t kKindAddress = 1, kKindEim = 2, kKindSummary = 3, kKindPcp = 4;
// src_kind and dst_kind of the request.
constexpr uint32_t kSrcV4 = 1, kSrcV6 = 4, kDstV4 = 2, kDstV6 = 8;
constexpr uint32_t kNoPcpLifetime = 0xffffffffu;

// The last PIC name summarised in this run: a PIC is summarised once.
char last_summarised[ASP_NAME_LEN];

struct mapping {
    std::string_view pool_name; // valid until the next reply is received
    vorel_addr internal, external, b4, pcp_client;
    uint32_t session_count, ports_used;
    uint32_t total_addr_mappings, total_port_mappings, total_filters;
    uint32_t pcp_lifetime;
    uint16_t internal_port, external_port;
    uint32_t timeout;
};

mapping read_mapping(const vorel::ByteBlock<kReplySize> &b) {
    mapping m;
    m.pool_name = b.text<16, kPoolNameWidth>();
    vorel::ByteReader r = b.reader();
    m.internal = vorel_addr_read(r, 80);
    m.external = vorel_addr_read(r, 100);
    m.b4 = vorel_addr_read(r, 120);
    m.pcp_client = vorel_addr_read(r, 140);
    m.session_count = b.be32<160>();
    m.ports_used = b.be32<164>();
    m.total_addr_mappings = b.be32<168>();
    m.total_port_mappings = b.be32<172>();
    m.total_filters = b.be32<176>();
    m.pcp_lifetime = b.be32<180>();
    m.internal_port = b.be16<184>();
    m.external_port = b.be16<186>();
    m.timeout = b.be32<188>();
    return m;
}

// A prefix filter counts when its first word (IPv4) or any word (IPv6) is set.
bool filter_given(const vorel_addr &prefix) {
    return prefix.is_v6 ? nat_addr_given(prefix) : prefix.words[0] != 0;
}

uint32_t src_kind(const fwnat_params &p) {
    if (!filter_given(p.sprefix))
        return 0;
    return p.sprefix.is_v6 ? kSrcV6 : kSrcV4;
}

uint32_t dst_kind(const fwnat_params &p) {
    if (!filter_given(p.dprefix))
        return 0;
    return p.dprefix.is_v6 ? kDstV6 : kDstV4;
}

int send_request(services_ui_conn *c, const svc_set_info *ss, const fwnat_params &p,
                 uint32_t map_kind) {
    vorel::ByteWriter req = fwnat_request(kMappingRequest, kMappingVersion, kRequestSize, ss);
    if (p.natpool)
        req.text(16, kPoolNameWidth, vorel_text(p.natpool));
    req.be32(80, map_kind);
    req.be32(84, src_kind(p));
    vorel_addr_write(req, 88, p.sprefix);
    vorel_addr_write(req, 108, p.smask);
    req.be32(128, dst_kind(p));
    vorel_addr_write(req, 132, p.dprefix);
    vorel_addr_write(req, 152, p.dmask);
    if (vorel_send(c, req) < 0)
        return -1;
    vorel_trace("vorel: fwnat natmapping query start to receive reply\n");
    return 0;
}

bool next_mapping(services_ui_conn *c, const asp_info &asp, mapping *out) {
    vorel::ByteBlock<kReplySize> b;
    if (!vorel_receive_block(c, kMappingReply, kMappingVersion, asp.name, short_reply::skip, &b))
        return false;
    *out = read_mapping(b);
    return true;
}

// ---------------------------------------------------------------------------
// The summary

int summarise(vorel_ctx *ctxt, services_ui_conn *c, const asp_info &asp, const svc_set_info *ss,
              const fwnat_params &p) {
    nat_pic_name shown = nat_shown_pic_name(asp);
    if (shown.twin_known)
        return 0;
    if (std::strncmp(last_summarised, asp.name, ASP_NAME_LEN) == 0)
        return 0;
    vorel_strlcpy(last_summarised, asp.name, sizeof last_summarised);
    if (send_request(c, ss, p, kKindSummary) < 0)
        return -1;
    bool first = true;
    mapping m;
    while (next_mapping(c, asp, &m)) {
        if (!first)
            continue;
        first = false;
        if (ctxt->xml) {
            xml_send_open("natmapping-summary");
            xml_send_all("natmapping-interface-name", "%s", shown.text);
            xml_send_all("natmapping-total-address-mappings", "%u", m.total_addr_mappings);
            xml_send_all("natmapping-total-port-mappings", "%u", m.total_port_mappings);
            xml_send_all("natmapping-total-filters", "%u", m.total_filters);
            xml_send_close("natmapping-summary");
        } else {
            std::printf("Total number of address mappings                  %u\n",
                        m.total_addr_mappings);
            std::printf("Total number of endpoint independent port mappings %u\n",
                        m.total_port_mappings);
            std::printf("Total number of endpoint independent filters      %u\n", m.total_filters);
        }
    }
    vorel_trace("vorel: fwnat natmapping reply finished\n");
    return 0;
}

// ---------------------------------------------------------------------------
// One listing of mappings

// An address's text in a buffer of its own.
struct addr_text {
    explicit addr_text(const vorel_addr &a) { ipaddr_tostring(&a, buf, sizeof buf); }
    char buf[80];
};

void print_state_text(const mapping &m) {
    if (m.timeout)
        vorel_printf("Mapping State    : Timeout (%us)\n", m.timeout);
    else
        vorel_printf("Mapping State    : Active\n");
}

void print_b4_text(const mapping &m) {
    if (nat_addr_given(m.b4))
        vorel_printf("B4 Address       : %s\n", addr_text(m.b4).buf);
}

void print_eim_text(const mapping &m) {
    vorel_printf("Mapping          : %s:%d --> %s:%d\n", addr_text(m.internal).buf, m.internal_port,
                 addr_text(m.external).buf, m.external_port);
    vorel_printf("Session Count    : %u\n", m.session_count);
    print_state_text(m);
    print_b4_text(m);
}

void print_address_text(const mapping &m) {
    vorel_printf("Mapping          : %s --> %s\n", addr_text(m.internal).buf,
                 addr_text(m.external).buf);
    vorel_printf("Ports In Use     : %u\n", m.ports_used);
    vorel_printf("Session Count    : %u\n", m.session_count);
    print_state_text(m);
    print_b4_text(m);
}

// The client a PCP mapping was made for: the B4 of a softwire, else the
// PCP client when known, else the internal host.
const vorel_addr &pcp_client_of(const mapping &m) {
    if (nat_addr_given(m.b4))
        return m.b4;
    return nat_addr_given(m.pcp_client) ? m.pcp_client : m.internal;
}

// The leaves of a mapping: a listing may hold millions of them.
const xml_tag kMappingTag("address-mappingv2");
const xml_tag kPcpClientTag("pcp-client-ip");
const xml_tag kPcpLifetimeTag("pcp-lifetime");
const xml_tag kInternalIpTag("internal-ip");
const xml_tag kInternalPortTag("internal-port");
const xml_tag kExternalIpTag("external-ip");
const xml_tag kExternalPortTag("external-port");
const xml_tag kPortsUsedTag("ports-used");
const xml_tag kSessionCountTag("session-count");
const xml_tag kStateTag("state");
const xml_tag kB4IpTag("b4-ip");

void leaf_addr(const xml_tag &tag, const vorel_addr &a) {
    xml_leaf(tag, addr_text(a).buf);
}

// A number right-aligned in five columns ("%5u").
void leaf_5u(const xml_tag &tag, uint32_t v) {
    char buf[16];
    int n = std::snprintf(buf, sizeof buf, "%5u", v);
    xml_leaf(tag, std::string_view(buf, n > 0 ? size_t(n) : 0));
}

void leaf_state(const mapping &m) {
    if (!m.timeout) {
        xml_leaf(kStateTag, "Active");
        return;
    }
    char buf[32];
    int n = std::snprintf(buf, sizeof buf, "Timeout (%us)", m.timeout);
    xml_leaf(kStateTag, std::string_view(buf, n > 0 ? size_t(n) : 0));
}

void send_eim_xml(const mapping &m) {
    xml_batch batch;
    const bool dslite = nat_addr_given(m.b4);
    xml_send_open(kMappingTag.name(), {xml_attr_style(dslite ? "eim-dslite" : "eim")});
    if (m.pcp_lifetime != kNoPcpLifetime) {
        leaf_addr(kPcpClientTag, pcp_client_of(m));
        xml_leaf(kPcpLifetimeTag, unsigned{m.pcp_lifetime / 1000});
    }
    leaf_addr(kInternalIpTag, m.internal);
    leaf_5u(kInternalPortTag, m.internal_port);
    leaf_addr(kExternalIpTag, m.external);
    leaf_5u(kExternalPortTag, m.external_port);
    leaf_5u(kSessionCountTag, m.session_count);
    leaf_state(m);
    if (dslite)
        leaf_addr(kB4IpTag, m.b4);
    xml_close(kMappingTag);
}

void send_address_xml(const mapping &m) {
    xml_batch batch;
    const bool dslite = nat_addr_given(m.b4);
    xml_send_open(kMappingTag.name(), {xml_attr_style(dslite ? "app-dslite" : "app")});
    leaf_addr(kInternalIpTag, m.internal);
    leaf_addr(kExternalIpTag, m.external);
    leaf_5u(kPortsUsedTag, m.ports_used);
    leaf_5u(kSessionCountTag, m.session_count);
    leaf_state(m);
    xml_close(kMappingTag);
}

// Lists the mappings of one kind for a service set.  eim_view: rendered as
// endpoint-independent mappings (EIM and PCP), else as address mappings.
int list_mappings(vorel_ctx *ctxt, services_ui_conn *c, const asp_info &asp, const svc_set_info *ss,
                  const fwnat_params &p, uint32_t map_kind, bool eim_view) {
    if (send_request(c, ss, p, map_kind) < 0)
        return -1;
    const bool totals = p.stats_subcmd == FWNAT_MAPPINGS_APP && dst_kind(p) != 0;
    uint32_t subscribers = 0, ports = 0;
    nat_pic_name shown = nat_shown_pic_name(asp);
    {
        // Closed in reverse order: pool map, per pool, service set.
        vorel_section per_svc_set(ctxt, "sfw-per-service-set-nat-mapping");
        vorel_section per_pool(ctxt, "service-nat-per-pool");
        vorel_section pool_map(ctxt, "service-nat-pool-map");
        std::string pool; // none named yet
        mapping m;
        while (next_mapping(c, asp, &m)) {
            if (per_svc_set.open()) {
                xml_send_all("interface-name", "%s", shown.text);
                xml_send_all("service-set-name", "%s", ss ? ss->name : "");
                per_pool.open();
            }
            // A pool's name leads its mappings: it is shown when it differs
            // from the last pool named (a mapping without a pool names none).
            if (!m.pool_name.empty()) {
                if (m.pool_name != pool) {
                    pool = m.pool_name;
                    if (ctxt->xml)
                        xml_jxo_data("pool-name", pool.c_str());
                }
                if (ctxt->xml)
                    pool_map.open();
            }
            if (totals) {
                subscribers++;
                ports += m.ports_used;
            }
            if (ctxt->xml)
                eim_view ? send_eim_xml(m) : send_address_xml(m);
            else
                eim_view ? print_eim_text(m) : print_address_text(m);
        }
        if (totals && ctxt->xml) {
            xml_send_open("address-mapping-by-pub-total");
            xml_send_all("subs-total", "%u", subscribers);
            xml_send_all("ports-in-use-total", "%u", ports);
            xml_send_close("address-mapping-by-pub-total");
        } else if (totals && subscribers) {
            std::printf("Total Subscribers : %u\n", subscribers);
            std::printf("Total Ports In Use: %u\n", ports);
        }
        vorel_trace("vorel: fwnat natmapping reply finished\n");
    }
    return 0;
}

// PCP mappings are kept by the session engine's PICs; the others keep
// them as endpoint-independent mappings.
uint32_t pcp_map_kind(const asp_info &asp) {
    const char *n = asp.name;
    bool engine =
        vorel_starts_with(n, "ms") || vorel_starts_with(n, "rms") || vorel_starts_with(n, "ams");
    return engine ? kKindPcp : kKindEim;
}

} // namespace

int fwnat_nat_mapping_v2_dump_open(vorel_ctx *ctxt, fwnat_params *) {
    summary_info = 0;
    last_summarised[0] = '\0';
    vorel_open_enclosing(ctxt, "vorel: natmapping query start \n",
                         "service-nat-mapping-information", nullptr);
    return 0;
}

int fwnat_nat_mapping_v2_dump_close(vorel_ctx *ctxt, fwnat_params *) {
    vorel_close_enclosing(ctxt, "vorel: natmapping dump done \n", nullptr);
    return 0;
}

int fwnat_nat_mapping_v2_dump_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp,
                                    svc_set_info *ss, fwnat_params *p) {
    if (!fwnat_query_args_ok(ctxt, asp, ss, p, false))
        return -1;
    switch (p->stats_subcmd) {
    case FWNAT_MAPPINGS_SUMMARY:
        return summarise(ctxt, c, *asp, ss, *p);
    case FWNAT_MAPPINGS_APP:
    case FWNAT_MAPPINGS_EIM:
    case FWNAT_MAPPINGS_PCP:
    case FWNAT_STATS_BRIEF:
    case FWNAT_STATS_DETAIL:
        break;
    default:
        return 0; // no mapping view
    }
    if (!fwnat_query_args_ok(ctxt, asp, ss, p, true))
        return -1;
    switch (p->stats_subcmd) {
    case FWNAT_MAPPINGS_APP:
        return list_mappings(ctxt, c, *asp, ss, *p, kKindAddress, false);
    case FWNAT_MAPPINGS_EIM:
        return list_mappings(ctxt, c, *asp, ss, *p, kKindEim, true);
    case FWNAT_MAPPINGS_PCP:
        return list_mappings(ctxt, c, *asp, ss, *p, pcp_map_kind(*asp), true);
    case FWNAT_STATS_BRIEF:
        p->stats_subcmd = FWNAT_MAPPINGS_APP;
        return list_mappings(ctxt, c, *asp, ss, *p, kKindAddress, false);
    default: {
        p->stats_subcmd = FWNAT_MAPPINGS_EIM;
        int rc = list_mappings(ctxt, c, *asp, ss, *p, kKindEim, true);
        if (rc >= 0) {
            p->stats_subcmd = FWNAT_MAPPINGS_APP;
            rc = list_mappings(ctxt, c, *asp, ss, *p, kKindAddress, false);
        }
        p->stats_subcmd = FWNAT_STATS_DETAIL;
        return rc;
    }
    }
}
