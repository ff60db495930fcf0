// -C svc_set -S svc_set_summary (XML only): the resource use of each
// service PIC, per service type on a PIC named with -i that is not a
// multiservices PIC, otherwise the PIC's totals.
//
// Each PIC is asked twice: request 7 gives the CPU figures and alarm
// states, request 5 everything else; the two answers are merged.
#include "vorel/vorel_cmd_svc_set.h"

#include "platform/xml.h"
#include "vorel/vorel_error.h"
#include "vorel/vorel_section.h"

#include <array>
#include <cstring>
#include <string>

namespace {

constexpr uint16_t kCpuRequest = 7, kCpuReply = 8;
constexpr uint16_t kMemRequest = 5, kMemReply = 6;
constexpr uint16_t kReplyVersion = 2;
constexpr size_t kRequestSize = 20;
constexpr size_t kRecordsOffset = 16;
constexpr size_t kRecordSize = 48;
constexpr size_t kTypes = 8;
constexpr size_t kTotal = 7;
constexpr size_t kReplySize = kRecordsOffset + kTypes * kRecordSize; // 400
constexpr uint8_t kAlarmOverload = 3;

const char *const kTypeNames[kTypes] = {"SFW/NAT/IDS", "IPSec",  "Accounting", "L2TP",
                                        "CRTP",        "System", "Idle",       "Total"};

struct type_record {
    uint64_t bytes_used = 0;
    uint64_t policy_bytes_used = 0;
    uint32_t present = 0;
    uint32_t svc_sets = 0;
    uint32_t percent_used = 0;   // hundredths of a percent
    uint32_t cpu_util = 0;       // hundredths of a percent
    uint32_t percent_policy = 0; // hundredths of a percent
    uint8_t cpu_alarm = 0;
    uint8_t mem_alarm = 0;
};
using type_records = std::array<type_record, kTypes>;

type_records decode(const vorel::ByteBlock<kReplySize> &b) {
    type_records t;
    vorel::ByteReader r = b.reader();
    for (size_t i = 0; i < kTypes; i++) {
        size_t off = kRecordsOffset + i * kRecordSize;
        t[i].bytes_used = r.be64(off);
        t[i].policy_bytes_used = r.be64(off + 8);
        t[i].present = r.be32(off + 16);
        t[i].svc_sets = r.be32(off + 20);
        t[i].percent_used = r.be32(off + 24);
        t[i].cpu_util = r.be32(off + 28);
        t[i].percent_policy = r.be32(off + 32);
        t[i].cpu_alarm = r.u8(off + 40);
        t[i].mem_alarm = r.u8(off + 41);
    }
    return t;
}

// -i names a PIC that is not a multiservices PIC: the per-type view.
bool per_type_view(const svc_set_params &p) {
    if (!p.pic_name)
        return false;
    const asp_info *asp = vorel_db_asp_find_by_name(p.pic_name->c_str());
    return asp && !(asp->flags & ASP_F_MSP);
}

// "mams-1/0/0" -> "ms-1/0/0".
std::string ms_twin(const char *mams_name) {
    return std::string("ms") + (mams_name + 4);
}

// A bundle member whose PIC also has its ms- record is passed over (the
// same PIC is not counted twice).  -i chooses the record of that name, and
// for a member's name its ms- twin as well.
bool admit(const asp_info &asp, const svc_set_params &p) {
    if (svc_set_name_begins(asp, "mams") && vorel_db_asp_find_by_name(ms_twin(asp.name).c_str()))
        return false;
    if (!p.pic_name)
        return true;
    const char *want = p.pic_name->c_str();
    if (std::strncmp(asp.name, want, ASP_NAME_LEN) == 0)
        return true;
    return std::strncmp(want, "mams", 4) == 0 &&
           std::strncmp(asp.name, ms_twin(want).c_str(), ASP_NAME_LEN) == 0;
}

void render_per_type(const asp_info &asp, type_records t) {
    type_record &total = t[kTotal];
    total = type_record{};
    total.present = 1;
    for (size_t i = 0; i < kTotal; i++) {
        total.svc_sets += t[i].svc_sets;
        total.bytes_used += t[i].bytes_used;
        total.percent_used += t[i].percent_used;
        total.cpu_util += t[i].cpu_util;
    }
    xml_send_open("service-set-summary-information-entry");
    xml_send_all("interface-name", "%s", asp.name);
    for (size_t i = 0; i < kTypes; i++) {
        if (!t[i].present)
            continue;
        xml_send_open("service-set-service-type-entry");
        xml_send_all("service-type", "%s", kTypeNames[i]);
        xml_send_all("service-sets-configured", "%u", t[i].svc_sets);
        xml_send_all("service-set-bytes-used", "%llu",
                     static_cast<unsigned long long>(t[i].bytes_used));
        xml_send_all("service-set-percent-bytes-used", "%2.2f", t[i].percent_used / 100.0);
        xml_send_all("service-set-cpu-utilization", "%2.2f", t[i].cpu_util / 100.0);
        xml_send_close("service-set-service-type-entry");
    }
    xml_send_close("service-set-summary-information-entry");
}

void render_summary(const asp_info &asp, const type_record &total) {
    xml_send_open("service-set-summary-information-entry");
    std::string name = svc_set_name_begins(asp, "mams") ? ms_twin(asp.name) : asp.name;
    xml_send_all("interface-name", "%s", name.c_str());
    xml_send_open("service-set-service-type-entry");
    xml_send_all("service-sets-configured", "%u", total.svc_sets);
    xml_send_all("service-set-bytes-used", "%llu",
                 static_cast<unsigned long long>(total.bytes_used));
    xml_send_all("service-set-percent-bytes-used", "%2.2f", total.percent_used / 100.0);
    xml_send_all("service-set-policy-bytes-used", "%llu",
                 static_cast<unsigned long long>(total.policy_bytes_used));
    xml_send_all("service-set-percent-policy-bytes-used", "%2.2f", total.percent_policy / 100.0);
    xml_send_all("service-set-cpu-utilization", "%2.2f %%", total.cpu_util / 100.0);
    if (asp.flags & ASP_F_MSP) {
        if (total.cpu_alarm == kAlarmOverload)
            xml_send_all("service-set-cpu-alarm", "%s", "OVLD");
        if (total.mem_alarm == kAlarmOverload)
            xml_send_all("service-set-memory-alarm", "%s", "OVLD");
    }
    xml_send_close("service-set-service-type-entry");
    xml_send_close("service-set-summary-information-entry");
}

// One of the two exchanges: the reply's records, or false when the send
// failed, nothing came or the PIC answered twice.
bool exchange(services_ui_conn *c, const asp_info &asp, uint16_t request, uint16_t reply,
              uint32_t per_type_flag, type_records &out) {
    vorel::ByteWriter req = vorel_request(request, 1, kRequestSize);
    req.be32(16, per_type_flag);
    if (vorel_send(c, req) < 0)
        return false;
    vorel::ByteBlock<kReplySize> b;
    if (!vorel_receive_block(c, reply, kReplyVersion, asp.name, short_reply::end_answer, &b))
        return false;
    out = decode(b);
    return true;
}

bool answered_twice(services_ui_conn *c, uint16_t reply) {
    return !vorel_receive(c, reply, kReplyVersion).empty();
}

int summary_query(vorel_ctx *, services_ui_conn *c, asp_info *asp, svc_set_info *,
                  svc_set_params *p) {
    bool per_type = per_type_view(*p);
    type_records cpu, mem;
    if (!exchange(c, *asp, kCpuRequest, kCpuReply, per_type, cpu) || answered_twice(c, kCpuReply))
        return 0;
    if (!exchange(c, *asp, kMemRequest, kMemReply, per_type, mem))
        return 0;
    for (size_t i = 0; i < kTypes; i++) {
        mem[i].cpu_util = cpu[i].cpu_util;
        mem[i].cpu_alarm = cpu[i].cpu_alarm;
        mem[i].present |= cpu[i].present;
    }
    if (per_type)
        render_per_type(*asp, mem);
    else
        render_summary(*asp, mem[kTotal]);
    answered_twice(c, kMemReply); // a further reply is discarded
    return 0;
}

int summary_open(vorel_ctx *ctxt, svc_set_params *p) {
    vorel_open_enclosing(ctxt, nullptr, "service-set-summary-information", nullptr,
                         {xml_attr_style(per_type_view(*p) ? "interface-summary" : "summary")});
    return 0;
}

void summary_walk(pic_walk &walk, svc_set_params &p) {
    walk.pic_name = nullptr; // admit applies -i the summary's way
    walk.admit = [&p](const asp_info &asp) { return admit(asp, p); };
}

} // namespace

const svc_set_op svc_set_summary_op = {
    "svc_set_summary",
    {"svc_set_summary", summary_open, svc_set_close_enclosing, summary_query},
    summary_walk,
    svc_set_view::xml_only};
