// The kernel interface library over the lab's control socket: every get
// is one request and one answer (layouts in rtslib_wire.h), but for the
// get-next walks, answered ahead a batch of steps per exchange; the library
// turns the answer into its in-memory record, decompressing configuration
// payloads with the caller's decompressor on the way.
#include "platform/rtslib.h"

#include "platform/bytes.h"
#include "platform/lab_link.h"
#include "platform/rtslib_wire.h"
#include "platform/sockio.h"

#include <cerrno>
#include <cstring>
#include <deque>
#include <new>
#include <string>

using vorel::ByteAppender;
using vorel::ByteReader;
namespace lab_link = vorel::lab_link;
namespace wire = vorel::rtslib_wire;

// The records of a get-next walk fetched ahead in one exchange.  A call
// that continues the walk (the key of the record answered last) is served
// from here; a get of the same kind, or a change, drops the batch.
template <class Record> struct walk_batch {
    bool active = false;
    uint16_t next_key = 0; // the key the next call of the walk passes
    std::deque<Record> records;
    int after_last = 0; // the answer of the get-next after the last record; 0: not asked

    bool continues(uint16_t key) const {
        return active && key == next_key && !(records.empty() && after_last == 0);
    }
};
// The configuration walk's batch is of one major and minor type.
struct gencfg_batch : walk_batch<vorel::rtslib_wire::GencfgWire> {
    uint16_t major = 0;
    uint16_t minor = 0;
};
// An interface of the walk, and the size of its record.
struct ifd_step {
    rtslib_ifd_record rec;
    size_t size = 0;
};

struct rtslib_handle {
    lab_link::ControlClient link;
    // The latest answer and the body of the latest walk batch: two buffers
    // that trade places at every batch, so that a walk of thousands of
    // records does not allocate (and fault in) hundreds of kilobytes per
    // exchange.
    lab_link::Answer answer;
    std::vector<uint8_t> batch_body;
    gencfg_batch batch;
    walk_batch<ifd_step> ifds;
    std::string path;
    int mode = 0;
    uint32_t send_bytes = RTSLIB_DEFAULT_BUFFER;
    uint32_t recv_bytes = RTSLIB_DEFAULT_BUFFER;
    rtslib_error_hook error_hook = nullptr;
    rtslib_blob_fn compress = nullptr;
    rtslib_blob_fn decompress = nullptr;
};

