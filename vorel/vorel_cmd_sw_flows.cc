// Softwire tables per service set: the softwires themselves (source,
// destination, direction, flow count) or the flows that run through them,
// with their NAT translations and their softwire endpoints.
#include "platform/format.h"
#include "platform/xml.h"
#include "vorel/vorel_channel.h"
#include "vorel/vorel_cmd_sw.h"
#include "vorel/vorel_error.h"
#include "vorel/vorel_flow_entry.h"
#include "vorel/vorel_section.h"

#include <cstdio>
#include <optional>

namespace {

constexpr uint16_t kDumpRequest = 44;
constexpr uint16_t kDumpReply = 45;
constexpr size_t kDumpRequestSize = 148; // 37 words
constexpr size_t kRecordKindOffset = 20;
constexpr uint8_t kKindSoftwire = 1;
constexpr size_t kDumpReplyMin = SW_FLOW_RECORD_OFFSET + SW_FLOW_RECORD_LEN;

constexpr uint32_t kTranslated = 2;
constexpr uint8_t kProtoIcmp = 1;
constexpr uint8_t kProtoIpip = 4;
constexpr uint8_t kProtoIpv6 = 41;
constexpr uint8_t kProtoIcmpv6 = 58;
constexpr uint8_t kDirOutput = 2;

constexpr const char *kEntryColumns =
    "Softwire                                     Direction     Flow count";
constexpr const char *kFlowColumnsXml =
    "Flow                                               State       Dir       Frm count";
constexpr const char *kFlowColumnsText =
    "Flow                                                State      Dir       Frm count\n\n";

// The leaves of a table that may hold millions of entries.
const xml_tag kSwEntry("softwire-entry");
const xml_tag kSwSource("softwire-source-ip");
const xml_tag kSwDestination("softwire-destination-ip");
const xml_tag kSwDirection("softwire-direction");
const xml_tag kSwFlowCount("softwire-flow-count");
const xml_tag kSwTimeout("softwire-table-timeout");
const xml_tag kNatEntry("sw-flow-nat-entry");
const xml_tag kNatType("sfw-flow-nat-sw-nat-type");

using record_block = vorel::ByteBlock<SW_FLOW_RECORD_LEN>;

template <size_t Off> softwire_addr addr_read(const record_block &b) {
    softwire_addr a;
    a.words[0] = b.be32<Off>();
    a.words[1] = b.be32<Off + 4>();
    a.words[2] = b.be32<Off + 8>();
    a.words[3] = b.be32<Off + 12>();
    // The flag is a whole word; agents differ in its byte order.
    a.is_v6 = b.be32<Off + 16>() != 0 ? 1 : 0;
    return a;
}

// An address as IPv6 (full text) or IPv4 (word 0), whatever its own flag.
struct addr_text {
    char buf[VOREL_ADDR_TEXT];
    std::string_view s;
    addr_text(const softwire_addr &a, bool v6) : s(vorel_addr_text(a, v6, buf)) {}
    addr_text(const addr_text &) = delete; // s points into buf
};

// As "%-5u" prints it, or empty.
struct port_text {
    char buf[8];
    std::string_view s;
    port_text(uint16_t port, bool shown) : s(shown ? vorel_port_column(port, buf) : "") {}
    port_text(const port_text &) = delete; // s points into buf
};

vorel::ByteWriter dump_request(const svc_set_info &ss, const softwire_params &p) {
    vorel::ByteWriter w = sw_request(kDumpRequest, 1, kDumpRequestSize, &ss);
    sw_addr_write(w, 16, p.g_addr);
    sw_addr_write(w, 36, p.b_addr);
    sw_prefix_block_write(w, 56, p);
    w.be32(136, p.limit);
    w.be32(140, static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(p.addr_flags))));
    w.u8(144, p.entries);
    return w;
}

// The label of a tunnel flow (no ports), or null.
const char *tunnel_label(const sw_flow_record &rec) {
    if (rec.sw_type == SW_TYPE_DSLITE && rec.proto == kProtoIpip)
        return "DS-LITE";
    if (rec.sw_type == SW_TYPE_6RD && rec.proto == kProtoIpv6)
        return "6RD";
    return nullptr;
}

// The softwire family's flow entries: its own translation element, the
// softwire line in columns, and no ports in a tunnel flow's translations.
const vorel_flow_style kSwFlowStyle{"", true, true, &kNatEntry, &kNatType};

} // namespace

bool sw_flow_record_read(const vorel::ByteReader &r, size_t off, sw_flow_record *out) {
    *out = sw_flow_record{};
    record_block b;
    if (!r.block(off, b))
        return false;
    out->a = addr_read<0>(b);
    out->b = addr_read<20>(b);
    out->xlat_src = addr_read<40>(b);
    out->xlat_dst = addr_read<60>(b);
    out->ep1 = addr_read<80>(b);
    out->ep2 = addr_read<100>(b);
    out->src_nat = b.be32<120>();
    out->dst_nat = b.be32<124>();
    out->timeout = b.be32<128>();
    out->count = b.be32<132>();
    out->flow_count = b.be32<140>();
    out->sport = b.be16<144>();
    out->dport = b.be16<146>();
    out->xlat_sport = b.be16<148>();
    out->xlat_dport = b.be16<150>();
    out->direction = b.u8<153>();
    out->state = b.u8<154>();
    out->proto = b.u8<155>();
    out->sw_type = b.u8<156>();
    return true;
}

