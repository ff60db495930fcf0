// Loading the Configuration snapshot from the kernel.
//
// Five passes, each ended by the first failed kernel query (earlier passes'
// results stay, later passes still run):
//   1. PICs from the interface records (bundles, members, redundant pairs);
//   2. PIC modes from the PICs' own configuration records;
//   3. service sets from the service-set configuration records (and the
//      major 19 records);
//   4. L2TP tunnel groups;
//   5. pruning of PICs without service sets.
// Payloads are read through ByteReader: a payload shorter than the offsets
// read is skipped with a debug line, never read past.
#include "platform/bytes.h"
#include "platform/chassis.h"
#include "platform/logging.h"
#include "platform/rtslib.h"
#include "vorel/vorel_ams_util.h"
#include "vorel/vorel_db.h"
#include "vorel/vorel_error.h"
#include "vorel/vorel_files.h"
#include "vorel/vorel_ifd.h"
#include "vorel/vorel_string.h"

#include <algorithm>
#include <bzlib.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <syslog.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr uint32_t kKernelBufferSize = 524652;

constexpr uint16_t kMajorServiceConfig = 3;
constexpr uint16_t kMinorServiceSet = 14;
constexpr uint16_t kMinorPicConfig = 19;
constexpr uint16_t kMajorUnifiedServiceConfig = 2;
constexpr uint16_t kMinorUnifiedServiceSet = 134;
constexpr uint16_t kMajorServiceSetV4 = 19;
constexpr uint16_t kMinorServiceSetV4 = 1;

constexpr size_t kPicModeOffset = 220;
constexpr uint8_t kLbModeMembersListed = 5;
constexpr uint8_t kLbServiceMember = 2;

bool is_handled_devtype(uint16_t t) {
    switch (t) {
    case 53:
    case 65:
    case 72:
    case 102:
    case 129:
    case 132:
    case 146:
    case 153:
    case 154:
        return true;
    default:
        return false;
    }
}

bool is_redundant_pair(uint16_t t) {
    return t == 129 || t == 132;
}

struct loader {
    rtslib_handle *h = nullptr;
    const char *only_svc_set = nullptr;
    bool dump = false;

    int add_interface(const rtslib_ifd_record &ifd, uint16_t ifd_index);
    int resolve_redundant_pair(const rtslib_ifd_record &ifd, uint16_t &fpc, uint16_t &pic,
                               uint16_t &peer_fpc, uint16_t &peer_pic);
    int pass_interfaces();
    int pass_pic_modes();
    int pass_service_sets(bool unified);
    int pass_service_sets_v4();
    int pass_tunnel_groups();
    void pass_prune();
    int add_service_set_to(uint16_t fpc, uint16_t pic, uint16_t ifd_index, const svc_set_info &ss);
    int service_set_pics(const rtslib_gencfg_record &rec, std::vector<asp_key> &targets);
    void dump_file(const std::string &path, const std::vector<uint8_t> &bytes,
                   const uint8_t *data = nullptr, size_t len = 0);
};

bool name_wanted(const char *only, const char *name) {
    return !only || std::strncmp(only, name, SVC_SET_NAME_LEN) == 0;
}

void copy_name(char *dst, size_t width, std::string_view src) {
    std::string s(src.substr(0, width - 1));
    vorel_strlcpy(dst, s.c_str(), width);
}

// Redundant pair: the active member first, the other member second.  0 with
// the slots; an error number when a member cannot be read; -1 when a member
// is itself a redundant pair (the interface is then passed over).
int loader::resolve_redundant_pair(const rtslib_ifd_record &ifd, uint16_t &fpc, uint16_t &pic,
                                   uint16_t &peer_fpc, uint16_t &peer_pic) {
    rtslib_redundancy red;
    const rtslib_attr *attr = nullptr;
    for (const auto &a : ifd.attrs)
        if (a.type == RTSLIB_ATTR_REDUNDANCY && !attr)
            attr = &a;
    if (!attr || !rtslib_redundancy_decode(vorel::ByteReader(attr->value), red)) {
        vorel_trace("vorel: %s has no redundancy members\n", ifd.name.c_str());
        return -1;
    }
    const std::string &second = red.active == red.primary ? red.secondary : red.primary;
    owned_ifd active(h), other(h);
    if (int rc = vorel_ifd_fetch_by_name(h, red.active, active))
        return rc;
    if (int rc = vorel_ifd_fetch_by_name(h, second, other))
        return rc;
    if (is_redundant_pair(active->devtype) || is_redundant_pair(other->devtype)) {
        vorel_trace("vorel: %s: a member of a redundant pair is itself a pair\n", ifd.name.c_str());
        return -1;
    }
    fpc = active->fpc_slot;
    pic = active->pic_slot;
    peer_fpc = other->fpc_slot;
    peer_pic = other->pic_slot;
    return 0;
}

