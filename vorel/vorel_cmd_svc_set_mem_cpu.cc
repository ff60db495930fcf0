// -C svc_set -S mem and -S cpu: the memory each service set uses and its
// share of the PIC's CPU.  A PIC answers with one table for all its
// service sets (and, on a multiservices PIC, its system entries), fetched
// when the walk meets the PIC's first service set.
#include "vorel/vorel_cmd_svc_set.h"

#include "platform/xml.h"
#include "vorel/vorel_section.h"

#include <cstdio>
#include <string>

namespace {

constexpr uint16_t kMemRequest = 1, kMemReply = 2;
constexpr uint16_t kCpuRequest = 3, kCpuReply = 4;
constexpr uint16_t kReplyVersion = 2;
constexpr size_t kRequestSize = 16;
constexpr size_t kCountOffset = 16;
constexpr size_t kMemEntriesOffset = 24, kMemEntrySize = 16;
constexpr size_t kCpuEntriesOffset = 20, kCpuEntrySize = 44;
constexpr size_t kCpuNameWidth = 32;

struct mem_entry {
    uint64_t bytes_used = 0;
    uint32_t svc_set_id = 0;
    uint32_t style = 0;
};

struct cpu_entry {
    uint32_t cpu_util = 0; // hundredths of a percent
    uint32_t svc_set_id = 0;
    uint32_t style = 0; // 0 for the PIC's system entries
    std::string name;
};

void mem_row(const vorel_ctx *ctxt, const asp_info &asp, const char *svc_set, uint64_t bytes) {
    if (ctxt->xml) {
        xml_send_open("service-set-memory-statistics");
        xml_send_all("service-set-name", "%s", svc_set);
        xml_send_all("interface-name", "%s", asp.name);
        xml_send_all("bytes-used", "%llu", static_cast<unsigned long long>(bytes));
        xml_send_close("service-set-memory-statistics");
    } else {
        std::printf("%-16s%-52s%10llu\n", asp.name, svc_set,
                    static_cast<unsigned long long>(bytes));
    }
}

void cpu_row(const vorel_ctx *ctxt, const asp_info &asp, const char *svc_set, uint32_t util) {
    if (ctxt->xml) {
        xml_send_open("service-set-cpu-statistics");
        xml_send_all("service-set-name", "%s", svc_set);
        xml_send_all("interface-name", "%s", asp.name);
        xml_send_all("cpu-utilization-percent", "%2.2f", util / 100.0);
        xml_send_close("service-set-cpu-statistics");
    } else {
        std::printf("%-16s%-56s%2.2f\n", asp.name, svc_set, util / 100.0);
    }
}

int mem_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp, svc_set_info *,
              svc_set_params *) {
    const svc_set_info *first = vorel_db_svc_set_find_next(asp, nullptr);
    if (!first)
        return 0;
    if (vorel_send(c, svc_set_request(kMemRequest, kRequestSize, first)) < 0)
        return -1; // ends the operation; rows shown stay
    std::vector<mem_entry> table;
    svc_set_read_table(c, kMemReply, kReplyVersion, *asp, kCountOffset, kMemEntriesOffset,
                       kMemEntrySize, table, [](const vorel::ByteReader &r) {
                           return mem_entry{r.be64(0), r.be32(8), r.be32(12)};
                       });
    if ((asp->flags & ASP_F_MSP) && !table.empty())
        mem_row(ctxt, *asp, "system", table.front().bytes_used);
    for (const svc_set_info *ss = first; ss; ss = vorel_db_svc_set_find_next(asp, ss))
        if (const mem_entry *e = svc_set_lookup(table, *asp, *ss, style_match::low2_on_msp))
            mem_row(ctxt, *asp, ss->name, e->bytes_used);
    return 0;
}

int cpu_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp, svc_set_info *,
              svc_set_params *) {
    const svc_set_info *first = vorel_db_svc_set_find_next(asp, nullptr);
    if (!first)
        return 0;
    if (vorel_send(c, svc_set_request(kCpuRequest, kRequestSize, first)) < 0)
        return 0; // the rest of this PIC is skipped
    std::vector<cpu_entry> table;
    svc_set_read_table(c, kCpuReply, kReplyVersion, *asp, kCountOffset, kCpuEntriesOffset,
                       kCpuEntrySize, table, [](const vorel::ByteReader &r) {
                           return cpu_entry{r.be32(0), r.be32(4), r.be32(8),
                                            std::string(r.text(12, kCpuNameWidth))};
                       });
    for (const svc_set_info *ss = first; ss; ss = vorel_db_svc_set_find_next(asp, ss))
        if (const cpu_entry *e = svc_set_lookup(table, *asp, *ss, style_match::low2_on_msp))
            cpu_row(ctxt, *asp, ss->name, e->cpu_util);
    if (asp->flags & ASP_F_MSP)
        for (const cpu_entry &e : table)
            if (e.style == 0)
                cpu_row(ctxt, *asp, e.name.c_str(), e.cpu_util);
    return 0;
}

int mem_open(vorel_ctx *ctxt, svc_set_params *) {
    vorel_open_enclosing(ctxt, nullptr, "service-set-memory-statistics-information",
                         "PIC             Service Set                                          Mem "
                         "Usage\n"
                         "-------------------------------------------------------------------------"
                         "-----\n",
                         {xml_attr_xmlns()});
    return 0;
}

int cpu_open(vorel_ctx *ctxt, svc_set_params *) {
    vorel_open_enclosing(ctxt, nullptr, "service-set-cpu-statistics-information",
                         "PIC             Service Set                                      Cpu "
                         "Usage (%)\n"
                         "-------------------------------------------------------------------------"
                         "-----\n",
                         {xml_attr_xmlns()});
    return 0;
}

} // namespace

const svc_set_op svc_set_mem_op = {
    "mem", {"mem", mem_open, svc_set_close_enclosing, mem_query}, nullptr};
const svc_set_op svc_set_cpu_op = {
    "cpu", {"cpu", cpu_open, svc_set_close_enclosing, cpu_query}, nullptr};
