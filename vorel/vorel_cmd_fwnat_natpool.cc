// NAT pools (dump_natpool): the pools each service set uses, with their
// address ranges, port ranges, port blocks and usage counters, in a brief
// view (one row per pool) or a detailed one (-d).
#include "platform/xml.h"
#include "vorel/vorel_ams_util.h"
#include "vorel/vorel_cmd_fwnat.h"
#include "vorel/vorel_error.h"

#include <cstdio>
#include <string>

namespace {

constexpr uint16_t kPoolRequest = 24, kPoolReply = 25;
constexpr size_t kRequestSize = 80;
constexpr size_t kPoolNameOffset = 16;
constexpr size_t kPoolNameWidth = 64;

constexpr size_t kRangesOffset = 80;
constexpr size_t kRangeSize = 24;
constexpr size_t kMaxRanges = 64;
constexpr size_t kReplySize = 1760;

constexpr size_t kAddrText = 80;

// One pool as the agent describes it.
struct nat_pool {
    std::string name;
    size_t range_count = 0; // clamped to the table
    uint16_t preserve_range, preserve_active;
    uint16_t cfg_port_low, cfg_port_high, port_low, port_high;
    uint32_t ports_in_use, pool_users, port_xlate, out_of_port_errors;
    uint32_t app_exceed_port_limit_errors, parity_port_errors, preserve_range_errors;
    uint32_t addr_alloc_failures, max_ports_in_use, xlate_type, addrs_in_use;
    uint32_t app_port_errors, mem_alloc_errors, avail_addrs, port_blocks;
    uint16_t pb_flags, pb_size, pb_max_per_addr;
    uint32_t pb_active_timeout, pb_effective_blocks, pb_effective_ports;
    uint32_t pb_port_low, pb_port_high, pb_max_used, pb_in_use, pb_alloc_errors;
    uint32_t pb_limit_exceeded, pb_mem_alloc_errors, pb_out_of_port_errors;
    uint32_t eif_inbound, eif_drops, detnat_port_limit_exceeded;
};

constexpr uint16_t kSecuredBlocks = 1u << 0;
constexpr uint16_t kDeterministicBlocks = 1u << 1;

nat_pool read_pool(const vorel::ByteReader &r) {
    nat_pool p;
    p.name = std::string(r.text(kPoolNameOffset, kPoolNameWidth));
    p.range_count = r.clamp_count(r.be32(1616), kRangesOffset, kRangeSize, kMaxRanges);
    p.preserve_range = r.be16(1620);
    p.preserve_active = r.be16(1622);
    p.cfg_port_low = r.be16(1624);
    p.cfg_port_high = r.be16(1626);
    p.port_low = r.be16(1628);
    p.port_high = r.be16(1630);
    p.ports_in_use = r.be32(1632);
    p.pool_users = r.be32(1636);
    p.port_xlate = r.be32(1640);
    p.out_of_port_errors = r.be32(1644);
    p.app_exceed_port_limit_errors = r.be32(1648);
    p.parity_port_errors = r.be32(1652);
    p.preserve_range_errors = r.be32(1656);
    p.addr_alloc_failures = r.be32(1660);
    p.max_ports_in_use = r.be32(1664);
    p.xlate_type = r.be32(1668);
    p.addrs_in_use = r.be32(1672);
    p.app_port_errors = r.be32(1676);
    p.mem_alloc_errors = r.be32(1680);
    p.avail_addrs = r.be32(1688);
    p.port_blocks = r.be32(1692);
    p.pb_flags = r.be16(1696);
    p.pb_size = r.be16(1698);
    p.pb_max_per_addr = r.be16(1700);
    p.pb_active_timeout = r.be32(1704);
    p.pb_effective_blocks = r.be32(1708);
    p.pb_effective_ports = r.be32(1712);
    p.pb_port_low = r.be32(1716);
    p.pb_port_high = r.be32(1720);
    p.pb_max_used = r.be32(1724);
    p.pb_in_use = r.be32(1728);
    p.pb_alloc_errors = r.be32(1732);
    p.pb_limit_exceeded = r.be32(1736);
    p.pb_mem_alloc_errors = r.be32(1740);
    p.pb_out_of_port_errors = r.be32(1744);
    p.eif_inbound = r.be32(1748);
    p.eif_drops = r.be32(1752);
    p.detnat_port_limit_exceeded = r.be32(1756);
    return p;
}

fwnat_pool_range read_range(const vorel::ByteReader &r, size_t i) {
    size_t off = kRangesOffset + i * kRangeSize;
    fwnat_pool_range range;
    for (size_t w = 0; w < 4; w++)
        range.addr[w] = r.be32(off + 4 * w);
    range.count = r.be32(off + 16);
    range.is_v6 = r.be16(off + 20);
    range.prefix_len = r.be16(off + 22);
    return range;
}

const char *xlate_type_name(uint32_t type) {
    static const struct {
        uint32_t type;
        const char *name;
    } names[] = {
        {1, "static"},
        {11, "BASIC NAT44"},
        {12, "DYNAMIC NAT44"},
        {13, "NAPT-44"},
        {14, "DNAT-44"},
        {15, "STATEFUL NAT64"},
        {16, "STATELESS NAT64"},
        {17, "BASIC NAT-PT"},
        {18, "NAPT-PT"},
        {19, "BASIC NAT66"},
        {20, "NPTV6"},
        {21, "NAPT-66"},
        {22, "TWICE NAPT44"},
        {23, "TWICE BASIC NAT44"},
        {24, "TWICE DYNAMIC NAT44"},
        {25, "DETERMINISTIC NAPT44"},
        {26, "STATELESS DETERMINISTIC NAPT44"},
        {27, "STATEFUL NAT464"},
        {28, "DETERMINISTIC NAPT64"},
    };
    for (const auto &row : names)
        if (row.type == type)
            return row.name;
    return "dynamic";
}

// Pools that translate ports, and pools that hand out whole addresses.
bool translates_ports(const nat_pool &p) {
    switch (p.xlate_type) {
    case 2:
    case 13:
    case 15:
    case 25:
    case 27:
    case 28:
        return true;
    case 22:
        return p.port_xlate != 0;
    default:
        return false;
    }
}

bool allocates_addresses(const nat_pool &p) {
    switch (p.xlate_type) {
    case 3:
    case 12:
        return true;
    case 24:
        return p.port_xlate != 0;
    default:
        return false;
    }
}

const char *port_block_type(const nat_pool &p) {
    if (p.pb_flags & kSecuredBlocks)
        return "Secured port block";
    if (p.pb_flags & kDeterministicBlocks)
        return "Deterministic port block";
    return "Unknown port block";
}

// Ports in use per port of the blocks in use, in percent; 0 without blocks.
double port_block_efficiency(const nat_pool &p) {
    double ports = double(p.pb_size) * double(p.pb_in_use);
    return ports == 0 ? 0 : double(p.ports_in_use) / ports * 100;
}

struct range_texts {
    char first[kAddrText], last[kAddrText];
};

range_texts range_text(const vorel::ByteReader &r, size_t i) {
    vorel_addr first, last;
    fwnat_pool_range_bounds(read_range(r, i), &first, &last);
    range_texts t;
    ipaddr_tostring(&first, t.first, sizeof t.first);
    ipaddr_tostring(&last, t.last, sizeof t.last);
    return t;
}

// ---------------------------------------------------------------------------
// Text

void print_brief_text(const nat_pool &p, const vorel::ByteReader &r) {
    for (size_t i = 0; i < p.range_count; i++) {
        range_texts t = range_text(r, i);
        if (i == 0)
            std::printf("%-16s %15s-%-15s %5d-%-5d%10u\n", p.name.c_str(), t.first, t.last,
                        p.port_low, p.port_high, p.ports_in_use);
        else
            std::printf("                 %15s-%-15s\n", t.first, t.last);
    }
}

void print_port_block_text(const nat_pool &p, bool msp) {
    std::printf("    Max number of port blocks used: %u, Current number of port blocks in use: %u, "
                "Port block allocation errors: %u",
                p.pb_max_used, p.pb_in_use, p.pb_alloc_errors);
    if (!msp)
        std::printf(", Port block memory allocation errors: %u", p.pb_mem_alloc_errors);
    std::printf("\n");
    if (p.pb_flags & kDeterministicBlocks)
        std::printf("    DetNAT subscriber exceeded port limits: %u\n",
                    p.detnat_port_limit_exceeded);
    else
        std::printf("    Port blocks limit exceeded errors: %u\n", p.pb_limit_exceeded);
    std::printf("    Unique pool users: %u\n", p.pool_users);
}

void print_detail_text(const nat_pool &p, const vorel::ByteReader &r, bool msp) {
    std::printf("  NAT pool: %s\n", p.name.c_str());
    for (size_t i = 0; i < p.range_count; i++) {
        range_texts t = range_text(r, i);
        std::printf("    Address range: %s-%s\n", t.first, t.last);
    }
    if (allocates_addresses(p)) {
        if (msp)
            std::printf("    Available Addresses: %u\n", p.avail_addrs);
        std::printf("    Addresses in use: %u, Number of address allocation failures: %u\n",
                    p.addrs_in_use, p.addr_alloc_failures);
    }
    if (translates_ports(p)) {
        std::printf("    Configured port range: %5d-%-5d", p.cfg_port_low, p.cfg_port_high);
        if (p.preserve_range)
            std::printf(", Preserve range enabled: %s",
                        p.preserve_active ? "Is active" : "Not active");
        std::printf("\n");
        std::printf("    Port range: %5d-%-5d, Ports in use: %u, Out of port errors: %u, Max "
                    "ports used: %u\n",
                    p.port_low, p.port_high, p.ports_in_use, p.out_of_port_errors,
                    p.max_ports_in_use);
        std::printf("    AP-P port allocation errors: %u\n", p.app_port_errors);
        std::printf("    Memory allocation errors: %u\n", p.mem_alloc_errors);
    }
    if (p.port_blocks)
        print_port_block_text(p, msp);
    if (translates_ports(p)) {
        if (msp)
            std::printf("    EIF Inbound session count: %u, EIF Inbound session Limit exceeded "
                        "drops: %u\n",
                        p.eif_inbound, p.eif_drops);
        else
            std::printf("    Current EIF Inbound flows count: %u, EIF flow limit exceeded "
                        "drops: %u\n",
                        p.eif_inbound, p.eif_drops);
    }
}

// ---------------------------------------------------------------------------
// XML

void send_ranges(const nat_pool &p, const vorel::ByteReader &r) {
    xml_send_open("pool-address-range-list");
    for (size_t i = 0; i < p.range_count; i++) {
        range_texts t = range_text(r, i);
        xml_send_all("pool-address-range", "%s-%s", t.first, t.last);
    }
    xml_send_close("pool-address-range-list");
}

void send_brief_xml(const nat_pool &p, const vorel::ByteReader &r) {
    if (translates_ports(p)) {
        xml_send_all("pool-port-range", "%u-%u", unsigned{p.port_low}, unsigned{p.port_high});
        xml_send_all("pool-ports-in-use", "%u", p.ports_in_use);
    }
    send_ranges(p, r);
    if (!p.port_blocks)
        return;
    xml_send_all("port-block-type", "%s", port_block_type(p));
    xml_send_all("port-block-size", "%u", unsigned{p.pb_size});
    if (!(p.pb_flags & kSecuredBlocks))
        return;
    xml_send_all("active-block-timeout", "%u", p.pb_active_timeout);
    xml_send_all("max-blocks-per-address", "%u", unsigned{p.pb_max_per_addr});
    xml_send_all("effective-pba-port-range", "%u-%u", p.pb_port_low, p.pb_port_high);
    xml_send_all("effective-port-blocks", "%u", p.pb_effective_blocks);
    xml_send_all("effective-ports", "%u", p.pb_effective_ports);
    xml_send_all("port-block-efficiency", "%f%%", port_block_efficiency(p));
}

void send_detail_ports_xml(const nat_pool &p, bool msp) {
    xml_send_all("pool-configured-port-range", "%u-%u", unsigned{p.cfg_port_low},
                 unsigned{p.cfg_port_high});
    if (p.preserve_range)
        xml_send_all("pool-preserve-range-enabled", "%s",
                     p.preserve_active ? "Is active" : "Not active");
    xml_send_all("pool-port-range", "%u-%u", unsigned{p.port_low}, unsigned{p.port_high});
    xml_send_all("pool-ports-in-use", "%u", p.ports_in_use);
    xml_send_all("pool-out-of-port-errors", "%u", p.out_of_port_errors);
    if (msp) {
        xml_send_all("pool-parity-port-errors", "%u", p.parity_port_errors);
        xml_send_all("pool-preserve-range-errors", "%u", p.preserve_range_errors);
    }
    xml_send_all("pool-max-ports-in-use", "%u", p.max_ports_in_use);
    xml_send_all("pool-app-port-errors", "%u", p.app_port_errors);
    xml_send_all("pool-app-exceed-port-limit-errors", "%u", p.app_exceed_port_limit_errors);
    xml_send_all("pool-mem-alloc-errors", "%u", p.mem_alloc_errors);
}

void send_detail_xml(const nat_pool &p, const vorel::ByteReader &r, bool msp) {
    send_ranges(p, r);
    if (allocates_addresses(p)) {
        if (msp)
            xml_send_all("pool-avail-addresses", "%u", p.avail_addrs);
        xml_send_all("pool-addresses-in-use", "%u", p.addrs_in_use);
        xml_send_all("pool-out-of-address-errors", "%u", p.addr_alloc_failures);
    }
    if (translates_ports(p))
        send_detail_ports_xml(p, msp);
    if (p.port_blocks) {
        xml_send_all("port-block-type", "%s", port_block_type(p));
        xml_send_all("max-port-blocks-used", "%u", p.pb_max_used);
        xml_send_all("port-blocks-in-use", "%u", p.pb_in_use);
        xml_send_all("port-block-allocation-errors", "%u", p.pb_alloc_errors);
        xml_send_all("port-block-out-of-port-errors", "%u", p.pb_out_of_port_errors);
        xml_send_all("port-block-mem-alloc-failure-errors", "%u", p.pb_mem_alloc_errors);
        if (p.pb_flags & kDeterministicBlocks)
            xml_send_all("detnat-subscriber-exceeded-port-limits", "%u",
                         p.detnat_port_limit_exceeded);
        else
            xml_send_all("port-blocks-limit-exceeded-errors", "%u", p.pb_limit_exceeded);
        xml_send_all("pool-users", "%u", p.pool_users);
    }
    if (translates_ports(p)) {
        xml_send_all(msp ? "eif-inbound-session-count" : "pool-eif-current-inbound-flows-count",
                     "%u", p.eif_inbound);
        xml_send_all(msp ? "eif-inbound-session-limit-exceed-drop"
                         : "pool-eif-flow-limit-exceeded-drops",
                     "%u", p.eif_drops);
    }
}

void print_pool(const nat_pool &p, const vorel::ByteReader &r, bool detail, bool msp, int xml) {
    if (xml) {
        xml_send_open("service-nat-pool");
        xml_send_all("pool-name", "%s", p.name.c_str());
        xml_send_all("translation-type", "%s", xlate_type_name(p.xlate_type));
        if (detail)
            send_detail_xml(p, r, msp);
        else
            send_brief_xml(p, r);
        xml_send_close("service-nat-pool");
    } else if (detail) {
        print_detail_text(p, r, msp);
    } else {
        print_brief_text(p, r);
    }
}

void print_heading(const asp_info &asp, const svc_set_info &ss, bool detail, int xml) {
    if (xml) {
        char shown[AMS_CONCAT_NAME_LEN];
        xml_send_open("sfw-per-service-set-nat-pool",
                      {xml_attr_style(detail ? "detail" : "brief")});
        xml_send_all("interface-name", "%s", find_and_concat_pifd_name(asp.name, shown));
        xml_send_all("service-set-name", "%s", ss.name);
        return;
    }
    std::printf("PIC: %s, Service set: %s \n", asp.name, ss.name);
    if (!detail)
        std::printf(
            "NAT pool                  Address                   Port         Ports in use \n");
}

// 128-bit arithmetic over four host-order words, word 0 the most
// significant.  add_words says whether the sum passed the top.
bool add_words(uint32_t (&w)[4], uint32_t v) {
    uint64_t carry = v;
    for (int i = 3; i >= 0 && carry; i--) {
        uint64_t sum = uint64_t{w[i]} + carry;
        w[i] = static_cast<uint32_t>(sum);
        carry = sum >> 32;
    }
    return carry != 0;
}

void subtract_one(uint32_t (&w)[4]) {
    for (int i = 3; i >= 0; i--)
        if (w[i]-- != 0)
            break;
}

} // namespace

