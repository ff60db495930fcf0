#include "lab/kernel_module.h"

#include "lab/scenario.h"
#include "platform/bytes.h"
#include "platform/rtslib.h"
#include "platform/rtslib_wire.h"

#include <bzlib.h>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace vorel::lab {

namespace {

namespace wire = rtslib_wire;
using lab_link::Answer;

// ---- Record layouts the scenario's conveniences build ----

// Service-set configuration payload (major 3, minor 14), big-endian.
constexpr uint16_t kSvcSetMajor = 3, kSvcSetMinor = 14;
constexpr size_t kSvcSetPayloadSize = 728;
constexpr size_t kSvcSetName = 12, kSvcSetNameWidth = 64, kSvcSetId = 76, kSvcSetByte87 = 87;
constexpr size_t kSvcSetCountA = 132, kSvcSetWord140 = 140, kSvcSetWord152 = 152;
constexpr size_t kSvcSetWord168 = 168, kSvcSetWord188 = 188;
// Unified-mode service-set record (major 2, minor 134).
constexpr uint16_t kUnifiedMajor = 2, kUnifiedMinor = 134;
constexpr size_t kUnifiedName = 204, kUnifiedId = 196;

// Peer descriptor of a record that names an interface.
constexpr uint8_t kPeerSubtypeInterface = 4, kPeerKindInterface = 1;

constexpr size_t kMaxPayload = 1u << 20;
constexpr size_t kMaxNameLength = RTSLIB_NAME_WIDTH - 1;
constexpr unsigned kMaxFpc = 255, kMaxPic = 7;

uint32_t pic_index(unsigned fpc, unsigned pic) {
    return fpc * 8 + pic;
}

// ---- Faults ----

enum class FaultOp { IfdGet, IfdGetByName, PicGet, GencfgGet, L2tpGet, Vrf, PicChange, IfdChange };

const std::pair<const char *, FaultOp> kFaultOps[] = {
    {"ifd_get", FaultOp::IfdGet},       {"ifd_get_by_name", FaultOp::IfdGetByName},
    {"pic_get", FaultOp::PicGet},       {"gencfg_get", FaultOp::GencfgGet},
    {"l2tp_get", FaultOp::L2tpGet},     {"vrf", FaultOp::Vrf},
    {"pic_change", FaultOp::PicChange}, {"ifd_change", FaultOp::IfdChange},
};

const std::pair<const char *, int> kErrnoNames[] = {
    {"EPERM", EPERM},
    {"ENOENT", ENOENT},
    {"EIO", EIO},
    {"ENXIO", ENXIO},
    {"EBADF", EBADF},
    {"EAGAIN", EAGAIN},
    {"ENOMEM", ENOMEM},
    {"EACCES", EACCES},
    {"EBUSY", EBUSY},
    {"EEXIST", EEXIST},
    {"ENODEV", ENODEV},
    {"EINVAL", EINVAL},
    {"ENOSPC", ENOSPC},
    {"EPIPE", EPIPE},
    {"ERANGE", ERANGE},
    {"ENOSYS", ENOSYS},
    {"EILSEQ", EILSEQ},
    {"EBADMSG", EBADMSG},
    {"EPROTO", EPROTO},
    {"EMSGSIZE", EMSGSIZE},
    {"EOPNOTSUPP", EOPNOTSUPP},
    {"ENOBUFS", ENOBUFS},
    {"ENOTCONN", ENOTCONN},
    {"ETIMEDOUT", ETIMEDOUT},
    {"ECONNREFUSED", ECONNREFUSED},
    {"ECONNRESET", ECONNRESET},
};

// Fails calls of one operation from the (after + 1)-th matching call on.
struct Fault {
    FaultOp op;
    uint64_t after = 0;
    int err = EIO;
    std::optional<std::string> key; // only calls about this key count
    uint64_t calls = 0;
};

// A parent named by index or name, resolved once every interface is known.
struct ParentRef {
    std::string text;
    YAML::Mark mark;
};

struct Interface {
    rtslib_ifd_record rec;
    int line = 0;
    std::optional<ParentRef> parent;
    int32_t switchover_result = 0;
    // The last change of a bundle given as seconds before now: the time is
    // worked out each time the record is read, so that a reader sees that
    // many seconds whenever it asks.
    std::optional<uint32_t> last_change_ago;
};

using GencfgOrder = std::pair<uint16_t, uint16_t>; // (key, minor)

// ---- bzip2, as the kernel stores large payloads ----

bool bz2_compress(const std::vector<uint8_t> &in, std::vector<uint8_t> &out) {
    unsigned int len = static_cast<unsigned int>(in.size() + in.size() / 100 + 600);
    out.assign(len, 0);
    // The library's source pointer is not const, and it refuses a null one
    // even for an empty payload.
    std::vector<uint8_t> src = in;
    src.reserve(1);
    int rc = BZ2_bzBuffToBuffCompress(reinterpret_cast<char *>(out.data()), &len,
                                      reinterpret_cast<char *>(src.data()),
                                      static_cast<unsigned int>(src.size()), 1, 0, 0);
    if (rc != BZ_OK)
        return false;
    out.resize(len);
    return true;
}

// A stream whose first block header is damaged: the decompressor refuses it.
void damage(std::vector<uint8_t> &stream) {
    constexpr size_t kBlockMagic = 4; // after "BZh" and the block-size digit
    if (stream.size() > kBlockMagic)
        stream[kBlockMagic] ^= 0xff;
}

class KernelModule : public Module {
  public:
    const char *name() const override { return "kernel"; }
    std::vector<std::string> sections() const override {
        return {"interfaces",     "pics",          "service_sets",
                "config_records", "tunnel_groups", "routing_instances",
                "kernel_faults"};
    }
    void load(const YAML::Node &root, ScenarioReader &reader) override;
    int start(Runtime &rt, std::string &err) override;
    void stop() override {}

