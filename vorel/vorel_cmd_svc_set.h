// -C svc_set: the service-set family.  The subcommand (-S) names one of
// fifteen operations; each is a row of the family's operation table: an
// action (open, close, per-PIC query) and the PIC choice of its walk.
// Each concern lives in its own file (summary, memory zones, drops, TCP
// MSS, memory and CPU, plug-ins and policies, syslog, drop flows and flow
// logging); what several of them share is declared here.
#pragma once

#include "platform/services_ui.h"
#include "vorel/vorel_channel.h"
#include "vorel/vorel_ctx.h"
#include "vorel/vorel_db.h"
#include "vorel/vorel_driver.h"
#include "vorel/vorel_util.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

struct svc_set_params {
    std::optional<std::string> subcommand;   // -S
    std::optional<std::string> svc_set_name; // -s (the first one given)
    std::optional<std::string> pic_name;     // -i
    int detail = 0;                          // -d 1, -b 0
    // -x syslog_host ADDRESS: IPv4 only, each word in host order; all zero
    // when none was given.
    vorel_addr syslog_host;
    vorel_ctx *ctxt = nullptr; // the run's context, for the walk's callbacks

    // State the walk's PIC choice keeps between records (-s selection of
    // the syslog and flow-log operations).
    bool prev_pic_had_svc_set = false;
    bool mams_pic_had_svc_set = false;
    bool walk_over = false;
    // An operation that stops its walk but still answers 0.
    bool stopped_with_zero = false;
};

using svc_set_action = vorel_action<svc_set_params>;

enum class svc_set_view { both, xml_only };

struct svc_set_op {
    const char *name; // the -S text
    svc_set_action action;
    // Chooses the walk's records, open call and loop; the common choice
    // (svc_set_walk) is made before it is called.  Null: the common one.
    void (*walk)(pic_walk &walk, svc_set_params &p);
    // An XML-only view run in text mode asks no PIC and says on standard
    // error that it needs -X.
    svc_set_view view = svc_set_view::both;
};

// The operations, one per concern file.
extern const svc_set_op svc_set_summary_op;
extern const svc_set_op svc_set_mem_zone_op;
extern const svc_set_op svc_set_packet_drops_op;
extern const svc_set_op svc_set_clear_packet_drops_op;
extern const svc_set_op svc_set_clear_drop_flow_op;
extern const svc_set_op svc_set_tcp_mss_op;
extern const svc_set_op svc_set_mem_op;
extern const svc_set_op svc_set_cpu_op;
extern const svc_set_op svc_set_plugin_op;
extern const svc_set_op svc_set_policy_op;
extern const svc_set_op svc_set_syslog_op;
extern const svc_set_op svc_set_clear_syslog_op;
extern const svc_set_op svc_set_drop_flow_op;
extern const svc_set_op svc_set_qflow_log_op;
extern const svc_set_op svc_set_clear_qflow_log_op;

// The common walk: every ASP record (only the one named exactly by -i when
// it was given), a channel opened with vorel_xml_error as the error
// callback, an unreachable PIC skipped, one query per PIC.
void svc_set_walk(pic_walk &walk, const svc_set_params &p);
// The same with vorel_fatal_error as the open's error callback.
void svc_set_walk_fatal(pic_walk &walk, svc_set_params &p);
// The -s choice of the syslog and flow-log operations (see the docs page):
// stateful, so it keeps its state in p.
bool svc_set_choose_pic_by_svc_set(const asp_info &asp, svc_set_params &p);

bool svc_set_name_begins(const asp_info &asp, const char *prefix);

// Which part of a service set's style a PIC's table entry is compared
// with: the whole style, its low four bits or its low two bits on a
// multiservices PIC (the agents of those PICs number styles their own way).
enum class style_match { whole, low4_on_msp, low2_on_msp };
bool svc_set_style_matches(uint32_t entry_style, const asp_info &asp, const svc_set_info &ss,
                           style_match rule);

// The most entries a PIC's table holds; a PIC that sends more has the
// excess dropped.
constexpr size_t SVC_SET_TABLE_MAX = 4096;

// Reads replies of `type` until the answer ends and appends each one's
// entries (a big-endian u32 count at count_off, entries stride bytes apart
// from entries_off) to out, at most SVC_SET_TABLE_MAX in all.  A count is
// bounded by the bytes its reply holds; a reply shorter than its entries'
// offset is passed over.
template <class Entry, class Decode>
void svc_set_read_table(services_ui_conn *c, uint16_t type, uint16_t version, const asp_info &asp,
                        size_t count_off, size_t entries_off, size_t stride,
                        std::vector<Entry> &out, Decode decode) {
    for (;;) {
        vorel::ByteReader r =
            vorel_receive_at_least(c, type, version, entries_off, asp.name, short_reply::skip);
        if (r.empty())
            return;
        size_t n =
            r.clamp_count(r.be32(count_off), entries_off, stride, SVC_SET_TABLE_MAX - out.size());
        for (size_t i = 0; i < n; i++)
            out.push_back(decode(r.sub(entries_off + i * stride, stride)));
    }
}

// The first entry whose id and style match the service set's.
template <class Entry>
const Entry *svc_set_lookup(const std::vector<Entry> &table, const asp_info &asp,
                            const svc_set_info &ss, style_match rule) {
    for (const Entry &e : table)
        if (e.svc_set_id == ss.id && svc_set_style_matches(e.style, asp, ss, rule))
            return &e;
    return nullptr;
}

// A request of the family that names a service set: the header with its
// id and its style byte at offset 8.
vorel::ByteWriter svc_set_request(uint16_t type, size_t size, const svc_set_info *ss,
                                  uint8_t default_style = 0);

// The packet-drop table of a PIC (reply 104, records of ten u32).
struct svc_set_drop_entry {
    uint32_t words[10] = {};
    uint32_t svc_set_id = 0; // word 4
    uint32_t style = 0;      // word 5
};
constexpr uint16_t SVC_SET_DROPS_REQUEST = 103;
constexpr uint16_t SVC_SET_DROPS_REPLY = 104;
// Sends request 103 (the service set's id and style, or zeroes for a null
// one, and the code at 16) and reads the replies.  False when the send
// failed.
bool svc_set_fetch_drop_table(services_ui_conn *c, const asp_info &asp, const svc_set_info *ss,
                              uint16_t code, std::vector<svc_set_drop_entry> &table);

// Open and close callbacks of the operations: nothing to do, or the
// closing of the root element (and its flush) that the open call opened.
int svc_set_nothing(vorel_ctx *ctxt, svc_set_params *p);
int svc_set_close_enclosing(vorel_ctx *ctxt, svc_set_params *p);

// The service set -s names on this PIC (null without -s or when the PIC
// has none of that name).
const svc_set_info *svc_set_chosen(const asp_info &asp, const svc_set_params &p);

// Fetches a PIC's drop table (request 103 with code, the PIC's first
// service set's id and style) and calls show for each service set of the
// PIC that has an entry (low four bits of the style on multiservices
// PICs).  A PIC without service sets is not asked.
void svc_set_each_drop_entry(
    services_ui_conn *c, const asp_info &asp, uint16_t code,
    const std::function<void(const svc_set_info &ss, const svc_set_drop_entry &e)> &show);

// The interface line of the syslog and flow-log operations: in XML a whole
// element holding the PIC's name, in text "Interface: NAME".
void svc_set_show_interface(const vorel_ctx *ctxt, const asp_info &asp, const char *element,
                            const char *name_element);
