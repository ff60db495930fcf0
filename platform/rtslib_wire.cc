#include "platform/rtslib_wire.h"

namespace vorel::rtslib_wire {

namespace {

// Every field read and nothing left over.
bool complete(const ByteCursor &c) {
    return c.ok() && c.remaining() == 0;
}

std::vector<uint8_t> to_vector(ByteReader r) {
    return {r.data(), r.data() + r.size()};
}

} // namespace

std::vector<uint8_t> encode_ifd(const rtslib_ifd_record &rec) {
    ByteAppender a;
    a.be16(rec.index);
    a.str16(rec.name);
    a.u8(rec.flags);
    a.be32(rec.status);
    a.be16(rec.devtype);
    a.be16(rec.fpc_slot);
    a.be16(rec.pic_slot);
    a.be16(rec.parent_index);
    a.be16(static_cast<uint16_t>(rec.attrs.size()));
    for (const auto &attr : rec.attrs) {
        a.be32(attr.type);
        a.be32(static_cast<uint32_t>(attr.value.size()));
        a.bytes(attr.value.data(), attr.value.size());
    }
    return a.take();
}

bool decode_ifd(ByteReader body, rtslib_ifd_record &out) {
    ByteCursor c(body);
    out.index = c.be16();
    out.name = c.str16();
    out.flags = c.u8();
    out.status = c.be32();
    out.devtype = c.be16();
    out.fpc_slot = c.be16();
    out.pic_slot = c.be16();
    out.parent_index = c.be16();
    uint16_t count = c.be16();
    out.attrs.clear();
    // Each attribute takes at least 8 bytes: a claimed count larger than
    // what arrived fails on the first missing one.
    for (uint16_t i = 0; i < count && c.ok(); i++) {
        rtslib_attr attr;
        attr.type = c.be32();
        uint32_t len = c.be32();
        ByteReader value = c.bytes(len);
        if (!c.ok())
            break;
        attr.value = to_vector(value);
        out.attrs.push_back(std::move(attr));
    }
    return complete(c);
}

std::vector<uint8_t> encode_pic(const rtslib_pic_record &rec) {
    ByteAppender a;
    a.be16(rec.fpc_slot);
    a.be16(rec.pic_slot);
    a.be16(rec.pic_id);
    a.be32(rec.flags);
    return a.take();
}

bool decode_pic(ByteReader body, rtslib_pic_record &out) {
    ByteCursor c(body);
    out.fpc_slot = c.be16();
    out.pic_slot = c.be16();
    out.pic_id = c.be16();
    out.flags = c.be32();
    return complete(c);
}

std::vector<uint8_t> encode_gencfg(const GencfgWire &rec) {
    const rtslib_gencfg_record &h = rec.header;
    ByteAppender a;
    a.be16(h.major);
    a.be16(h.minor);
    a.be32(h.flags);
    a.be16(h.key);
    a.u8(h.peer.subtype);
    a.u8(h.peer.kind);
    a.be32(h.peer.index);
    a.be32(rec.payload_length);
    a.be32(static_cast<uint32_t>(rec.stored.size()));
    a.bytes(rec.stored.data(), rec.stored.size());
    return a.take();
}

bool decode_gencfg(ByteReader body, GencfgWire &out) {
    ByteCursor c(body);
    rtslib_gencfg_record &h = out.header;
    h.major = c.be16();
    h.minor = c.be16();
    h.flags = c.be32();
    h.key = c.be16();
    h.peer.subtype = c.u8();
    h.peer.kind = c.u8();
    h.peer.index = c.be32();
    out.payload_length = c.be32();
    uint32_t stored_len = c.be32();
    ByteReader stored = c.bytes(stored_len);
    if (!complete(c))
        return false;
    out.stored = to_vector(stored);
    bool compressed = h.flags & RTSLIB_GENCFG_F_COMPRESSED;
    return compressed || out.payload_length == stored_len;
}

std::vector<uint8_t> encode_group(const GroupWire &rec) {
    ByteAppender a;
    a.be16(rec.header.group_id);
    a.be16(rec.header.peer_index);
    a.be32(static_cast<uint32_t>(rec.data.size()));
    a.bytes(rec.data.data(), rec.data.size());
    return a.take();
}

bool decode_group(ByteReader body, GroupWire &out) {
    ByteCursor c(body);
    out.header.group_id = c.be16();
    out.header.peer_index = c.be16();
    out.header.length = c.be32();
    ByteReader data = c.bytes(out.header.length);
    if (!complete(c))
        return false;
    out.data = to_vector(data);
    return true;
}

} // namespace vorel::rtslib_wire
