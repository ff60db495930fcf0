// NPTv6 address translation (-C nat -S mapping-nptv6, and the inline-nat
// command): the address that one address (-w a) translates to through the
// NPTv6 pools of each service set.  -w i: the address given is internal,
// the answer external; -w e (the default): the other way round.  The first
// service set that maps the address answers.
#include "platform/xml.h"
#include "vorel/vorel_cmd_nat.h"
#include "vorel/vorel_error.h"
#include "vorel/vorel_section.h"

#include <cstdio>
#include <string>

namespace {

constexpr uint16_t kNptv6Request = 169, kNptv6Reply = 170;
constexpr size_t kRequestSize = 44;
constexpr size_t kReplySize = 104;
constexpr size_t kPoolNameWidth = 64;

constexpr uint32_t kGivenInternal = 1, kGivenExternal = 2;
constexpr uint32_t kRequestConstant = 12;

void show_mapping(const vorel_ctx *ctxt, const asp_info &asp, const svc_set_info *ss,
                  const std::string &pool, const vorel_addr &internal, const vorel_addr &external) {
    const char *ss_name = ss ? ss->name : "";
    if (ctxt->xml) {
        xml_send_all("nptv6-interface-name", "%s", asp.name);
        xml_send_all("nptv6-service-set", "%s", ss_name);
        xml_send_all("nptv6-pool-name", "%s", pool.c_str());
        xml_send_all("nptv6-internal-ip", "%s", nat_addr_text(internal).c_str());
        xml_send_all("nptv6-external-ip", "%s", nat_addr_text(external).c_str());
        return;
    }
    std::printf("Interface      Service-set     Nat-pool     Address Mapping\n");
    std::printf("%8s %8s %8s %38s -> %38s\n", asp.name, ss_name, pool.c_str(),
                nat_addr_text(internal).c_str(), nat_addr_text(external).c_str());
}

} // namespace

constexpr vorel_enclosing kNptv6DumpEnclosing{"vorel: natmapping nptv6 query start \n",
                                              "service-nat-mapping-nptv6-information", nullptr,
                                              "vorel: natmapping dump done \n"};
FWNAT_ENCLOSING_CALLBACKS(fwnat_nptv6_mapping_dump, kNptv6DumpEnclosing)

int fwnat_nptv6_mapping_dump_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp,
                                   svc_set_info *ss, fwnat_params *p) {
    if (!fwnat_query_args_ok(ctxt, asp, ss, p, true))
        return -1;
    // The session engine's PICs do not translate prefixes.
    if (asp->flags & ASP_F_MSP) {
        nat_not_supported_on(ctxt, asp->name);
        return 0;
    }
    vorel::ByteWriter req = fwnat_request(kNptv6Request, 1, kRequestSize, ss);
    vorel_addr_write(req, 16, p->b4_addr);
    req.le32(36, p->detail ? kGivenInternal : kGivenExternal);
    req.be32(40, kRequestConstant);
    if (vorel_send(c, req) < 0)
        return -1;
    vorel_trace("vorel: fwnat natmapping query start to receive reply\n");
    vorel::ByteBlock<kReplySize> b;
    while (vorel_receive_block(c, kNptv6Reply, 1, asp->name, short_reply::skip, &b)) {
        if (p->stats_subcmd != FWNAT_MAPPINGS_NPTV6 || b.u8<100>() != 0)
            continue;
        vorel_addr translated = vorel_addr_read(b.reader(), 16);
        std::string pool(b.text<36, kPoolNameWidth>());
        if (p->detail)
            show_mapping(ctxt, *asp, ss, pool, p->b4_addr, translated);
        else
            show_mapping(ctxt, *asp, ss, pool, translated, p->b4_addr);
        return 0;
    }
    return 0;
}