  private:
    // Scenario reading.
    template <class F> void each(const YAML::Node &root, const char *section, F fn);
    void read_interface(const YAML::Node &n);
    void read_redundancy(const YAML::Node &n, Interface &i);
    void read_load_balancing(const YAML::Node &n, Interface &i);
    void read_attrs(const YAML::Node &n, Interface &i);
    void resolve_parents();
    void read_pic(const YAML::Node &n);
    void read_service_set(const YAML::Node &n);
    void read_config_record(const YAML::Node &n);
    std::optional<std::vector<uint8_t>> read_payload(const YAML::Node &n);
    bool read_peer(const YAML::Node &n, rtslib_peer &peer);
    bool peer_of_pic_name(const YAML::Node &n, rtslib_peer &peer);
    bool peer_of_interface(const YAML::Node &n, rtslib_peer &peer);
    void add_record(const YAML::Node &at, wire::GencfgWire rec, std::vector<uint8_t> payload,
                    bool compressed, bool corrupt);
    void read_tunnel_group(const YAML::Node &n);
    void read_routing_instance(const YAML::Node &n);
    void read_fault(const YAML::Node &n);
    std::optional<int> read_errno(const YAML::Node &n);
    const Interface *interface_named(const std::string &name) const;

    // Answers.
    Answer handle(uint16_t op, ByteReader body);
    Answer ifd_by_index(ByteCursor &c);
    int ifd_next(uint16_t index, const Interface **out);
    Answer ifd_walk(ByteCursor &c);
    Answer ifd_by_name(ByteCursor &c);
    Answer pic_get(ByteCursor &c);
    Answer gencfg_get(ByteCursor &c);
    Answer gencfg_walk(ByteCursor &c);
    int gencfg_next(uint16_t major, uint16_t minor, bool key_present, uint16_t key,
                    const wire::GencfgWire **out);
    Answer l2tp_group_get(ByteCursor &c);
    Answer vrf_index(ByteCursor &c);
    Answer pic_change(ByteCursor &c);
    Answer ifd_change(ByteCursor &c);
    int fault(FaultOp op, const std::string &key);
    Answer ifd_answer(const Interface &i) const;

