// The softwire commands: "softwire" (DS-Lite and 6rd softwires of the
// service PICs and the softwire plug-in of the multiservices PICs: counts,
// softwire and flow tables, sessions, statistics) and "inline-softwire"
// (the statistics of the line cards' inline 6rd and MAP-E engines).
//
// vorel_cmd_sw.cc holds the command lines and the action tables,
// vorel_cmd_sw_walk.cc the two drivers; each group of queries lives in a
// file of its own with its renderers (counts, tables, sessions, statistics).
#pragma once

#include "platform/bytes.h"
#include "platform/services_ui.h"
#include "vorel/vorel_ctx.h"
#include "vorel/vorel_db.h"
#include "vorel/vorel_driver.h"
#include "vorel/vorel_util.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// A softwire address: four 32-bit words (IPv4 in word 0) and a 32-bit IPv6
// flag (1 IPv6, 0 IPv4).  On the wire the words are big-endian and the flag
// word goes out little-endian, as the agent stores it.
using softwire_addr = vorel_addr;
constexpr size_t SOFTWIRE_ADDR_LEN = 20;

// addr_flags bits.
constexpr uint8_t SW_ADDR_B = 1u << 0;
constexpr uint8_t SW_ADDR_G = 1u << 1;
constexpr uint8_t SW_ADDR_FLOWS = 4; // the plain flow listing

// stats_subcmd values the queries test.
constexpr uint32_t SW_STATS_PIC = 3;      // softwire: per-PIC statistics
constexpr uint32_t SW_STATS_CLEAR = 4;    // softwire: clear
constexpr uint32_t SI_SW_STATS_CLEAR = 1; // inline-softwire: clear

// sw_type values.
constexpr uint32_t SW_TYPE_DSLITE = 1;
constexpr uint32_t SW_TYPE_6RD = 2;
constexpr uint32_t SW_TYPE_MAPE = 3;

struct softwire_params {
    std::optional<std::string> action;
    uint32_t limit = 0;
    uint8_t detail = 0;
    uint8_t count_only = 0;
    // Prefix filters; the words in host order.
    softwire_addr sprefix, smask, dprefix, dmask;
    std::optional<std::string> svc_set_name;
    std::optional<std::string> if_name;
    std::optional<std::string> command;
    std::optional<std::string> subcommand;
    uint32_t stats_subcmd = 0;
    uint8_t pic_based = 0;
    uint8_t entries = 0; // 1: softwire entries; 0: flows
    uint32_t sw_type = 0;
    uint8_t addr_flags = 0;
    softwire_addr g_addr, b_addr;
};

inline const char *sw_text(const std::optional<std::string> &s) {
    return s ? s->c_str() : nullptr;
}

using softwire_action = vorel_action<softwire_params>;
extern const softwire_action softwire_cmd_handlers_table[];
extern const softwire_action si_sw_cmd_handlers_table[];

// ---- Command lines (exposed for tests) ----

// Parse the options of "softwire" and of "inline-softwire" into p and
// settle the action (named with -A or -N, or selected by the words).  0,
// or -1 after saying why a value was refused (nothing is sent then).
int softwire_parse_options(int argc, char **argv, const vorel_ctx *ctxt, softwire_params *p);
int si_sw_parse_options(int argc, char **argv, const vorel_ctx *ctxt, softwire_params *p);

// ---- Drivers ----

// The walk over the service PICs (the one named with -i; without -i the
// statistics pass over bundle members' "mams" records), per service set or
// per PIC.  The driver's result (0, or -1 when it stopped); *ran false
// when the table has no runnable row for the action.
int softwire_run_action(vorel_ctx *ctxt, softwire_params *p, bool *ran);
// The walk over the line cards behind the "si" service interfaces.
int si_sw_run_action(vorel_ctx *ctxt, softwire_params *p, bool *ran);

// ---- Requests ----

