// The multiservices session command ("msp"): its parameter record, the
// filter block its requests carry, the callback triples of its actions, the
// PIC walk, and the session and flow renderers that the softwire commands
// share.
//
// Each group of queries lives in a file of its own (vorel_cmd_msp_sessions,
// vorel_cmd_msp_flows, ...) and exports one msp_cmd_handlers triple per
// action; the action table in vorel_cmd_msp.cc names them.  A new group
// adds its file and fills its rows of the table; the walk stays as it is.
#pragma once

#include "platform/bytes.h"
#include "platform/services_ui.h"
#include "platform/xml.h"
#include "vorel/vorel_ctx.h"
#include "vorel/vorel_db.h"
#include "vorel/vorel_driver.h"
#include "vorel/vorel_flow_entry.h"
#include "vorel/vorel_section.h"
#include "vorel/vorel_string.h"
#include "vorel/vorel_util.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// An address or a mask as the session engine carries it: four 32-bit words
// (IPv4 in word 0, the rest zero), the IPv6 flag, 3 bytes of padding.  In
// the parameter record the words are in host order; on the wire each word
// is big-endian.
using msp_addr = vorel_addr;

struct msp_action_params {
    uint32_t limit = 100; // 0: no limit
    uint8_t extensive = 0;
    uint8_t countonly = 0;
    uint8_t clear_stats = 0;
    msp_addr sprefix, smask, dprefix, dmask;
    uint16_t sport = 0; // 0: any
    uint16_t dport = 0;
    uint16_t proto = 65535; // any
    uint8_t alg = 0;        // any
    uint16_t drain_type = 1;
    uint8_t first_svc_set_only = 0;
    uint8_t pic_based = 0;
    std::optional<std::string> srv_set_name;
    std::optional<std::string> interface_name;
    std::optional<std::string> command;
    std::optional<std::string> action;
    std::optional<std::string> id_keyword;
    int32_t id_value = 0;
};

// The family's older name of vorel_text (vorel_string.h), kept for code
// written against it; new code calls vorel_text.
inline const char *msp_text(const std::optional<std::string> &s) {
    return vorel_text(s);
}

// One action's callbacks.  open and close run once around the walk; query
// runs per visited PIC (svc_set null) or per service set, 0 on success and
// negative on failure.
struct msp_cmd_handlers {
    int (*open)(vorel_ctx *ctxt);
    int (*close)(vorel_ctx *ctxt);
    int (*query)(vorel_ctx *ctxt, services_ui_conn *asp_conn, asp_info *asp, svc_set_info *svc_set,
                 msp_action_params *params);
};

// A callback triple whose open and close are those of an enclosing
// section (vorel_section.h).
template <const vorel_enclosing &E>
constexpr msp_cmd_handlers msp_handlers(int (*query)(vorel_ctx *, services_ui_conn *, asp_info *,
                                                     svc_set_info *, msp_action_params *)) {
    return {vorel_enclosing_open<E>, vorel_enclosing_close<E>, query};
}

// An action row of the shared runner made of a callback triple.
template <const msp_cmd_handlers &H> int msp_action_open(vorel_ctx *ctxt, msp_action_params *) {
    return H.open ? H.open(ctxt) : 0;
}
template <const msp_cmd_handlers &H> int msp_action_close(vorel_ctx *ctxt, msp_action_params *) {
    return H.close ? H.close(ctxt) : 0;
}
template <const msp_cmd_handlers &H>
constexpr vorel_action<msp_action_params> msp_action(const char *name) {
    return {name, msp_action_open<H>, msp_action_close<H>, H.query};
}

// Every action of the command by its name, ended by an all-null row; the
// selection rows in vorel_cmd_msp.cc name them.
extern const vorel_action<msp_action_params> msp_cmd_handlers_table[];

