// Deterministic NAT lookups (-C nat -S detnat): the mapping of one
// internal host (-I), or the internal host behind a translated address and
// port (-E, -P).  Each PIC answers with the one mapping it holds; the view
// exists only in XML.
#include "platform/xml.h"
#include "vorel/vorel_cmd_nat.h"
#include "vorel/vorel_error.h"
#include "vorel/vorel_section.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr uint16_t kDetnatRequest = 226, kDetnatReply = 227;
constexpr size_t kRequestSize = 128;
constexpr size_t kReplySize = 188;
constexpr size_t kNameWidth = 64;

constexpr uint32_t kByInternalHost = 1, kByTranslation = 2;

// The address text as IPv4, else as IPv6, into *out (host-order words).
bool parse_host(const char *text, vorel_addr *out) {
    uint8_t bytes[16];
    *out = vorel_addr{};
    if (inet_pton(AF_INET, text, bytes) == 1) {
        out->words[0] = vorel::ByteReader(bytes, 4).be32(0);
        return true;
    }
    if (inet_pton(AF_INET6, text, bytes) != 1)
        return false;
    vorel::ByteReader r(bytes, 16);
    for (size_t i = 0; i < 4; i++)
        out->words[i] = r.be32(4 * i);
    out->is_v6 = 1;
    return true;
}

// Fills the lookup of the request; false (reported) when the command line
// does not name one.
bool write_lookup(vorel::ByteWriter &req, const fwnat_params &p) {
    vorel_addr addr;
    if (p.internal_host) {
        if (!parse_host(p.internal_host.get(), &addr)) {
            vorel_user_message("vorel: Invalid IP.\n");
            return false;
        }
        if (p.nat_ip_text || p.nat_port_text)
            vorel_user_message("vorel: unexpected parameters\n");
        req.be32(16, kByInternalHost);
        vorel_addr_write(req, 84, addr);
        return true;
    }
    if (!p.nat_ip_text || !p.nat_port_text) {
        vorel_user_message("vorel: invalid arguments\n");
        return false;
    }
    if (!parse_host(p.nat_ip_text.get(), &addr) || addr.is_v6) {
        vorel_note_failure("a translated address is an IPv4 address: %s", p.nat_ip_text.get());
        return false;
    }
    req.be32(16, kByTranslation);
    vorel_addr_write(req, 104, addr);
    req.be16(124, static_cast<uint16_t>(std::strtoul(p.nat_port_text.get(), nullptr, 10)));
    return true;
}

void send_mapping(const vorel::ByteBlock<kReplySize> &b, const asp_info &asp) {
    std::string svc_set(b.text<80, kNameWidth>());
    std::string pool(b.text<16, kNameWidth>());
    vorel::ByteReader r = b.reader();
    xml_send_all("service-set-name", "%s", svc_set.c_str());
    xml_send_all("interface-name", "%s", asp.name);
    xml_send_all("pool-name", "%s", pool.c_str());
    xml_send_all("detnat-internal-host", "%s", nat_addr_text(vorel_addr_read(r, 144)).c_str());
    xml_send_all("detnat-nat-ip", "%s", nat_addr_text(vorel_addr_read(r, 164)).c_str());
    xml_send_all("detnat-nat-port-low", "%u", unsigned{b.be16<184>()});
    xml_send_all("detnat-nat-port-high", "%u", unsigned{b.be16<186>()});
}

} // namespace

int fwnat_detnat_dump_open(vorel_ctx *ctxt, fwnat_params *) {
    summary_info = 0;
    nat_text_mode_refused(ctxt, ""); // says once that the view needs -X
    vorel_open_enclosing(ctxt, "vorel: detnat query start \n", "service-detnat-information",
                         nullptr);
    return 0;
}

int fwnat_detnat_dump_close(vorel_ctx *ctxt, fwnat_params *) {
    vorel_close_enclosing(ctxt, "vorel: detnat dump done \n", nullptr);
    return 0;
}

int fwnat_detnat_dump_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp, svc_set_info *ss,
                            fwnat_params *p) {
    if (!fwnat_query_args_ok(ctxt, asp, ss, p, false))
        return -1;
    vorel::ByteWriter req = fwnat_request(kDetnatRequest, 1, kRequestSize, ss);
    if (!write_lookup(req, *p))
        return -1;
    if (p->natpool)
        req.text(20, kNameWidth, p->natpool.get());
    if (vorel_send(c, req) < 0)
        return -1;
    vorel_trace("vorel: fwnat detnat query start to receive reply\n");
    vorel::ByteBlock<kReplySize> b;
    if (!vorel_receive_block(c, kDetnatReply, 1, asp->name, short_reply::end_answer, &b)) {
        vorel_trace("vorel: fwnat detnat reply finished\n");
        return 0;
    }
    if (nat_text_mode_refused(ctxt, "fwnat_detnat_dump_query:262 Non-XML response\n"))
        return 0;
    send_mapping(b, *asp);
    return 0;
}