namespace {

// The library's own errors go to the caller's hook (level 2 and up are the
// ones a caller logs).
constexpr int kErrorLevel = 2;

void report(rtslib_handle *h, const std::string &text) {
    if (h->error_hook)
        h->error_hook(text.c_str(), kErrorLevel);
}

int errno_or(int fallback) {
    return errno ? errno : fallback;
}

// One exchange with the kernel.  A connection lost earlier is opened again
// first, so that one failed exchange does not make the handle useless.
int exchange(rtslib_handle *h, lab_link::KernelOp op, ByteAppender &req,
             std::vector<uint8_t> &body) {
    if (op == lab_link::kPicChange || op == lab_link::kIfdChangeTlvs) {
        // What was fetched ahead may no longer be what the kernel holds.
        h->batch = gencfg_batch{};
        h->ifds = walk_batch<ifd_step>{};
    }
    errno = 0;
    if (!h->link.connected() && !h->link.connect(h->path))
        return errno_or(ECONNREFUSED);
    lab_link::Answer &a = h->answer;
    if (!h->link.call(lab_link::kKernel, op, req.take(), a))
        return errno_or(EIO);
    if (a.status)
        return a.status;
    body.swap(a.body);
    return 0;
}

int malformed(rtslib_handle *h, const char *what) {
    report(h, std::string("malformed ") + what + " from the kernel");
    return EBADMSG;
}

// Turns the stored bytes of a configuration record into its payload.
int unpack_payload(rtslib_handle *h, wire::GencfgWire &w, std::vector<uint8_t> &payload) {
    const rtslib_gencfg_record &r = w.header;
    if (!(r.flags & RTSLIB_GENCFG_F_COMPRESSED)) {
        payload = std::move(w.stored);
        return 0;
    }
    std::string what = "configuration record " + std::to_string(r.major) + "/" +
                       std::to_string(r.minor) + " key " + std::to_string(r.key);
    if (!h->decompress) {
        report(h, what + ": payload is compressed and no decompressor is registered");
        return EBADMSG;
    }
    // At least one byte of room: a decompressor may refuse a null buffer,
    // even for a stream that holds nothing.
    payload.assign(w.payload_length ? w.payload_length : 1, 0);
    size_t got = payload.size();
    int rc = h->decompress(payload.data(), &got, w.stored.data(), w.stored.size());
    if (rc != 0) {
        int err = rc > 0 ? rc : EBADMSG;
        report(h, what + ": cannot decompress the payload: " + vorel::errno_text(err));
        return err;
    }
    if (got != w.payload_length) {
        report(h, what + ": payload decompressed to " + std::to_string(got) + " bytes, " +
                      std::to_string(w.payload_length) + " expected");
        return EBADMSG;
    }
    payload.resize(got);
    return 0;
}

// Allocates the caller's record or answers ENOMEM (the library never
// throws).
template <class T> T *new_record() {
    return new (std::nothrow) T;
}

constexpr uint16_t kBatchRecords = 256;
constexpr uint32_t kBatchBytes = 256 * 1024;

// Asks for the next steps of a walk into batch b (the request's own
// fields, then the most records and bytes of one answer), handing each
// record to take, which answers false for a record it cannot read.  On
// success the batch is active and holds the answer of the step after the
// last; on failure it is emptied.
template <class Batch, class Take>
int fetch_walk(rtslib_handle *h, lab_link::KernelOp op, ByteAppender &req, const char *record,
               const char *walk, Batch &b, Take take) {
    req.be16(kBatchRecords);
    req.be32(kBatchBytes);
    auto fill = [&]() -> int {
        std::vector<uint8_t> &body = h->batch_body;
        if (int rc = exchange(h, op, req, body))
            return rc;
        vorel::ByteCursor c{ByteReader(body)};
        uint16_t count = c.be16();
        for (uint16_t i = 0; i < count && c.ok(); i++) {
            uint32_t len = c.be32();
            if (!take(c.bytes(len)))
                return malformed(h, record);
        }
        b.after_last = static_cast<int32_t>(c.be32());
        if (!c.ok() || c.remaining() != 0 || (count == 0 && b.after_last == 0))
            return malformed(h, walk);
        return 0;
    };
    if (int rc = fill()) {
        b = Batch{};
        return rc;
    }
    b.active = true;
    return 0;
}

// The end of a walk served from its batch: the answer of the step after
// the last record, the batch dropped.
template <class Batch> int end_of_batch(Batch &b) {
    int rc = b.after_last;
    b = Batch{};
    return rc;
}

// The interface after index, from the walk's batch (fetched when the call
// does not continue it).
int next_ifd(rtslib_handle *h, uint16_t index, rtslib_ifd_record **out, size_t *out_len) {
    walk_batch<ifd_step> &b = h->ifds;
    if (!b.continues(index)) {
        b = walk_batch<ifd_step>{};
        ByteAppender req;
        req.be16(index);
        if (int rc = fetch_walk(h, lab_link::kIfdWalk, req, "interface record", "interface walk", b,
                                [&](ByteReader r) {
                                    ifd_step &s = b.records.emplace_back();
                                    s.size = r.size();
                                    return wire::decode_ifd(r, s.rec);
                                }))
            return rc;
    }
    if (b.records.empty())
        return end_of_batch(b);
    rtslib_ifd_record *rec = new_record<rtslib_ifd_record>();
    if (!rec)
        return ENOMEM;
    ifd_step &s = b.records.front();
    *rec = std::move(s.rec);
    if (out_len)
        *out_len = s.size;
    b.next_key = rec->index;
    b.records.pop_front();
    *out = rec;
    return 0;
}

int get_ifd(rtslib_handle *h, lab_link::KernelOp op, ByteAppender &req, rtslib_ifd_record **out,
            size_t *out_len) {
    std::vector<uint8_t> body;
    if (int rc = exchange(h, op, req, body))
        return rc;
    rtslib_ifd_record *rec = new_record<rtslib_ifd_record>();
    if (!rec)
        return ENOMEM;
    if (!wire::decode_ifd(ByteReader(body), *rec)) {
        delete rec;
        return malformed(h, "interface record");
    }
    *out = rec;
    if (out_len)
        *out_len = body.size();
    return 0;
}

} // namespace

rtslib_handle *rtslib_open(int mode) {
    rtslib_handle *h = new (std::nothrow) rtslib_handle;
    if (!h) {
        errno = ENOMEM;
        return nullptr;
    }
    h->mode = mode;
    h->path = lab_link::control_socket_path();
    errno = 0;
    if (!h->link.connect(h->path)) {
        int err = errno_or(ECONNREFUSED);
        delete h;
        errno = err;
        return nullptr;
    }
    return h;
}

