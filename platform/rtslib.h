// The kernel interface library: reads interface, PIC, generic
// configuration and tunnel-group records from the kernel and asks it for
// PIC and interface changes.
//
// Every operation takes a handle from rtslib_open and answers 0 or an error
// number (ENOENT: no such record / no record after the key; EINVAL: a bad
// argument; ECONNREFUSED/ENOTCONN: no kernel).  A record handed back through
// an out-argument belongs to the library until rtslib_msg_idl_release.
// Operation code 4 asks for the record with the given key, 5 for the record
// that follows it.
//
// The records below are this library's in-memory form.  Configuration
// payloads are handed over decompressed (through the decompressor the
// caller registered) and in the kernel's big-endian layout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vorel {
class ByteReader;
}

struct rtslib_handle;

constexpr int RTSLIB_OP_GET = 4;
constexpr int RTSLIB_OP_GET_NEXT = 5;

// Interface attributes the program reads.
constexpr uint32_t RTSLIB_ATTR_REDUNDANCY = 138;     // value: 3 x char[60]
constexpr uint32_t RTSLIB_ATTR_LOAD_BALANCING = 305; // value: rtslib_lb layout below

// Send and receive buffer sizes of a new handle (rtslib_set_buffers
// changes them).  A record whose payload is larger than the receive buffer
// is refused with EMSGSIZE, as is a change larger than the send buffer.
constexpr uint32_t RTSLIB_DEFAULT_BUFFER = 65536;

// Interface flags byte: bit 7 marks an authoritative record.
constexpr uint8_t RTSLIB_IFD_F_AUTHORITATIVE = 0x80;

// Generic configuration record flags.
constexpr uint32_t RTSLIB_GENCFG_F_KEY = 1u << 1;
constexpr uint32_t RTSLIB_GENCFG_F_COMPRESSED = 1u << 17;

struct rtslib_record {
    virtual ~rtslib_record() = default;
};

struct rtslib_attr {
    uint32_t type = 0;
    std::vector<uint8_t> value;
};

struct rtslib_ifd_record : rtslib_record {
    uint16_t index = 0;
    std::string name;
    uint8_t flags = 0;   // bit 7: authoritative
    uint32_t status = 0; // low four bits set: the interface is not usable
    uint16_t devtype = 0;
    uint16_t fpc_slot = 0;
    uint16_t pic_slot = 0;
    uint16_t parent_index = 0; // pifd: the bundle a member belongs to, else 0
    std::vector<rtslib_attr> attrs;
};

struct rtslib_pic_record : rtslib_record {
    uint16_t fpc_slot = 0;
    uint16_t pic_slot = 0;
    uint16_t pic_id = 0;
    uint32_t flags = 0; // bit 0 read by the timer choice
};

// Peer descriptor of a configuration record: subtype 4 and kind 1 mean
// the peer index is an interface index; otherwise it is FPC x 8 + PIC.
struct rtslib_peer {
    uint8_t subtype = 0;
    uint8_t kind = 0;
    uint32_t index = 0;
};

// Generic configuration records of one major type are walked by key:
// get-next answers the lowest key above the previous one (the first key
// when no key is given).  When several records of that major type share
// the key, the one of the asked minor type comes first, else the one with
// the lowest minor type; the caller passes over other minor types itself.
struct rtslib_gencfg_record : rtslib_record {
    uint16_t major = 0;
    uint16_t minor = 0;
    uint32_t flags = 0; // RTSLIB_GENCFG_F_KEY, RTSLIB_GENCFG_F_COMPRESSED
    uint16_t key = 0;
    rtslib_peer peer;
    std::vector<uint8_t> payload; // decompressed; payload.size() is the payload length
};

struct rtslib_gencfg_query {
    uint16_t major = 0;
    uint16_t minor = 0;
    uint16_t key_length = 2;
    const uint16_t *key = nullptr; // the previous key (host order)
    bool key_present = true;
    // Get-next only: a record of another minor type (a walk meets every
    // record of the major type) comes without its payload, which is then
    // never decompressed.  For callers that pass such records over.
    bool other_minors_bare = false;
};

struct rtslib_l2tp_tunnel_group : rtslib_record {
    uint16_t group_id = 0;
    uint16_t peer_index = 0; // FPC x 8 + PIC
    uint32_t length = 0;     // bytes of group data the kernel holds
};

using rtslib_error_hook = void (*)(const char *text, int level);
// Compressor and decompressor: (destination, in: room / out: bytes written,
// source, source length) -> 0 or an error number.
using rtslib_blob_fn = int (*)(uint8_t *dst, size_t *dst_len, const uint8_t *src, size_t src_len);

// The out_len of a get is the size of the record as the library hands it
// over: its header as the kernel sent it plus the (decompressed) payload.

