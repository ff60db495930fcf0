#include "vorel/vorel_driver.h"

#include "platform/logging.h"
#include "vorel/vorel_error.h"

#include <cstdio>
#include <syslog.h>

namespace {

bool name_matches(const pic_walk &walk, const asp_info &asp) {
    return !walk.pic_name || std::strncmp(asp.name, walk.pic_name, walk.pic_name_len) == 0;
}

asp_info *next_record(const pic_walk &walk, const asp_info *prev) {
    return walk.records == walk_records::asp ? vorel_db_asp_find_next(prev)
                                             : vorel_db_si_find_next(prev);
}

bool service_set_chosen(const pic_walk &walk, const svc_set_info &ss) {
    if (!walk.every_svc_set && ss.style != 'B')
        return false;
    if (!walk.every_svc_set && ss.kind != 0 && !(walk.admit_kind1 && ss.kind == 1))
        return false;
    return !walk.svc_set_name || std::strncmp(ss.name, walk.svc_set_name, SVC_SET_NAME_LEN) == 0;
}

// Queries one PIC over its open channel; negative stops the walk.
int query_pic(const pic_walk &walk, const pic_query_fn &query, services_ui_conn *c, asp_info *asp) {
    if (!walk.per_service_set) {
        if (walk.trace_calls)
            vorel_trace("calling pic-based handlers->query \n");
        return query(c, asp, nullptr);
    }
    for (svc_set_info *ss = nullptr; (ss = vorel_db_svc_set_find_next(asp, ss));) {
        if (!service_set_chosen(walk, *ss))
            continue;
        if (walk.trace_calls)
            vorel_trace("%s", walk.svc_set_call_trace);
        if (query(c, asp, ss) < 0) {
            if (walk.svc_set_failure_continues)
                continue;
            return -1;
        }
        if (walk.first_svc_set_only)
            break;
    }
    return 0;
}

} // namespace

void vorel_trace_action(const char *fmt, const char *name) {
    if (debug)
        std::printf(fmt, name);
}

int vorel_walk_pics(const pic_walk &walk, const pic_query_fn &query) {
    for (asp_info *asp = nullptr; (asp = next_record(walk, asp));) {
        if (!name_matches(walk, *asp))
            continue;
        if (walk.admit && !walk.admit(*asp))
            continue;
        pic_channel channel(walk.open_channel ? walk.open_channel(*asp) : nullptr);
        if (!channel) {
            if (walk.on_open_failure == open_failure::skip_pic) {
                vorel_trace("vorel: failed to open connection\n");
                continue;
            }
            if (walk.on_open_failure == open_failure::log_and_stop_walk)
                logging_event(LOG_ERR, "VOREL_CONNECT_ERROR", {"pointer-addr"},
                              "VOREL_CONNECT_ERROR: asp_conn is NULL[%p]",
                              static_cast<void *>(nullptr));
            return -1;
        }
        // The channel is closed exactly once, whatever the query answered.
        int rc = query_pic(walk, query, channel.get(), asp);
        channel.close();
        if (walk.after_close)
            walk.after_close(*asp);
        if (rc < 0 && walk.on_query_failure == query_failure::stop_walk)
            return -1;
    }
    return 0;
}

services_ui_conn *vorel_open_pic_xml_error(const asp_info &asp) {
    return vorel_services_ui_open(asp.fpc_slot, asp.pic_slot, SERVICES_UI_PIC_PORT,
                                  vorel_xml_error);
}

services_ui_conn *vorel_open_pic_fatal(const asp_info &asp) {
    return vorel_services_ui_open(asp.fpc_slot, asp.pic_slot, SERVICES_UI_PIC_PORT,
                                  vorel_fatal_error);
}

services_ui_conn *vorel_open_inline_fatal(const asp_info &asp) {
    return services_inline_ui_open(asp.fpc_slot, SERVICES_UI_INLINE_PORT, vorel_fatal_error);
}
