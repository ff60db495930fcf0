// -C svc_set -S svc_set_packet_drops: the packets each service set dropped
// at its CPU, memory and flow limits; -S clear_packet_drops and
// -S clear_drop_flow clear the PICs' drop counters.
//
// A PIC answers request 103 with one table for all its service sets
// (reply 104, records of ten words); the code at offset 16 says what the
// request does: 0 show, 1 clear packet drops, 2 show drop flows, 3 clear
// drop flows.
#include "vorel/vorel_cmd_svc_set.h"

#include "platform/xml.h"
#include "vorel/vorel_section.h"

#include <cstdio>

namespace {

constexpr uint16_t kShowCode = 0;
constexpr uint16_t kClearPacketDropsCode = 1;
constexpr uint16_t kClearDropFlowsCode = 3;

// Words of a drop record.
constexpr size_t kMemLimit = 0, kCpuLimit = 1, kFlowLimit = 2, kTcpAlg = 3;

void render(const vorel_ctx *ctxt, const asp_info &asp, const svc_set_info &ss,
            const svc_set_drop_entry &e, int detail) {
    if (!ctxt->xml)
        std::printf("%-12s%-32s%+8d  %+10d  %+8d\n", asp.name, ss.name,
                    static_cast<int>(e.words[kCpuLimit]), static_cast<int>(e.words[kMemLimit]),
                    static_cast<int>(e.words[kFlowLimit]));
    xml_send_open("service-set-packet-drops");
    xml_send_all("interface-name", "%s", asp.name);
    xml_send_all("service-set-name", "%s", ss.name);
    xml_send_all("cpulimit-drops", "%u", e.words[kCpuLimit]);
    xml_send_all("memlimit-drops", "%u", e.words[kMemLimit]);
    xml_send_all("flowlimit-drops", "%u", e.words[kFlowLimit]);
    if (detail)
        xml_send_all("tcpalg-drops", "%u", e.words[kTcpAlg]);
    xml_send_close("service-set-packet-drops");
}

int packet_drops_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp, svc_set_info *,
                       svc_set_params *p) {
    svc_set_each_drop_entry(c, *asp, kShowCode,
                            [&](const svc_set_info &ss, const svc_set_drop_entry &e) {
                                render(ctxt, *asp, ss, e, p->detail);
                            });
    return 0;
}

int packet_drops_open(vorel_ctx *ctxt, svc_set_params *p) {
    vorel_open_enclosing(ctxt, nullptr, "service-set-packet-drop-statistics",
                         "Interface   Service Set                       Cpu limit  Memory limit  "
                         "Flow limit  Drops      Drops         Drops   \n"
                         "-------------------------------------------------------------------------"
                         "--------\n",
                         {xml_attr_style(p->detail ? "detail" : "brief")});
    return 0;
}

// The clears: the reply is read and not shown.
int clear(services_ui_conn *c, const asp_info &asp, uint16_t code) {
    std::vector<svc_set_drop_entry> table;
    svc_set_fetch_drop_table(c, asp, nullptr, code, table);
    return 0;
}

int clear_packet_drops_query(vorel_ctx *, services_ui_conn *c, asp_info *asp, svc_set_info *,
                             svc_set_params *) {
    return clear(c, *asp, kClearPacketDropsCode);
}

int clear_drop_flow_query(vorel_ctx *, services_ui_conn *c, asp_info *asp, svc_set_info *,
                          svc_set_params *) {
    return clear(c, *asp, kClearDropFlowsCode);
}

void clear_drop_flow_walk(pic_walk &walk, svc_set_params &p) {
    svc_set_walk_fatal(walk, p);
    walk.admit = [](const asp_info &asp) {
        return !svc_set_name_begins(asp, "sp") && !svc_set_name_begins(asp, "rsp");
    };
}

} // namespace

const svc_set_op svc_set_packet_drops_op = {
    "svc_set_packet_drops",
    {"svc_set_packet_drops", packet_drops_open, svc_set_close_enclosing, packet_drops_query},
    nullptr};
const svc_set_op svc_set_clear_packet_drops_op = {
    "clear_packet_drops",
    {"clear_packet_drops", svc_set_nothing, svc_set_nothing, clear_packet_drops_query},
    nullptr};
const svc_set_op svc_set_clear_drop_flow_op = {
    "clear_drop_flow",
    {"clear_drop_flow", svc_set_nothing, svc_set_nothing, clear_drop_flow_query},
    clear_drop_flow_walk};
