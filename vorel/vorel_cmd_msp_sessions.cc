// Sessions of the session engine: the session list with each session's
// flows (and, in detail, its plug-ins' replies), the session count and the
// session drain; the session and softwire renderers the softwire commands
// share.
#include "platform/xml.h"
#include "vorel/vorel_ams_util.h"
#include "vorel/vorel_channel.h"
#include "vorel/vorel_cmd_msp.h"
#include "vorel/vorel_error.h"
#include "vorel/vorel_plugins.h"

#include <cstdio>

namespace {

constexpr uint16_t kSessDumpRequest = 134;
constexpr uint16_t kSessEntryReply = 135;
constexpr uint16_t kFlowEntryReply = 119;
constexpr uint16_t kSessCountRequest = 122;
constexpr uint16_t kSessCountReply = 123;
constexpr uint16_t kDrainReply = 115;
constexpr size_t kSessDumpSize = 112;
constexpr size_t kCountOffset = 16;
constexpr size_t kDrainStatusOffset = 20;

constexpr uint64_t kFlagOffloaded = 1u << 3;
constexpr uint64_t kFlagIpAction = 1u << 4;
constexpr uint8_t kAsymmetric = 2;

constexpr uint8_t kDrainOnBackup = 1;

constexpr size_t kAddrTextLen = 80;

const char *yes_no(bool b) {
    return b ? "yes" : "no";
}

vorel::ByteWriter sess_dump_request(const msp_svc_set_ref &set, const msp_action_params &p) {
    vorel::ByteWriter w = vorel_request(kSessDumpRequest, 1, kSessDumpSize, set.id);
    w.u8(8, set.style);
    w.be32(16, p.limit);
    msp_filter_write(w, 20, p);
    w.u8(108, p.extensive);
    return w;
}

void sess_table_heading(vorel_ctx *ctxt, const asp_info &asp, const char *svc_set_name) {
    if (!ctxt->xml) {
        std::printf("PIC: %s, Service set: %s \n", asp.name, svc_set_name);
        return;
    }
    char concat[AMS_CONCAT_NAME_LEN];
    xml_send_open("msp-per-service-set-sess-table");
    xml_send_all("interface-name", "%s", find_and_concat_pifd_name(asp.name, concat));
    xml_send_all("service-set-name", "%s", svc_set_name);
}

// Receives the flows a session announced.  False when one is missing (or
// short): the rest of the answer is not read.
bool print_session_flows(services_ui_conn *conn, unsigned count, int extensive, int xml) {
    for (unsigned i = 0; i < count; i++) {
        vorel::ByteReader r = vorel_receive(conn, kFlowEntryReply, 2);
        msp_flow flow;
        if (r.empty())
            return false;
        if (!msp_flow_read(r, MSP_RECORD_OFFSET, &flow)) {
            vorel_trace("vorel: flow entry is %zu bytes, too short; ignored\n", r.size());
            return false;
        }
        msp_flow_print(&flow, extensive, xml);
    }
    return true;
}

int msp_sess_dump_query(vorel_ctx *ctxt, services_ui_conn *conn, asp_info *asp, svc_set_info *ss,
                        msp_action_params *p) {
    vorel_trace("flow dump query \n");
    if (!conn) {
        vorel_trace("asp_conn is null\n");
        return -1;
    }
    msp_svc_set_ref set = msp_svc_set_of(ss);
    if (vorel_send(conn, sess_dump_request(set, *p)) < 0)
        return -1;
    bool table_open = false;
    for (;;) {
        vorel::ByteReader r = vorel_receive(conn, kSessEntryReply, 2);
        if (r.empty())
            break;
        msp_sess sess;
        if (!msp_sess_read(r, MSP_RECORD_OFFSET, &sess)) {
            vorel_trace("vorel: %s: session entry is %zu bytes, too short; ignored\n", asp->name,
                        r.size());
            break;
        }
        if (!table_open) {
            sess_table_heading(ctxt, *asp, set.name);
            table_open = true;
        }
        msp_sess_print(&sess, ctxt->xml, set.name);
        msp_session_sw_info_print(&sess.sw, ctxt->xml);
        if (p->extensive)
            vorel_dump_session_plugins(ctxt, conn, sess.plugin_data, MSP_PLUGIN_TYPES);
        if (!print_session_flows(conn, sess.flow_count, p->extensive, ctxt->xml))
            break;
    }
    if (table_open)
        xml_send_close("msp-per-service-set-sess-table");
    return 0;
}

int msp_sess_dump_open(vorel_ctx *ctxt) {
    vorel_open_enclosing(ctxt, "vorel: sess dump start \n", "service-msp-sess-table-information",
                         nullptr);
    return 0;
}

int msp_sess_dump_close(vorel_ctx *ctxt) {
    vorel_close_enclosing(ctxt, "vorel: sess dump done \n", nullptr);
    return 0;
}

// ---- Count ----

void render_sess_count(vorel_ctx *ctxt, const asp_info &asp, const char *svc_set_name,
                       const vorel::ByteReader &r) {
    msp_count_entry(ctxt, asp, svc_set_name, r.be32(kCountOffset), "service-msp-sess-count",
                    "sess-count");
}

int msp_sess_count_query(vorel_ctx *ctxt, services_ui_conn *conn, asp_info *asp, svc_set_info *ss,
                         msp_action_params *p) {
    msp_svc_set_ref set = msp_svc_set_of(ss);
    return msp_count_exchange(ctxt, conn, *asp, set.name,
                              msp_count_request(kSessCountRequest, set, *p), kSessCountReply, 2,
                              kCountOffset + 4, render_sess_count);
}

int msp_sess_count_open(vorel_ctx *ctxt) {
    vorel_open_enclosing(
        ctxt, "vorel: sess count open \n", "service-msp-sess-count-information",
        "PIC             Service set                                         Flow Count\n\n");
    return 0;
}

int msp_sess_count_close(vorel_ctx *ctxt) {
    vorel_close_enclosing(ctxt, "vorel: sess count done \n", nullptr);
    return 0;
}

// ---- Drain ----

void render_sess_drain(vorel_ctx *ctxt, const asp_info &asp, const char *svc_set_name,
                       const vorel::ByteReader &r) {
    uint32_t count = r.be32(kCountOffset);
    uint8_t status = r.u8(kDrainStatusOffset);
    if (status > kDrainOnBackup)
        return;
    if (!ctxt->xml) {
        if (status == kDrainOnBackup)
            std::printf("WARNING: This command was executed on backup KVT. Synced sessions will "
                        "not be cleared "
                        "from the PIC, please execute the command on active KVT to clear the "
                        "synced sessions\n");
        msp_count_row(asp, svc_set_name, count);
        return;
    }
    if (status == kDrainOnBackup) {
        xml_send_open("service-msp-sess-drain-status");
        xml_send_all(
            "service-msp-sess-drain-status-display", "%s",
            "WARNING: This command was executed on backup PIC. Synced sessions will not be cleared "
            "from "
            "the PIC, please execute the command on active PIC to clear the synced sessions\n");
        xml_send_close("service-msp-sess-drain-status");
    }
    msp_count_entry(ctxt, asp, svc_set_name, count, "service-msp-sess-drain",
                    "sess-marked-for-deletion");
}

int msp_sess_drain_query(vorel_ctx *ctxt, services_ui_conn *conn, asp_info *asp, svc_set_info *ss,
                         msp_action_params *p) {
    msp_svc_set_ref set = msp_svc_set_of(ss);
    return msp_count_exchange(ctxt, conn, *asp, set.name, msp_drain_request(set, *p, 1),
                              kDrainReply, 1, kDrainStatusOffset + 1, render_sess_drain);
}

int msp_sess_drain_open(vorel_ctx *ctxt) {
    vorel_open_enclosing(
        ctxt, "vorel: sess drain start \n", "service-msp-sess-drain-information",
        "PIC             Service set                                     Session Removed\n\n");
    return 0;
}

int msp_sess_drain_close(vorel_ctx *ctxt) {
    vorel_close_enclosing(ctxt, "vorel: sess drain done \n", nullptr);
    return 0;
}

} // namespace

