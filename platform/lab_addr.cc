// Where the agents listen: the internal address of each PIC and line card
// (kept apart from the control-socket client, which tests may replace).
#include "platform/lab_link.h"

#include <arpa/inet.h>
#include <cstdlib>

namespace vorel::lab_link {

unsigned agent_net() {
    const char *p = std::getenv("VOREL_LAB_NET");
    if (!p || !*p)
        return kDefaultNet;
    char *end = nullptr;
    unsigned long v = std::strtoul(p, &end, 10);
    if (*end || v < 1 || v > 254)
        return kDefaultNet;
    return static_cast<unsigned>(v);
}

static in_addr make_addr(unsigned net, unsigned fpc, unsigned host) {
    in_addr a;
    a.s_addr = htonl(127u << 24 | net << 16 | fpc << 8 | host);
    return a;
}

bool pic_agent_address(unsigned fpc, unsigned pic, in_addr &out, unsigned net) {
    if (fpc > 255 || pic > kMaxPicSlot || net < 1 || net > 254)
        return false;
    out = make_addr(net, fpc, pic + 1);
    return true;
}

bool linecard_agent_address(unsigned fpc, in_addr &out, unsigned net) {
    if (fpc > 255 || net < 1 || net > 254)
        return false;
    out = make_addr(net, fpc, 254);
    return true;
}

} // namespace vorel::lab_link
