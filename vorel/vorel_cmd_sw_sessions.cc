// Sessions of the softwire plug-in per service set: each session with its
// softwire and its flows, rendered by the session engine's renderers.
#include "platform/xml.h"
#include "vorel/vorel_ams_util.h"
#include "vorel/vorel_channel.h"
#include "vorel/vorel_cmd_msp.h"
#include "vorel/vorel_cmd_sw.h"
#include "vorel/vorel_error.h"
#include "vorel/vorel_section.h"

#include <cstdio>

namespace {

constexpr uint16_t kSessDumpRequest = 50;
constexpr uint16_t kSessEntryReply = 51;
constexpr uint16_t kFlowEntryReply = 119;
constexpr uint16_t kFlowEntryVersion = 2;
constexpr size_t kSessDumpSize = 148; // 37 words
constexpr size_t kSessEntryMin = MSP_RECORD_OFFSET + MSP_SESS_RECORD_LEN;
constexpr size_t kFlowEntryMin = MSP_RECORD_OFFSET + MSP_FLOW_RECORD_LEN;

vorel::ByteWriter sess_dump_request(const svc_set_info &ss, const softwire_params &p) {
    vorel::ByteWriter w = sw_request(kSessDumpRequest, 1, kSessDumpSize, &ss);
    // 16-55 stay zero.
    sw_addr_write(w, 56, p.b_addr);
    sw_addr_write(w, 76, p.smask);
    sw_addr_write(w, 96, p.g_addr);
    sw_addr_write(w, 116, p.dmask);
    w.be32(136, p.limit);
    w.be32(140, static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(p.addr_flags))));
    return w;
}

// The flows a session announced; false when one is missing (or short).
bool print_flows(const vorel_ctx *ctxt, services_ui_conn *c, const asp_info &asp, unsigned count) {
    for (unsigned i = 0; i < count; i++) {
        vorel::ByteReader r =
            vorel_receive_at_least(c, kFlowEntryReply, kFlowEntryVersion, kFlowEntryMin, asp.name,
                                   short_reply::end_answer);
        msp_flow flow;
        if (r.empty() || !msp_flow_read(r, MSP_RECORD_OFFSET, &flow))
            return false;
        msp_flow_print(&flow, 0, ctxt->xml);
    }
    return true;
}

} // namespace

int softwire_session_dump_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp,
                                svc_set_info *ss, softwire_params *p) {
    if (!sw_query_args_ok(ctxt, asp, ss, p))
        return -1;
    vorel_trace("%s:%d session dump query \n", "softwire_session_dump_query", 1);
    if (!c) {
        vorel_trace("asp_conn is null\n");
        return -1;
    }
    if (vorel_send(c, sess_dump_request(*ss, *p)) < 0)
        return -1;
    vorel_section table(ctxt, "msp-per-service-set-sess-table");
    table.on_text_open([&] { std::printf("PIC: %s, Service set: %s \n", asp->name, ss->name); });
    for (;;) {
        vorel::ByteReader r = vorel_receive_at_least(c, kSessEntryReply, 1, kSessEntryMin,
                                                     asp->name, short_reply::end_answer);
        msp_sess sess;
        if (r.empty() || !msp_sess_read(r, MSP_RECORD_OFFSET, &sess))
            break;
        if (table.open() && ctxt->xml) {
            char concat[AMS_CONCAT_NAME_LEN];
            xml_send_all("interface-name", "%s", find_and_concat_pifd_name(asp->name, concat));
            xml_send_all("service-set-name", "%s", ss->name);
        }
        msp_sess_print(&sess, ctxt->xml, ss->name);
        msp_session_sw_info_print(&sess.sw, ctxt->xml);
        // A missing flow ends this service set's sessions.
        if (!print_flows(ctxt, c, *asp, sess.flow_count))
            break;
    }
    return 0;
}

int softwire_session_dump_open(vorel_ctx *ctxt, softwire_params *) {
    vorel_open_enclosing(ctxt, "vorel: sess dump start \n", "service-msp-sess-table-information",
                         nullptr);
    return 0;
}

int softwire_session_dump_close(vorel_ctx *ctxt, softwire_params *) {
    vorel_close_enclosing(ctxt, "vorel: sess dump done \n", nullptr);
    return 0;
}
