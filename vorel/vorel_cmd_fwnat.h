// The stateful firewall and NAT family: the one handler of "sfw", "nat"
// and "inline-stateful-firewall" (and the parameter block and driver that
// the "pcp" command shares).
//
// The family is split by concern:
//   vorel_cmd_fwnat.cc          the handler: options, action selection
//   vorel_cmd_fwnat_table.cc    cmd_handlers_table, every action's callbacks
//   vorel_cmd_fwnat_driver.cc   the PIC and line-card walks on vorel_run_action
//   vorel_cmd_fwnat_flows.cc    flow table, count and drain; the flow renderer
//   vorel_cmd_fwnat_conv.cc     conversations
//   vorel_cmd_fwnat_natpool.cc  NAT pools
//   vorel_cmd_fwnat_sip.cc      SIP calls and registrations
//   vorel_cmd_fwnat_analysis.cc flow and subscriber analysis
//   vorel_cmd_fwnat_stats.cc    firewall statistics, integrity drops,
//                               redundancy statistics
//   vorel_cmd_fwnat_mapping.cc, _detnat.cc, _nptv6.cc, _clear.cc,
//   _natstats.cc, _natshared.cc   NAT mappings, deterministic NAT, NPTv6,
//                               clearing, NAT statistics (vorel_cmd_nat.h)
// A further group of queries adds one file and declares its callbacks
// here; the driver and the table's shape stay as they are.
#pragma once

#include "platform/bytes.h"
#include "platform/services_ui.h"
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

// ---------------------------------------------------------------------------
// Values

// An address as the family carries it (vorel_addr): four 32-bit words
// (IPv4 in word 0) and a flag.  In fwnat_params the words are in host
// order; on the wire each word is big-endian on its own, followed by the
// flag byte and three zero bytes (20 bytes).
using fwnat_addr = vorel_addr;
constexpr size_t FWNAT_ADDR_WIRE_SIZE = VOREL_ADDR_WIRE_SIZE;

// An address range given with -x: its first and last address and its mask.
struct fwnat_range {
    fwnat_addr start;
    fwnat_addr end;
    fwnat_addr mask;
    uint8_t prefix_len = 0;
};

// A text the handler copied from the command line; empty when not given
// (vorel_text gives it to C-style calls, null when absent).
using fwnat_text = std::optional<std::string>;

// stats_subcmd values.
constexpr int32_t FWNAT_STATS_BRIEF = 0;
constexpr int32_t FWNAT_STATS_DETAIL = 1;
constexpr int32_t FWNAT_STATS_EXTENSIVE = 2;
constexpr int32_t FWNAT_STATS_SUMMARY = 3;
constexpr int32_t FWNAT_STATS_CLEAR = 4;
constexpr int32_t FWNAT_MAPPINGS_APP = 8;
constexpr int32_t FWNAT_MAPPINGS_EIM = 9;
constexpr int32_t FWNAT_MAPPINGS_SUMMARY = 10;
constexpr int32_t FWNAT_MAPPINGS_PCP = 11;
constexpr int32_t FWNAT_MAPPINGS_NPTV6 = 12;

constexpr uint16_t FWNAT_PROTO_ANY = 65535;
constexpr uint32_t FWNAT_ALG_ID_NONE = 65535;

// The request parameters of one run, filled from the command line.
struct fwnat_params {
    fwnat_text action;
    int32_t limit = 0;
    fwnat_text natpool;
    bool detail = false;
    bool countonly = false;
    bool pic_based = false;
    bool backup_pic = false;
    fwnat_addr sprefix;
    fwnat_addr smask;
    fwnat_addr dprefix;
    fwnat_addr dmask;
    uint16_t sport = 0;
    uint16_t dport = 0;
    uint16_t proto = FWNAT_PROTO_ANY;
    uint8_t alg = 0;
    bool pgcp = false;
    fwnat_text svc_set_name;
    fwnat_text if_name;
    fwnat_text command;
    fwnat_text subcommand;
    fwnat_text internal_host;
    fwnat_text nat_ip_text;
    fwnat_text nat_port_text;
    uint32_t alg_id = FWNAT_ALG_ID_NONE;
    int32_t stats_subcmd = 0;
    fwnat_text pcp_name;
    fwnat_addr b4_addr;
    fwnat_range subs_range;
    fwnat_range sw_range;
    fwnat_range nat_range;
    uint16_t subs_port = 0;
    bool sw_given = false;
    bool nat_given = false;
    bool subs_given = false;
    bool port_given = false;
    uint8_t mapping_kind = 0;
};

void fwnat_params_init(fwnat_params *params);
void fwnat_params_free(fwnat_params *params);

// ---------------------------------------------------------------------------
// The command line