// Runs the action of msp_cmd_handlers_table named `action` (vorel_run_action)
// over the multiservices PICs (and the members of a bundle named with -i):
// open, query per PIC or service set, close.  0, or -1 when a PIC-based
// query failed (close is then not called); *ran false when no row ran.
int msp_run_action(vorel_ctx *ctxt, const char *action, msp_action_params *params, bool *ran);

// ---- Requests ----

// The filter block: prefixes and masks, ports, protocol, application.
constexpr size_t MSP_FILTER_LEN = 88;
// Writes the filter block of the parameters at off, every number big-endian.
void msp_filter_write(vorel::ByteWriter &w, size_t off, const msp_action_params &p);

// The service set a query stands for: a record's id, style and name, or
// for PIC-based session queries the system's own (id 12002, style 2,
// "System").
struct msp_svc_set_ref {
    uint16_t id;
    uint8_t style;
    const char *name;
};
msp_svc_set_ref msp_svc_set_of(const svc_set_info *ss);

// The count requests (flow count 116, session count 122): style at 8, the
// filter block at 20.  The drain request (114): style at 8, the filter
// block at 16, the drain type at 104, at 107 1 for sessions, 0 for flows.
vorel::ByteWriter msp_count_request(uint16_t type, const msp_svc_set_ref &set,
                                    const msp_action_params &p);
vorel::ByteWriter msp_drain_request(const msp_svc_set_ref &set, const msp_action_params &p,
                                    uint8_t sessions);

// The session engine's names for the shared count exchange and row
// (vorel_tally.h); the family's own queries read their replies as fixed
// records through vorel_tally_exchange<N>.
// Sends a count or drain request and reads its one reply (reply_type,
// version, at least min_len bytes).  0 with *rendered false when there was
// no reply; render is called with the reply; -1 when a second reply came
// or the send failed.
using msp_count_render_fn = void (*)(vorel_ctx *ctxt, const asp_info &asp, const char *svc_set_name,
                                     const vorel::ByteReader &reply);
int msp_count_exchange(vorel_ctx *ctxt, services_ui_conn *asp_conn, const asp_info &asp,
                       const char *svc_set_name, const vorel::ByteWriter &req, uint16_t reply_type,
                       uint16_t reply_version, size_t min_len, msp_count_render_fn render);
// The row every count and drain prints in text mode.
void msp_count_row(const asp_info &asp, const char *svc_set_name, uint32_t count);
// A count of one service set: the text row, or in XML the element holding
// the PIC, the service set and the count under count_leaf.
void msp_count_entry(vorel_ctx *ctxt, const asp_info &asp, const char *svc_set_name, uint32_t count,
                     const char *element, const char *count_leaf);

// ---- Session and flow records, and their renderers ----

// A softwire pair: two IPv6 endpoints (four big-endian words each, then 4
// bytes), and the presence byte after them.
struct msp_sw_info {
    vorel_addr local{};
    vorel_addr remote{};
    uint8_t present = 0;
};
constexpr size_t MSP_SW_INFO_LEN = 41;

constexpr size_t MSP_PLUGIN_TYPES = 21;

// The session record of a session entry (it begins at offset 24 of the reply).
struct msp_sess {
    uint64_t sess_id = 0;
    uint64_t sess_flags = 0; // bit 3 offloaded, bit 4 IP action applied
    uint16_t alg = 0;
    uint8_t flow_count = 0;
    uint8_t asymmetric = 0; // 2: handled as asymmetric traffic
    uint32_t sess_timeout = 0;
    msp_sw_info sw;
    uint16_t plugin_data[MSP_PLUGIN_TYPES] = {};
};
constexpr size_t MSP_SESS_RECORD_LEN = 110;

// The flow record of a flow entry (it begins at offset 24 of the reply).
struct msp_flow : vorel_flow_common {
    uint8_t tcp_tickle_value = 0;
    uint16_t flow_flags = 0; // bit 1: a zero port is a wildcard
    msp_sw_info sw;
    uint8_t ds_lite = 0;
};
constexpr size_t MSP_FLOW_RECORD_LEN = 114;

