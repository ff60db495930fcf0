// How kernel records travel between the lab's kernel and the kernel
// interface library, over the control socket (service kKernel of
// lab_link.h).  Both sides encode and decode through the functions below,
// so this is the one place where the layouts live.
//
// Requests (numbers big-endian, str16 = u16 length + bytes):
//   kIfdByIndex     u16 index, u8 op (4 exact, 5 next higher index)
//   kIfdByName      str16 name, u8 op (4)
//   kPicGet         u16 fpc, u16 pic, u8 op (4 exact, 5 next in (fpc, pic) order)
//   kGencfgGet      u16 major, u16 minor, u8 key present, u16 key, u8 op (4, 5)
//   kL2tpGroupGet   u16 previous group id, u16 PIC index, u8 op (4 exact, 5 next id)
//   kVrfIndex       str16 routing-instance name
//   kPicChange      u16 fpc, u16 pic, u8 op, u32 value
//   kIfdChangeTlvs  u16 index, u16 attribute type, the attribute value (rest of the body)
//
// Answers: the control frame's status is 0 or an error number (ENOENT: no
// such record or none after the key; EINVAL: a bad operation code).  An
// error answer has an empty body.  Bodies of successful answers:
//   interface record
//     u16 index, str16 name, u8 flags, u32 status, u16 device type,
//     u16 fpc, u16 pic, u16 parent (bundle) index, u16 attribute count,
//     then per attribute: u32 type, u32 value length, value
//   PIC record
//     u16 fpc, u16 pic, u16 PIC id, u32 flags
//   generic configuration record
//     u16 major, u16 minor, u32 flags, u16 key, u8 peer subtype,
//     u8 peer kind, u32 peer index, u32 payload length, u32 stored length,
//     stored bytes.  With flags bit 17 the stored bytes are the bzip2
//     stream of the payload and the payload length is its length once
//     decompressed; otherwise both lengths are equal.
//   tunnel group
//     u16 group id, u16 peer index (FPC x 8 + PIC), u32 data length, data
//     (the group's name, a NUL, then any further group data)
//   routing-instance index: u32
//   changes: empty (the status is the kernel's answer)
// A decoder accepts a body only when every field is present and nothing
// follows the last one.
#pragma once

#include "platform/bytes.h"
#include "platform/rtslib.h"

#include <cstdint>
#include <vector>

namespace vorel::rtslib_wire {

std::vector<uint8_t> encode_ifd(const rtslib_ifd_record &rec);
bool decode_ifd(ByteReader body, rtslib_ifd_record &out);

std::vector<uint8_t> encode_pic(const rtslib_pic_record &rec);
bool decode_pic(ByteReader body, rtslib_pic_record &out);

// A configuration record as the kernel stores it: the record's header
// fields (its payload vector unused), the payload length and the stored
// (possibly compressed) bytes.
struct GencfgWire {
    rtslib_gencfg_record header;
    uint32_t payload_length = 0;
    std::vector<uint8_t> stored;
};
// Size of the record header on the wire, before the stored bytes.
constexpr size_t kGencfgHeaderSize = 24;
std::vector<uint8_t> encode_gencfg(const GencfgWire &rec);
bool decode_gencfg(ByteReader body, GencfgWire &out);

struct GroupWire {
    rtslib_l2tp_tunnel_group header; // length = data.size() when encoding
    std::vector<uint8_t> data;
};
std::vector<uint8_t> encode_group(const GroupWire &rec);
bool decode_group(ByteReader body, GroupWire &out);

} // namespace vorel::rtslib_wire
