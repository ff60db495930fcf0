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

} // namespace

pic_loop vorel_loop_pic(const char *trace) {
    return [trace](services_ui_conn *c, asp_info *asp, const pic_query_fn &query) {
        if (trace)
            vorel_trace("%s", trace);
        return query(c, asp, nullptr);
    };
}

pic_loop vorel_loop_svc_sets(const char *name, svc_set_kinds kinds, const char *trace) {
    return [=](services_ui_conn *c, asp_info *asp, const pic_query_fn &query) {
        for (svc_set_info *ss = nullptr; (ss = vorel_db_svc_set_find_next(asp, ss));) {
            if (ss->style != 'B')
                continue;
            if (ss->kind != 0 && !(kinds == svc_set_kinds::kind0_and_1 && ss->kind == 1))
                continue;
            if (name && std::strncmp(ss->name, name, SVC_SET_NAME_LEN) != 0)
                continue;
            if (trace)
                vorel_trace("%s", trace);
            if (query(c, asp, ss) < 0)
                return -1;
        }
        return 0;
    };
}

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
        vorel_channel_names(channel.get(), asp->name);
        // The channel is closed exactly once, whatever the query answered.
        pic_query_fn call = query;
        if (walk.after_query)
            call = [&](services_ui_conn *c, asp_info *a, svc_set_info *ss) {
                int result = query(c, a, ss);
                walk.after_query(*a, ss, result);
                return result;
            };
        int rc =
            walk.loop ? walk.loop(channel.get(), asp, call) : call(channel.get(), asp, nullptr);
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