void rtslib_close(rtslib_handle *h) {
    delete h;
}

int rtslib_set_buffers(rtslib_handle *h, uint32_t send_bytes, uint32_t recv_bytes) {
    if (!h || send_bytes == 0 || recv_bytes == 0)
        return EINVAL;
    h->send_bytes = send_bytes;
    h->recv_bytes = recv_bytes;
    return 0;
}

int rtslib_lib_error_register(rtslib_handle *h, int, rtslib_error_hook hook) {
    if (!h)
        return EINVAL;
    h->error_hook = hook;
    return 0;
}

int rtslib_init_blob_compression(rtslib_handle *h, rtslib_blob_fn compress,
                                 rtslib_blob_fn decompress) {
    if (!h)
        return EINVAL;
    h->compress = compress;
    h->decompress = decompress;
    return 0;
}

int rtslib_ifdm_get_by_index(rtslib_handle *h, uint16_t index, int op, rtslib_ifd_record **out,
                             size_t *out_len) {
    if (!h || !out)
        return EINVAL;
    *out = nullptr;
    if (op == RTSLIB_OP_GET_NEXT)
        return next_ifd(h, index, out, out_len);
    h->ifds = walk_batch<ifd_step>{};
    ByteAppender req;
    req.be16(index);
    req.u8(static_cast<uint8_t>(op));
    return get_ifd(h, lab_link::kIfdByIndex, req, out, out_len);
}

int rtslib_ifdm_get_by_name(rtslib_handle *h, const char *name, int op, rtslib_ifd_record **out,
                            size_t *out_len) {
    if (!h || !name || !out)
        return EINVAL;
    *out = nullptr;
    ByteAppender req;
    req.str16(name);
    req.u8(static_cast<uint8_t>(op));
    return get_ifd(h, lab_link::kIfdByName, req, out, out_len);
}

int rtslib_pic_get(rtslib_handle *h, uint16_t fpc, uint16_t pic, int op, rtslib_pic_record **out,
                   size_t *out_len) {
    if (!h || !out)
        return EINVAL;
    *out = nullptr;
    ByteAppender req;
    req.be16(fpc);
    req.be16(pic);
    req.u8(static_cast<uint8_t>(op));
    std::vector<uint8_t> body;
    if (int rc = exchange(h, lab_link::kPicGet, req, body))
        return rc;
    rtslib_pic_record *rec = new_record<rtslib_pic_record>();
    if (!rec)
        return ENOMEM;
    if (!wire::decode_pic(ByteReader(body), *rec)) {
        delete rec;
        return malformed(h, "PIC record");
    }
    *out = rec;
    if (out_len)
        *out_len = body.size();
    return 0;
}

namespace {

// Asks the kernel for the next steps of a configuration walk at once.
int fetch_batch(rtslib_handle *h, const rtslib_gencfg_query *q, bool key_present) {
    gencfg_batch &b = h->batch;
    b = gencfg_batch{};
    ByteAppender req;
    req.be16(q->major);
    req.be16(q->minor);
    req.u8(key_present ? 1 : 0);
    req.be16(key_present ? *q->key : 0);
    if (int rc = fetch_walk(
            h, lab_link::kGencfgWalk, req, "configuration record", "configuration walk", b,
            [&](ByteReader r) { return wire::decode_gencfg(r, b.records.emplace_back()); }))
        return rc;
    b.major = q->major;
    b.minor = q->minor;
    return 0;
}

bool continues_batch(const gencfg_batch &b, const rtslib_gencfg_query *q, bool key_present) {
    return key_present && b.major == q->major && b.minor == q->minor && b.continues(*q->key);
}

// Hands a record over to the caller, its payload unpacked (or left out,
// for a bare record).
int deliver(rtslib_handle *h, wire::GencfgWire &w, rtslib_gencfg_record **out, size_t *out_len,
            bool bare = false) {
    if (w.payload_length > h->recv_bytes)
        return EMSGSIZE;
    rtslib_gencfg_record *rec = new_record<rtslib_gencfg_record>();
    if (!rec)
        return ENOMEM;
    *rec = w.header;
    if (int rc = bare ? 0 : unpack_payload(h, w, rec->payload)) {
        delete rec;
        return rc;
    }
    *out = rec;
    if (out_len)
        *out_len = wire::kGencfgHeaderSize + rec->payload.size();
    return 0;
}

// The next record of the walk as the caller's record (payload unpacked).
int next_from_batch(rtslib_handle *h, const rtslib_gencfg_query *q, rtslib_gencfg_record **out,
                    size_t *out_len) {
    gencfg_batch &b = h->batch;
    if (b.records.empty())
        return end_of_batch(b);
    wire::GencfgWire w = std::move(b.records.front());
    b.records.pop_front();
    b.next_key = w.header.key;
    return deliver(h, w, out, out_len, q->other_minors_bare && w.header.minor != q->minor);
}

} // namespace

