// Clearing NAT mappings (-C nat -S clear_mappings) and NAT flows
// (-S clear_nat_flows) of each service set, chosen by the subscriber,
// softwire (B4) and translated address ranges and the subscriber port of
// -x.  Each service set answers with what it removed.
#include "platform/xml.h"
#include "vorel/vorel_cmd_nat.h"
#include "vorel/vorel_error.h"
#include "vorel/vorel_section.h"
#include "vorel/vorel_string.h"

#include <cstdio>

namespace {

constexpr uint16_t kClearMappingsRequest = 243, kClearMappingsReply = 244;
constexpr uint16_t kClearFlowsRequest = 245, kClearFlowsReply = 246;
constexpr size_t kRequestSize = 220;
constexpr size_t kReplySize = 24;

// The selection block at offset 16: three ranges, the subscriber port and
// the flags, each field written on its own.
constexpr size_t kSelection = 16;
constexpr size_t kSubsRange = 0, kSwRange = 64, kNatRange = 128;
constexpr size_t kRangeEnd = 20, kRangeMask = 40, kRangePrefixLen = 60;
constexpr size_t kSubsPort = 192;
constexpr size_t kSwGiven = 194, kNatGiven = 195, kSubsGiven = 196, kPortGiven = 197;
constexpr size_t kMappingKind = 198;
constexpr size_t kFilterKind = 216;

void write_range(vorel::ByteWriter &w, size_t off, const fwnat_range &r) {
    vorel_addr_write(w, off, r.start);
    vorel_addr_write(w, off + kRangeEnd, r.end);
    vorel_addr_write(w, off + kRangeMask, r.mask);
    w.u8(off + kRangePrefixLen, r.prefix_len);
}

vorel::ByteWriter clear_request(uint16_t type, const svc_set_info *ss, const fwnat_params &p,
                                uint32_t filter_kind) {
    vorel::ByteWriter w = fwnat_request(type, 1, kRequestSize, ss);
    write_range(w, kSelection + kSubsRange, p.subs_range);
    write_range(w, kSelection + kSwRange, p.sw_range);
    write_range(w, kSelection + kNatRange, p.nat_range);
    w.be16(kSelection + kSubsPort, p.subs_port);
    w.u8(kSelection + kSwGiven, p.sw_given);
    w.u8(kSelection + kNatGiven, p.nat_given);
    w.u8(kSelection + kSubsGiven, p.subs_given);
    w.u8(kSelection + kPortGiven, p.port_given);
    w.u8(kSelection + kMappingKind, p.mapping_kind);
    w.be32(kFilterKind, filter_kind);
    return w;
}

uint32_t mappings_filter_kind(const fwnat_params &p) {
    if (p.subs_given && p.sw_given)
        return 3;
    if (p.subs_given)
        return 1;
    return p.sw_given ? 2 : 0;
}

} // namespace

constexpr vorel_enclosing kMappingsClearEnclosing{
    "vorel: nat mappings clear start \n", "service-nat-clear-mappings-information",
    "PIC             Service set                            Mappings Removed "
    "   Flows Removed\n\n",
    "vorel: nat mappings clear stop \n"};
FWNAT_ENCLOSING_CALLBACKS(fwnat_natmappings_clear, kMappingsClearEnclosing)

int fwnat_natmappings_clear_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp,
                                  svc_set_info *ss, fwnat_params *p) {
    if (!fwnat_query_args_ok(ctxt, asp, ss, p, true))
        return -1;
    if (p->subs_given && p->sw_given && p->subs_range.start.is_v6) {
        vorel_user_message("Subscriber address should be V4 when B4address is specified\n");
        return -1;
    }
    if (vorel_send(c, clear_request(kClearMappingsRequest, ss, *p, mappings_filter_kind(*p))) < 0)
        return -1;
    // The session engine's PICs count the flows they removed, the others
    // the sessions.
    const bool flows = vorel_starts_with(asp->name, "ms");
    vorel::ByteBlock<kReplySize> b;
    while (vorel_receive_block(c, kClearMappingsReply, 1, asp->name, short_reply::skip, &b)) {
        if (!ctxt->xml) {
            std::printf("%-16s%-32s%u  %u\n", asp->name, ss->name, b.be32<16>(), b.be32<20>());
            continue;
        }
        const char *element =
            flows ? "service-nat-clear-mappings" : "service-nat-clear-mappings-sess";
        xml_send_open(element);
        xml_send_all("interface-name", "%s", asp->name);
        xml_send_all("service-set-name", "%s", ss->name);
        xml_send_all("mappings-removed", "%u", b.be32<16>());
        xml_send_all(flows ? "flows-cleared" : "sessions-cleared", "%u", b.be32<20>());
        xml_send_close(element);
    }
    vorel_trace("vorel: fwnat natstats reply finished\n");
    return 0;
}

constexpr vorel_enclosing kFlowsClearEnclosing{
    "vorel: nat flows clear start \n", "service-nat-clear-flows-information",
    "PIC             Service set                                        "
    "Mappings Removed\n\n",
    "vorel: nat flows clear stop \n"};
FWNAT_ENCLOSING_CALLBACKS(fwnat_natflows_clear, kFlowsClearEnclosing)

int fwnat_natflows_clear_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp,
                               svc_set_info *ss, fwnat_params *p) {
    if (!fwnat_query_args_ok(ctxt, asp, ss, p, true))
        return -1;
    if (asp->flags & ASP_F_MSP) {
        xml_send_open("service-nat-clear-flows");
        xml_send_all("interface-name", "%s", asp->name);
        nat_not_supported_on(ctxt, asp->name);
        xml_send_close("service-nat-clear-flows");
        return 0;
    }
    const uint32_t filter_kind = p->subs_given || p->sw_given ? 1 : 0;
    if (vorel_send(c, clear_request(kClearFlowsRequest, ss, *p, filter_kind)) < 0)
        return -1;
    vorel::ByteBlock<kReplySize> b;
    while (vorel_receive_block(c, kClearFlowsReply, 1, asp->name, short_reply::skip, &b)) {
        if (!ctxt->xml) {
            std::printf("%-16s%-52s%u\n", asp->name, ss->name, b.be32<20>());
            continue;
        }
        xml_send_open("service-nat-clear-flows");
        xml_send_all("interface-name", "%s", asp->name);
        xml_send_all("service-set-name", "%s", ss->name);
        xml_send_all("nat-flows-cleared", "%u", b.be32<20>());
        xml_send_close("service-nat-clear-flows");
    }
    vorel_trace("vorel: fwnat natstats reply finished\n");
    return 0;
}