// Adds one interface as a PIC record.  0 (also when it is passed over), or
// an error number that ends the pass.
int loader::add_interface(const rtslib_ifd_record &ifd, uint16_t ifd_index) {
    auto rec = std::make_unique<asp_info>();
    rec->ifd_index = ifd_index;
    if (is_redundant_pair(ifd.devtype)) {
        int rc = resolve_redundant_pair(ifd, rec->fpc_slot, rec->pic_slot, rec->peer_fpc_slot,
                                        rec->peer_pic_slot);
        if (rc > 0)
            return rc;
        if (rc < 0)
            return 0;
    } else {
        rec->fpc_slot = ifd.fpc_slot;
        rec->pic_slot = ifd.pic_slot;
    }
    if (ifd.status & 0xf)
        return 0;
    copy_name(rec->name, ASP_NAME_LEN, ifd.name);
    if (ifd.devtype == 102 || ifd.devtype == 129 || ifd.devtype == 154)
        rec->flags |= ASP_F_MSP;
    if (ifd.devtype == 146)
        rec->flags |= ASP_F_SI;
    bool replace = (ifd.flags & RTSLIB_IFD_F_AUTHORITATIVE) ||
                   (ifd.name.compare(0, 3, "ams") == 0 && ifd.devtype == IFD_DEVTYPE_AMS_MEMBER);
    vorel_db_asp_add(std::move(rec), replace);
    return 0;
}

int loader::pass_interfaces() {
    uint16_t index = 0;
    bool first = true;
    for (;;) {
        owned_ifd ifd(h);
        size_t len = 0;
        if (rtslib_ifdm_get_by_index(h, index, RTSLIB_OP_GET_NEXT, &ifd.rec, &len) != 0 || !ifd.rec)
            return 0;
        if (!first && ifd->index <= index) {
            vorel_trace("vorel: interface walk went back from %u to %u; stopped\n", index,
                        ifd->index);
            return 0;
        }
        first = false;
        index = ifd->index;
        if (!is_handled_devtype(ifd->devtype) || ifd->name.compare(0, 4, "mams") == 0)
            continue;
        if (ifd->devtype != IFD_DEVTYPE_AMS_BUNDLE) {
            if (add_interface(*ifd.rec, 0))
                return -1;
            continue;
        }
        rtslib_lb_options lb;
        if (!vorel_ifd_lb_options(*ifd.rec, lb) || lb.mode != kLbModeMembersListed)
            continue;
        for (const auto &m : lb.members) {
            owned_ifd member(h);
            if (vorel_ifd_fetch_by_name(h, m.name, member))
                return -1;
            if (add_interface(*member.rec, member->index))
                return -1;
        }
    }
}

// Walks the generic configuration records of one major type by key,
// calling visit for each; stops at the first failed query, at a key that
// does not increase, or when visit answers nonzero.
template <typename Visit>
void walk_gencfg(rtslib_handle *h, uint16_t major, uint16_t minor, Visit visit) {
    uint16_t key = 0;
    bool first = true;
    for (;;) {
        rtslib_gencfg_query q;
        q.major = major;
        q.minor = minor;
        q.key_length = 2;
        q.key = &key;
        q.key_present = true;
        // Records of other minor types are passed over below: their
        // payloads need not be decompressed.
        q.other_minors_bare = true;
        owned_record<rtslib_gencfg_record> rec(h);
        size_t len = 0;
        if (rtslib_gencfg_get(h, &q, RTSLIB_OP_GET_NEXT, &rec.rec, &len) != 0 || !rec.rec)
            return;
        if (!first && rec->key <= key) {
            vorel_trace("vorel: configuration walk went back from key %u to %u; stopped\n", key,
                        rec->key);
            return;
        }
        first = false;
        key = rec->key;
        if (visit(*rec.rec))
            return;
    }
}

void loader::dump_file(const std::string &path, const std::vector<uint8_t> &bytes,
                       const uint8_t *data, size_t len) {
    int fd = vorel_create_file(path);
    if (fd < 0)
        return; // dump files that cannot be created are passed over
    const uint8_t *p = data ? data : bytes.data();
    size_t n = data ? len : bytes.size();
    if (n && write(fd, p, n) < 0) {
        // a short dump is still a dump; nothing to report
    }
    close(fd);
}