const msp_cmd_handlers msp_sess_dump_handlers = {msp_sess_dump_open, msp_sess_dump_close,
                                                 msp_sess_dump_query};
const msp_cmd_handlers msp_sess_count_handlers = {msp_sess_count_open, msp_sess_count_close,
                                                  msp_sess_count_query};
const msp_cmd_handlers msp_sess_drain_handlers = {msp_sess_drain_open, msp_sess_drain_close,
                                                  msp_sess_drain_query};

// ---- Records and renderers ----

bool msp_sw_info_read(const vorel::ByteReader &r, size_t off, msp_sw_info *out) {
    *out = msp_sw_info{};
    if (!r.has(off, MSP_SW_INFO_LEN))
        return false;
    out->local = vorel_addr_read(r, off);
    out->remote = vorel_addr_read(r, off + 20);
    out->present = r.u8(off + 40);
    return true;
}

bool msp_sess_read(const vorel::ByteReader &r, size_t off, msp_sess *out) {
    *out = msp_sess{};
    if (!r.has(off, MSP_SESS_RECORD_LEN))
        return false;
    out->sess_id = r.be64(off);
    out->sess_flags = r.be64(off + 8);
    out->alg = r.be16(off + 16);
    out->flow_count = r.u8(off + 18);
    out->asymmetric = r.u8(off + 19);
    out->sess_timeout = r.be32(off + 20);
    msp_sw_info_read(r, off + 24, &out->sw);
    for (size_t i = 0; i < MSP_PLUGIN_TYPES; i++)
        out->plugin_data[i] = r.be16(off + 68 + 2 * i);
    return true;
}

