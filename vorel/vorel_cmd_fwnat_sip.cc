// SIP calls and registrations that the SIP gateway of each service set
// tracks: listed (dump_sip_call, dump_sip_reg), counted (count_sip_call,
// count_sip_reg) or removed (drain_sip_call, drain_sip_reg).  A call
// arrives as one part of a large object, its flows after it; the flows are
// shown with the flow renderer.  Multiservices PICs have no SIP gateway of
// this kind and say so.
#include "platform/xml.h"
#include "vorel/vorel_cmd_fwnat.h"
#include "vorel/vorel_error.h"
#include "vorel/vorel_section.h"
#include "vorel/vorel_tally.h"

#include <arpa/inet.h>
#include <cstdio>

namespace {

constexpr uint16_t kVersion = 1;
constexpr size_t kListRequestSize = 108; // limit at 16, filter at 20
constexpr size_t kLimitOffset = 16;
constexpr size_t kListFilterOffset = 20;
constexpr size_t kNumberOffset = 16; // of count and drain replies
constexpr size_t kNumberReplySize = 20;

constexpr uint16_t kCallListRequest = 73, kCallPart = 74;
constexpr uint16_t kRegListRequest = 79, kRegReply = 80;

// A call: three texts, six flow counts, then the flows.
constexpr size_t kCallFlowsOffset = 256;
// A registration.
constexpr size_t kRegSize = 240;

const char *const kPicLine = "PIC: %s, Service set: %s \n\n";
const char *const kXmlOnlyLine = "only xml output is supported \n";

// The texts of calls and registrations, never read past their width.
template <size_t Off, size_t Width, size_t N>
void send_text(const char *element, const vorel::ByteBlock<N> &b) {
    std::string_view text = b.template text<Off, Width>();
    xml_send_all(element, "%.*s", static_cast<int>(text.size()), text.data());
}

template <size_t N> void send_parties(const vorel::ByteBlock<N> &b) {
    send_text<16, 64>("sfw-sip-from", b);
    send_text<80, 64>("sfw-sip-to", b);
    send_text<144, 80>("sfw-sip-callid", b);
}

// The per-service-set element of a listing: the PIC and service set
// named in XML, the PIC line in text.
void open_listing(vorel_section &sec, const vorel_ctx *ctxt, const asp_info &asp,
                  const svc_set_info &ss) {
    sec.on_text_open([&asp, &ss] { std::printf(kPicLine, asp.name, ss.name); });
    sec.open();
    if (ctxt->xml) {
        xml_send_all("interface-name", "%s", asp.name);
        xml_send_all("service-set-name", "%s", ss.name);
    }
}

int send_list_request(services_ui_conn *c, uint16_t type, const svc_set_info *ss,
                      const fwnat_params &p) {
    vorel::ByteWriter req = fwnat_request(type, kVersion, kListRequestSize, ss);
    req.be32(kLimitOffset, static_cast<uint32_t>(p.limit));
    fwnat_flow_filter_write(req, kListFilterOffset, p);
    return vorel_send(c, req);
}

// A listing: its request, its per-service-set element (opened once the
// request is sent, named in text by the PIC line) and the list inside.
struct sip_listing {
    uint16_t request;
    const char *element, *list, *trace;
};

const sip_listing kCallListing{kCallListRequest, "sfw-per-service-set-sip-calls", "sfw-sip-calls",
                               "sip call  dump query \n"};
const sip_listing kRegListing{kRegListRequest, "sfw-per-service-set-sip-registrations",
                              "sfw-sip-registers", "sip reg dump  query \n"};

// The query of a listing; receive_all reads and renders its entries.
template <typename ReceiveAll>
int list_query(const sip_listing &l, vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp,
               svc_set_info *ss, fwnat_params *p, ReceiveAll receive_all) {
    if (!fwnat_query_args_ok(ctxt, asp, ss, p, true))
        return -1;
    if (fwnat_refuse_on_msp(ctxt, *asp, l.element))
        return 0;
    vorel_trace("%s", l.trace);
    if (send_list_request(c, l.request, ss, *p) < 0)
        return -1;
    vorel_section listing(ctxt, l.element);
    open_listing(listing, ctxt, *asp, *ss);
    vorel_section list(ctxt, l.list);
    list.open();
    receive_all();
    return 0;
}

// ---------------------------------------------------------------------------
// Calls

// One group of a call's flows (control, contact, media): its initiator
// and responder counts and the elements that wrap each flow.
struct flow_group {
    size_t iflows_offset, rflows_offset;
    const char *number_iflows, *number_rflows;
    const char *iflow_table, *rflow_table;
};

const flow_group kCallGroups[] = {
    {228, 232, "sfw-sip-number-control-iflows", "sfw-sip-number-control-rflows",
     "sfw-sip-control-iflow-table", "sfw-sip-control-rflow-table"},
    {236, 240, "sfw-sip-number-contact-iflows", "sfw-sip-number-contact-rflows",
     "sfw-sip-contact-iflow-table", "sfw-sip-contact-rflow-table"},
    {244, 248, "sfw-sip-number-media-iflows", "sfw-sip-number-media-rflows",
     "sfw-sip-media-iflow-table", "sfw-sip-media-rflow-table"},
};

// Walks a call's flow records in order across the groups, never past the
// records the part holds.
class call_flows {
  public:
    call_flows(const vorel::ByteReader &part, uint64_t announced)
        : part_(part), present_(part.clamp_count(announced, kCallFlowsOffset,
                                                 FWNAT_FLOW_RECORD_SIZE, SIZE_MAX)) {}
    // Shows up to count records, each wrapped in `table`; false once the
    // part has no more.
    bool show(uint32_t count, const char *table) {
        for (uint32_t i = 0; i < count; i++) {
            if (next_ >= present_)
                return false;
            xml_send_open(table);
            fwnat_flow_print(
                fwnat_flow_read(part_, kCallFlowsOffset + next_ * FWNAT_FLOW_RECORD_SIZE), true,
                true);
            xml_send_close(table);
            next_++;
        }
        return true;
    }