void sw_entry_print(const vorel_ctx *ctxt, const sw_flow_record &rec, bool detail) {
    bool v6 = rec.a.is_v6 != 0;
    addr_text src(rec.a, v6), dst(rec.b, v6);
    if (!ctxt->xml) {
        vorel_printf("%16s ->%15s%7s%11u\n", src.buf, dst.buf, dir2str(rec.direction).data(),
                     rec.count);
        if (detail)
            vorel_printf("Timeout: %u\n", rec.timeout);
        return;
    }
    xml_batch batch;
    xml_open(kSwEntry);
    xml_leaf(kSwSource, src.s);
    xml_leaf(kSwDestination, dst.s);
    xml_leaf(kSwDirection, dir2str(rec.direction));
    xml_leaf(kSwFlowCount, rec.flow_count);
    if (detail)
        xml_leaf(kSwTimeout, rec.timeout);
    xml_close(kSwEntry);
}

void sw_flow_print(const vorel_ctx *ctxt, const sw_flow_record &rec) {
    // XML labels a tunnel flow (and shows no ports for it); the text row
    // shows the protocol, with ports unless it is ICMP.
    const char *label = tunnel_label(rec);
    bool ports = rec.proto != kProtoIcmp && rec.proto != kProtoIcmpv6;
    bool v6 = rec.a.is_v6 != 0;
    addr_text src(rec.a, v6), dst(rec.b, v6);
    port_text sport(rec.sport, ports), dport(rec.dport, ports);
    vorel_flow_entry e;
    e.line = {rec.proto, src.s, sport.s, dst.s, dport.s, rec.state, rec.direction, rec.count};
    e.tunnel = label;

    bool xlat_v6 = rec.xlat_dst.is_v6 != 0;
    std::optional<addr_text> sxlat, dxlat;
    std::optional<port_text> sxport, dxport;
    vorel_flow_nat snat{}, dnat{};
    if (rec.src_nat == kTranslated) {
        sxlat.emplace(rec.xlat_src, xlat_v6);
        sxport.emplace(rec.xlat_sport ? rec.xlat_sport : rec.sport, ports);
        snat = {sxlat->s, sxport->s};
        e.source_nat = &snat;
    }
    if (rec.dst_nat == kTranslated) {
        dxlat.emplace(rec.xlat_dst, xlat_v6);
        dxport.emplace(rec.xlat_dport ? rec.xlat_dport : rec.dport, ports);
        dnat = {dxlat->s, dxport->s};
        e.destination_nat = &dnat;
    }
    // The softwire's ends, in the direction of the flow.
    std::optional<addr_text> from, to;
    if (!label && rec.sw_type != 0) {
        bool sw_v6 =
            rec.sw_type == SW_TYPE_DSLITE || (rec.sw_type != SW_TYPE_6RD && rec.ep1.is_v6 != 0);
        bool reverse = rec.direction == kDirOutput;
        from.emplace(reverse ? rec.ep2 : rec.ep1, sw_v6);
        to.emplace(reverse ? rec.ep1 : rec.ep2, sw_v6);
        e.softwire_from = from->s;
        e.softwire_to = to->s;
    }
    vorel_flow_entry_print(e, false, kSwFlowStyle, ctxt->xml != 0);
}

int softwire_dump_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp, svc_set_info *ss,
                        softwire_params *p) {
    if (!sw_query_args_ok(ctxt, asp, ss, p))
        return -1;
    vorel_trace("%s:%d flow dump query \n", "softwire_dump_query", 1);
    if (!p->entries && sw_name_begins(asp->name, "ms")) {
        sw_refuse_pic(ctxt, "softwire-per-service-set-flow-table", *asp);
        return 0;
    }
    if (!c) {
        vorel_trace("asp_conn is null\n");
        return -1;
    }
    if (vorel_send(c, dump_request(*ss, *p)) < 0)
        return -1;

    bool entries = p->entries != 0;
    vorel_section set(ctxt, "softwire-per-service-set-flow-table");
    set.on_text_open([&] { vorel_printf("PIC: %s, Service set: %s \n\n", asp->name, ss->name); });
    vorel_section table(ctxt, "service-softwire-table",
                        {xml_attribute("heading", entries ? kEntryColumns : kFlowColumnsXml)});
    table.on_text_open([entries] {
        if (entries)
            vorel_printf("%s\n\n", kEntryColumns);
        else
            std::fputs(kFlowColumnsText, stdout);
    });
    for (;;) {
        vorel::ByteReader r = vorel_receive_at_least(c, kDumpReply, 1, kDumpReplyMin, asp->name,
                                                     short_reply::end_answer);
        sw_flow_record rec;
        if (r.empty() || !sw_flow_record_read(r, SW_FLOW_RECORD_OFFSET, &rec))
            break;
        if (set.open()) {
            if (ctxt->xml) {
                xml_send_all("interface-name", "%s", asp->name);
                xml_send_all("service-set-name", "%s", ss->name);
            }
            table.open();
        }
        if (r.u8(kRecordKindOffset) == kKindSoftwire)
            sw_entry_print(ctxt, rec, p->detail != 0);
        else
            sw_flow_print(ctxt, rec);
    }
    return 0;
}

int softwire_dump_open(vorel_ctx *ctxt, softwire_params *p) {
    vorel_open_enclosing(ctxt, "vorel: flow dump start \n",
                         p->entries ? "service-softwire-table-information"
                                    : "service-softwire-flow-table-information",
                         nullptr);
    return 0;
}

int softwire_dump_close(vorel_ctx *ctxt, softwire_params *) {
    vorel_close_enclosing(ctxt, "vorel: flow dump done \n", nullptr);
    return 0;
}
