// Flows: the flow table of each service set (dump_flow), its size
// (count_flow) and its removal (drain_flow), and the renderer of one flow
// entry that the conversation and SIP listings share.
#include "platform/format.h"
#include "platform/xml.h"
#include "vorel/vorel_cmd_fwnat.h"
#include "vorel/vorel_error.h"
#include "vorel/vorel_flow_entry.h"
#include "vorel/vorel_tally.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr uint16_t kCountRequest = 16, kCountReply = 17;
constexpr uint16_t kDrainRequest = 14, kDrainReply = 15;
constexpr uint16_t kDumpRequest = 18, kDumpReply = 19;
constexpr uint16_t kVersion = 2;

constexpr size_t kCountRequestSize = 112; // filter at 20
constexpr size_t kDrainRequestSize = 108; // filter at 16
constexpr size_t kDumpRequestSize = 108;  // limit at 16, filter at 20
constexpr size_t kLimitOffset = 16;
constexpr size_t kCountReplySize = 20; // the count at 16
constexpr size_t kCountOffset = 16;
constexpr size_t kFlowOffset = 24;
constexpr size_t kDumpReplySize = kFlowOffset + FWNAT_FLOW_RECORD_SIZE;

constexpr const char *kFlowHeading =
    "Flow                                                State    Dir       Frm count";

constexpr uint8_t kIcmp = 1, kIpip = 4, kIpv6 = 41, kGre = 47, kIcmpv6 = 58;
constexpr uint8_t kSoftwireDsLite = 1, kSoftwire6rd = 2;

constexpr size_t kPortText = 8;

bool is_icmp(uint8_t proto) {
    return proto == kIcmp || proto == kIcmpv6;
}

// A port column: "%-5u", or empty for ICMP, whose ports carry type and code.
std::string_view port_text(uint16_t port, uint8_t proto, char (&buf)[kPortText]) {
    return is_icmp(proto) ? std::string_view() : vorel_port_column(port, buf);
}

} // namespace

// The record's size is checked once; its fields are read at offsets the
// compiler checks against that size (a table holds millions of records).
// Decoded straight into the caller's record (no copy of a record of 200
// bytes: a conversation or a call holds several).
fwnat_flow_record fwnat_flow_read(const vorel::ByteReader &r, size_t off) {
    vorel::ByteBlock<FWNAT_FLOW_RECORD_SIZE> b;
    if (!r.block(off, b))
        return {}; // not all there: an empty record
    return fwnat_flow_decode(b);
}

// Member by member, in the record's order: a record declared and then
// assigned is cleared first (its padding too), which cost more than the
// decoding.
fwnat_flow_record fwnat_flow_decode(const vorel::ByteBlock<FWNAT_FLOW_RECORD_SIZE> &b) {
    return {{
                .src = vorel_addr_decode<0>(b),
                .dst = vorel_addr_decode<20>(b),
                .src_port = b.be16<40>(),
                .dst_port = b.be16<42>(),
                .direction = b.u8<93>(),
                .state = b.u8<94>(),
                .proto = b.u8<95>(),
                .timeout = b.be32<96>(),
                .frames = b.be32<100>(),
                .bytes = b.be32<104>(),
                .tcp_established = b.u8<108>(),
                .tcp_tickle = b.u8<109>(),
                .role = b.u8<111>(),
                .tcp_window = b.be16<112>(),
                .tcp_ack = b.be32<116>(),
            },
            /* snat_valid */ b.be16<44>(),
            /* dnat_valid */ b.be16<46>(),
            /* snat_addr */ vorel_addr_decode<48>(b),
            /* dnat_addr */ vorel_addr_decode<68>(b),
            /* snat_port */ b.be16<88>(),
            /* dnat_port */ b.be16<90>(),
            /* tickles_sent */ b.u8<110>(),
            /* sw_src */ vorel_addr_decode<124>(b),
            /* sw_dst */ vorel_addr_decode<144>(b),
            /* sw_type */ b.u8<164>()};
}

void fwnat_flow_print(const fwnat_flow_record &f, bool detail, int xml) {
    char src[VOREL_ADDR_TEXT], dst[VOREL_ADDR_TEXT], sport[kPortText], dport[kPortText];
    // Both ends of the flow are of the source's family.
    vorel_flow_entry e = vorel_flow_entry_of(f, vorel_addr_text(f.src, f.src.is_v6, src),
                                             port_text(f.src_port, f.proto, sport),
                                             vorel_addr_text(f.dst, f.src.is_v6, dst),
                                             port_text(f.dst_port, f.proto, dport), f.tickles_sent);
    // The XML protocol names the softwire when the flow is its tunnel, and
    // then no Softwire element follows.
    if (f.sw_type == kSoftwire6rd && f.proto == kIpv6)
        e.tunnel = "6RD";
    else if (f.sw_type == kSoftwireDsLite && f.proto == kIpip)
        e.tunnel = "DS-LITE";

    char snat_ip[VOREL_ADDR_TEXT], snat_port[kPortText];
    vorel_flow_nat snat;
    if (f.snat_valid == 1) {
        snat = {vorel_addr_text(f.snat_addr, f.snat_addr.is_v6, snat_ip),
                port_text(f.snat_port ? f.snat_port : f.src_port, f.proto, snat_port)};
        e.source_nat = &snat;
    }
    char dnat_ip[VOREL_ADDR_TEXT], dnat_port[kPortText];
    vorel_flow_nat dnat;
    if (f.dnat_valid == 1) {
        // An untranslated port stays the destination port, except for GRE,
        // which has none.
        dnat = {vorel_addr_text(f.dnat_addr, f.dnat_addr.is_v6, dnat_ip),
                port_text(f.dnat_port ? f.dnat_port : (f.proto == kGre ? 0 : f.dst_port), f.proto,
                          dnat_port)};
        e.destination_nat = &dnat;
    }
    char sw_from[VOREL_ADDR_TEXT], sw_to[VOREL_ADDR_TEXT];
    if (f.sw_type != 0 && !(xml && e.tunnel)) {
        bool v6 = f.sw_type == kSoftwireDsLite;
        e.softwire_from = vorel_addr_text(f.sw_src, v6, sw_from);
        e.softwire_to = vorel_addr_text(f.sw_dst, v6, sw_to);
    }
    vorel_flow_entry_print(e, detail, vorel_flow_style_sfw, xml);
}