void fwnat_pool_range_bounds(const fwnat_pool_range &range, vorel_addr *first, vorel_addr *last) {
    *first = vorel_addr{};
    *last = vorel_addr{};
    // An empty range (count 0) shows its one start address rather than an
    // end before its start.
    const uint32_t span = range.count ? range.count - 1 : 0;
    if (!range.is_v6) {
        first->words[0] = range.addr[0];
        uint64_t end = uint64_t{range.addr[0]} + span;
        last->words[0] = end > 0xffffffffu ? 0xffffffffu : static_cast<uint32_t>(end);
        return;
    }
    first->is_v6 = last->is_v6 = 1;
    for (int i = 0; i < 4; i++)
        first->words[i] = last->words[i] = range.addr[i];
    if (range.prefix_len == 0) {
        // Past the top of the address space the end shows as all zero.
        if (add_words(last->words, span))
            *last = vorel_addr{{0, 0, 0, 0}, 1};
        return;
    }
    // A prefix: every host bit set for the end; the first and the last
    // address of the prefix are not shown when it has more than two.
    const unsigned p = range.prefix_len > 128 ? 128 : range.prefix_len;
    for (unsigned i = 0; i < 4; i++) {
        unsigned covered = 32 * i;
        unsigned prefix_bits = p > covered ? (p - covered > 32 ? 32 : p - covered) : 0;
        uint32_t host = prefix_bits == 32 ? 0 : 0xffffffffu >> prefix_bits;
        last->words[i] |= host;
    }
    if (p <= 126) {
        add_words(first->words, 1);
        subtract_one(last->words);
    }
}