// Parses the handler's options into params.  0, or -1 when a -F prefix is
// refused (reported).  Values the command refuses outright (ports, ranges,
// protocols) end the process with status 1 after their message.
int fwnat_parse_options(int argc, char **argv, const vorel_ctx *ctxt, fwnat_params *params);
// The option letters the firewall/NAT, pcp and inline-nat commands read
// alike (-A, -C, -S, -i, -t); false for any other letter.
bool fwnat_common_option(int c, fwnat_params *params);

// -w a: the IPv6 address into b4_addr ("address is invalid" when it is not one).
void fwnat_parse_b4_address(const char *value, fwnat_params *params);

// What a -x address range is for.
enum class fwnat_range_target { subscriber, softwire, nat };
// Parses a -x range value.  false with *refusal set to the line the command
// prints before it exits with status 1.
bool fwnat_parse_range(const char *text, fwnat_range_target target, fwnat_range *out,
                       const char **refusal);

// Names the action from the command, sub-command and count flag unless -A
// named one, and applies the settings that go with it.  Exits with status
// 1 when clearing mappings with a softwire address and port but no
// subscriber address.
void fwnat_choose_action(fwnat_params *params);

// ---------------------------------------------------------------------------
// Actions and the driver

using fwnat_action = vorel_action<fwnat_params>;
// Every action of the family, ended by an all-null row.
extern const fwnat_action cmd_handlers_table[];

// Runs one action: open, the walk of the service PICs (or of the inline
// service interfaces for "inline-stateful-firewall"), close.  0, or -1
// when the inline walk was stopped.
int fwnat_run_action(vorel_ctx *ctxt, const fwnat_action *entry, fwnat_params *params);
// Looks params->action up in cmd_handlers_table and runs the first row
// that has open and close (vorel_run_action); *ran false when none did.
int fwnat_run_named_action(vorel_ctx *ctxt, fwnat_params *params, bool *ran);

// State the driver shares with the queries.  pic_header_pending is set when
// a PIC's channel opens and cleared after each successful per-service-set
// query (renderers that name the PIC once per PIC print it while it is
// set); pics_visited counts the channels closed so far.  summary_info is
// reset by every open callback.
extern bool pic_header_pending;
extern uint32_t pics_visited;
extern uint32_t summary_info;

// ---------------------------------------------------------------------------
// Helpers for the callbacks and queries

// What every open callback of the family does: summary_info starts afresh,
// then the action-wide section opens (vorel_open_enclosing).  0.
int fwnat_open_enclosing(const vorel_ctx *ctxt, const vorel_enclosing &enclosing);
// Defines prefix_open and prefix_close of an action from its enclosing
// section (a vorel_enclosing with linkage in the file).
#define FWNAT_ENCLOSING_CALLBACKS(prefix, enclosing)                                               \
    int prefix##_open(vorel_ctx *ctxt, fwnat_params *) {                                           \
        return fwnat_open_enclosing(ctxt, enclosing);                                              \
    }                                                                                              \
    int prefix##_close(vorel_ctx *ctxt, fwnat_params *) {                                          \
        return vorel_enclosing_close<enclosing>(ctxt);                                             \
    }

// The callbacks' preconditions.  A per-service-set query reached without a
// service set (a summary view, -V s, given to a listing) reports once that
// the action does not run per PIC; false then, and the query gives -1.
bool fwnat_query_args_ok(const vorel_ctx *ctxt, const asp_info *asp, const svc_set_info *svc_set,
                         const fwnat_params *params, bool needs_svc_set);

// A request of size bytes for a service set: the header with its id and
// its style byte at offset 8, or id 0 and 'B' without a service set.
vorel::ByteWriter fwnat_request(uint16_t type, uint16_t version, size_t size,
                                const svc_set_info *svc_set);

// The flow filter block (88 bytes) of the flow and SIP requests, every word
// and port big-endian on its own.
constexpr size_t FWNAT_FLOW_FILTER_SIZE = 88;
void fwnat_flow_filter_write(vorel::ByteWriter &w, size_t off, const fwnat_params &params);

// The answer of a query that a multiservices PIC (ASP_F_MSP) does not
// serve: the line in text; in XML the error inside `element`.  True when
// the PIC is such a PIC (the query then answers 0).
bool fwnat_refuse_on_msp(const vorel_ctx *ctxt, const asp_info &asp, const char *element);

// A view shown only in XML, run without -X: one line on standard error
// (standard output keeps what the view prints in text, usually nothing).
void fwnat_note_xml_only(const vorel_ctx *ctxt, const fwnat_params *params);

// ---------------------------------------------------------------------------
// Flow records and their renderer

constexpr size_t FWNAT_FLOW_RECORD_SIZE = 176;