// Where the records begin in their replies.
constexpr size_t MSP_RECORD_OFFSET = 24;

// Decoders of the fixed records.
msp_sw_info msp_sw_info_decode(const vorel::ByteBlock<MSP_SW_INFO_LEN> &b);
msp_sess msp_sess_decode(const vorel::ByteBlock<MSP_SESS_RECORD_LEN> &b);
msp_flow msp_flow_decode(const vorel::ByteBlock<MSP_FLOW_RECORD_LEN> &b);
// The same at off of a reply: false (and the record left zero) when the
// reply is too short.
bool msp_sw_info_read(const vorel::ByteReader &r, size_t off, msp_sw_info *out);
bool msp_sess_read(const vorel::ByteReader &r, size_t off, msp_sess *out);
bool msp_flow_read(const vorel::ByteReader &r, size_t off, msp_flow *out);
// The next flow entry (reply 119) of the answer; false at its end or when
// the entry is short (which ends the answer, with a debug line).
bool msp_flow_receive(services_ui_conn *conn, const asp_info &asp, msp_flow *out);

// Renderers (XML when xml is nonzero, else text); nothing for a null record.
void msp_sess_print(const msp_sess *sess, int xml, const char *svc_set_name);
void msp_session_sw_info_print(const msp_sw_info *sw, int xml);
// The softwire's two ends as IPv6 texts.
// The softwire's two IPv6 addresses as texts in local and remote.
struct msp_sw_texts {
    char local[VOREL_ADDR_TEXT], remote[VOREL_ADDR_TEXT];
    std::string_view local_text, remote_text;
    explicit msp_sw_texts(const msp_sw_info &sw);
    msp_sw_texts(const msp_sw_texts &) = delete; // the texts point into the arrays
};
void msp_flow_print(const msp_flow *flow, int extensive, int xml);

// ---- The actions' callbacks (one triple per group of queries) ----

extern const msp_cmd_handlers msp_sess_dump_handlers;
extern const msp_cmd_handlers msp_sess_count_handlers;
extern const msp_cmd_handlers msp_sess_drain_handlers;
extern const msp_cmd_handlers msp_flow_dump_handlers;
extern const msp_cmd_handlers msp_flow_count_handlers;
extern const msp_cmd_handlers msp_flow_drain_handlers;
// Per-service-set statistics (vorel_cmd_msp_stats.cc): each page has a
// show and a clear triple.
extern const msp_cmd_handlers msp_tcp_stats_handlers;
extern const msp_cmd_handlers msp_tcp_stats_clear_handlers;
extern const msp_cmd_handlers msp_ids_drops_stats_handlers;
extern const msp_cmd_handlers msp_ids_drops_stats_clear_handlers;
extern const msp_cmd_handlers msp_ids_sess_limits_stats_handlers;
extern const msp_cmd_handlers msp_ids_sess_limits_stats_clear_handlers;
// Utilization and analyses (vorel_cmd_msp_utilization.cc).
extern const msp_cmd_handlers msp_sess_util_handlers;
extern const msp_cmd_handlers msp_sess_analysis_handlers;
extern const msp_cmd_handlers msp_subs_analysis_handlers;
extern const msp_cmd_handlers msp_subs_analysis_clear_handlers;
// Application-level gateways (vorel_cmd_msp_alg.cc).
extern const msp_cmd_handlers msp_alg_conv_handlers;
extern const msp_cmd_handlers msp_alg_stats_handlers;
extern const msp_cmd_handlers msp_alg_sip_globals_handlers;
extern const msp_cmd_handlers msp_alg_clear_stats_handlers;

// ---- Command line (exposed for tests) ----

// Parses the argument vector into params (from its first word, with the
// context's option string).  0, or -1 after printing why a filter was
// refused.
int msp_parse_options(int argc, char **argv, const vorel_ctx *ctxt, msp_action_params *params);
