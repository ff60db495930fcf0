// Sessions of the session engine: the session list with each session's
// flows (and, in detail, its plug-ins' replies), the session count and the
// session drain; the session and softwire renderers the softwire commands
// share.
#include "platform/format.h"
#include "platform/xml.h"
#include "vorel/vorel_ams_util.h"
#include "vorel/vorel_channel.h"
#include "vorel/vorel_cmd_msp.h"
#include "vorel/vorel_error.h"
#include "vorel/vorel_flow_entry.h"
#include "vorel/vorel_plugins.h"
#include "vorel/vorel_tally.h"

#include <charconv>
#include <cstdio>
#include <string_view>

namespace {

constexpr uint16_t kSessDumpRequest = 134;
constexpr uint16_t kSessEntryReply = 135;
constexpr uint16_t kSessCountRequest = 122;
constexpr uint16_t kSessCountReply = 123;
constexpr uint16_t kDrainReply = 115;
constexpr size_t kSessDumpSize = 112;
constexpr size_t kCountOffset = 16;
constexpr size_t kCountReplySize = kCountOffset + 4;
constexpr size_t kDrainStatusOffset = 20;
constexpr size_t kDrainReplySize = kDrainStatusOffset + 1;

constexpr uint64_t kFlagOffloaded = 1u << 3;
constexpr uint64_t kFlagIpAction = 1u << 4;
constexpr uint8_t kAsymmetric = 2;

constexpr uint8_t kDrainOnBackup = 1;

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

// An entry of the list: the reply's head, then the session record.
constexpr size_t kSessEntrySize = MSP_RECORD_OFFSET + MSP_SESS_RECORD_LEN;

// Receives the flows a session announced.  False when one is missing (or
// short): the rest of the answer is not read.
bool print_session_flows(services_ui_conn *conn, const asp_info &asp, unsigned count, int extensive,
                         int xml) {
    for (unsigned i = 0; i < count; i++) {
        msp_flow flow;
        if (!msp_flow_receive(conn, asp, &flow))
            return false;
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
    char shown[AMS_CONCAT_NAME_LEN];
    vorel_svc_set_section section(
        ctxt, "msp-per-service-set-sess-table",
        ctxt->xml ? find_and_concat_pifd_name(asp->name, shown) : asp->name, set.name);
    vorel::ByteBlock<kSessEntrySize> entry;
    while (
        vorel_receive_block(conn, kSessEntryReply, 2, asp->name, short_reply::end_answer, &entry)) {
        msp_sess sess = msp_sess_decode(entry.block<MSP_RECORD_OFFSET, MSP_SESS_RECORD_LEN>());
        section.open();
        msp_sess_print(&sess, ctxt->xml, set.name);
        msp_session_sw_info_print(&sess.sw, ctxt->xml);
        if (p->extensive)
            vorel_dump_session_plugins(ctxt, conn, sess.plugin_data, MSP_PLUGIN_TYPES);
        if (!print_session_flows(conn, *asp, sess.flow_count, p->extensive, ctxt->xml))
            break;
    }
    return 0;
}

constexpr vorel_enclosing kSessDumpEnclosing{"vorel: sess dump start \n",
                                             "service-msp-sess-table-information", nullptr,
                                             "vorel: sess dump done \n"};

// ---- Count ----

int msp_sess_count_query(vorel_ctx *ctxt, services_ui_conn *conn, asp_info *asp, svc_set_info *ss,
                         msp_action_params *p) {
    if (!conn)
        return -1;
    msp_svc_set_ref set = msp_svc_set_of(ss);
    return vorel_tally_exchange<kCountReplySize>(
        conn, msp_count_request(kSessCountRequest, set, *p), kSessCountReply, 2, asp->name,
        short_reply::end_answer, [&](const vorel::ByteBlock<kCountReplySize> &b) {
            vorel_tally_entry(ctxt, asp->name, set.name, b.be32<kCountOffset>(),
                              "service-msp-sess-count", "sess-count");
        });
}

constexpr vorel_enclosing kSessCountEnclosing{
    "vorel: sess count open \n", "service-msp-sess-count-information",
    "PIC             Service set                                         Flow Count\n\n",
    "vorel: sess count done \n"};

// ---- Drain ----

void render_sess_drain(vorel_ctx *ctxt, const asp_info &asp, const char *svc_set_name,
                       const vorel::ByteBlock<kDrainReplySize> &r) {
    uint32_t count = r.be32<kCountOffset>();
    uint8_t status = r.u8<kDrainStatusOffset>();
    if (status > kDrainOnBackup)
        return;
    if (!ctxt->xml) {
        if (status == kDrainOnBackup)
            std::printf("WARNING: This command was executed on backup KVT. Synced sessions will "
                        "not be cleared "
                        "from the PIC, please execute the command on active KVT to clear the "
                        "synced sessions\n");
        vorel_tally_row(asp.name, svc_set_name, count);
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
    vorel_tally_entry(ctxt, asp.name, svc_set_name, count, "service-msp-sess-drain",
                      "sess-marked-for-deletion");
}

int msp_sess_drain_query(vorel_ctx *ctxt, services_ui_conn *conn, asp_info *asp, svc_set_info *ss,
                         msp_action_params *p) {
    if (!conn)
        return -1;
    msp_svc_set_ref set = msp_svc_set_of(ss);
    return vorel_tally_exchange<kDrainReplySize>(conn, msp_drain_request(set, *p, 1), kDrainReply,
                                                 1, asp->name, short_reply::end_answer,
                                                 [&](const vorel::ByteBlock<kDrainReplySize> &b) {
                                                     render_sess_drain(ctxt, *asp, set.name, b);
                                                 });
}

constexpr vorel_enclosing kSessDrainEnclosing{
    "vorel: sess drain start \n", "service-msp-sess-drain-information",
    "PIC             Service set                                     Session Removed\n\n",
    "vorel: sess drain done \n"};

} // namespace

const msp_cmd_handlers msp_sess_dump_handlers =
    msp_handlers<kSessDumpEnclosing>(msp_sess_dump_query);
const msp_cmd_handlers msp_sess_count_handlers =
    msp_handlers<kSessCountEnclosing>(msp_sess_count_query);
const msp_cmd_handlers msp_sess_drain_handlers =
    msp_handlers<kSessDrainEnclosing>(msp_sess_drain_query);

// ---- Records and renderers ----

bool msp_sw_info_read(const vorel::ByteReader &r, size_t off, msp_sw_info *out) {
    return vorel_record_read(r, off, out, msp_sw_info_decode);
}

msp_sw_info msp_sw_info_decode(const vorel::ByteBlock<MSP_SW_INFO_LEN> &b) {
    msp_sw_info sw;
    sw.local = vorel_addr_decode<0>(b);
    sw.remote = vorel_addr_decode<20>(b);
    sw.present = b.u8<40>();
    return sw;
}

bool msp_sess_read(const vorel::ByteReader &r, size_t off, msp_sess *out) {
    return vorel_record_read(r, off, out, msp_sess_decode);
}

msp_sess msp_sess_decode(const vorel::ByteBlock<MSP_SESS_RECORD_LEN> &b) {
    msp_sess s;
    s.sess_id = b.be64<0>();
    s.sess_flags = b.be64<8>();
    s.alg = b.be16<16>();
    s.flow_count = b.u8<18>();
    s.asymmetric = b.u8<19>();
    s.sess_timeout = b.be32<20>();
    s.sw = msp_sw_info_decode(b.block<24, MSP_SW_INFO_LEN>());
    // The plug-in words: a table of fixed size, read as one block.
    vorel::ByteReader plugins = b.block<68, 2 * MSP_PLUGIN_TYPES>().reader();
    for (size_t i = 0; i < MSP_PLUGIN_TYPES; i++)
        s.plugin_data[i] = plugins.be16(2 * i);
    return s;
}

namespace {

// The elements of a session entry, their tags made once (a PIC may hold
// millions of sessions).
struct msp_sess_tags {
    xml_tag entry{"msp-sess-entry"};
    xml_tag svc_set{"msp-serv-set-name"};
    xml_tag id{"msp-sess-id"};
    xml_tag alg{"msp-sess-alg-id"};
    xml_tag flags{"msp-sess-flags"};
    xml_tag ip_action{"msp-sess-ip-action"};
    xml_tag offload{"msp-sess-offload"};
    xml_tag asymmetric{"msp-sess-asymmetric"};
    xml_tag timeout{"msp-sess-timeout"};
};
const msp_sess_tags kSessTags;

// What a session shows, in both outputs: its numbers as "%llu" and
// "0x%llX" print them (by std::to_chars, without the formatter).
struct sess_texts {
    char id_buf[24], flags_buf[24];
    std::string_view id, flags;
    const char *alg, *ip_action, *offload, *asymmetric;

    explicit sess_texts(const msp_sess &s) {
        id = {id_buf, static_cast<size_t>(
                          std::to_chars(id_buf, id_buf + sizeof id_buf, s.sess_id).ptr - id_buf)};
        flags_buf[0] = '0';
        flags_buf[1] = 'x';
        char *end =
            std::to_chars(flags_buf + 2, flags_buf + sizeof flags_buf, s.sess_flags, 16).ptr;
        for (char *c = flags_buf + 2; c < end; c++)
            if (*c >= 'a')
                *c = static_cast<char>(*c - 'a' + 'A');
        flags = {flags_buf, static_cast<size_t>(end - flags_buf)};
        alg = qrtalg2str(s.alg);
        ip_action = yes_no(s.sess_flags & kFlagIpAction);
        offload = yes_no(s.sess_flags & kFlagOffloaded);
        asymmetric = yes_no(s.asymmetric == kAsymmetric);
    }
};

// The session's two lines, written in one piece.
void text_session(const msp_sess &s, const sess_texts &t, const char *svc_set_name) {
    static vorel::TextBuffer *text = new vorel::TextBuffer;
    vorel::TextBuffer &out = *text;
    out.clear();
    out.append("Service Set: ");
    out.append(svc_set_name);
    out.append(", Session: ");
    out.append(t.id.data(), t.id.size());
    out.append(", ALG: ");
    out.append(t.alg);
    out.append(", Flags: ");
    out.append(t.flags.data(), t.flags.size());
    out.append(", IP Action: ");
    out.append(t.ip_action);
    out.append(", Offload: ");
    out.append(t.offload);
    out.append("\nHandled as asymmetric traffic: ");
    out.append(t.asymmetric);
    out.append(" Session timeout = ");
    vorel::format_unsigned(out, s.sess_timeout);
    out.append('\n');
    vorel::write_stdout(out);
}

void xml_session(const msp_sess &s, const sess_texts &t, const char *svc_set_name) {
    const msp_sess_tags &tag = kSessTags;
    // The entry's ten lines go out in one write.
    xml_batch batch;
    xml_open(tag.entry);
    xml_leaf(tag.svc_set, svc_set_name);
    xml_leaf(tag.id, t.id);
    xml_leaf(tag.alg, t.alg);
    xml_leaf(tag.flags, t.flags);
    xml_leaf(tag.ip_action, t.ip_action);
    xml_leaf(tag.offload, t.offload);
    xml_leaf(tag.asymmetric, t.asymmetric);
    if (s.sess_timeout)
        xml_leaf(tag.timeout, unsigned{s.sess_timeout});
    xml_close(tag.entry);
}

} // namespace

void msp_sess_print(const msp_sess *sess, int xml, const char *svc_set_name) {
    if (!sess)
        return;
    sess_texts texts(*sess);
    if (xml)
        xml_session(*sess, texts, svc_set_name);
    else
        text_session(*sess, texts, svc_set_name);
}

msp_sw_texts::msp_sw_texts(const msp_sw_info &sw)
    : local_text(vorel_addr_text(sw.local, true, local)),
      remote_text(vorel_addr_text(sw.remote, true, remote)) {}

void msp_session_sw_info_print(const msp_sw_info *sw, int xml) {
    if (!sw || !sw->present)
        return;
    msp_sw_texts texts(*sw);
    vorel_flow_softwire_print(texts.local_text, texts.remote_text, xml != 0);
}