// A request of the family: header, the service set's id and style at 8 (0
// and 'B' without one).
vorel::ByteWriter sw_request(uint16_t type, uint16_t version, size_t size, const svc_set_info *ss);
void sw_addr_write(vorel::ByteWriter &w, size_t off, const softwire_addr &a);
// The prefix block: sprefix, smask, dprefix, dmask.
constexpr size_t SW_PREFIX_BLOCK_LEN = 4 * SOFTWIRE_ADDR_LEN;
void sw_prefix_block_write(vorel::ByteWriter &w, size_t off, const softwire_params &p);

// True when the PIC's name begins with prefix.
bool sw_name_begins(const char *name, const char *prefix);

// The prelude of the per-service-set queries.  A per-PIC call (-V s with
// a per-service-set action) says once that the view does not apply: false.
bool sw_query_args_ok(const vorel_ctx *ctxt, const asp_info *asp, const svc_set_info *ss,
                      const softwire_params *p);

// The refusal of a per-service-set query on a PIC kind that cannot answer
// it: the element holding only the PIC's name, and the message inside it.
void sw_refuse_pic(const vorel_ctx *ctxt, const char *element, const asp_info &asp);

// ---- Actions' callbacks ----

int softwire_count_open(vorel_ctx *ctxt, softwire_params *p);
int softwire_count_close(vorel_ctx *ctxt, softwire_params *p);
int softwire_count_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp, svc_set_info *ss,
                         softwire_params *p);
int softwire_tunnel_count_open(vorel_ctx *ctxt, softwire_params *p);
int softwire_tunnel_count_close(vorel_ctx *ctxt, softwire_params *p);
int softwire_tunnel_count_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp,
                                svc_set_info *ss, softwire_params *p);
int softwire_sessions_count_open(vorel_ctx *ctxt, softwire_params *p);
int softwire_sessions_count_close(vorel_ctx *ctxt, softwire_params *p);
int softwire_sessions_count_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp,
                                  svc_set_info *ss, softwire_params *p);

int softwire_dump_open(vorel_ctx *ctxt, softwire_params *p);
int softwire_dump_close(vorel_ctx *ctxt, softwire_params *p);
int softwire_dump_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp, svc_set_info *ss,
                        softwire_params *p);

int softwire_session_dump_open(vorel_ctx *ctxt, softwire_params *p);
int softwire_session_dump_close(vorel_ctx *ctxt, softwire_params *p);
int softwire_session_dump_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp,
                                svc_set_info *ss, softwire_params *p);

int softwire_stats_dump_open(vorel_ctx *ctxt, softwire_params *p);
int softwire_stats_dump_close(vorel_ctx *ctxt, softwire_params *p);
int softwire_stats_dump_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp, svc_set_info *ss,
                              softwire_params *p);
int si_sw_stats_dump_open(vorel_ctx *ctxt, softwire_params *p);
int si_sw_stats_dump_close(vorel_ctx *ctxt, softwire_params *p);
int si_sw_stats_dump_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp, svc_set_info *ss,
                           softwire_params *p);

// ---- Records (exposed for tests and the fuzz target) ----

// One record of a flow-table reply (from offset 24).
struct sw_flow_record {
    softwire_addr a, b;                // flow or softwire source and destination
    softwire_addr xlat_src, xlat_dst;  // translated addresses
    softwire_addr ep1, ep2;            // softwire endpoints
    uint32_t src_nat = 0, dst_nat = 0; // 2: translated
    uint32_t timeout = 0;
    uint32_t count = 0;      // frames (flows), flows (softwire text)
    uint32_t flow_count = 0; // softwire entries in XML
    uint16_t sport = 0, dport = 0, xlat_sport = 0, xlat_dport = 0;
    uint8_t direction = 0, state = 0, proto = 0, sw_type = 0;
};
constexpr size_t SW_FLOW_RECORD_OFFSET = 24;
constexpr size_t SW_FLOW_RECORD_LEN = 157;

// Decodes a record; false when the reply is too short for it.
bool sw_flow_record_read(const vorel::ByteReader &r, size_t off, sw_flow_record *out);
// Renders a softwire entry or a flow, as the context's mode says.
void sw_entry_print(const vorel_ctx *ctxt, const sw_flow_record &rec, bool detail);
void sw_flow_print(const vorel_ctx *ctxt, const sw_flow_record &rec);