// mode 3: snapshot and interface data; mode 2: PIC queries.  Null with
// errno set (ENOENT, ECONNREFUSED) when no kernel answers.
rtslib_handle *rtslib_open(int mode);
void rtslib_close(rtslib_handle *h);
int rtslib_set_buffers(rtslib_handle *h, uint32_t send_bytes, uint32_t recv_bytes);
int rtslib_lib_error_register(rtslib_handle *h, int flags, rtslib_error_hook hook);
int rtslib_init_blob_compression(rtslib_handle *h, rtslib_blob_fn compress,
                                 rtslib_blob_fn decompress);

int rtslib_ifdm_get_by_index(rtslib_handle *h, uint16_t index, int op, rtslib_ifd_record **out,
                             size_t *out_len);
int rtslib_ifdm_get_by_name(rtslib_handle *h, const char *name, int op, rtslib_ifd_record **out,
                            size_t *out_len);
int rtslib_pic_get(rtslib_handle *h, uint16_t fpc, uint16_t pic, int op, rtslib_pic_record **out,
                   size_t *out_len);
int rtslib_gencfg_get(rtslib_handle *h, const rtslib_gencfg_query *q, int op,
                      rtslib_gencfg_record **out, size_t *out_len);
uint32_t rtslib_gencfg_get_peer_index(const rtslib_gencfg_record *rec, int flags);
// Fills data (room bytes) with the group's data, its name first.
int rtslib_l2tp_tunnel_group_get(rtslib_handle *h, uint16_t prev_group_id, uint16_t pic_index,
                                 uint8_t *data, size_t room, int op,
                                 rtslib_l2tp_tunnel_group **out);
void rtslib_msg_idl_release(rtslib_handle *h, rtslib_record *rec);

int rtslib_pic_change(rtslib_handle *h, uint16_t fpc, uint16_t pic, int op, uint32_t value);
// attr is the new value of the interface's load-balancing attribute (305),
// the only attribute this library's callers replace; the kernel's answer
// (0 or a switchover result code) is returned.
int rtslib_ifdm_change_tlvs(rtslib_handle *h, uint16_t index, int flags, const uint8_t *attr,
                            size_t len);

// Routing instance index by name; 0xffffffff when unknown.
uint32_t vrf_getindexbyvrfname(const char *name, void *unused, int flags);

// ---- Attribute layouts (this library's in-memory form) ----

// Attribute 138, redundancy members: three NUL-padded names of 60 bytes:
// primary at 0, secondary at 60, active at 120.
// A value shorter than the three names decodes to false (out cleared).
constexpr size_t RTSLIB_NAME_WIDTH = 60;
constexpr size_t RTSLIB_REDUNDANCY_SIZE = 3 * RTSLIB_NAME_WIDTH;
struct rtslib_redundancy {
    std::string primary, secondary, active;
};
bool rtslib_redundancy_decode(const vorel::ByteReader &value, rtslib_redundancy &out);
std::vector<uint8_t> rtslib_redundancy_encode(const rtslib_redundancy &r);

// Attribute 305, load-balancing options (big-endian):
//   0 u8 mode (5 = members listed)      1 u8 bundle state
//   2 u8 HA type                        3 u8 reserved
//   4 u32 time of the last change (seconds since the epoch)
//   8 u32 member count                  12.. member entries of 276 bytes:
//     0 u8 member type (2 = service member)   1 u8 member state
//     2..11 reserved                          12 s16 weight
//     14..15 reserved                         16 char[60] member name
//     76..275 reserved
// The 556-byte switchover request written back with rtslib_ifdm_change_tlvs
// is described at rtslib_lb_switchover_encode.
constexpr size_t RTSLIB_LB_HEADER = 12;
constexpr size_t RTSLIB_LB_MEMBER = 276;
constexpr size_t RTSLIB_LB_SWITCHOVER_SIZE = 556;
constexpr size_t RTSLIB_LB_MAX_MEMBERS = 256;
constexpr uint8_t RTSLIB_LB_MODE_MEMBERS = 5;
constexpr uint8_t RTSLIB_LB_MODE_SWITCHOVER = 6;
constexpr uint8_t RTSLIB_LB_MEMBER_SERVICE = 2;
struct rtslib_lb_member {
    uint8_t type = 0;
    uint8_t state = 0;
    int16_t weight = 0;
    std::string name;
};
struct rtslib_lb_options {
    uint8_t mode = 0;
    uint8_t state = 0;
    uint8_t ha_type = 0;
    uint32_t last_change = 0;
    uint32_t member_count = 0;             // as claimed by the record
    std::vector<rtslib_lb_member> members; // the entries actually present
};
// False when the value is shorter than the header (out cleared).  The
// members decoded are the claimed count clamped to the whole entries
// present and to RTSLIB_LB_MAX_MEMBERS.
bool rtslib_lb_decode(const vorel::ByteReader &value, rtslib_lb_options &out);
// Writes the header and every entry of opts.members (the count written is
// the number of entries; member_count is not consulted).
std::vector<uint8_t> rtslib_lb_encode(const rtslib_lb_options &opts);
// The switchover request: the options header with mode 6 (switch over)
// and member count 1, then one member entry naming the member whose backup
// takes over, zero-padded to 556 bytes.
std::vector<uint8_t> rtslib_lb_switchover_encode(const std::string &member);
