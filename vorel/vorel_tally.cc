#include "vorel/vorel_tally.h"

#include "platform/xml.h"

#include <cstdio>

int vorel_tally_exchange(services_ui_conn *c, const vorel::ByteWriter &req, uint16_t reply_type,
                         uint16_t version, size_t min_size, const char *who, short_reply on_short,
                         const std::function<void(const vorel::ByteReader &reply)> &render,
                         bool *answered) {
    if (answered)
        *answered = false;
    if (vorel_send(c, req) < 0)
        return -1;
    vorel::ByteReader reply =
        vorel_receive_at_least(c, reply_type, version, min_size, who, on_short);
    if (reply.empty())
        return 0;
    if (answered)
        *answered = true;
    render(reply);
    if (!vorel_receive(c, reply_type, version).empty())
        return -1;
    return 0;
}

void vorel_tally_row(const char *pic_name, const char *svc_set_name, uint32_t count) {
    std::printf("%-16s%-52s%u\n", pic_name, svc_set_name, count);
}

void vorel_tally_entry(const vorel_ctx *ctxt, const char *pic_name, const char *svc_set_name,
                       uint32_t count, const char *element, const char *count_leaf) {
    if (!ctxt->xml) {
        vorel_tally_row(pic_name, svc_set_name, count);
        return;
    }
    xml_send_open(element);
    xml_send_all("interface-name", "%s", pic_name);
    xml_send_all("service-set-name", "%s", svc_set_name);
    xml_send_all(count_leaf, "%u", count);
    xml_send_close(element);
}