int fwnat_natpool_dump_open(vorel_ctx *, fwnat_params *) {
    summary_info = 0;
    vorel_trace("vorel: natpool query start \n");
    xml_subtree_open("service-nat-pool-information");
    return 0;
}

int fwnat_natpool_dump_close(vorel_ctx *, fwnat_params *) {
    vorel_trace("vorel: natpool dump done \n");
    xml_subtree_close();
    xml_subtree_once();
    return 0;
}

int fwnat_natpool_dump_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp, svc_set_info *ss,
                             fwnat_params *p) {
    if (!fwnat_query_args_ok(ctxt, asp, ss, p, true))
        return -1;
    vorel::ByteWriter req = fwnat_request(kPoolRequest, 2, kRequestSize, ss);
    if (p->natpool)
        req.text(kPoolNameOffset, kPoolNameWidth, p->natpool.get());
    if (vorel_send(c, req) < 0)
        return -1;
    vorel_trace("vorel: fwnat natpool query start to receive reply \n");

    const bool msp = asp->flags & ASP_F_MSP;
    bool heading = false;
    vorel::ByteReader reply;
    while (fwnat_receive(c, kPoolReply, 1, kReplySize, *asp, &reply)) {
        if (!heading) {
            print_heading(*asp, *ss, p->detail, ctxt->xml);
            heading = true;
        }
        print_pool(read_pool(reply), reply, p->detail, msp, ctxt->xml);
    }
    vorel_trace("vorel: fwnat natpool reply finished\n");
    if (heading && ctxt->xml)
        xml_send_close("sfw-per-service-set-nat-pool");
    if (heading && !ctxt->xml)
        std::printf("\n");
    return 0;
}

const char *fwnat_xlate_type_name(uint32_t type) {
    return xlate_type_name(type);
}