    ScenarioReader *r_ = nullptr;
    Runtime *rt_ = nullptr;
    std::mutex mu_; // answers run on the control socket's connection threads
    std::map<uint16_t, Interface> interfaces_;
    std::map<std::string, uint16_t> index_by_name_;
    std::map<std::pair<uint16_t, uint16_t>, rtslib_pic_record> pics_;
    std::map<uint16_t, std::map<GencfgOrder, wire::GencfgWire>> records_; // by major
    std::map<uint16_t, std::map<uint16_t, std::vector<uint8_t>>> groups_; // PIC index, id
    std::map<std::string, uint32_t> vrfs_;
    std::vector<Fault> faults_;
};

Answer error(int err) {
    Answer a;
    a.status = err;
    return a;
}

Answer body(std::vector<uint8_t> b) {
    Answer a;
    a.body = std::move(b);
    return a;
}

// ---- Scenario reading ----

template <class F> void KernelModule::each(const YAML::Node &root, const char *section, F fn) {
    YAML::Node list = root[section];
    if (!list)
        return;
    if (!list.IsSequence()) {
        r_->error(list, std::string("section '") + section + "' is a list");
        return;
    }
    for (const auto &item : list) {
        if (!item.IsMap()) {
            r_->error(item, std::string("an entry of '") + section + "' is a map of fields");
            continue;
        }
        (this->*fn)(item);
    }
}

void KernelModule::load(const YAML::Node &root, ScenarioReader &reader) {
    r_ = &reader;
    each(root, "interfaces", &KernelModule::read_interface);
    resolve_parents();
    each(root, "pics", &KernelModule::read_pic);
    each(root, "service_sets", &KernelModule::read_service_set);
    each(root, "config_records", &KernelModule::read_config_record);
    each(root, "tunnel_groups", &KernelModule::read_tunnel_group);
    each(root, "routing_instances", &KernelModule::read_routing_instance);
    each(root, "kernel_faults", &KernelModule::read_fault);
    r_ = nullptr; // the reader lives only while the scenario is read
}

// A name that fits the kernel's 60-byte name fields.
std::optional<std::string> checked_name(ScenarioReader &r, const YAML::Node &map, const char *key,
                                        bool required, size_t max = kMaxNameLength) {
    auto name = r.text(map, key, required);
    if (name && (name->empty() || name->size() > max)) {
        r.error(map[key],
                std::string("'") + key + "' must be 1 to " + std::to_string(max) + " characters");
        return std::nullopt;
    }
    return name;
}

void KernelModule::read_interface(const YAML::Node &n) {
    r_->only_keys(n, {"index", "name", "type", "fpc", "pic", "authoritative", "status", "parent",
                      "redundancy", "load_balancing", "attrs"});
    std::optional<uint64_t> index_field = r_->number(n, "index", 65535, true);
    uint16_t index = static_cast<uint16_t>(index_field.value_or(0));
    auto name = checked_name(*r_, n, "name", true, 255);
    auto type = r_->number(n, "type", 65535, true);
    if (index_field && index == 0)
        r_->error(n["index"], "interface index 0 is reserved: the walk starts after it");
    Interface i;
    i.line = n.Mark().line + 1;
    i.rec.fpc_slot = static_cast<uint16_t>(r_->number_or(n, "fpc", 0, kMaxFpc));
    i.rec.pic_slot = static_cast<uint16_t>(r_->number_or(n, "pic", 0, kMaxPic));
    i.rec.flags = r_->flag_or(n, "authoritative", true) ? RTSLIB_IFD_F_AUTHORITATIVE : 0;
    i.rec.status = static_cast<uint32_t>(r_->number_or(n, "status", 0, 0xffffffff));
    if (YAML::Node p = n["parent"]; p && p.IsScalar())
        i.parent = ParentRef{p.Scalar(), p.Mark()};
    else if (p)
        r_->error(p, "'parent' is an interface index or name");
    if (n["redundancy"])
        read_redundancy(n["redundancy"], i);
    if (n["load_balancing"])
        read_load_balancing(n["load_balancing"], i);
    if (n["attrs"])
        read_attrs(n["attrs"], i);
    if (index == 0 || !name || !type)
        return;
    i.rec.index = index;
    i.rec.name = *name;
    i.rec.devtype = static_cast<uint16_t>(*type);
    if (auto it = interfaces_.find(i.rec.index); it != interfaces_.end()) {
        r_->error(n["index"], "duplicate interface index " + std::to_string(i.rec.index) +
                                  " (first at line " + std::to_string(it->second.line) + ")");
        return;
    }
    if (auto it = index_by_name_.find(*name); it != index_by_name_.end()) {
        r_->error(n["name"], "duplicate interface name '" + *name + "' (first at line " +
                                 std::to_string(interfaces_[it->second].line) + ")");
        return;
    }
    index_by_name_[*name] = i.rec.index;
    interfaces_[i.rec.index] = std::move(i);
}

void KernelModule::read_redundancy(const YAML::Node &n, Interface &i) {
    if (!n.IsMap()) {
        r_->error(n, "'redundancy' is a map: primary, secondary, active");
        return;
    }
    r_->only_keys(n, {"primary", "secondary", "active"});
    rtslib_redundancy red;
    red.primary = checked_name(*r_, n, "primary", true).value_or("");
    red.secondary = checked_name(*r_, n, "secondary", true).value_or("");
    red.active = checked_name(*r_, n, "active", false).value_or(red.primary);
    i.rec.attrs.push_back({RTSLIB_ATTR_REDUNDANCY, rtslib_redundancy_encode(red)});
}

void KernelModule::read_load_balancing(const YAML::Node &n, Interface &i) {
    if (!n.IsMap()) {
        r_->error(n, "'load_balancing' is a map: mode, state, ha_type, members, ...");
        return;
    }
    r_->only_keys(n, {"mode", "state", "ha_type", "last_change", "last_change_ago", "members",
                      "switchover_result"});
    rtslib_lb_options lb;
    lb.mode = static_cast<uint8_t>(r_->number_or(n, "mode", RTSLIB_LB_MODE_MEMBERS, 255));
    lb.state = static_cast<uint8_t>(r_->number_or(n, "state", 0, 255));
    lb.ha_type = static_cast<uint8_t>(r_->number_or(n, "ha_type", 0, 255));
    lb.last_change = static_cast<uint32_t>(r_->number_or(n, "last_change", 0, 0xffffffff));
    if (auto ago = r_->number(n, "last_change_ago", 0xffffffff))
        i.last_change_ago = static_cast<uint32_t>(*ago);
    i.switchover_result = static_cast<int32_t>(
        r_->signed_number(n, "switchover_result", INT32_MIN, INT32_MAX).value_or(0));
    YAML::Node members = n["members"];
    if (members && !members.IsSequence())
        r_->error(members, "'members' is a list");
    else if (members && members.size() > RTSLIB_LB_MAX_MEMBERS)
        r_->error(members,
                  "a bundle has at most " + std::to_string(RTSLIB_LB_MAX_MEMBERS) + " members");
    else if (members)
        for (const auto &m : members) {
            if (!m.IsMap()) {
                r_->error(m, "a member is a map: name, type, state, weight");
                continue;
            }
            r_->only_keys(m, {"name", "type", "state", "weight"});
            rtslib_lb_member mem;
            mem.name = checked_name(*r_, m, "name", true).value_or("");
            mem.type =
                static_cast<uint8_t>(r_->number_or(m, "type", RTSLIB_LB_MEMBER_SERVICE, 255));
            mem.state = static_cast<uint8_t>(r_->number_or(m, "state", 0, 255));
            mem.weight = static_cast<int16_t>(
                r_->signed_number(m, "weight", INT16_MIN, INT16_MAX).value_or(0));
            lb.members.push_back(std::move(mem));
        }
    i.rec.attrs.push_back({RTSLIB_ATTR_LOAD_BALANCING, rtslib_lb_encode(lb)});
}

void KernelModule::read_attrs(const YAML::Node &n, Interface &i) {
    if (!n.IsSequence()) {
        r_->error(n, "'attrs' is a list of {type, bytes}");
        return;
    }
    for (const auto &a : n) {
        if (!a.IsMap()) {
            r_->error(a, "an attribute is a map: type, bytes");
            continue;
        }
        r_->only_keys(a, {"type", "bytes"});
        auto type = r_->number(a, "type", 0xffffffff, true);
        std::optional<std::vector<uint8_t>> value;
        if (a["bytes"])
            value = r_->bytes(a["bytes"]);
        else
            r_->error(a, "missing field 'bytes'");
        if (type && value)
            i.rec.attrs.push_back({static_cast<uint32_t>(*type), std::move(*value)});
    }
}

// Parents are named by index or by name, possibly further down the list.
void KernelModule::resolve_parents() {
    for (auto &[index, i] : interfaces_) {
        if (!i.parent)
            continue;
        const std::string &p = i.parent->text;
        uint16_t parent = 0;
        if (!p.empty() && std::isdigit(static_cast<unsigned char>(p[0]))) {
            char *end = nullptr;
            unsigned long v = std::strtoul(p.c_str(), &end, 0);
            parent = *end || v > 65535 ? 0 : static_cast<uint16_t>(v);
        } else if (auto it = index_by_name_.find(p); it != index_by_name_.end()) {
            parent = it->second;
        }
        if (!interfaces_.count(parent)) {
            r_->error_at(i.parent->mark.line, i.parent->mark.column,
                         "unknown parent interface '" + p + "'");
            continue;
        }
        i.rec.parent_index = parent;
    }
}

void KernelModule::read_pic(const YAML::Node &n) {
    r_->only_keys(n, {"fpc", "pic", "id", "flags"});
    auto fpc = r_->number(n, "fpc", kMaxFpc, true);
    auto pic = r_->number(n, "pic", kMaxPic, true);
    auto id = r_->number(n, "id", 65535, true);
    auto flags = r_->number_or(n, "flags", 0, 0xffffffff);
    if (!fpc || !pic || !id)
        return;
    rtslib_pic_record rec;
    rec.fpc_slot = static_cast<uint16_t>(*fpc);
    rec.pic_slot = static_cast<uint16_t>(*pic);
    rec.pic_id = static_cast<uint16_t>(*id);
    rec.flags = static_cast<uint32_t>(flags);
    auto key = std::make_pair(rec.fpc_slot, rec.pic_slot);
    if (pics_.count(key)) {
        r_->error(n, "duplicate PIC " + std::to_string(*fpc) + "/" + std::to_string(*pic));
        return;
    }
    pics_[key] = rec;
}

const Interface *KernelModule::interface_named(const std::string &name) const {
    auto it = index_by_name_.find(name);
    return it == index_by_name_.end() ? nullptr : &interfaces_.at(it->second);
}

// "ms-1/2/0": the PIC of that interface when the scenario has it, else the
// FPC and PIC slots spelt in the name.
bool KernelModule::peer_of_pic_name(const YAML::Node &n, rtslib_peer &peer) {
    const std::string &name = n.Scalar();
    if (const Interface *i = interface_named(name)) {
        peer.index = pic_index(i->rec.fpc_slot, i->rec.pic_slot);
        return true;
    }
    unsigned fpc = 0, pic = 0;
    size_t dash = name.find('-');
    int used = 0;
    if (dash != std::string::npos &&
        std::sscanf(name.c_str() + dash + 1, "%u/%u%n", &fpc, &pic, &used) == 2 && used > 0 &&
        fpc <= kMaxFpc && pic <= kMaxPic) {
        peer.index = pic_index(fpc, pic);
        return true;
    }
    r_->error(n, "cannot tell the FPC and PIC of '" + name + "'");
    return false;
}

bool KernelModule::peer_of_interface(const YAML::Node &n, rtslib_peer &peer) {
    if (!n.IsScalar()) {
        r_->error(n, "'interface' is an interface name");
        return false;
    }
    const Interface *i = interface_named(n.Scalar());
    if (!i) {
        r_->error(n, "unknown interface '" + n.Scalar() + "'");
        return false;
    }
    peer.subtype = kPeerSubtypeInterface;
    peer.kind = kPeerKindInterface;
    peer.index = i->rec.index;
    return true;
}

// {fpc, pic} | {interface: NAME} | {index, subtype, kind}
bool KernelModule::read_peer(const YAML::Node &n, rtslib_peer &peer) {
    if (!n.IsMap()) {
        r_->error(n, "a peer is {fpc, pic}, {interface} or {index, subtype, kind}");
        return false;
    }
    r_->only_keys(n, {"fpc", "pic", "interface", "index", "subtype", "kind"});
    if (n["interface"])
        return peer_of_interface(n["interface"], peer);
    if (n["index"]) {
        auto index = r_->number(n, "index", 0xffffffff, true);
        peer.subtype = static_cast<uint8_t>(r_->number_or(n, "subtype", 0, 255));
        peer.kind = static_cast<uint8_t>(r_->number_or(n, "kind", 0, 255));
        peer.index = static_cast<uint32_t>(index.value_or(0));
        return index.has_value();
    }
    auto fpc = r_->number(n, "fpc", kMaxFpc, true);
    auto pic = r_->number(n, "pic", kMaxPic, true);
    if (!fpc || !pic)
        return false;
    peer.index = pic_index(static_cast<unsigned>(*fpc), static_cast<unsigned>(*pic));
    return true;
}

void KernelModule::add_record(const YAML::Node &at, wire::GencfgWire rec,
                              std::vector<uint8_t> payload, bool compressed, bool corrupt) {
    rtslib_gencfg_record &h = rec.header;
    rec.payload_length = static_cast<uint32_t>(payload.size());
    if (compressed || corrupt) {
        h.flags |= RTSLIB_GENCFG_F_COMPRESSED;
        if (!bz2_compress(payload, rec.stored)) {
            r_->error(at, "cannot compress the payload");
            return;
        }
        if (corrupt)
            damage(rec.stored);
    } else {
        h.flags &= ~RTSLIB_GENCFG_F_COMPRESSED;
        rec.stored = std::move(payload);
    }
    auto &of_major = records_[h.major];
    GencfgOrder order{h.key, h.minor};
    if (of_major.count(order)) {
        r_->error(at, "duplicate configuration record major " + std::to_string(h.major) +
                          " minor " + std::to_string(h.minor) + " key " + std::to_string(h.key));
        return;
    }
    of_major[order] = std::move(rec);
}

void KernelModule::read_service_set(const YAML::Node &n) {
    r_->only_keys(n, {"name", "id", "pic", "interface", "compressed", "corrupt", "rules",
                      "payload_size", "unified"});
    auto name = checked_name(*r_, n, "name", true, kSvcSetNameWidth - 1);
    auto id = r_->number(n, "id", 65535, true);
    bool unified = r_->flag_or(n, "unified", false);
    bool compressed = r_->flag_or(n, "compressed", false);
    bool corrupt = r_->flag_or(n, "corrupt", false);
    auto size = r_->number(n, "payload_size", kMaxPayload);

    wire::GencfgWire rec;
    rec.header.major = unified ? kUnifiedMajor : kSvcSetMajor;
    rec.header.minor = unified ? kUnifiedMinor : kSvcSetMinor;
    rec.header.flags = RTSLIB_GENCFG_F_KEY;
    bool placed = false;
    if (n["interface"] && n["pic"])
        r_->error(n, "a service set names either 'pic' or 'interface'");
    else if (n["interface"])
        placed = peer_of_interface(n["interface"], rec.header.peer);
    else if (n["pic"] && n["pic"].IsScalar())
        placed = peer_of_pic_name(n["pic"], rec.header.peer);
    else if (n["pic"])
        placed = read_peer(n["pic"], rec.header.peer);
    else
        r_->error(n, "a service set needs 'pic' or 'interface'");

    ByteWriter w(kSvcSetPayloadSize);
    if (unified) {
        w.text(kUnifiedName, kSvcSetNameWidth, name.value_or(""));
        w.be16(kUnifiedId, static_cast<uint16_t>(id.value_or(0)));
        if (n["rules"])
            r_->error(n["rules"], "a unified record carries no rules");
    } else {
        w.be16(0, kSvcSetMajor); // payload header: major, minor, length
        w.be16(2, kSvcSetMinor);
        w.be32(4, kSvcSetPayloadSize);
        w.text(kSvcSetName, kSvcSetNameWidth, name.value_or(""));
        w.be16(kSvcSetId, static_cast<uint16_t>(id.value_or(0)));
        if (YAML::Node rules = n["rules"]; rules && rules.IsMap()) {
            r_->only_keys(rules, {"count_a", "word140", "word152", "word168", "word188", "byte87"});
            w.be32(kSvcSetCountA, uint32_t(r_->number_or(rules, "count_a", 0, 0xffffffff)));
            w.be32(kSvcSetWord140, uint32_t(r_->number_or(rules, "word140", 0, 0xffffffff)));
            w.be32(kSvcSetWord152, uint32_t(r_->number_or(rules, "word152", 0, 0xffffffff)));
            w.be32(kSvcSetWord168, uint32_t(r_->number_or(rules, "word168", 0, 0xffffffff)));
            w.be32(kSvcSetWord188, uint32_t(r_->number_or(rules, "word188", 0, 0xffffffff)));
            w.u8(kSvcSetByte87, uint8_t(r_->number_or(rules, "byte87", 0, 255)));
        } else if (rules) {
            r_->error(rules,
                      "'rules' is a map: count_a, word140, word152, word168, word188, byte87");
        }
    }
    std::vector<uint8_t> payload = w.take();
    if (size)
        payload.resize(*size, 0);
    if (!name || !id || !placed)
        return;
    rec.header.key = static_cast<uint16_t>(*id);
    add_record(n, std::move(rec), std::move(payload), compressed, corrupt);
}

// Payload bytes: hex text, a list of numbers, or {size, set: {OFFSET: {u8|be16|be32|text: V}}}.
std::optional<std::vector<uint8_t>> KernelModule::read_payload(const YAML::Node &n) {
    if (!n.IsMap())
        return r_->bytes(n);
    r_->only_keys(n, {"size", "set"});
    auto size = r_->number(n, "size", kMaxPayload, true);
    if (!size)
        return std::nullopt;
    ByteWriter w(*size);
    YAML::Node set = n["set"];
    if (set && !set.IsMap()) {
        r_->error(set, "'set' maps offsets to {u8|be16|be32|text: value}");
        return std::nullopt;
    }
    bool ok = true;
    for (const auto &kv : set ? set : YAML::Node(YAML::NodeType::Map)) {
        auto off = r_->as_number(kv.first, kMaxPayload);
        const YAML::Node &v = kv.second;
        if (!off || !v.IsMap() || v.size() != 1) {
            if (off)
                r_->error(v, "a field is one of {u8: V}, {be16: V}, {be32: V}, {text: V}");
            ok = false;
            continue;
        }
        r_->only_keys(v, {"u8", "be16", "be32", "text"});
        size_t before = r_->errors().size();
        if (v["u8"])
            w.u8(*off, uint8_t(r_->number_or(v, "u8", 0, 255)));
        else if (v["be16"])
            w.be16(*off, uint16_t(r_->number_or(v, "be16", 0, 65535)));
        else if (v["be32"])
            w.be32(*off, uint32_t(r_->number_or(v, "be32", 0, 0xffffffff)));
        else if (auto t = r_->text(v, "text"))
            w.bytes(*off, t->data(), t->size());
        if (!w.ok()) {
            r_->error(kv.first, "field at offset " + std::to_string(*off) +
                                    " does not fit a payload of " + std::to_string(*size) +
                                    " bytes");
            return std::nullopt;
        }
        ok = ok && r_->errors().size() == before;
    }
    if (!ok)
        return std::nullopt;
    return w.take();
}

void KernelModule::read_config_record(const YAML::Node &n) {
    r_->only_keys(n,
                  {"major", "minor", "key", "flags", "peer", "compressed", "corrupt", "payload"});
    auto major = r_->number(n, "major", 65535, true);
    auto minor = r_->number(n, "minor", 65535, true);
    wire::GencfgWire rec;
    rec.header.key = static_cast<uint16_t>(r_->number_or(n, "key", 0, 65535));
    rec.header.flags =
        static_cast<uint32_t>(r_->number_or(n, "flags", RTSLIB_GENCFG_F_KEY, 0xffffffff));
    bool compressed = r_->flag_or(n, "compressed", false);
    bool corrupt = r_->flag_or(n, "corrupt", false);
    bool peer_ok = !n["peer"] || read_peer(n["peer"], rec.header.peer);
    std::optional<std::vector<uint8_t>> payload = std::vector<uint8_t>{};
    if (n["payload"])
        payload = read_payload(n["payload"]);
    if (!major || !minor || !peer_ok || !payload)
        return;
    rec.header.major = static_cast<uint16_t>(*major);
    rec.header.minor = static_cast<uint16_t>(*minor);
    add_record(n, std::move(rec), std::move(*payload), compressed, corrupt);
}

void KernelModule::read_tunnel_group(const YAML::Node &n) {
    r_->only_keys(n, {"id", "name", "fpc", "pic", "data"});
    auto id = r_->number(n, "id", 65535, true);
    auto name = checked_name(*r_, n, "name", true, 255);
    auto fpc = r_->number(n, "fpc", kMaxFpc, true);
    auto pic = r_->number(n, "pic", kMaxPic, true);
    std::optional<std::vector<uint8_t>> extra = std::vector<uint8_t>{};
    if (n["data"])
        extra = r_->bytes(n["data"]);
    if (id && *id == 0) {
        r_->error(n["id"], "tunnel group id 0 is reserved: the walk starts after it");
        return;
    }
    if (!id || !name || !fpc || !pic || !extra)
        return;
    std::vector<uint8_t> data(name->begin(), name->end());
    data.push_back(0);
    data.insert(data.end(), extra->begin(), extra->end());
    auto &of_pic = groups_[static_cast<uint16_t>(
        pic_index(static_cast<unsigned>(*fpc), static_cast<unsigned>(*pic)))];
    if (of_pic.count(static_cast<uint16_t>(*id))) {
        r_->error(n["id"], "duplicate tunnel group id " + std::to_string(*id) + " on PIC " +
                               std::to_string(*fpc) + "/" + std::to_string(*pic));
        return;
    }
    of_pic[static_cast<uint16_t>(*id)] = std::move(data);
}

void KernelModule::read_routing_instance(const YAML::Node &n) {
    r_->only_keys(n, {"name", "index"});
    auto name = checked_name(*r_, n, "name", true, 255);
    auto index = r_->number(n, "index", 0xfffffffe, true);
    if (!name || !index)
        return;
    if (vrfs_.count(*name)) {
        r_->error(n["name"], "duplicate routing instance '" + *name + "'");
        return;
    }
    vrfs_[*name] = static_cast<uint32_t>(*index);
}

std::optional<int> KernelModule::read_errno(const YAML::Node &n) {
    if (!n.IsScalar()) {
        r_->error(n, "'errno' is an error name (EIO) or number");
        return std::nullopt;
    }
    for (const auto &[name, value] : kErrnoNames)
        if (n.Scalar() == name)
            return value;
    if (!std::isdigit(static_cast<unsigned char>(n.Scalar()[0]))) {
        r_->error(n, "unknown error name '" + n.Scalar() + "'");
        return std::nullopt;
    }
    auto v = r_->as_number(n, 4095);
    if (v && *v == 0) {
        r_->error(n, "a fault's error number is not 0");
        return std::nullopt;
    }
    return v ? std::optional<int>(static_cast<int>(*v)) : std::nullopt;
}

void KernelModule::read_fault(const YAML::Node &n) {
    r_->only_keys(n, {"op", "after", "errno", "key"});
    auto op = r_->text(n, "op", true);
    Fault f;
    f.after = r_->number_or(n, "after", 0, UINT32_MAX);
    std::optional<int> err;
    if (n["errno"])
        err = read_errno(n["errno"]);
    else
        r_->error(n, "missing field 'errno'");
    if (n["key"]) {
        if (n["key"].IsScalar())
            f.key = n["key"].Scalar();
        else
            r_->error(n["key"], "'key' is a text or number");
    }
    bool known = false;
    for (const auto &[name, value] : kFaultOps)
        if (op && *op == name) {
            f.op = value;
            known = true;
        }
    if (op && !known)
        r_->error(n["op"], "unknown kernel operation '" + *op +
                               "' (ifd_get, ifd_get_by_name, pic_get, gencfg_get, l2tp_get, "
                               "vrf, pic_change, ifd_change)");
    if (!known || !err)
        return;
    f.err = *err;
    faults_.push_back(std::move(f));
}

// ---- Answers ----

int KernelModule::start(Runtime &rt, std::string &) {
    rt_ = &rt;
    rt.services[lab_link::kKernel] = [this](uint16_t op, ByteReader b) { return handle(op, b); };
    return 0;
}

Answer KernelModule::handle(uint16_t op, ByteReader b) {
    std::lock_guard<std::mutex> g(mu_);
    ByteCursor c(b);
    switch (op) {
    case lab_link::kIfdByIndex:
        return ifd_by_index(c);
    case lab_link::kIfdWalk:
        return ifd_walk(c);
    case lab_link::kIfdByName:
        return ifd_by_name(c);
    case lab_link::kPicGet:
        return pic_get(c);
    case lab_link::kGencfgWalk:
        return gencfg_walk(c);
    case lab_link::kGencfgGet:
        return gencfg_get(c);
    case lab_link::kL2tpGroupGet:
        return l2tp_group_get(c);
    case lab_link::kVrfIndex:
        return vrf_index(c);
    case lab_link::kPicChange:
        return pic_change(c);
    case lab_link::kIfdChangeTlvs:
        return ifd_change(c);
    default:
        return error(ENOSYS);
    }
}

// The error of the faults that fire for this call (the first listed wins),
// else 0.  Every matching fault counts the call.
int KernelModule::fault(FaultOp op, const std::string &key) {
    int err = 0;
    for (auto &f : faults_) {
        if (f.op != op || (f.key && *f.key != key))
            continue;
        bool fires = f.calls >= f.after;
        f.calls++;
        if (fires && !err)
            err = f.err;
    }
    return err;
}

bool whole(const ByteCursor &c) {
    return c.ok() && c.remaining() == 0;
}

bool get_op(uint8_t op) {
    return op == RTSLIB_OP_GET || op == RTSLIB_OP_GET_NEXT;
}

Answer KernelModule::ifd_answer(const Interface &i) const {
    if (!i.last_change_ago)
        return body(wire::encode_ifd(i.rec));
    rtslib_ifd_record rec = i.rec;
    for (rtslib_attr &a : rec.attrs) {
        constexpr size_t kLastChange = 4;
        if (a.type != RTSLIB_ATTR_LOAD_BALANCING || a.value.size() < kLastChange + 4)
            continue;
        auto t =
            static_cast<uint32_t>(std::time(nullptr) - static_cast<time_t>(*i.last_change_ago));
        for (int b = 0; b < 4; b++)
            a.value[kLastChange + b] = static_cast<uint8_t>(t >> (24 - 8 * b));
    }
    return body(wire::encode_ifd(rec));
}

// The steps of a get-next walk answered at once: each step counts as one
// get-next (faults included), and the walk stops at the first step that
// fails, whose answer follows the records.  step(record) answers 0 and
// the step's record, or the error the caller would see.
template <class Step> Answer walk_answer(uint16_t most_records, uint32_t most_bytes, Step step) {
    ByteAppender out;
    out.be16(0);
    uint16_t count = 0;
    int last = 0;
    std::vector<uint8_t> record;
    while (count < most_records && out.size() < most_bytes) {
        last = step(record);
        if (last)
            break;
        out.be32(static_cast<uint32_t>(record.size()));
        out.bytes(record.data(), record.size());
        count++;
    }
    out.be32(static_cast<uint32_t>(last));
    std::vector<uint8_t> b = out.take();
    b[0] = uint8_t(count >> 8);
    b[1] = uint8_t(count);
    return body(std::move(b));
}

// One get-next step of the interface walk: 0 and the interface after
// index, or the error the caller sees.
int KernelModule::ifd_next(uint16_t index, const Interface **out) {
    if (int err = fault(FaultOp::IfdGet, std::to_string(index)))
        return err;
    auto it = interfaces_.upper_bound(index);
    if (it == interfaces_.end())
        return ENOENT;
    *out = &it->second;
    return 0;
}

Answer KernelModule::ifd_by_index(ByteCursor &c) {
    uint16_t index = c.be16();
    uint8_t op = c.u8();
    if (!whole(c) || !get_op(op))
        return error(EINVAL);
    const Interface *next = nullptr;
    if (op == RTSLIB_OP_GET_NEXT) {
        int err = ifd_next(index, &next);
        return err ? error(err) : ifd_answer(*next);
    }
    if (int err = fault(FaultOp::IfdGet, std::to_string(index)))
        return error(err);
    auto it = interfaces_.find(index);
    return it == interfaces_.end() ? error(ENOENT) : ifd_answer(it->second);
}

Answer KernelModule::ifd_walk(ByteCursor &c) {
    uint16_t index = c.be16();
    uint16_t most_records = c.be16();
    uint32_t most_bytes = c.be32();
    if (!whole(c) || most_records == 0)
        return error(EINVAL);
    return walk_answer(most_records, most_bytes, [&](std::vector<uint8_t> &record) {
        const Interface *next = nullptr;
        if (int err = ifd_next(index, &next))
            return err;
        record = ifd_answer(*next).body;
        index = next->rec.index;
        return 0;
    });
}

Answer KernelModule::ifd_by_name(ByteCursor &c) {
    std::string name = c.str16();
    uint8_t op = c.u8();
    if (!whole(c) || op != RTSLIB_OP_GET)
        return error(EINVAL);
    if (int err = fault(FaultOp::IfdGetByName, name))
        return error(err);
    auto it = index_by_name_.find(name);
    return it == index_by_name_.end() ? error(ENOENT) : ifd_answer(interfaces_.at(it->second));
}

Answer KernelModule::pic_get(ByteCursor &c) {
    uint16_t fpc = c.be16();
    uint16_t pic = c.be16();
    uint8_t op = c.u8();
    if (!whole(c) || !get_op(op))
        return error(EINVAL);
    if (int err = fault(FaultOp::PicGet, std::to_string(fpc) + "/" + std::to_string(pic)))
        return error(err);
    auto key = std::make_pair(fpc, pic);
    auto it = op == RTSLIB_OP_GET ? pics_.find(key) : pics_.upper_bound(key);
    return it == pics_.end() ? error(ENOENT) : body(wire::encode_pic(it->second));
}

// Get-next walks one major type by key.  Among records sharing the next
// key, the one of the asked minor type is answered, else the lowest minor:
// the caller continues from the key alone, so answering two records for
// one key would make it see the second again and again.
// One get-next step: 0 and the record, or the error the caller sees.
int KernelModule::gencfg_next(uint16_t major, uint16_t minor, bool key_present, uint16_t key,
                              const wire::GencfgWire **out) {
    // A walk takes thousands of steps: the fault key is made only when
    // there are faults to match it against.
    if (!faults_.empty())
        if (int err =
                fault(FaultOp::GencfgGet, std::to_string(major) + "/" + std::to_string(minor)))
            return err;
    auto m = records_.find(major);
    if (m == records_.end())
        return ENOENT;
    const auto &recs = m->second;
    auto next = recs.begin();
    if (key_present)
        next = key == UINT16_MAX ? recs.end() : recs.lower_bound(GencfgOrder(uint16_t(key + 1), 0));
    if (next == recs.end())
        return ENOENT;
    auto same_minor = recs.find({next->first.first, minor});
    *out = same_minor != recs.end() ? &same_minor->second : &next->second;
    return 0;
}

Answer KernelModule::gencfg_get(ByteCursor &c) {
    uint16_t major = c.be16();
    uint16_t minor = c.be16();
    bool key_present = c.u8() != 0;
    uint16_t key = c.be16();
    uint8_t op = c.u8();
    if (!whole(c) || !get_op(op) || (op == RTSLIB_OP_GET && !key_present))
        return error(EINVAL);
    if (op == RTSLIB_OP_GET) {
        if (int err =
                fault(FaultOp::GencfgGet, std::to_string(major) + "/" + std::to_string(minor)))
            return error(err);
        auto m = records_.find(major);
        if (m == records_.end())
            return error(ENOENT);
        auto it = m->second.find({key, minor});
        return it == m->second.end() ? error(ENOENT) : body(wire::encode_gencfg(it->second));
    }
    const wire::GencfgWire *rec = nullptr;
    if (int err = gencfg_next(major, minor, key_present, key, &rec))
        return error(err);
    return body(wire::encode_gencfg(*rec));
}

Answer KernelModule::gencfg_walk(ByteCursor &c) {
    uint16_t major = c.be16();
    uint16_t minor = c.be16();
    bool key_present = c.u8() != 0;
    uint16_t key = c.be16();
    uint16_t most_records = c.be16();
    uint32_t most_bytes = c.be32();
    if (!whole(c) || most_records == 0)
        return error(EINVAL);
    return walk_answer(most_records, most_bytes, [&](std::vector<uint8_t> &record) {
        const wire::GencfgWire *rec = nullptr;
        if (int err = gencfg_next(major, minor, key_present, key, &rec))
            return err;
        record = wire::encode_gencfg(*rec);
        key_present = true;
        key = rec->header.key;
        return 0;
    });
}

Answer KernelModule::l2tp_group_get(ByteCursor &c) {
    uint16_t prev = c.be16();
    uint16_t pic = c.be16();
    uint8_t op = c.u8();
    if (!whole(c) || !get_op(op))
        return error(EINVAL);
    if (int err = fault(FaultOp::L2tpGet, std::to_string(pic)))
        return error(err);
    auto g = groups_.find(pic);
    if (g == groups_.end())
        return error(ENOENT);
    auto it = op == RTSLIB_OP_GET ? g->second.find(prev) : g->second.upper_bound(prev);
    if (it == g->second.end())
        return error(ENOENT);
    wire::GroupWire w;
    w.header.group_id = it->first;
    w.header.peer_index = pic;
    w.data = it->second;
    return body(wire::encode_group(w));
}

Answer KernelModule::vrf_index(ByteCursor &c) {
    std::string name = c.str16();
    if (!whole(c))
        return error(EINVAL);
    if (int err = fault(FaultOp::Vrf, name))
        return error(err);
    auto it = vrfs_.find(name);
    if (it == vrfs_.end())
        return error(ENOENT);
    ByteAppender a;
    a.be32(it->second);
    return body(a.take());
}

// Changes are logged as asked, whatever the answer.
Answer KernelModule::pic_change(ByteCursor &c) {
    uint16_t fpc = c.be16();
    uint16_t pic = c.be16();
    uint8_t op = c.u8();
    uint32_t value = c.be32();
    if (!whole(c))
        return error(EINVAL);
    rt_->kernel_changes.add("pic_change fpc " + std::to_string(fpc) + " pic " +
                            std::to_string(pic) + " op " + std::to_string(op) + " value " +
                            std::to_string(value));
    return error(fault(FaultOp::PicChange, std::to_string(fpc) + "/" + std::to_string(pic)));
}

// The new value replaces the attribute (or is added) when the kernel
// accepts it.  A bundle's load-balancing change is answered with the
// scenario's switchover result.
Answer KernelModule::ifd_change(ByteCursor &c) {
    uint16_t index = c.be16();
    uint16_t type = c.be16();
    ByteReader value = c.bytes(c.remaining());
    if (!c.ok())
        return error(EINVAL);
    rt_->kernel_changes.add("ifd_change index " + std::to_string(index) + " type " +
                            std::to_string(type) + " bytes " + to_hex(value.data(), value.size()));
    if (int err = fault(FaultOp::IfdChange, std::to_string(index)))
        return error(err);
    auto it = interfaces_.find(index);
    if (it == interfaces_.end())
        return error(ENOENT);
    Interface &i = it->second;
    int answer = type == RTSLIB_ATTR_LOAD_BALANCING ? i.switchover_result : 0;
    if (answer)
        return error(answer);
    std::vector<uint8_t> v(value.data(), value.data() + value.size());
    for (auto &attr : i.rec.attrs)
        if (attr.type == type) {
            attr.value = std::move(v);
            return Answer{};
        }
    i.rec.attrs.push_back({type, std::move(v)});
    return Answer{};
}

} // namespace

std::unique_ptr<Module> make_kernel_module() {
    return std::make_unique<KernelModule>();
}

} // namespace vorel::lab
