#include "vorel/vorel_counters.h"

#include "platform/xml.h"

#include <cstdio>

namespace {

uint64_t fetch(const vorel::ByteReader &r, size_t off, uint8_t width) {
    switch (width) {
    case 1:
        return r.u8(off);
    case 2:
        return r.be16(off);
    case 8:
        return r.be64(off);
    default:
        return r.be32(off);
    }
}

} // namespace

uint64_t vorel_counter_value(const vorel_counter &c, std::span<const vorel::ByteReader> sources) {
    if (c.source >= sources.size())
        return 0;
    const vorel::ByteReader &r = sources[c.source];
    uint64_t v = fetch(r, c.offset, c.width);
    if (c.plus) {
        uint64_t w = fetch(r, c.plus, c.width);
        v = v > UINT64_MAX - w ? UINT64_MAX : v + w;
    }
    return v;
}

void vorel_counters_emit(const vorel_ctx *ctxt, const vorel_counter_group &group,
                         std::span<const vorel::ByteReader> sources, const char *text_fmt) {
    if (ctxt->xml) {
        if (group.element && group.style)
            xml_send_open(group.element, {xml_attr_style(group.style)});
        else if (group.element)
            xml_send_open(group.element);
        for (const vorel_counter &c : group.counters)
            xml_send_all(c.element, "%llu",
                         static_cast<unsigned long long>(vorel_counter_value(c, sources)));
        if (group.element)
            xml_send_close(group.element);
        return;
    }
    if (!text_fmt)
        return;
    for (const vorel_counter &c : group.counters)
        if (c.label)
            std::printf(text_fmt, c.label,
                        static_cast<unsigned long long>(vorel_counter_value(c, sources)));
}