int loader::pass_pic_modes() {
    walk_gencfg(h, kMajorServiceConfig, kMinorPicConfig, [&](const rtslib_gencfg_record &rec) {
        if (rec.minor != kMinorPicConfig || rec.payload.empty())
            return 0;
        uint32_t peer = rtslib_gencfg_get_peer_index(&rec, 0);
        uint16_t fpc = uint16_t(peer >> 3), pic = uint16_t(peer & 7);
        if (dump) {
            std::string path = "/tmp/asp_cfg_pic_mode_" + std::to_string(rec.key) + ".bin";
            dump_file(path, rec.payload);
            std::printf("Dumped (id %d) to %s\n", rec.key, path.c_str());
        }
        vorel::ByteReader p(rec.payload);
        if (!p.has(kPicModeOffset, 1)) {
            vorel_trace("vorel: PIC configuration %u is %zu bytes, too short for its mode\n",
                        rec.key, p.size());
            return 0;
        }
        if (asp_info *a = vorel_db_asp_find(fpc, pic, 0))
            a->pic_mode = p.u8(kPicModeOffset);
        return 0;
    });
    return 0;
}

// kind of a service set from its rule groups.
uint32_t service_set_kind(const vorel::ByteReader &p) {
    if (p.be32(132) || p.be32(140) || p.be32(152))
        return 0;
    if (p.be32(168) || p.be32(188) || p.u8(87))
        return 2;
    return 0;
}

int loader::add_service_set_to(uint16_t fpc, uint16_t pic, uint16_t ifd_index,
                               const svc_set_info &ss) {
    asp_info *a = vorel_db_asp_find(fpc, pic, ifd_index);
    if (!a)
        return 0; // a service set for a PIC not in the snapshot is dropped
    return vorel_db_svc_set_add(a, ss);
}

// The PICs a service-set record belongs to: the members of a bundle, the
// active member of a redundant pair, or the PIC of its peer index.
// 0, or -1 when the pass must stop.
int loader::service_set_pics(const rtslib_gencfg_record &rec, std::vector<asp_key> &targets) {
    uint32_t peer = rtslib_gencfg_get_peer_index(&rec, 0);
    bool names_interface = rec.peer.subtype == 4 && rec.peer.kind == 1;
    if (!names_interface) {
        targets.push_back(vorel_db_asp_key(uint16_t(peer >> 3), uint16_t(peer & 7), 0));
        return 0;
    }
    owned_ifd ifd(h);
    if (vorel_ifd_fetch_by_index(h, uint16_t(peer), ifd))
        return -1;
    rtslib_lb_options lb;
    if (ifd->devtype == IFD_DEVTYPE_AMS_BUNDLE && vorel_ifd_lb_options(*ifd.rec, lb) &&
        lb.mode == kLbModeMembersListed) {
        for (const auto &m : lb.members) {
            if (m.type != kLbServiceMember)
                continue;
            owned_ifd member(h);
            if (vorel_ifd_fetch_by_name(h, m.name, member) ||
                member->devtype != IFD_DEVTYPE_AMS_MEMBER)
                return -1;
            if (asp_info *plain = vorel_db_asp_find(member->fpc_slot, member->pic_slot, 0))
                plain->ams_member_type = kLbServiceMember;
            targets.push_back(vorel_db_asp_key(member->fpc_slot, member->pic_slot, member->index));
        }
        return 0;
    }
    uint16_t fpc = ifd->fpc_slot, pic = ifd->pic_slot, pf, pp;
    if (is_redundant_pair(ifd->devtype)) {
        int rc = resolve_redundant_pair(*ifd.rec, fpc, pic, pf, pp);
        if (rc > 0)
            return -1;
        if (rc < 0)
            return 0;
    }
    targets.push_back(vorel_db_asp_key(fpc, pic, 0));
    return 0;
}

uint16_t key_field(const asp_key &k, int i) {
    return uint16_t(k[2 * i] | k[2 * i + 1] << 8);
}