  private:
    const vorel::ByteReader &part_;
    size_t present_;
    size_t next_ = 0;
};

// The six counts, summed without overflow.
uint64_t announced_flows(const vorel::ByteReader &r) {
    uint64_t total = 0;
    for (const flow_group &g : kCallGroups)
        total += uint64_t{r.be32(g.iflows_offset)} + r.be32(g.rflows_offset);
    return total;
}

void print_call_flows(const vorel::ByteReader &r, const asp_info &asp) {
    uint64_t announced = announced_flows(r);
    call_flows flows(r, announced);
    bool complete = true;
    for (const flow_group &g : kCallGroups) {
        uint32_t iflows = r.be32(g.iflows_offset), rflows = r.be32(g.rflows_offset);
        if (iflows == 0 && rflows == 0)
            continue;
        xml_send_all(g.number_iflows, "%u", iflows);
        xml_send_all(g.number_rflows, "%u", rflows);
        complete = complete && flows.show(iflows, g.iflow_table);
        complete = complete && flows.show(rflows, g.rflow_table);
    }
    if (!complete)
        vorel_trace("vorel: %s: SIP call of %zu bytes announces %llu flows; shown as far as "
                    "they arrived\n",
                    asp.name, r.size(), static_cast<unsigned long long>(announced));
}

void print_call(const services_ui_part &part, const asp_info &asp, bool detail, int xml) {
    vorel::ByteReader r(part.data(), part.size());
    vorel::ByteBlock<kCallFlowsOffset> b;
    if (!r.block(0, b)) {
        vorel_trace("vorel: %s: SIP call of %zu bytes, shorter than %zu; ignored\n", asp.name,
                    r.size(), kCallFlowsOffset);
        return;
    }
    if (!xml) {
        std::printf("%s", kXmlOnlyLine);
        return;
    }
    xml_send_open("sfw-sip-call-entry");
    send_parties(b);
    if (detail)
        print_call_flows(r, asp);
    xml_send_close("sfw-sip-call-entry");
}

// ---------------------------------------------------------------------------
// Registrations

void print_registration(const vorel::ByteBlock<kRegSize> &b, bool detail) {
    char addr[INET_ADDRSTRLEN + 8];
    xml_send_open("sfw-sip-register-entry");
    xml_send_all("sfw-sip-register-address", "%s", ip2str(b.be32<224>(), addr, sizeof addr));
    xml_send_all("sfw-sip-register-port", "%u", unsigned{b.be16<228>()});
    xml_send_all("sfw-sip-register-protocol", "%s", proto2str(b.u8<230>()).data());
    xml_send_all("sfw-sip-register-acked", "%s", b.u8<231>() ? "Acked" : "Not Acked");
    xml_send_all("sfw-sip-register-expiration", "%u", b.be32<232>());
    xml_send_all("sfw-sip-register-remaining", "%u", b.be32<236>());
    if (detail)
        send_parties(b);
    xml_send_close("sfw-sip-register-entry");
}

// ---------------------------------------------------------------------------
// Counts and drains: one number per service set.

struct sip_tally {
    uint16_t request, reply;
    size_t request_size, filter_offset;
    const char *element, *number_element;
    const char *text_line;
};

const sip_tally kCallCount{
    75, 76, 112, 20, "service-sfw-sip-call-count", "sip-call-count", "%-16s%-52s%u\n"};
const sip_tally kCallDrain{
    77, 78, 108, 16, "service-sfw-sip-call-drain", "sip-calls-removed", "%-16s%-52s%u\n"};
const sip_tally kRegCount{81,
                          82,
                          112,
                          20,
                          "service-sfw-sip-registration-count",
                          "sip-registration-count",
                          "%-16s%-52s %u\n"};
const sip_tally kRegDrain{83,
                          84,
                          108,
                          16,
                          "service-sfw-sip-registration-drain",
                          "sip-registration-removed",
                          "%-16s%-52s %u\n"};

int tally_query(const sip_tally &k, vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp,
                svc_set_info *ss, fwnat_params *p) {
    if (!fwnat_query_args_ok(ctxt, asp, ss, p, true))
        return -1;
    if (fwnat_refuse_on_msp(ctxt, *asp, k.element))
        return 0;
    vorel::ByteWriter req = fwnat_request(k.request, kVersion, k.request_size, ss);
    fwnat_flow_filter_write(req, k.filter_offset, *p);
    return vorel_tally_exchange<kNumberReplySize>(
        c, req, k.reply, kVersion, asp->name, short_reply::end_answer,
        [&](const vorel::ByteBlock<kNumberReplySize> &reply) {
            uint32_t number = reply.be32<kNumberOffset>();
            if (!ctxt->xml) {
                // The row of the SIP numbers keeps a space before the number.
                std::printf(k.text_line, asp->name, ss->name, number);
                return;
            }
            vorel_tally_entry(ctxt, asp->name, ss->name, number, k.element, k.number_element);
        });
}

// The enclosing sections of the six actions.
constexpr const char *kRemovedHeading =
    "PIC             Service set                                        Flow Removed\n\n";
constexpr vorel_enclosing kCallDumpFrame{"vorel: sip call  dump start \n",
                                         "service-sfw-sip-call-information", nullptr,
                                         "vorel: sip call dump done \n"};
constexpr vorel_enclosing kCallCountFrame{"vorel: sip call count start \n",
                                          "service-sfw-sip-call-count-information", kRemovedHeading,
                                          "vorel: sip call count done \n"};
constexpr vorel_enclosing kCallDrainFrame{"vorel: sip call drain start \n",
                                          "service-sfw-sip-call-drain-information", kRemovedHeading,
                                          "vorel: sip call drain done \n"};
constexpr vorel_enclosing kRegDumpFrame{"vorel: sip registration dump start \n",
                                        "service-sfw-sip-registration-information", nullptr,
                                        "vorel: sip registration dump done \n"};
constexpr vorel_enclosing kRegCountFrame{
    "vorel: sip reg count start \n", "service-sfw-sip-registration-count-information",
    "PIC             Service set                                   SIP reg Counted \n\n",
    "vorel: sip reg count done \n"};
constexpr vorel_enclosing kRegDrainFrame{"vorel: sip reg drain start \n",
                                         "service-sfw-sip-registration-drain-information",
                                         kRemovedHeading, "vorel: sip reg drain done \n"};

} // namespace

