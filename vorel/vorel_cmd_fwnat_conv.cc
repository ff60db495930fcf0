// Conversations (dump_conv): the flows of one application session, its
// initiator flows and then its responder flows.  Each conversation arrives
// as one part of a large object, a complete message of its own.
#include "platform/format.h"
#include "platform/xml.h"
#include "vorel/vorel_cmd_fwnat.h"
#include "vorel/vorel_error.h"

#include <cstdio>

namespace {

constexpr uint16_t kConvRequest = 22, kConvReply = 23;
constexpr uint16_t kVersion = 2;
constexpr size_t kRequestSize = 108; // limit at 16, filter at 20
constexpr size_t kLimitOffset = 16;
constexpr size_t kFilterOffset = 20;

// The conversation's head; its flow records follow it.
constexpr size_t kAlgOffset = 16;
constexpr size_t kInitiatorsOffset = 20;
constexpr size_t kRespondersOffset = 24;
constexpr size_t kFlowsOffset = 32;
using head_block = vorel::ByteBlock<kFlowsOffset>;

struct conversation {
    vorel::ByteReader r;
    uint8_t alg = 0;
    uint32_t initiators = 0;
    uint32_t responders = 0;
};

// A conversation is shown only when every flow its counts announce is
// there: counts that do not fit the part are refused, never read past.
bool read_conversation(const services_ui_part &part, const asp_info &asp, conversation *out) {
    vorel::ByteReader r(part.data(), part.size());
    head_block head;
    if (!r.block(0, head)) {
        vorel_trace("vorel: %s: conversation of %zu bytes, shorter than %zu; ignored\n", asp.name,
                    r.size(), kFlowsOffset);
        return false;
    }
    out->r = r;
    out->alg = head.u8<kAlgOffset>();
    out->initiators = head.be32<kInitiatorsOffset>();
    out->responders = head.be32<kRespondersOffset>();
    uint64_t flows = uint64_t{out->initiators} + out->responders;
    if (r.clamp_count(flows, kFlowsOffset, FWNAT_FLOW_RECORD_SIZE, SIZE_MAX) != flows) {
        vorel_trace("vorel: %s: conversation of %zu bytes cannot hold %u initiators and %u "
                    "responders; ignored\n",
                    asp.name, r.size(), out->initiators, out->responders);
        return false;
    }
    return true;
}

// The conversation's elements, their tags made once (a PIC may hold
// millions of conversations).
struct conversation_tags {
    xml_tag conversation{"sfw-conversation"};
    xml_tag alg{"sfw-flow-table-conv-alg"};
    xml_tag initiators{"sfw-flow-table-conv-initiator"};
    xml_tag responders{"sfw-flow-table-conv-responder"};
};
const conversation_tags kConversationTags;

void xml_conversation_head(const conversation &conv) {
    const conversation_tags &t = kConversationTags;
    xml_open(t.conversation);
    xml_leaf(t.alg, alg2str(conv.alg));
    xml_leaf(t.initiators, conv.initiators);
    xml_leaf(t.responders, conv.responders);
}

// "Conversation:  ALG protocol: %s, Number of initiators: %u,\n"
// "               Number of responders: %u \n", built in one piece.
void text_conversation_head(const conversation &conv) {
    static vorel::TextBuffer *text = new vorel::TextBuffer;
    vorel::TextBuffer &out = *text;
    out.clear();
    out.append("Conversation:  ALG protocol: ");
    out.append(alg2str(conv.alg));
    out.append(", Number of initiators: ");
    vorel::format_unsigned(out, conv.initiators);
    out.append(",\n               Number of responders: ");
    vorel::format_unsigned(out, conv.responders);
    out.append(" \n");
    vorel::write_stdout(out);
}

// The conversation's flows in a table of their own.
void print_conversation_flows(const conversation &conv, bool detail, int xml) {
    fwnat_flow_table_open(xml);
    uint64_t flows = uint64_t{conv.initiators} + conv.responders;
    for (uint64_t i = 0; i < flows; i++)
        fwnat_flow_print(fwnat_flow_read(conv.r, kFlowsOffset + i * FWNAT_FLOW_RECORD_SIZE), detail,
                         xml);
    fwnat_flow_table_close(xml);
}

// One conversation: its counts, then its flows.  Written straight, without
// sections (nothing returns early here): a section's attributes and
// callbacks cost more than the conversation's head.
void print_conversation(const vorel_ctx *ctxt, const conversation &conv, bool detail) {
    if (ctxt->xml) {
        // The conversation's two dozen lines go out in one write.
        xml_batch batch;
        xml_conversation_head(conv);
        print_conversation_flows(conv, detail, 1);
        xml_close(kConversationTags.conversation);
        return;
    }
    text_conversation_head(conv);
    print_conversation_flows(conv, detail, 0);
    std::fputs("\n", stdout);
}

} // namespace

constexpr vorel_enclosing kConvDumpEnclosing{"vorel: conv dump start \n",
                                             "service-sfw-conversation-information", nullptr,
                                             "vorel: conv dump done \n"};
FWNAT_ENCLOSING_CALLBACKS(fwnat_conv_dump, kConvDumpEnclosing)

int fwnat_conv_dump_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp, svc_set_info *ss,
                          fwnat_params *p) {
    if (!fwnat_query_args_ok(ctxt, asp, ss, p, true))
        return -1;
    vorel::ByteWriter req = fwnat_request(kConvRequest, kVersion, kRequestSize, ss);
    req.be32(kLimitOffset, static_cast<uint32_t>(p->limit));
    fwnat_flow_filter_write(req, kFilterOffset, *p);
    if (vorel_send(c, req) < 0)
        return -1;

    vorel_trace("vorel: fwnat_dump start to receive reply \n");
    vorel_svc_set_section section(ctxt, "sfw-per-service-set-conversation", asp->name, ss->name,
                                  "\n");
    // Each part is the caller's and goes when the next one comes.
    while (std::unique_ptr<services_ui_part> part =
               services_ui_receive_large_obj(c, kConvReply, kVersion)) {
        conversation conv;
        if (!read_conversation(*part, *asp, &conv))
            continue;
        section.open();
        print_conversation(ctxt, conv, p->detail);
    }
    vorel_trace("vorel: fwnat_dump reply finished\n");
    return 0;
}