int loader::pass_service_sets(bool unified) {
    uint16_t major = unified ? kMajorUnifiedServiceConfig : kMajorServiceConfig;
    uint16_t minor = unified ? kMinorUnifiedServiceSet : kMinorServiceSet;
    walk_gencfg(h, major, minor, [&](const rtslib_gencfg_record &rec) {
        if (rec.minor != minor || rec.payload.empty())
            return 0;
        vorel::ByteReader p(rec.payload);
        svc_set_info ss;
        if (unified) {
            if (!p.has(204, SVC_SET_NAME_LEN)) {
                vorel_trace("vorel: service-set record %u is %zu bytes, too short\n", rec.key,
                            p.size());
                return 0;
            }
            copy_name(ss.name, SVC_SET_NAME_LEN, p.text(204, SVC_SET_NAME_LEN));
            ss.id = p.be16(196);
            ss.kind = 0; // the payload built in unified mode holds only the name and id
        } else {
            if (!p.has(0, 192)) {
                vorel_trace("vorel: service-set record %u is %zu bytes, too short\n", rec.key,
                            p.size());
                return 0;
            }
            copy_name(ss.name, SVC_SET_NAME_LEN, p.text(12, SVC_SET_NAME_LEN));
            ss.id = p.be16(76);
            ss.kind = service_set_kind(p);
        }
        ss.style = 'B';
        ss.cfg_len = static_cast<uint32_t>(rec.payload.size());
        ss.compressed = (rec.flags & RTSLIB_GENCFG_F_COMPRESSED) ? 1 : 0;
        if (!name_wanted(only_svc_set, ss.name))
            return 0;
        std::vector<asp_key> targets;
        if (service_set_pics(rec, targets))
            return 1;
        if (dump) {
            std::string path = "/tmp/asp_cfg_svc_set_" + vorel_file_name_from(ss.name) + ".bin";
            dump_file(path, rec.payload);
            std::printf("Dumped %s (id %d) to %s\n", ss.name, ss.id, path.c_str());
        }
        for (const auto &k : targets) {
            if (add_service_set_to(key_field(k, 0), key_field(k, 1), key_field(k, 2), ss)) {
                logging_event(
                    LOG_WARNING, "VOREL_DUPLICATE_SVC_SET", {"name"},
                    "VOREL_DUPLICATE_SVC_SET: service set %s is configured twice on one PIC",
                    ss.name);
                return 1;
            }
        }
        return only_svc_set ? 1 : 0;
    });
    return 0;
}

int loader::pass_service_sets_v4() {
    walk_gencfg(h, kMajorServiceSetV4, kMinorServiceSetV4, [&](const rtslib_gencfg_record &rec) {
        if (rec.minor != kMinorServiceSetV4 || rec.payload.empty())
            return 0;
        vorel::ByteReader p(rec.payload);
        if (!p.has(0, 160)) {
            vorel_trace("vorel: service-set record %u is %zu bytes, too short\n", rec.key,
                        p.size());
            return 0;
        }
        if (p.be16(2) != 4 || p.be32(156) != 0)
            return 0;
        svc_set_info ss;
        copy_name(ss.name, SVC_SET_NAME_LEN, p.text(12, SVC_SET_NAME_LEN));
        ss.id = uint16_t(p.be32(140));
        ss.style = '@';
        ss.cfg_len = static_cast<uint32_t>(rec.payload.size());
        ss.compressed = (rec.flags & RTSLIB_GENCFG_F_COMPRESSED) ? 1 : 0;
        if (!name_wanted(only_svc_set, ss.name))
            return 0;
        uint32_t peer = rtslib_gencfg_get_peer_index(&rec, 0);
        add_service_set_to(uint16_t(peer >> 3), uint16_t(peer & 7), 0, ss); // failures do not stop
        return only_svc_set ? 1 : 0;
    });
    return 0;
}

int loader::pass_tunnel_groups() {
    // Bundle members share their FPC and PIC with the plain record: each
    // PIC's groups are walked once, or the second walk would meet its own
    // names again and stop the pass.
    std::vector<uint16_t> walked;
    for (asp_info *a = nullptr;;) {
        a = vorel_db_asp_find_next(a);
        if (!a)
            break;
        uint16_t pic_index = uint16_t(a->fpc_slot * 8 + a->pic_slot);
        if (std::find(walked.begin(), walked.end(), pic_index) != walked.end())
            continue;
        walked.push_back(pic_index);
        uint16_t prev = 0;
        bool first = true;
        for (;;) {
            uint8_t data[80] = {};
            owned_record<rtslib_l2tp_tunnel_group> tg(h);
            if (rtslib_l2tp_tunnel_group_get(h, prev, pic_index, data, sizeof data,
                                             RTSLIB_OP_GET_NEXT, &tg.rec) != 0 ||
                !tg.rec)
                break;
            if (!first && tg->group_id <= prev)
                break;
            first = false;
            prev = tg->group_id;
            svc_set_info ss;
            copy_name(ss.name, SVC_SET_NAME_LEN,
                      vorel::ByteReader(data, sizeof data).text(0, sizeof data));
            ss.id = tg->group_id;
            ss.style = 'D';
            if (!name_wanted(only_svc_set, ss.name))
                continue;
            if (dump) {
                std::string path = "/tmp/asp_cfg_svc_set_" + vorel_file_name_from(ss.name) + ".bin";
                dump_file(path, {}, data, sizeof data);
                std::printf("Dumped %s (id %d) to %s\n", ss.name, ss.id, path.c_str());
            }
            if (add_service_set_to(uint16_t(tg->peer_index >> 3), uint16_t(tg->peer_index & 7), 0,
                                   ss))
                return -1;
            if (only_svc_set)
                return 0;
        }
    }
    return 0;
}