bool fwnat_refuse_on_msp(const vorel_ctx *ctxt, const asp_info &asp, const char *element) {
    if (!(asp.flags & ASP_F_MSP))
        return false;
    if (ctxt->xml) {
        xml_send_open(element);
        vorel_xml_error(1, "This command is not supported on %s interface\n\n", asp.name);
        xml_send_close(element);
    } else {
        std::printf("This command is not supported on %s interface\n", asp.name);
    }
    return true;
}

// ---------------------------------------------------------------------------
// dump_sip_call

int fwnat_sip_call_dump_open(vorel_ctx *ctxt, fwnat_params *p) {
    fwnat_open_enclosing(ctxt, kCallDumpFrame);
    fwnat_note_xml_only(ctxt, p);
    return 0;
}

int fwnat_sip_call_dump_close(vorel_ctx *ctxt, fwnat_params *) {
    return vorel_enclosing_close<kCallDumpFrame>(ctxt);
}

int fwnat_sip_call_dump_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp, svc_set_info *ss,
                              fwnat_params *p) {
    return list_query(kCallListing, ctxt, c, asp, ss, p, [&] {
        // Each part is one call, the caller's until the next one comes.
        while (std::unique_ptr<services_ui_part> part =
                   services_ui_receive_large_obj(c, kCallPart, kVersion))
            print_call(*part, *asp, p->detail, ctxt->xml);
    });
}