void msp_sess_print(const msp_sess *sess, int xml, const char *svc_set_name) {
    if (!sess)
        return;
    bool ip_action = sess->sess_flags & kFlagIpAction;
    bool offload = sess->sess_flags & kFlagOffloaded;
    bool asymmetric = sess->asymmetric == kAsymmetric;
    auto id = static_cast<unsigned long long>(sess->sess_id);
    auto flags = static_cast<unsigned long long>(sess->sess_flags);
    if (!xml) {
        std::printf(
            "Service Set: %s, Session: %llu, ALG: %s, Flags: 0x%llX, IP Action: %s, Offload: %s\n"
            "Handled as asymmetric traffic: %s Session timeout = %u\n",
            svc_set_name, id, qrtalg2str(sess->alg), flags, yes_no(ip_action), yes_no(offload),
            yes_no(asymmetric), sess->sess_timeout);
        return;
    }
    xml_send_open("msp-sess-entry");
    xml_send_all("msp-serv-set-name", "%s", svc_set_name);
    xml_send_all("msp-sess-id", "%llu", id);
    xml_send_all("msp-sess-alg-id", "%s", qrtalg2str(sess->alg));
    xml_send_all("msp-sess-flags", "0x%llX", flags);
    xml_send_all("msp-sess-ip-action", "%s", yes_no(ip_action));
    xml_send_all("msp-sess-offload", "%s", yes_no(offload));
    xml_send_all("msp-sess-asymmetric", "%s", yes_no(asymmetric));
    if (sess->sess_timeout)
        xml_send_all("msp-sess-timeout", "%u", sess->sess_timeout);
    xml_send_close("msp-sess-entry");
}

void msp_session_sw_info_print(const msp_sw_info *sw, int xml) {
    if (!sw || !sw->present)
        return;
    char local[kAddrTextLen] = "", remote[kAddrTextLen] = "";
    prefix_value_to_string(VOREL_FAMILY_INET6, &sw->local, 128, local, sizeof local);
    prefix_value_to_string(VOREL_FAMILY_INET6, &sw->remote, 128, remote, sizeof remote);
    if (!xml) {
        std::printf("     Softwire %s -> %s\n", local, remote);
        return;
    }
    xml_send_open("sfw-flow-nat");
    xml_send_all("sfw-flow-nat-type", "%s", "Softwire");
    xml_send_all("sfw-flow-nat-ip", "%s", local);
    xml_send_all("sfw-flow-translated-ip", "%s", remote);
    xml_send_close("sfw-flow-nat");
}