// A multiservices PIC stays while its aggregated twin has service sets.
bool keep_for_twin(const asp_info &a) {
    uint8_t flag = 0;
    char twin[AMS_NAME_LEN];
    vorel_mams_name_of_ms(a.name, &flag, twin);
    if (!flag)
        return false;
    const asp_info *t = vorel_db_asp_find_by_name(twin);
    return t && !t->svc_sets.empty();
}

void loader::pass_prune() {
    vorel_db_prune_empty(keep_for_twin);
}

void error_hook(const char *text, int level) {
    if (level < 2)
        return;
    logging_event(LOG_WARNING, "VOREL_LOG_ERR_LEVEL", {"warning-message", "index"},
                  "VOREL_LOG_ERR_LEVEL: rtslib err = %s, level = %d", vorel_str_or_null(text),
                  level);
}

} // namespace

int vorel_db_bz2_errno(int bz_result) {
    switch (bz_result) {
    case BZ_OK:
    case BZ_RUN_OK:
    case BZ_FLUSH_OK:
    case BZ_FINISH_OK:
    case BZ_STREAM_END:
        return 0;
    case BZ_SEQUENCE_ERROR:
        return EILSEQ;
    case BZ_PARAM_ERROR:
    case BZ_CONFIG_ERROR:
        return EINVAL;
    case BZ_MEM_ERROR:
        return ENOMEM;
    case BZ_DATA_ERROR:
    case BZ_DATA_ERROR_MAGIC:
    case BZ_UNEXPECTED_EOF:
        return EBADMSG;
    case BZ_IO_ERROR:
        return EIO;
    case BZ_OUTBUFF_FULL:
        return ENOSPC;
    default:
        return -1;
    }
}

int vorel_db_blob_compress(uint8_t *dst, size_t *dst_len, const uint8_t *src, size_t src_len) {
    if (!dst_len || *dst_len > UINT32_MAX || src_len > UINT32_MAX)
        return EINVAL;
    unsigned int out = static_cast<unsigned int>(*dst_len);
    int rc = BZ2_bzBuffToBuffCompress(reinterpret_cast<char *>(dst), &out,
                                      const_cast<char *>(reinterpret_cast<const char *>(src)),
                                      static_cast<unsigned int>(src_len), 1, 0, 0);
    if (rc == BZ_OK)
        *dst_len = out;
    return vorel_db_bz2_errno(rc);
}

int vorel_db_blob_decompress(uint8_t *dst, size_t *dst_len, const uint8_t *src, size_t src_len) {
    if (!dst_len || *dst_len > UINT32_MAX || src_len > UINT32_MAX)
        return EINVAL;
    unsigned int out = static_cast<unsigned int>(*dst_len);
    int rc = BZ2_bzBuffToBuffDecompress(reinterpret_cast<char *>(dst), &out,
                                        const_cast<char *>(reinterpret_cast<const char *>(src)),
                                        static_cast<unsigned int>(src_len), 0, 0);
    if (rc == BZ_OK)
        *dst_len = out;
    return vorel_db_bz2_errno(rc);
}

int vorel_db_init(const char *, const char *svc_set, int dump) {
    loader l;
    l.h = rtslib_open(3);
    if (!l.h)
        return -1;
    l.only_svc_set = svc_set;
    l.dump = dump != 0;
    rtslib_set_buffers(l.h, kKernelBufferSize, kKernelBufferSize);
    rtslib_lib_error_register(l.h, 0, error_hook);
    rtslib_init_blob_compression(l.h, vorel_db_blob_compress, vorel_db_blob_decompress);

    l.pass_interfaces();
    l.pass_pic_modes();
    l.pass_service_sets(is_usf_mode() != 0);
    l.pass_service_sets_v4();
    l.pass_tunnel_groups();
    l.pass_prune();
    rtslib_close(l.h);
    return 0;
}
