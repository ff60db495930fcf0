// The softwire commands' drivers, as the shared walk's records, filter,
// open call and loop: the service PICs (per service set or per PIC) for
// "softwire", the line cards behind the "si" service interfaces for
// "inline-softwire".  An unreachable PIC or line card ends the walk: the
// open call's error routine ends the run.
#include "vorel/vorel_cmd_sw.h"

#include "platform/xml.h"
#include "vorel/vorel_error.h"
#include "vorel/vorel_string.h"

#include <cstring>

namespace {

bool is_dump_stats(const softwire_params &p) {
    return p.action && *p.action == "dump_stats";
}

// Without -i the PIC statistics pass over the bundle members' "mams"
// records: the bundle reports through its members' own records.
std::function<bool(const asp_info &)> softwire_admit(const softwire_params &p) {
    if (p.if_name || !is_dump_stats(p))
        return nullptr;
    return [](const asp_info &asp) { return !sw_name_begins(asp.name, "mams"); };
}

pic_loop softwire_loop(const softwire_params &p) {
    if (p.pic_based)
        return vorel_loop_pic("calling pic-based handlers->query \n");
    return vorel_loop_svc_sets(sw_text(p.svc_set_name), svc_set_kinds::kind0_and_1,
                               "calling handlers->query \n");
}

} // namespace

bool sw_name_begins(const char *name, const char *prefix) {
    return std::strncmp(name, prefix, std::strlen(prefix)) == 0;
}

int softwire_run_action(vorel_ctx *ctxt, softwire_params *p, bool *ran) {
    pic_walk walk;
    walk.records = walk_records::asp;
    walk.pic_name = sw_text(p->if_name);
    walk.admit = softwire_admit(*p);
    walk.open_channel = vorel_open_pic_fatal;
    walk.on_open_failure = open_failure::stop_walk;
    walk.loop = softwire_loop(*p);
    walk.on_query_failure = query_failure::stop_walk;
    return vorel_run_action(softwire_cmd_handlers_table, sw_text(p->action), walk, ctxt, p,
                            "vorel: softwire action %s is not supported yet\n", ran);
}

int si_sw_run_action(vorel_ctx *ctxt, softwire_params *p, bool *ran) {
    pic_walk walk;
    walk.records = walk_records::service_interfaces;
    // With -i only that record (a name that is not a service interface's
    // never gets here); without it every "si" record.
    walk.pic_name = sw_text(p->if_name);
    if (!p->if_name)
        walk.admit = [](const asp_info &si) { return sw_name_begins(si.name, "si"); };
    walk.open_channel = vorel_open_inline_fatal;
    walk.on_open_failure = open_failure::stop_walk;
    walk.loop = vorel_loop_pic();
    walk.on_query_failure = query_failure::stop_walk;
    return vorel_run_action(si_sw_cmd_handlers_table, sw_text(p->action), walk, ctxt, p,
                            "vorel: softwire action %s is not supported \n", ran);
}

// ---- What every query of the family sends ----

vorel::ByteWriter sw_request(uint16_t type, uint16_t version, size_t size, const svc_set_info *ss) {
    constexpr size_t kStyleOffset = 8;
    vorel::ByteWriter w = vorel_request(type, version, size, ss ? ss->id : 0);
    w.u8(kStyleOffset, ss ? ss->style : 'B');
    return w;
}

void sw_addr_write(vorel::ByteWriter &w, size_t off, const softwire_addr &a) {
    for (size_t i = 0; i < 4; i++)
        w.be32(off + 4 * i, a.words[i]);
    w.le32(off + 16, a.is_v6 ? 1 : 0);
}

void sw_prefix_block_write(vorel::ByteWriter &w, size_t off, const softwire_params &p) {
    sw_addr_write(w, off, p.sprefix);
    sw_addr_write(w, off + SOFTWIRE_ADDR_LEN, p.smask);
    sw_addr_write(w, off + 2 * SOFTWIRE_ADDR_LEN, p.dprefix);
    sw_addr_write(w, off + 3 * SOFTWIRE_ADDR_LEN, p.dmask);
}

void sw_refuse_pic(const vorel_ctx *ctxt, const char *element, const asp_info &asp) {
    if (ctxt->xml) {
        xml_send_open(element);
        xml_send_all("interface-name", "%s", asp.name);
    }
    vorel_xml_error(1, "This command is not supported on %s interface\n\n", asp.name);
    if (ctxt->xml)
        xml_send_close(element);
}

bool sw_query_args_ok(const vorel_ctx *ctxt, const asp_info *asp, const svc_set_info *ss,
                      const softwire_params *p) {
    if (!ctxt || !asp || !p)
        return false;
    if (ss)
        return true;
    vorel_xml_error(1,
                    "vorel: softwire action %s shows service sets; a per-PIC view does not "
                    "apply to it\n",
                    vorel_str_or_null(sw_text(p->action)));
    return false;
}
