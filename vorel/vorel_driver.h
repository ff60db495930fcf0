// The per-PIC action driver every command family runs.
//
// A handler names an action and looks it up in its Action table; the
// driver then calls the action's open, walks the snapshot's PICs that pass
// the family's filter, opens a channel to each, calls the query once per
// PIC (or once per chosen service set of the PIC), closes the channel and
// finally calls close.  The families differ only in the records they walk,
// their filter, the open call and what a failed open does: those are the
// fields of pic_walk below, so no family copies the walk itself.
#pragma once

#include "platform/services_ui.h"
#include "vorel/vorel_channel.h"
#include "vorel/vorel_ctx.h"
#include "vorel/vorel_db.h"

#include <cstring>
#include <functional>

template <typename Params> struct vorel_action {
    const char *name;
    int (*open)(vorel_ctx *ctxt, Params *params);
    int (*close)(vorel_ctx *ctxt, Params *params);
    // Called per PIC (svc_set null) or per service set; negative stops the walk.
    int (*query)(vorel_ctx *ctxt, services_ui_conn *asp_conn, asp_info *asp, svc_set_info *svc_set,
                 Params *params);
};

enum class walk_records { asp, service_interfaces };
enum class open_failure { skip_pic, stop_walk, log_and_stop_walk };
// What a negative query result does: stop the whole walk, or end only the
// visit of that PIC (its channel is closed and the walk goes on).
enum class query_failure { stop_walk, next_pic };

// One query call: a PIC's channel, the PIC, and the service set (null for
// a PIC-based call).  Negative = failure.
using pic_query_fn = std::function<int(services_ui_conn *c, asp_info *asp, svc_set_info *ss)>;

// A loop function: which calls one visited PIC gets.  It calls query once
// for the PIC, or once per chosen service set, and answers negative when
// the visit failed.  The shared loops are below; a family whose service
// sets are chosen otherwise writes its own loop (the session engine's
// lives with that family) instead of adding a switch to the walk.
using pic_loop = std::function<int(services_ui_conn *c, asp_info *asp, const pic_query_fn &query)>;

// Once per PIC, with a null service set; trace (debug mode) before the call.
pic_loop vorel_loop_pic(const char *trace = nullptr);

// Which kinds of service set the standard loop admits.
enum class svc_set_kinds { kind0, kind0_and_1 };
// Once per service set of style 'B' and an admitted kind, only the one
// named `name` when it is set (compared exactly); trace before each call.
// The first failed call ends the visit.
pic_loop vorel_loop_svc_sets(const char *name, svc_set_kinds kinds = svc_set_kinds::kind0,
                             const char *trace = nullptr);

struct pic_walk {
    walk_records records = walk_records::asp;
    // Only the record with exactly this name (compared on pic_name_len
    // characters) when set.
    const char *pic_name = nullptr;
    size_t pic_name_len = ASP_NAME_LEN;
    // The family's own filter, besides the name; null admits every record.
    std::function<bool(const asp_info &asp)> admit;
    // Opens the channel to a record; null when it cannot be reached.
    std::function<services_ui_conn *(const asp_info &asp)> open_channel;
    open_failure on_open_failure = open_failure::skip_pic;
    // The calls each visited PIC gets (default: once per PIC).
    pic_loop loop;
    query_failure on_query_failure = query_failure::stop_walk;
    // Called after each query call with its result (families that keep
    // per-PIC state across the service sets of a PIC).
    std::function<void(const asp_info &asp, const svc_set_info *ss, int result)> after_query;
    // Called after the channel to a record has been closed, whatever its
    // queries answered (families that count the PICs they visited).
    std::function<void(const asp_info &asp)> after_close;
};

// The walk itself: calls query as the walk's loop says for every chosen
// PIC.  0, or -1 when a query or an open stopped it.
int vorel_walk_pics(const pic_walk &walk, const pic_query_fn &query);

// Debug trace of an action that is not supported yet.
void vorel_trace_action(const char *fmt, const char *name);

// The driver: open, walk, close.  0, or -1 when the walk was stopped
// (close is then not called).
template <typename Params>
int vorel_run_driver(const pic_walk &walk, const vorel_action<Params> &a, vorel_ctx *ctxt,
                     Params *params) {
    if (a.open)
        a.open(ctxt, params);
    int rc = vorel_walk_pics(walk, [&](services_ui_conn *c, asp_info *asp, svc_set_info *ss) {
        return a.query(ctxt, c, asp, ss, params);
    });
    if (rc < 0)
        return -1;
    if (a.close)
        a.close(ctxt, params);
    return 0;
}

// The row that runs for action: the first with that name and both open
// and close; rows with the name but without them are passed over (traced
// in debug mode with the family's text, whose one %s is the name).  Null
// when no row fits.  Families whose walk is not over the snapshot's PICs
// (FPC slots) look their action up here and run their own walk.
template <typename Params>
const vorel_action<Params> *vorel_find_action(const vorel_action<Params> *table, const char *action,
                                              const char *not_supported_fmt) {
    for (const vorel_action<Params> *row = table; row->name; row++) {
        if (!action || std::strcmp(row->name, action) != 0)
            continue;
        if (!row->open || !row->close) {
            if (not_supported_fmt)
                vorel_trace_action(not_supported_fmt, row->name);
            continue;
        }
        return row;
    }
    return nullptr;
}

// Looks the action up and runs the driver for its row.  -1 with *ran false
// when no row ran; the handler then prints its "unknown action" message.
template <typename Params>
int vorel_run_action(const vorel_action<Params> *table, const char *action, const pic_walk &walk,
                     vorel_ctx *ctxt, Params *params, const char *not_supported_fmt, bool *ran) {
    const vorel_action<Params> *row = vorel_find_action(table, action, not_supported_fmt);
    *ran = row != nullptr;
    return row ? vorel_run_driver(walk, *row, ctxt, params) : -1;
}

// Open calls of the families.
services_ui_conn *vorel_open_pic_xml_error(const asp_info &asp);
services_ui_conn *vorel_open_pic_fatal(const asp_info &asp);
services_ui_conn *vorel_open_inline_fatal(const asp_info &asp);
