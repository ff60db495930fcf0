// The msp command's PIC walk: every multiservices PIC of the snapshot, or
// only the one named with -i, or, when -i names an aggregated multiservices
// bundle, the bundle's members under both their names (ms-F/P/0 and
// mams-F/P/0).  The walk itself is the shared driver's (vorel_walk_pics);
// this file says which records it visits and how it treats service sets.
#include "vorel/vorel_cmd_msp.h"

#include "platform/rtslib.h"
#include "vorel/vorel_ams_util.h"
#include "vorel/vorel_driver.h"
#include "vorel/vorel_error.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

// The member names of a bundle, as the kernel lists them.
struct ams_members {
    bool listed = false; // -i names a bundle whose member list was read
    std::vector<std::string> names;
};

// Reads the member list of the bundle `name` (members of kind 2 only).
// False when the bundle or its list cannot be read.
bool read_ams_members(const char *name, ams_members *out) {
    rtslib_handle *h = rtslib_open(3);
    if (!h)
        return false;
    rtslib_ifd_record *rec = nullptr;
    size_t len = 0;
    bool ok = false;
    if (rtslib_ifdm_get_by_name(h, name, RTSLIB_OP_GET, &rec, &len) == 0 && rec &&
        rec->devtype == IFD_DEVTYPE_AMS_BUNDLE) {
        const rtslib_attr *attr = ams_get_load_balancing_options_from_ifdm(rec);
        rtslib_lb_options lb;
        if (attr && rtslib_lb_decode(vorel::ByteReader(attr->value), lb) &&
            lb.mode == RTSLIB_LB_MODE_MEMBERS) {
            for (const auto &m : lb.members)
                if (m.type == RTSLIB_LB_MEMBER_SERVICE)
                    out->names.push_back(m.name);
            out->listed = true;
            ok = true;
        }
    }
    if (rec)
        rtslib_msg_idl_release(h, rec);
    rtslib_close(h);
    return ok;
}

bool begins(const char *s, const char *prefix) {
    return std::strncmp(s, prefix, std::strlen(prefix)) == 0;
}

// A record answers to a member under either of its names.
bool is_member(const ams_members &m, const asp_info &asp) {
    for (const std::string &member : m.names) {
        if (begins(asp.name, "ms")) {
            uint8_t flag = 0;
            char ms_name[AMS_NAME_LEN];
            vorel_ms_name_of_mams(member.c_str(), &flag, ms_name);
            if (std::strncmp(ms_name, asp.name, ASP_NAME_LEN) == 0)
                return true;
        } else if (begins(asp.name, "mams")) {
            if (std::strncmp(member.c_str(), asp.name, ASP_NAME_LEN) == 0)
                return true;
        }
    }
    return false;
}

// A bundle member that the snapshot also holds under its "ms" name: a
// PIC-based query asks that record, so the PIC is not reported twice.
bool has_ms_twin(const asp_info &asp) {
    uint8_t flag = 0;
    char ms_name[AMS_NAME_LEN];
    vorel_ms_name_of_mams(asp.name, &flag, ms_name);
    return flag && vorel_db_asp_find_by_name(ms_name) != nullptr;
}

// Whether the walk visits the record (steps in the order the command
// takes them: the unsupported-application message comes for every
// multiservices PIC, whatever -i says).
bool admit_record(const asp_info &asp, const msp_action_params &p, const ams_members &members) {
    if (!(asp.flags & ASP_F_MSP))
        return false;
    if (!vorel_alg_supported_on_msp(p.alg)) {
        vorel_xml_error(1, "This command is not supported for application %s\n", alg2str(p.alg));
        return false;
    }
    if (members.listed) {
        if (members.names.empty() || !is_member(members, asp))
            return false;
    } else if (p.interface_name &&
               std::strncmp(asp.name, p.interface_name->c_str(), ASP_NAME_LEN) != 0) {
        return false;
    }
    bool mams = begins(asp.name, "mams");
    if (mams && p.srv_set_name && !vorel_db_svc_set_find_by_name(&asp, p.srv_set_name->c_str()))
        return false;
    if (p.pic_based && mams && (!p.interface_name || members.listed) && has_ms_twin(asp))
        return false;
    return true;
}

// The session engine's service-set loop: every service set of the PIC
// (any style and kind), the one named with -s when given; a failed query
// moves on to the next service set, and an action that asks one service
// set per PIC leaves after the first that answered.
pic_loop msp_svc_set_loop(const msp_action_params &p) {
    const char *name = msp_text(p.srv_set_name);
    bool first_only = p.first_svc_set_only != 0;
    return [=](services_ui_conn *c, asp_info *asp, const pic_query_fn &query) {
        for (svc_set_info *ss = nullptr; (ss = vorel_db_svc_set_find_next(asp, ss));) {
            if (name && std::strncmp(ss->name, name, SVC_SET_NAME_LEN) != 0)
                continue;
            vorel_trace("calling msp_cmd_handlers->query \n");
            if (query(c, asp, ss) < 0)
                continue;
            if (first_only)
                break;
        }
        return 0;
    };
}

} // namespace

int msp_walk_pics(vorel_ctx *ctxt, const msp_cmd_handlers *handlers, msp_action_params *params) {
    if (handlers->open)
        handlers->open(ctxt);

    ams_members members;
    bool walk_anything = true;
    if (params->interface_name && is_ams_ifd_name(nullptr, params->interface_name->c_str()))
        walk_anything = read_ams_members(params->interface_name->c_str(), &members);

    if (walk_anything) {
        pic_walk walk;
        walk.records = walk_records::asp;
        walk.admit = [&](const asp_info &asp) { return admit_record(asp, *params, members); };
        walk.open_channel = vorel_open_pic_xml_error;
        walk.on_open_failure = open_failure::skip_pic;
        if (!params->pic_based)
            walk.loop = msp_svc_set_loop(*params);
        int rc = vorel_walk_pics(walk, [&](services_ui_conn *c, asp_info *asp, svc_set_info *ss) {
            return handlers->query(ctxt, c, asp, ss, params);
        });
        // A failed PIC-based query ends the run; its channel was closed all
        // the same.
        if (rc < 0)
            return -1;
    }

    if (handlers->close)
        handlers->close(ctxt);
    return 0;
}
