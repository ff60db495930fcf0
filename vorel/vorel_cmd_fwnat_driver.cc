// The family's driver: open, the walk, close.
//
// Service PICs (every command but "inline-stateful-firewall") are walked
// over their ASP records: a PIC that cannot be reached is passed over, and
// a query that fails ends only that PIC's visit.  Inline services are
// walked over the service interfaces, through the line card's agent on port
// 33019: there an unreachable interface or a failed query ends the command
// with -1 and close is not called.  With -B the backup member of a
// redundant pair answers instead, over port 6200.
#include "vorel/vorel_cmd_fwnat.h"
#include "vorel/vorel_error.h"
#include "vorel/vorel_string.h"

#include <cstring>

bool pic_header_pending = false;
uint32_t pics_visited = 0;

namespace {
// Whether this run has said that a summary view does not apply.
bool summary_view_refused = false;
} // namespace
uint32_t summary_info = 0;

namespace {

bool has_backup(const asp_info &asp) {
    return asp.peer_fpc_slot != ASP_NO_PEER && asp.peer_pic_slot != ASP_NO_PEER;
}

// Without -B, a multiservices PIC is asked only about applications that its
// session engine handles.
bool alg_reachable(const asp_info &asp, const fwnat_params &p) {
    return p.backup_pic || !(asp.flags & ASP_F_MSP) || vorel_alg_supported_on_msp(p.alg);
}

// A bundle member is visited for a named service set only when it has it.
bool bundle_member_has_svc_set(const asp_info &asp, const fwnat_params &p) {
    if (!vorel_starts_with(asp.name, "mams") || !p.svc_set_name)
        return true;
    return vorel_db_svc_set_find_by_name(&asp, p.svc_set_name.get()) != nullptr;
}

// Whether the record names the backup member of a redundant pair (an
// ordinary PIC names none, and saying so is all -B can do there).
bool backup_known(const asp_info &asp) {
    if (has_backup(asp))
        return true;
    vorel_user_message("vorel: invalid backup pic info\n");
    return false;
}

services_ui_conn *open_service_pic(const asp_info &asp, const fwnat_params &p) {
    services_ui_conn *c = nullptr;
    if (!p.backup_pic)
        c = vorel_open_pic_xml_error(asp);
    else if (backup_known(asp))
        c = vorel_services_ui_open(asp.peer_fpc_slot, asp.peer_pic_slot, SERVICES_UI_PIC_PORT,
                                   vorel_xml_error);
    if (c)
        pic_header_pending = true;
    return c;
}

services_ui_conn *open_service_interface(const asp_info &asp, const fwnat_params &p) {
    services_ui_conn *c = nullptr;
    if (!p.backup_pic)
        c = vorel_open_inline_fatal(asp);
    else if (backup_known(asp))
        c = services_ui_open(asp.peer_fpc_slot, asp.peer_pic_slot, SERVICES_UI_PIC_PORT,
                             vorel_fatal_error);
    if (!c) {
        // The walk stops here without a trace of its own.
        vorel_trace("vorel: failed to open connection\n");
        return nullptr;
    }
    pic_header_pending = true;
    return c;
}

pic_walk service_pic_walk(const fwnat_params &p) {
    pic_walk walk;
    walk.records = walk_records::asp;
    walk.pic_name = p.if_name.get();
    walk.admit = [&p](const asp_info &asp) {
        return bundle_member_has_svc_set(asp, p) && alg_reachable(asp, p);
    };
    walk.open_channel = [&p](const asp_info &asp) { return open_service_pic(asp, p); };
    walk.on_open_failure = open_failure::skip_pic;
    walk.on_query_failure = query_failure::next_pic;
    return walk;
}

pic_walk service_interface_walk(const fwnat_params &p) {
    pic_walk walk;
    walk.records = walk_records::service_interfaces;
    walk.pic_name = p.if_name.get();
    walk.admit = [&p](const asp_info &asp) {
        if (!p.if_name && !vorel_starts_with(asp.name, "si"))
            return false;
        return alg_reachable(asp, p);
    };
    walk.open_channel = [&p](const asp_info &asp) { return open_service_interface(asp, p); };
    walk.on_open_failure = open_failure::stop_walk;
    walk.on_query_failure = query_failure::stop_walk;
    return walk;
}

} // namespace

int fwnat_run_action(vorel_ctx *ctxt, const fwnat_action *entry, fwnat_params *params) {
    // The walk's shared state starts afresh with every run of an action.
    pic_header_pending = false;
    pics_visited = 0;
    summary_view_refused = false;
    if (entry->open)
        entry->open(ctxt, params);
    bool inline_services = params->command.equals("inline-stateful-firewall");
    pic_walk walk = inline_services ? service_interface_walk(*params) : service_pic_walk(*params);
    walk.loop = params->pic_based
                    ? vorel_loop_pic("calling pic-based handlers->query \n")
                    : vorel_loop_svc_sets(params->svc_set_name.get(), svc_set_kinds::kind0,
                                          "calling handlers->query \n");
    walk.after_query = [](const asp_info &, const svc_set_info *ss, int result) {
        if (ss && result >= 0)
            pic_header_pending = false;
    };
    walk.after_close = [](const asp_info &) { pics_visited++; };

    int rc = vorel_walk_pics(walk, [&](services_ui_conn *c, asp_info *asp, svc_set_info *ss) {
        return entry->query(ctxt, c, asp, ss, params);
    });
    if (rc < 0)
        return -1;
    if (entry->close)
        entry->close(ctxt, params);
    return 0;
}

// ---------------------------------------------------------------------------
// What every query of the family needs on the channel.

vorel::ByteWriter fwnat_request(uint16_t type, uint16_t version, size_t size,
                                const svc_set_info *svc_set) {
    constexpr size_t kStyleOffset = 8;
    vorel::ByteWriter w = vorel_request(type, version, size, svc_set ? svc_set->id : 0);
    w.u8(kStyleOffset, svc_set ? svc_set->style : 'B');
    return w;
}

void fwnat_flow_filter_write(vorel::ByteWriter &w, size_t off, const fwnat_params &p) {
    vorel_flow_filter_write(w, off,
                            {p.sprefix, p.smask, p.dprefix, p.dmask, p.sport, p.dport, p.proto,
                             p.alg, static_cast<uint8_t>(p.pgcp ? 1 : 0)});
}

bool fwnat_receive(services_ui_conn *c, uint16_t type, uint16_t version, size_t min_size,
                   const asp_info &asp, vorel::ByteReader *out) {
    for (;;) {
        services_ui_reply reply = services_ui_receive(c, type, version);
        if (!reply)
            return false;
        if (reply.size >= min_size) {
            *out = vorel::ByteReader(reply.data, reply.size);
            return true;
        }
        vorel_trace("vorel: %s: reply %u is %zu bytes, shorter than %zu; ignored\n", asp.name,
                    unsigned{type}, reply.size, min_size);
    }
}

bool fwnat_query_args_ok(const vorel_ctx *ctxt, const asp_info *asp, const svc_set_info *svc_set,
                         const fwnat_params *params, bool needs_svc_set) {
    if (!ctxt || !params || !asp)
        return false;
    if (!needs_svc_set || svc_set)
        return true;
    // Said once per run: every PIC would say the same.
    if (!summary_view_refused)
        vorel_xml_error(1,
                        "vorel: fwnat action %s shows service sets; a summary view does not "
                        "apply to it\n",
                        vorel_str_or_null(params->action.get()));
    summary_view_refused = true;
    return false;
}