// ---------------------------------------------------------------------------
// dump_sip_reg

int fwnat_sip_reg_dump_open(vorel_ctx *ctxt, fwnat_params *p) {
    fwnat_open_enclosing(ctxt, kRegDumpFrame);
    fwnat_note_xml_only(ctxt, p);
    return 0;
}

int fwnat_sip_reg_dump_close(vorel_ctx *ctxt, fwnat_params *) {
    return vorel_enclosing_close<kRegDumpFrame>(ctxt);
}

int fwnat_sip_reg_dump_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp, svc_set_info *ss,
                             fwnat_params *p) {
    return list_query(kRegListing, ctxt, c, asp, ss, p, [&] {
        vorel::ByteBlock<kRegSize> reg;
        while (vorel_receive_block(c, kRegReply, kVersion, asp->name, short_reply::skip, &reg)) {
            if (ctxt->xml)
                print_registration(reg, p->detail);
            else
                std::printf("%s", kXmlOnlyLine);
        }
    });
}

// ---------------------------------------------------------------------------
// Counts and drains

FWNAT_ENCLOSING_CALLBACKS(fwnat_sip_call_count, kCallCountFrame)
int fwnat_sip_call_count_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp,
                               svc_set_info *ss, fwnat_params *p) {
    return tally_query(kCallCount, ctxt, c, asp, ss, p);
}

FWNAT_ENCLOSING_CALLBACKS(fwnat_sip_call_drain, kCallDrainFrame)
int fwnat_sip_call_drain_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp,
                               svc_set_info *ss, fwnat_params *p) {
    return tally_query(kCallDrain, ctxt, c, asp, ss, p);
}

FWNAT_ENCLOSING_CALLBACKS(fwnat_sip_reg_count, kRegCountFrame)
int fwnat_sip_reg_count_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp, svc_set_info *ss,
                              fwnat_params *p) {
    return tally_query(kRegCount, ctxt, c, asp, ss, p);
}

FWNAT_ENCLOSING_CALLBACKS(fwnat_sip_reg_drain, kRegDrainFrame)
int fwnat_sip_reg_drain_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp, svc_set_info *ss,
                              fwnat_params *p) {
    return tally_query(kRegDrain, ctxt, c, asp, ss, p);
}