int rtslib_gencfg_get(rtslib_handle *h, const rtslib_gencfg_query *q, int op,
                      rtslib_gencfg_record **out, size_t *out_len) {
    if (!h || !q || !out)
        return EINVAL;
    *out = nullptr;
    bool key_present = q->key_present && q->key;
    if (key_present && q->key_length != sizeof(uint16_t))
        return EINVAL;
    if (op == RTSLIB_OP_GET_NEXT) {
        // A walk is answered ahead, a batch of records per exchange.
        if (!continues_batch(h->batch, q, key_present)) {
            if (int rc = fetch_batch(h, q, key_present))
                return rc;
        }
        return next_from_batch(h, q, out, out_len);
    }
    h->batch = gencfg_batch{};
    ByteAppender req;
    req.be16(q->major);
    req.be16(q->minor);
    req.u8(key_present ? 1 : 0);
    req.be16(key_present ? *q->key : 0);
    req.u8(static_cast<uint8_t>(op));
    std::vector<uint8_t> body;
    if (int rc = exchange(h, lab_link::kGencfgGet, req, body))
        return rc;
    wire::GencfgWire w;
    if (!wire::decode_gencfg(ByteReader(body), w))
        return malformed(h, "configuration record");
    return deliver(h, w, out, out_len);
}

uint32_t rtslib_gencfg_get_peer_index(const rtslib_gencfg_record *rec, int) {
    return rec ? rec->peer.index : 0;
}

int rtslib_l2tp_tunnel_group_get(rtslib_handle *h, uint16_t prev_group_id, uint16_t pic_index,
                                 uint8_t *data, size_t room, int op,
                                 rtslib_l2tp_tunnel_group **out) {
    if (!h || !out || (room && !data))
        return EINVAL;
    *out = nullptr;
    ByteAppender req;
    req.be16(prev_group_id);
    req.be16(pic_index);
    req.u8(static_cast<uint8_t>(op));
    std::vector<uint8_t> body;
    if (int rc = exchange(h, lab_link::kL2tpGroupGet, req, body))
        return rc;
    wire::GroupWire w;
    if (!wire::decode_group(ByteReader(body), w))
        return malformed(h, "tunnel group record");
    if (w.data.size() > h->recv_bytes)
        return EMSGSIZE;
    rtslib_l2tp_tunnel_group *rec = new_record<rtslib_l2tp_tunnel_group>();
    if (!rec)
        return ENOMEM;
    *rec = w.header;
    // The caller's buffer gets as much of the data as fits, zero-filled
    // after it.
    size_t n = w.data.size() < room ? w.data.size() : room;
    if (room)
        std::memset(data, 0, room);
    if (n)
        std::memcpy(data, w.data.data(), n);
    *out = rec;
    return 0;
}

void rtslib_msg_idl_release(rtslib_handle *, rtslib_record *rec) {
    delete rec;
}

int rtslib_pic_change(rtslib_handle *h, uint16_t fpc, uint16_t pic, int op, uint32_t value) {
    if (!h)
        return EINVAL;
    ByteAppender req;
    req.be16(fpc);
    req.be16(pic);
    req.u8(static_cast<uint8_t>(op));
    req.be32(value);
    std::vector<uint8_t> body;
    return exchange(h, lab_link::kPicChange, req, body);
}

int rtslib_ifdm_change_tlvs(rtslib_handle *h, uint16_t index, int, const uint8_t *attr,
                            size_t len) {
    if (!h || (len && !attr))
        return EINVAL;
    if (len > h->send_bytes)
        return EMSGSIZE;
    ByteAppender req;
    req.be16(index);
    req.be16(static_cast<uint16_t>(RTSLIB_ATTR_LOAD_BALANCING));
    req.bytes(attr, len);
    std::vector<uint8_t> body;
    return exchange(h, lab_link::kIfdChangeTlvs, req, body);
}

uint32_t vrf_getindexbyvrfname(const char *name, void *, int) {
    constexpr uint32_t kUnknown = 0xffffffffu;
    if (!name)
        return kUnknown;
    ByteAppender req;
    req.str16(name);
    lab_link::Answer a = lab_link::call_once(lab_link::kKernel, lab_link::kVrfIndex, req.take());
    if (a.status)
        return kUnknown;
    vorel::ByteCursor c{ByteReader(a.body)};
    uint32_t index = c.be32();
    return c.ok() && c.remaining() == 0 ? index : kUnknown;
}