fwnat_flow_table::fwnat_flow_table(const vorel_ctx *ctxt)
    : vorel_section(ctxt, "service-sfw-flow-table", {xml_attribute("heading", kFlowHeading)}) {
    on_text_open([] { std::printf("%s\n\n", kFlowHeading); });
}

namespace {
// Its element with the heading made once: a conversation listing opens a
// table per conversation.
const xml_tag kFlowTableTag("service-sfw-flow-table", {xml_attribute("heading", kFlowHeading)});
} // namespace

void fwnat_flow_table_open(int xml) {
    if (xml) {
        xml_open(kFlowTableTag);
        return;
    }
    static const std::string lines = std::string(kFlowHeading) + "\n\n";
    fwrite_unlocked(lines.data(), 1, lines.size(), stdout);
}

void fwnat_flow_table_close(int xml) {
    if (xml)
        xml_close(kFlowTableTag);
}

// ---------------------------------------------------------------------------
// dump_flow

constexpr vorel_enclosing kFlowDumpEnclosing{"vorel: flow dump start \n",
                                             "service-sfw-flow-table-information", nullptr,
                                             "vorel: flow dump done \n"};
FWNAT_ENCLOSING_CALLBACKS(fwnat_flow_dump, kFlowDumpEnclosing)

int fwnat_flow_dump_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp, svc_set_info *ss,
                          fwnat_params *p) {
    if (!fwnat_query_args_ok(ctxt, asp, ss, p, true))
        return -1;
    vorel::ByteWriter req = fwnat_request(kDumpRequest, kVersion, kDumpRequestSize, ss);
    req.be32(kLimitOffset, static_cast<uint32_t>(p->limit));
    fwnat_flow_filter_write(req, 20, *p);
    if (vorel_send(c, req) < 0)
        return -1;

    // The heading comes with the first flow: a service set without flows
    // shows nothing at all.
    vorel_svc_set_section section(ctxt, "sfw-per-service-set-flow-table", asp->name, ss->name,
                                  "\n");
    fwnat_flow_table table(ctxt);
    vorel::ByteBlock<kDumpReplySize> reply;
    while (vorel_receive_block(c, kDumpReply, kVersion, asp->name, short_reply::skip, &reply)) {
        if (section.open())
            table.open();
        fwnat_flow_print(fwnat_flow_decode(reply.block<kFlowOffset, FWNAT_FLOW_RECORD_SIZE>()),
                         p->detail, ctxt->xml);
    }
    return 0;
}

// ---------------------------------------------------------------------------
// count_flow and drain_flow: one number per service set.

namespace {

struct tally_kind {
    uint16_t request, reply;
    size_t request_size, filter_offset;
    const char *element, *count_element;
};

const tally_kind kCount{kCountRequest, kCountReply, kCountRequestSize, 20, "service-sfw-flow-count",
                        "flow-count"};
const tally_kind kDrain{
    kDrainRequest,          kDrainReply, kDrainRequestSize, 16, "service-sfw-flow-drain",
    "conversations-removed"};

int tally_query(const tally_kind &k, vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp,
                svc_set_info *ss, fwnat_params *p) {
    if (!fwnat_query_args_ok(ctxt, asp, ss, p, true))
        return -1;
    vorel::ByteWriter req = fwnat_request(k.request, kVersion, k.request_size, ss);
    fwnat_flow_filter_write(req, k.filter_offset, *p);
    return vorel_tally_exchange<kCountReplySize>(
        c, req, k.reply, kVersion, asp->name, short_reply::skip,
        [&](const vorel::ByteBlock<kCountReplySize> &b) {
            vorel_tally_entry(ctxt, asp->name, ss->name, b.be32<kCountOffset>(), k.element,
                              k.count_element);
        });
}

} // namespace

constexpr vorel_enclosing kFlowCountEnclosing{
    "vorel: flow count open \n", "service-sfw-flow-count-information",
    "PIC             Service set                                         Flow Count\n\n",
    "vorel: flow count done \n"};
FWNAT_ENCLOSING_CALLBACKS(fwnat_flow_count, kFlowCountEnclosing)

int fwnat_flow_count_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp, svc_set_info *ss,
                           fwnat_params *p) {
    return tally_query(kCount, ctxt, c, asp, ss, p);
}

constexpr vorel_enclosing kFlowDrainEnclosing{
    "vorel: flow drain start \n", "service-sfw-flow-drain-information",
    "PIC             Service set                                        Flow Removed\n\n",
    "vorel: flow drain done \n"};
FWNAT_ENCLOSING_CALLBACKS(fwnat_flow_drain, kFlowDrainEnclosing)

int fwnat_flow_drain_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp, svc_set_info *ss,
                           fwnat_params *p) {
    return tally_query(kDrain, ctxt, c, asp, ss, p);
}