struct fwnat_flow_record : vorel_flow_common {
    uint16_t snat_valid = 0;
    uint16_t dnat_valid = 0;
    fwnat_addr snat_addr;
    fwnat_addr dnat_addr;
    uint16_t snat_port = 0;
    uint16_t dnat_port = 0;
    uint8_t tickles_sent = 0;
    fwnat_addr sw_src;
    fwnat_addr sw_dst;
    uint8_t sw_type = 0; // 0 none, 1 DS-Lite, 2 6rd
};

// Decodes one record.
fwnat_flow_record fwnat_flow_decode(const vorel::ByteBlock<FWNAT_FLOW_RECORD_SIZE> &b);
// Reads the record at off (an empty record when it is not all there).
fwnat_flow_record fwnat_flow_read(const vorel::ByteReader &r, size_t off);
// Renders one flow entry: XML when xml is set, else text rows.
void fwnat_flow_print(const fwnat_flow_record &rec, bool detail, int xml);
// The flow table as a section: an element with a heading attribute, or
// the text heading followed by a blank line; it opens with open() and
// closes when it goes out of scope.
class fwnat_flow_table : public vorel_section {
  public:
    explicit fwnat_flow_table(const vorel_ctx *ctxt);
};
// The same for callers that open and close it themselves.
void fwnat_flow_table_open(int xml);
void fwnat_flow_table_close(int xml);

// ---------------------------------------------------------------------------
// NAT pool address ranges

struct fwnat_pool_range {
    uint32_t addr[4] = {};
    uint32_t count = 0;
    uint16_t is_v6 = 0;
    uint16_t prefix_len = 0;
};
// The first and last address that a range shows.
void fwnat_pool_range_bounds(const fwnat_pool_range &range, vorel_addr *first, vorel_addr *last);
// The name of a pool's translation type ("NAPT-44", ...; "dynamic" when unknown).
const char *fwnat_xlate_type_name(uint32_t type);

// ---------------------------------------------------------------------------
// Callbacks of cmd_handlers_table

#define FWNAT_DECLARE_OPEN_CLOSE(prefix)                                                           \
    int prefix##_open(vorel_ctx *ctxt, fwnat_params *params);                                      \
    int prefix##_close(vorel_ctx *ctxt, fwnat_params *params)
#define FWNAT_DECLARE_QUERY(name)                                                                  \
    int name(vorel_ctx *ctxt, services_ui_conn *asp_conn, asp_info *asp, svc_set_info *svc_set,    \
             fwnat_params *params)
#define FWNAT_DECLARE_ACTION(prefix)                                                               \
    FWNAT_DECLARE_OPEN_CLOSE(prefix);                                                              \
    FWNAT_DECLARE_QUERY(prefix##_query)

// Flows and conversations.
FWNAT_DECLARE_ACTION(fwnat_flow_drain);
FWNAT_DECLARE_ACTION(fwnat_flow_count);
FWNAT_DECLARE_ACTION(fwnat_flow_dump);
FWNAT_DECLARE_ACTION(fwnat_conv_dump);
// SIP calls and registrations.
FWNAT_DECLARE_ACTION(fwnat_sip_call_drain);
FWNAT_DECLARE_ACTION(fwnat_sip_reg_drain);
FWNAT_DECLARE_ACTION(fwnat_sip_call_dump);
FWNAT_DECLARE_ACTION(fwnat_sip_call_count);
FWNAT_DECLARE_ACTION(fwnat_sip_reg_dump);
FWNAT_DECLARE_ACTION(fwnat_sip_reg_count);
// Flow and subscriber analysis.
FWNAT_DECLARE_ACTION(fwnat_flow_analysis);
FWNAT_DECLARE_ACTION(fwnat_subs_analysis);
// Statistics, integrity drops, redundancy statistics.
FWNAT_DECLARE_ACTION(fwnat_stats_dump);
FWNAT_DECLARE_ACTION(fwnat_hdr_err_dump);
FWNAT_DECLARE_QUERY(fwnat_clear_stats_hdr_err_query);
FWNAT_DECLARE_ACTION(fwnat_ha_stats_dump);
// NAT pools.
FWNAT_DECLARE_ACTION(fwnat_natpool_dump);
// NAT mappings, deterministic NAT, NPTv6, clearing.
FWNAT_DECLARE_ACTION(fwnat_nat_mapping_v2_dump);
FWNAT_DECLARE_ACTION(fwnat_detnat_dump);
FWNAT_DECLARE_ACTION(fwnat_nptv6_mapping_dump);
FWNAT_DECLARE_ACTION(fwnat_natmappings_clear);
FWNAT_DECLARE_ACTION(fwnat_natflows_clear);
// NAT statistics.
FWNAT_DECLARE_ACTION(fwnat_natstatistics_dump);
FWNAT_DECLARE_ACTION(fwnat_natstatistics_clear);