// ---- Attribute layouts ----

bool rtslib_redundancy_decode(const ByteReader &value, rtslib_redundancy &out) {
    out = rtslib_redundancy{};
    if (!value.has(0, RTSLIB_REDUNDANCY_SIZE))
        return false;
    out.primary = std::string(value.text(0, RTSLIB_NAME_WIDTH));
    out.secondary = std::string(value.text(RTSLIB_NAME_WIDTH, RTSLIB_NAME_WIDTH));
    out.active = std::string(value.text(2 * RTSLIB_NAME_WIDTH, RTSLIB_NAME_WIDTH));
    return true;
}

std::vector<uint8_t> rtslib_redundancy_encode(const rtslib_redundancy &r) {
    vorel::ByteWriter w(RTSLIB_REDUNDANCY_SIZE);
    w.text(0, RTSLIB_NAME_WIDTH, r.primary);
    w.text(RTSLIB_NAME_WIDTH, RTSLIB_NAME_WIDTH, r.secondary);
    w.text(2 * RTSLIB_NAME_WIDTH, RTSLIB_NAME_WIDTH, r.active);
    return w.take();
}

namespace {

// Offsets inside the load-balancing header and a member entry.
constexpr size_t kLbMode = 0, kLbState = 1, kLbHaType = 2, kLbLastChange = 4, kLbCount = 8;
constexpr size_t kMemberType = 0, kMemberState = 1, kMemberWeight = 12, kMemberName = 16;

void write_member(vorel::ByteWriter &w, size_t at, const rtslib_lb_member &m) {
    w.u8(at + kMemberType, m.type);
    w.u8(at + kMemberState, m.state);
    w.be16(at + kMemberWeight, static_cast<uint16_t>(m.weight));
    w.text(at + kMemberName, RTSLIB_NAME_WIDTH, m.name);
}

} // namespace

bool rtslib_lb_decode(const ByteReader &value, rtslib_lb_options &out) {
    out = rtslib_lb_options{};
    if (!value.has(0, RTSLIB_LB_HEADER))
        return false;
    out.mode = value.u8(kLbMode);
    out.state = value.u8(kLbState);
    out.ha_type = value.u8(kLbHaType);
    out.last_change = value.be32(kLbLastChange);
    out.member_count = value.be32(kLbCount);
    size_t n = value.clamp_count(out.member_count, RTSLIB_LB_HEADER, RTSLIB_LB_MEMBER,
                                 RTSLIB_LB_MAX_MEMBERS);
    for (size_t i = 0; i < n; i++) {
        ByteReader e = value.sub(RTSLIB_LB_HEADER + i * RTSLIB_LB_MEMBER, RTSLIB_LB_MEMBER);
        rtslib_lb_member m;
        m.type = e.u8(kMemberType);
        m.state = e.u8(kMemberState);
        m.weight = e.sbe16(kMemberWeight);
        m.name = std::string(e.text(kMemberName, RTSLIB_NAME_WIDTH));
        out.members.push_back(std::move(m));
    }
    return true;
}

std::vector<uint8_t> rtslib_lb_encode(const rtslib_lb_options &opts) {
    vorel::ByteWriter w(RTSLIB_LB_HEADER + opts.members.size() * RTSLIB_LB_MEMBER);
    w.u8(kLbMode, opts.mode);
    w.u8(kLbState, opts.state);
    w.u8(kLbHaType, opts.ha_type);
    w.be32(kLbLastChange, opts.last_change);
    w.be32(kLbCount, static_cast<uint32_t>(opts.members.size()));
    for (size_t i = 0; i < opts.members.size(); i++)
        write_member(w, RTSLIB_LB_HEADER + i * RTSLIB_LB_MEMBER, opts.members[i]);
    return w.take();
}

std::vector<uint8_t> rtslib_lb_switchover_encode(const std::string &member) {
    vorel::ByteWriter w(RTSLIB_LB_SWITCHOVER_SIZE);
    w.u8(kLbMode, RTSLIB_LB_MODE_SWITCHOVER);
    w.be32(kLbCount, 1);
    rtslib_lb_member m;
    m.type = RTSLIB_LB_MEMBER_SERVICE;
    m.name = member;
    write_member(w, RTSLIB_LB_HEADER, m);
    return w.take();
}
