// -C svc_set -S mem_zone (text only, also under -X): the memory zone each
// service PIC is in.  A PIC that does not answer ends the operation: the
// PICs after it are not asked.
#include "vorel/vorel_cmd_svc_set.h"

#include "vorel/vorel_error.h"
#include "vorel/vorel_tally.h"

#include <cstdio>

namespace {

constexpr uint16_t kRequest = 58, kReply = 59;
constexpr size_t kRequestSize = 16;
constexpr size_t kZoneOffset = 16;

const char *zone_name(uint32_t zone) {
    switch (zone) {
    case 1:
        return "Green";
    case 2:
        return "Yellow";
    case 3:
        return "Orange";
    case 4:
        return "Red";
    default:
        return "Unknown";
    }
}

int mem_zone_query(vorel_ctx *, services_ui_conn *c, asp_info *asp, svc_set_info *,
                   svc_set_params *p) {
    vorel::ByteWriter req = vorel_request(kRequest, 1, kRequestSize);
    req.u8(8, 'B');
    bool answered = false;
    int rc = vorel_tally_exchange<kZoneOffset + 4>(
        c, req, kReply, 1, asp->name, short_reply::end_answer,
        [&](const vorel::ByteBlock<kZoneOffset + 4> &b) {
            std::printf("%-12s%s\n", asp->name, zone_name(b.be32<kZoneOffset>()));
        },
        &answered);
    if (rc == 0 && !answered) {
        // The later PICs are not asked; an answer without a zone is a
        // failure too.
        vorel_note_unanswered(c, asp->name, true);
        p->stopped_with_zero = true;
        return -1;
    }
    return rc; // -1 also when the PIC answered twice
}

int mem_zone_open(vorel_ctx *ctxt, svc_set_params *) {
    vorel_disable_xml();
    ctxt->xml = 0;
    std::printf("Interface   Memory zone\n");
    return 0;
}

} // namespace

const svc_set_op svc_set_mem_zone_op = {
    "mem_zone", {"mem_zone", mem_zone_open, svc_set_nothing, mem_zone_query}, nullptr};
