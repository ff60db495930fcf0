// -C svc_set -S tcp_mss_stats: per service set, the TCP SYN packets
// received and those whose MSS option the PIC changed.
#include "vorel/vorel_cmd_svc_set.h"

#include "platform/xml.h"
#include "vorel/vorel_section.h"

#include <cstdio>

namespace {

constexpr uint16_t kRequest = 105, kReply = 106;
constexpr size_t kRequestSize = 20;
constexpr size_t kCountOffset = 20, kEntriesOffset = 24, kEntrySize = 16;

struct mss_entry {
    uint32_t syn_received = 0;
    uint32_t syn_modified = 0;
    uint32_t svc_set_id = 0;
    uint32_t style = 0;
};

mss_entry decode(const vorel::ByteReader &r) {
    return {r.be32(0), r.be32(4), r.be32(8), r.be32(12)};
}

void render(const vorel_ctx *ctxt, const asp_info &asp, const svc_set_info &ss,
            const mss_entry &e) {
    if (!ctxt->xml)
        std::printf("%-12s%-32s%+8d  %+10d\n", asp.name, ss.name, static_cast<int>(e.syn_received),
                    static_cast<int>(e.syn_modified));
    xml_send_open("service-set-tcp-mss");
    xml_send_all("service-set-name", "%s", ss.name);
    xml_send_all("interface-name", "%s", asp.name);
    xml_send_all("syn-received", "%u", e.syn_received);
    xml_send_all("syn-modified", "%u", e.syn_modified);
    xml_send_close("service-set-tcp-mss");
}

int tcp_mss_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp, svc_set_info *,
                  svc_set_params *) {
    const svc_set_info *first = vorel_db_svc_set_find_next(asp, nullptr);
    if (!first)
        return 0;
    vorel::ByteWriter req = svc_set_request(kRequest, kRequestSize, first);
    if (vorel_send(c, req) < 0)
        return -1; // ends the operation
    std::vector<mss_entry> table;
    svc_set_read_table(c, kReply, 1, *asp, kCountOffset, kEntriesOffset, kEntrySize, table, decode);
    for (const svc_set_info *ss = first; ss; ss = vorel_db_svc_set_find_next(asp, ss))
        if (const mss_entry *e = svc_set_lookup(table, *asp, *ss, style_match::whole))
            render(ctxt, *asp, *ss, *e);
    return 0;
}

int tcp_mss_open(vorel_ctx *ctxt, svc_set_params *) {
    // The dashes follow "SYN modified" on the same line, as the heading
    // has always been written.
    vorel_open_enclosing(ctxt, nullptr, "service-set-tcp-mss-statistics",
                         "Interface   Service Set                       SYN received  SYN "
                         "modified--------------------------------------------------------------"
                         "-------------------\n",
                         {xml_attr_xmlns()});
    return 0;
}

} // namespace

const svc_set_op svc_set_tcp_mss_op = {
    "tcp_mss_stats",
    {"tcp_mss_stats", tcp_mss_open, svc_set_close_enclosing, tcp_mss_query},
    nullptr};
