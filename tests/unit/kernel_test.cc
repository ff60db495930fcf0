// The kernel interface library against the lab's kernel: a lab runs in the
// process, and every record is read back through rtslib over the control
// socket.
#include "lab/lab.h"
#include "lab_fixture.h"
#include "platform/bytes.h"
#include "platform/rtslib.h"
#include "platform/rtslib_wire.h"
#include "platform/sockio.h"

#include <bzlib.h>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using vorel::ByteReader;

namespace {

// The tests' data folder, named by the build (a compiler cache may rewrite
// the source paths that __FILE__ would give).
std::string data_file(const char *name) {
    return (fs::path(VOREL_TEST_DATA_DIR) / name).string();
}

using vorel::test::LabRun;
using vorel::test::TempDir;

// bzip2 with the error numbers the program maps its results to.
int bz2_decompress(uint8_t *dst, size_t *dst_len, const uint8_t *src, size_t src_len) {
    unsigned int len = static_cast<unsigned int>(*dst_len);
    int rc = BZ2_bzBuffToBuffDecompress(reinterpret_cast<char *>(dst), &len,
                                        const_cast<char *>(reinterpret_cast<const char *>(src)),
                                        static_cast<unsigned int>(src_len), 0, 0);
    *dst_len = len;
    switch (rc) {
    case BZ_OK:
        return 0;
    case BZ_MEM_ERROR:
        return ENOMEM;
    case BZ_OUTBUFF_FULL:
        return ENOSPC;
    default:
        return EBADMSG;
    }
}

struct HookCall {
    std::string text;
    int level;
};
std::vector<HookCall> hook_calls;
void record_hook(const char *text, int level) {
    hook_calls.push_back({text, level});
}

// A handle that releases itself.
struct Handle {
    explicit Handle(int mode = 3) : h(rtslib_open(mode)) {}
    ~Handle() {
        if (h)
            rtslib_close(h);
    }
    rtslib_handle *h;
};

// Releases a record when the test is done with it.
template <class T> struct Rec {
    Rec(rtslib_handle *handle) : h(handle) {}
    ~Rec() {
        if (p)
            rtslib_msg_idl_release(h, p);
    }
    rtslib_handle *h;
    T *p = nullptr;
    T *operator->() { return p; }
};

const rtslib_attr *find_attr(const rtslib_ifd_record &rec, uint32_t type) {
    for (const auto &a : rec.attrs)
        if (a.type == type)
            return &a;
    return nullptr;
}

struct GencfgSeen {
    uint16_t key, minor;
};

std::vector<GencfgSeen> gencfg_walk(rtslib_handle *h, uint16_t major, uint16_t minor) {
    std::vector<GencfgSeen> seen;
    uint16_t key = 0;
    rtslib_gencfg_query q{major, minor, 2, &key, false};
    for (;;) {
        Rec<rtslib_gencfg_record> r(h);
        int rc = rtslib_gencfg_get(h, &q, RTSLIB_OP_GET_NEXT, &r.p, nullptr);
        if (rc) {
            EXPECT_EQ(rc, ENOENT);
            return seen;
        }
        seen.push_back({r->key, r->minor});
        key = r->key;
        q.key_present = true;
    }
}

std::vector<std::pair<uint16_t, uint16_t>> keys_of(const std::vector<GencfgSeen> &s) {
    std::vector<std::pair<uint16_t, uint16_t>> out;
    for (const auto &g : s)
        out.emplace_back(g.key, g.minor);
    return out;
}

class KernelLab : public ::testing::Test {
  protected:
    void SetUp() override {
        hook_calls.clear();
        ASSERT_TRUE(run.started);
        ASSERT_NE(k.h, nullptr);
        rtslib_set_buffers(k.h, 524652, 524652);
        rtslib_lib_error_register(k.h, 0, record_hook);
        rtslib_init_blob_compression(k.h, nullptr, bz2_decompress);
    }
    LabRun run{LabRun::from_file{data_file("kernel.yaml")}};
    Handle k;
};

TEST_F(KernelLab, InterfaceLookupErrors) {
    Rec<rtslib_ifd_record> r(k.h);
    EXPECT_EQ(rtslib_ifdm_get_by_index(k.h, 102, RTSLIB_OP_GET, &r.p, nullptr), ENOENT);
    EXPECT_EQ(r.p, nullptr);
    EXPECT_EQ(rtslib_ifdm_get_by_index(k.h, 130, RTSLIB_OP_GET_NEXT, &r.p, nullptr), ENOENT);
    EXPECT_EQ(rtslib_ifdm_get_by_index(k.h, 100, 3, &r.p, nullptr), EINVAL);
    EXPECT_EQ(rtslib_ifdm_get_by_name(k.h, "ms-9/0/0", RTSLIB_OP_GET, &r.p, nullptr), ENOENT);
    EXPECT_EQ(rtslib_ifdm_get_by_name(k.h, "ms-1/0/0", RTSLIB_OP_GET_NEXT, &r.p, nullptr), EINVAL);
}

TEST_F(KernelLab, RedundancyAndLoadBalancingAttributes) {
    Rec<rtslib_ifd_record> rsp(k.h);
    ASSERT_EQ(rtslib_ifdm_get_by_name(k.h, "rsp0", RTSLIB_OP_GET, &rsp.p, nullptr), 0);
    const rtslib_attr *red_attr = find_attr(*rsp.p, RTSLIB_ATTR_REDUNDANCY);
    ASSERT_NE(red_attr, nullptr);
    rtslib_redundancy red;
    ASSERT_TRUE(rtslib_redundancy_decode(ByteReader(red_attr->value), red));
    EXPECT_EQ(red.primary, "ms-1/0/0");
    EXPECT_EQ(red.secondary, "ms-1/1/0");
    EXPECT_EQ(red.active, "ms-1/1/0");

    Rec<rtslib_ifd_record> ams(k.h);
    ASSERT_EQ(rtslib_ifdm_get_by_name(k.h, "mams0", RTSLIB_OP_GET, &ams.p, nullptr), 0);
    EXPECT_EQ(ams->devtype, 153);
    const rtslib_attr *lb_attr = find_attr(*ams.p, RTSLIB_ATTR_LOAD_BALANCING);
    ASSERT_NE(lb_attr, nullptr);
    EXPECT_EQ(lb_attr->value.size(), RTSLIB_LB_HEADER + 2 * RTSLIB_LB_MEMBER);
    rtslib_lb_options lb;
    ASSERT_TRUE(rtslib_lb_decode(ByteReader(lb_attr->value), lb));
    EXPECT_EQ(lb.mode, 5);
    EXPECT_EQ(lb.state, 5);
    EXPECT_EQ(lb.ha_type, 1);
    EXPECT_EQ(lb.last_change, 1700000000u);
    EXPECT_EQ(lb.member_count, 2u);
    ASSERT_EQ(lb.members.size(), 2u);
    EXPECT_EQ(lb.members[0].name, "mams-2/0/0");
    EXPECT_EQ(lb.members[0].type, 2);
    EXPECT_EQ(lb.members[0].state, 2);
    EXPECT_EQ(lb.members[0].weight, 10);
    EXPECT_EQ(lb.members[1].name, "mams-2/1/0");
    EXPECT_EQ(lb.members[1].type, 3);
    EXPECT_EQ(lb.members[1].state, 5);
    EXPECT_EQ(lb.members[1].weight, -1);
}

TEST_F(KernelLab, ConfigurationWalkByKeyPrefersTheAskedMinor) {
    // Key 7 holds a service set (minor 14) and a PIC-mode record (minor 19):
    // each walk sees its own minor there, and every key once.
    EXPECT_EQ(keys_of(gencfg_walk(k.h, 3, 14)),
              (std::vector<std::pair<uint16_t, uint16_t>>{
                  {3, 14}, {7, 14}, {12, 14}, {21, 14}, {30, 14}}));
    EXPECT_EQ(keys_of(gencfg_walk(k.h, 3, 19)),
              (std::vector<std::pair<uint16_t, uint16_t>>{
                  {3, 14}, {7, 19}, {12, 14}, {21, 14}, {30, 14}}));
    EXPECT_EQ(keys_of(gencfg_walk(k.h, 2, 134)),
              (std::vector<std::pair<uint16_t, uint16_t>>{{4, 134}}));
    EXPECT_TRUE(gencfg_walk(k.h, 77, 1).empty());

    uint16_t key = 7;
    rtslib_gencfg_query q{3, 19, 2, &key, true};
    Rec<rtslib_gencfg_record> mode(k.h);
    ASSERT_EQ(rtslib_gencfg_get(k.h, &q, RTSLIB_OP_GET, &mode.p, nullptr), 0);
    EXPECT_EQ(mode->minor, 19);
    ASSERT_EQ(mode->payload.size(), 224u);
    EXPECT_EQ(mode->payload[220], 2);
    EXPECT_EQ(rtslib_gencfg_get_peer_index(mode.p, 0), 8u);

    key = 8;
    Rec<rtslib_gencfg_record> none(k.h);
    EXPECT_EQ(rtslib_gencfg_get(k.h, &q, RTSLIB_OP_GET, &none.p, nullptr), ENOENT);
    EXPECT_EQ(rtslib_gencfg_get(k.h, &q, 2, &none.p, nullptr), EINVAL);
    key = UINT16_MAX;
    EXPECT_EQ(rtslib_gencfg_get(k.h, &q, RTSLIB_OP_GET_NEXT, &none.p, nullptr), ENOENT);
}

rtslib_gencfg_record *get_exact(rtslib_handle *h, uint16_t major, uint16_t minor, uint16_t key) {
    rtslib_gencfg_query q{major, minor, 2, &key, true};
    rtslib_gencfg_record *r = nullptr;
    EXPECT_EQ(rtslib_gencfg_get(h, &q, RTSLIB_OP_GET, &r, nullptr), 0);
    return r;
}

TEST_F(KernelLab, ServiceSetPayloadsAreLaidOutAndDecompressed) {
    Rec<rtslib_gencfg_record> b(k.h);
    b.p = get_exact(k.h, 3, 14, 7);
    ASSERT_NE(b.p, nullptr);
    EXPECT_EQ(b->flags & RTSLIB_GENCFG_F_COMPRESSED, 0u);
    EXPECT_TRUE(b->flags & RTSLIB_GENCFG_F_KEY);
    ASSERT_EQ(b->payload.size(), 728u);
    ByteReader p(b->payload);
    EXPECT_EQ(p.text(12, 64), "sset-b");
    EXPECT_EQ(p.be16(76), 7);
    EXPECT_EQ(p.u8(87), 1);
    EXPECT_EQ(p.be32(132), 3u);
    EXPECT_EQ(p.be32(140), 0u);
    EXPECT_EQ(p.be32(168), 9u);
    EXPECT_EQ(b->peer.index, 8u); // ms-1/0/0
    EXPECT_EQ(b->peer.subtype, 0);

    Rec<rtslib_gencfg_record> big(k.h);
    big.p = get_exact(k.h, 3, 14, 3);
    ASSERT_NE(big.p, nullptr);
    EXPECT_TRUE(big->flags & RTSLIB_GENCFG_F_COMPRESSED);
    ASSERT_EQ(big->payload.size(), 728u);
    EXPECT_EQ(ByteReader(big->payload).text(12, 64), "sset-big");
    EXPECT_EQ(ByteReader(big->payload).be16(76), 3);
    EXPECT_EQ(rtslib_gencfg_get_peer_index(big.p, 0), 9u);

    // A service set on a bundle names the interface.
    Rec<rtslib_gencfg_record> ams(k.h);
    ams.p = get_exact(k.h, 3, 14, 12);
    ASSERT_NE(ams.p, nullptr);
    EXPECT_EQ(ams->peer.subtype, 4);
    EXPECT_EQ(ams->peer.kind, 1);
    EXPECT_EQ(ams->peer.index, 120u);
    EXPECT_EQ(ByteReader(ams->payload).text(12, 64), "sset-ams");

    Rec<rtslib_gencfg_record> uni(k.h);
    uni.p = get_exact(k.h, 2, 134, 4);
    ASSERT_NE(uni.p, nullptr);
    EXPECT_EQ(ByteReader(uni->payload).text(204, 64), "sset-uni");
    EXPECT_EQ(ByteReader(uni->payload).be16(196), 4);

    Rec<rtslib_gencfg_record> empty(k.h);
    empty.p = get_exact(k.h, 3, 14, 21);
    ASSERT_NE(empty.p, nullptr);
    EXPECT_TRUE(empty->payload.empty());
    EXPECT_EQ(empty->peer.index, 4u * 8 + 2);

    Rec<rtslib_gencfg_record> raw(k.h);
    raw.p = get_exact(k.h, 3, 14, 30);
    ASSERT_NE(raw.p, nullptr);
    EXPECT_EQ(raw->payload, (std::vector<uint8_t>{0, 1, 2}));
    EXPECT_EQ(raw->peer.index, 110u);

    Rec<rtslib_gencfg_record> v4(k.h);
    v4.p = get_exact(k.h, 19, 1, 40);
    ASSERT_NE(v4.p, nullptr);
    EXPECT_TRUE(v4->flags & RTSLIB_GENCFG_F_COMPRESSED);
    ASSERT_EQ(v4->payload.size(), 232u);
    ByteReader v(v4->payload);
    EXPECT_EQ(v.be16(2), 4);
    EXPECT_EQ(v.text(12, 64), "sset-v4");
    EXPECT_EQ(v.be32(140), 40u);

    Rec<rtslib_gencfg_record> nothing(k.h);
    nothing.p = get_exact(k.h, 7, 1, 1);
    ASSERT_NE(nothing.p, nullptr);
    EXPECT_TRUE(nothing->flags & RTSLIB_GENCFG_F_COMPRESSED);
    EXPECT_TRUE(nothing->payload.empty());
    EXPECT_TRUE(hook_calls.empty());
}

TEST_F(KernelLab, PayloadLargerThanTheReceiveBufferIsRefused) {
    ASSERT_EQ(rtslib_set_buffers(k.h, 524652, 727), 0);
    Rec<rtslib_gencfg_record> r(k.h);
    uint16_t key = 7;
    rtslib_gencfg_query q{3, 14, 2, &key, true};
    EXPECT_EQ(rtslib_gencfg_get(k.h, &q, RTSLIB_OP_GET, &r.p, nullptr), EMSGSIZE);
    key = 3; // compressed: its original length counts
    EXPECT_EQ(rtslib_gencfg_get(k.h, &q, RTSLIB_OP_GET, &r.p, nullptr), EMSGSIZE);
    key = 30;
    EXPECT_EQ(rtslib_gencfg_get(k.h, &q, RTSLIB_OP_GET, &r.p, nullptr), 0);
    EXPECT_EQ(rtslib_set_buffers(k.h, 524652, 0), EINVAL);
}

TEST_F(KernelLab, CompressedPayloadWithoutDecompressorIsReported) {
    rtslib_init_blob_compression(k.h, nullptr, nullptr);
    uint16_t key = 3;
    rtslib_gencfg_query q{3, 14, 2, &key, true};
    Rec<rtslib_gencfg_record> r(k.h);
    EXPECT_EQ(rtslib_gencfg_get(k.h, &q, RTSLIB_OP_GET, &r.p, nullptr), EBADMSG);
    EXPECT_EQ(r.p, nullptr);
    ASSERT_EQ(hook_calls.size(), 1u);
    EXPECT_EQ(hook_calls[0].level, 2);
    EXPECT_NE(hook_calls[0].text.find("no decompressor"), std::string::npos) << hook_calls[0].text;
}

TEST_F(KernelLab, TunnelGroupsOfOnePicById) {
    std::vector<std::string> names;
    std::vector<uint16_t> ids;
    uint16_t prev = 0;
    uint8_t data[80];
    for (;;) {
        Rec<rtslib_l2tp_tunnel_group> g(k.h);
        int rc =
            rtslib_l2tp_tunnel_group_get(k.h, prev, 8, data, sizeof data, RTSLIB_OP_GET_NEXT, &g.p);
        if (rc) {
            EXPECT_EQ(rc, ENOENT);
            break;
        }
        EXPECT_EQ(g->peer_index, 8);
        ids.push_back(g->group_id);
        names.emplace_back(ByteReader(data, sizeof data).text(0, sizeof data));
        if (g->group_id == 5) {
            EXPECT_EQ(g->length, 10u); // "tg-five", NUL, aa bb
            EXPECT_EQ(data[8], 0xaa);
            EXPECT_EQ(data[9], 0xbb);
            EXPECT_EQ(data[10], 0);
        }
        prev = g->group_id;
    }
    EXPECT_EQ(ids, (std::vector<uint16_t>{2, 5}));
    EXPECT_EQ(names, (std::vector<std::string>{"tg-two", "tg-five"}));

    // The name is cut to the room given.
    Rec<rtslib_l2tp_tunnel_group> cut(k.h);
    uint8_t small[4];
    ASSERT_EQ(
        rtslib_l2tp_tunnel_group_get(k.h, 0, 9, small, sizeof small, RTSLIB_OP_GET_NEXT, &cut.p),
        0);
    EXPECT_EQ(cut->group_id, 9);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(small), 4), "tg-n");

    Rec<rtslib_l2tp_tunnel_group> none(k.h);
    EXPECT_EQ(
        rtslib_l2tp_tunnel_group_get(k.h, 0, 10, data, sizeof data, RTSLIB_OP_GET_NEXT, &none.p),
        ENOENT);
}

TEST_F(KernelLab, RoutingInstanceIndexByName) {
    EXPECT_EQ(vrf_getindexbyvrfname("vrf-red", nullptr, 2), 12u);
    EXPECT_EQ(vrf_getindexbyvrfname("default", nullptr, 2), 0u);
    EXPECT_EQ(vrf_getindexbyvrfname("vrf-blue", nullptr, 2), 0xffffffffu);
}

TEST_F(KernelLab, ChangesAreLoggedAndVisibleToLaterQueries) {
    EXPECT_EQ(rtslib_pic_change(k.h, 1, 0, 4, 0), 0);

    // The bundle's scenario answers its switchover with result 6 and keeps
    // its options.
    std::vector<uint8_t> req = rtslib_lb_switchover_encode("mams-2/0/0");
    EXPECT_EQ(rtslib_ifdm_change_tlvs(k.h, 120, 0, req.data(), req.size()), 6);
    Rec<rtslib_ifd_record> ams(k.h);
    ASSERT_EQ(rtslib_ifdm_get_by_index(k.h, 120, RTSLIB_OP_GET, &ams.p, nullptr), 0);
    rtslib_lb_options lb;
    ASSERT_TRUE(rtslib_lb_decode(ByteReader(find_attr(*ams.p, 305)->value), lb));
    EXPECT_EQ(lb.mode, 5);

    // Another bundle accepts it: the value replaces the attribute.
    std::vector<uint8_t> req1 = rtslib_lb_switchover_encode("mams-9/0/0");
    EXPECT_EQ(rtslib_ifdm_change_tlvs(k.h, 125, 0, req1.data(), req1.size()), 0);
    Rec<rtslib_ifd_record> ams1(k.h);
    ASSERT_EQ(rtslib_ifdm_get_by_index(k.h, 125, RTSLIB_OP_GET, &ams1.p, nullptr), 0);
    const rtslib_attr *a = find_attr(*ams1.p, 305);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->value, req1);
    EXPECT_EQ(rtslib_ifdm_change_tlvs(k.h, 126, 0, req1.data(), req1.size()), ENOENT);

    std::string log = run.changes();
    std::string expected = "pic_change fpc 1 pic 0 op 4 value 0\n"
                           "ifd_change index 120 type 305 bytes " +
                           vorel::to_hex(req.data(), req.size()) +
                           "\n"
                           "ifd_change index 125 type 305 bytes " +
                           vorel::to_hex(req1.data(), req1.size()) +
                           "\n"
                           "ifd_change index 126 type 305 bytes " +
                           vorel::to_hex(req1.data(), req1.size()) + "\n";
    EXPECT_EQ(log, expected);

    ASSERT_EQ(rtslib_set_buffers(k.h, 555, 524652), 0);
    EXPECT_EQ(rtslib_ifdm_change_tlvs(k.h, 125, 0, req1.data(), req1.size()), EMSGSIZE);
}

TEST_F(KernelLab, CallsFailWhenTheLabGoesAway) {
    run.lab.stop();
    Rec<rtslib_ifd_record> r(k.h);
    int rc = rtslib_ifdm_get_by_index(k.h, 100, RTSLIB_OP_GET, &r.p, nullptr);
    EXPECT_NE(rc, 0);
    EXPECT_EQ(r.p, nullptr);
}

const char *kFaultScenario = R"(name: faults
interfaces:
  - {index: 1, name: ms-0/0/0, type: 102}
  - {index: 2, name: ms-0/1/0, type: 102, pic: 1}
  - {index: 3, name: ms-0/2/0, type: 102, pic: 2}
pics:
  - {fpc: 1, pic: 0, id: 1}
  - {fpc: 1, pic: 1, id: 2}
service_sets:
  - {name: a, id: 1, pic: ms-0/0/0}
  - {name: b, id: 2, pic: ms-0/0/0}
config_records:
  - {major: 5, minor: 1, key: 3, corrupt: true, payload: {size: 100}}
  - {major: 3, minor: 19, key: 1, payload: "00"}
  - {major: 3, minor: 19, key: 2, payload: "00"}
kernel_faults:
  - {op: ifd_get, after: 2, errno: EIO}
  - {op: pic_get, errno: 5, key: "1/0"}
  - {op: gencfg_get, after: 1, errno: ENOMEM, key: "3/14"}
  - {op: ifd_change, errno: EBUSY}
  - {op: vrf, errno: EIO}
)";

TEST(KernelFaults, FailFromTheCallAfterNAndOnlyForTheirKey) {
    TempDir dir;
    LabRun run(LabRun::from_file{dir.file("faults.yaml", kFaultScenario)});
    ASSERT_TRUE(run.started);
    Handle k;
    ASSERT_NE(k.h, nullptr);

    Rec<rtslib_ifd_record> r(k.h);
    EXPECT_EQ(rtslib_ifdm_get_by_index(k.h, 1, RTSLIB_OP_GET, &r.p, nullptr), 0);
    rtslib_msg_idl_release(k.h, r.p);
    r.p = nullptr;
    EXPECT_EQ(rtslib_ifdm_get_by_index(k.h, 1, RTSLIB_OP_GET_NEXT, &r.p, nullptr), 0);
    rtslib_msg_idl_release(k.h, r.p);
    r.p = nullptr;
    EXPECT_EQ(rtslib_ifdm_get_by_index(k.h, 2, RTSLIB_OP_GET_NEXT, &r.p, nullptr), EIO);
    EXPECT_EQ(rtslib_ifdm_get_by_index(k.h, 1, RTSLIB_OP_GET, &r.p, nullptr), EIO);
    EXPECT_EQ(r.p, nullptr);
    EXPECT_EQ(rtslib_ifdm_get_by_name(k.h, "ms-0/0/0", RTSLIB_OP_GET, &r.p, nullptr), 0);

    Rec<rtslib_pic_record> p(k.h);
    EXPECT_EQ(rtslib_pic_get(k.h, 1, 0, RTSLIB_OP_GET, &p.p, nullptr), EIO);
    EXPECT_EQ(rtslib_pic_get(k.h, 1, 1, RTSLIB_OP_GET, &p.p, nullptr), 0);

    // The service-set walk fails on its second step; the PIC-mode walk of
    // the same major type is not affected.
    EXPECT_EQ(keys_of(gencfg_walk(k.h, 3, 19)).size(), 2u);
    uint16_t key = 0;
    rtslib_gencfg_query q{3, 14, 2, &key, false};
    Rec<rtslib_gencfg_record> g(k.h);
    rtslib_init_blob_compression(k.h, nullptr, bz2_decompress);
    EXPECT_EQ(rtslib_gencfg_get(k.h, &q, RTSLIB_OP_GET_NEXT, &g.p, nullptr), 0);
    rtslib_msg_idl_release(k.h, g.p);
    g.p = nullptr;
    EXPECT_EQ(rtslib_gencfg_get(k.h, &q, RTSLIB_OP_GET_NEXT, &g.p, nullptr), ENOMEM);

    std::vector<uint8_t> v = rtslib_lb_switchover_encode("x");
    EXPECT_EQ(rtslib_ifdm_change_tlvs(k.h, 1, 0, v.data(), v.size()), EBUSY);
    EXPECT_EQ(run.changes().rfind("ifd_change index 1 type 305 bytes ", 0), 0u);
    EXPECT_EQ(vrf_getindexbyvrfname("default", nullptr, 2), 0xffffffffu);
}

TEST(KernelFaults, CorruptPayloadIsReportedThroughTheErrorHook) {
    TempDir dir;
    LabRun run(LabRun::from_file{dir.file("corrupt.yaml", kFaultScenario)});
    ASSERT_TRUE(run.started);
    Handle k;
    ASSERT_NE(k.h, nullptr);
    hook_calls.clear();
    rtslib_lib_error_register(k.h, 0, record_hook);
    rtslib_init_blob_compression(k.h, nullptr, bz2_decompress);
    uint16_t key = 3;
    rtslib_gencfg_query q{5, 1, 2, &key, true};
    Rec<rtslib_gencfg_record> g(k.h);
    EXPECT_EQ(rtslib_gencfg_get(k.h, &q, RTSLIB_OP_GET, &g.p, nullptr), EBADMSG);
    EXPECT_EQ(g.p, nullptr);
    ASSERT_EQ(hook_calls.size(), 1u);
    EXPECT_EQ(hook_calls[0].level, 2);
    EXPECT_NE(hook_calls[0].text.find("5/1 key 3"), std::string::npos) << hook_calls[0].text;
    EXPECT_NE(hook_calls[0].text.find("cannot decompress"), std::string::npos);
}

TEST(KernelWalks, OtherMinorsComeBareWhenTheCallerPassesThemOver) {
    TempDir dir;
    LabRun run(LabRun::from_file{dir.file("bare.yaml", R"(name: bare
config_records:
  - {major: 3, minor: 19, key: 1, payload: "aa"}
  - {major: 3, minor: 14, key: 2, compressed: true, payload: "01 02 03"}
  - {major: 3, minor: 14, key: 3, corrupt: true, payload: {size: 100}}
  - {major: 3, minor: 19, key: 4, compressed: true, payload: "bb cc"}
)")});
    ASSERT_TRUE(run.started);
    Handle k;
    ASSERT_NE(k.h, nullptr);
    hook_calls.clear();
    rtslib_lib_error_register(k.h, 0, record_hook);
    rtslib_init_blob_compression(k.h, nullptr, bz2_decompress);

    // A PIC-mode walk meets the service-set records: they come without
    // their payloads, so the damaged one is never decompressed.
    uint16_t key = 0;
    rtslib_gencfg_query q{3, 19, 2, &key, false};
    q.other_minors_bare = true;
    std::vector<std::pair<uint16_t, std::vector<uint8_t>>> seen;
    for (;;) {
        Rec<rtslib_gencfg_record> r(k.h);
        int rc = rtslib_gencfg_get(k.h, &q, RTSLIB_OP_GET_NEXT, &r.p, nullptr);
        if (rc) {
            EXPECT_EQ(rc, ENOENT);
            break;
        }
        seen.emplace_back(r->key, r->payload);
        key = r->key;
        q.key_present = true;
    }
    using payloads = std::vector<std::pair<uint16_t, std::vector<uint8_t>>>;
    EXPECT_EQ(seen, (payloads{{1, {0xaa}}, {2, {}}, {3, {}}, {4, {0xbb, 0xcc}}}));
    EXPECT_TRUE(hook_calls.empty());

    // Without the flag the damaged payload ends the walk, as before.
    key = 0;
    q.key_present = false;
    q.other_minors_bare = false;
    int rc = 0;
    for (int step = 0; step < 4 && rc == 0; step++) {
        Rec<rtslib_gencfg_record> r(k.h);
        rc = rtslib_gencfg_get(k.h, &q, RTSLIB_OP_GET_NEXT, &r.p, nullptr);
        if (rc == 0)
            key = r->key;
        q.key_present = true;
    }
    EXPECT_EQ(rc, EBADMSG);
    EXPECT_EQ(key, 2);
    EXPECT_EQ(hook_calls.size(), 1u);
}

TEST(KernelNoLab, OpenFailsAtOnceWhenNoLabAnswers) {
    TempDir dir;
    ::setenv("VOREL_LAB_SOCKET", dir.file("missing.sock").c_str(), 1);
    errno = 0;
    EXPECT_EQ(rtslib_open(3), nullptr);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(vrf_getindexbyvrfname("default", nullptr, 2), 0xffffffffu);

    // A socket file that nobody listens on any more.
    std::string stale = dir.file("stale.sock");
    int fd = vorel::unix_listen(stale);
    ASSERT_GE(fd, 0);
    ::close(fd);
    ::setenv("VOREL_LAB_SOCKET", stale.c_str(), 1);
    errno = 0;
    EXPECT_EQ(rtslib_open(2), nullptr);
    EXPECT_EQ(errno, ECONNREFUSED);
}

TEST(KernelScenario, FaultsAreReportedWithTheirLine) {
    TempDir dir;
    std::string file = dir.file("bad.yaml", R"(name: bad
interfaces:
  - {index: 10, name: ms-1/0/0, type: 102}
  - {index: 10, name: ms-1/1/0, type: 102}
  - {index: 11, name: ms-1/0/0, type: 102}
  - {index: 12, name: mams-1/0/0, type: 154, parent: nosuch}
  - {index: 13, name: ms-1/9/0, type: 102, pic: 9}
service_sets:
  - {name: s1, id: 1, interface: nosuch0}
  - {name: s2, id: 2, pic: bogus}
  - {name: s3, id: 3, pic: ms-1/0/0}
  - {name: s4, id: 3, pic: ms-1/0/0}
config_records:
  - {major: 3, minor: 19, payload: {size: 4, set: {3: {be16: 1}}}}
kernel_faults:
  - {op: ifd_frob, errno: EIO}
  - {op: pic_get, errno: EWHAT}
)");
    vorel::lab::Lab lab;
    std::vector<std::string> errors;
    EXPECT_FALSE(lab.load(file, errors));
    auto has = [&](const std::string &where, const std::string &what) {
        for (const auto &e : errors)
            if (e.rfind(file + ":" + where, 0) == 0 && e.find(what) != std::string::npos)
                return true;
        return false;
    };
    EXPECT_TRUE(has("4:", "duplicate interface index 10 (first at line 3)"));
    EXPECT_TRUE(has("5:", "duplicate interface name 'ms-1/0/0' (first at line 3)"));
    EXPECT_TRUE(has("6:", "unknown parent interface 'nosuch'"));
    EXPECT_TRUE(has("7:", "larger than 7"));
    EXPECT_TRUE(has("9:", "unknown interface 'nosuch0'"));
    EXPECT_TRUE(has("10:", "cannot tell the FPC and PIC of 'bogus'"));
    EXPECT_TRUE(has("12:", "duplicate configuration record major 3 minor 14 key 3"));
    EXPECT_TRUE(has("14:", "does not fit a payload of 4 bytes"));
    EXPECT_TRUE(has("16:", "unknown kernel operation 'ifd_frob'"));
    EXPECT_TRUE(has("17:", "unknown error name 'EWHAT'"));
    EXPECT_EQ(errors.size(), 10u) << ::testing::PrintToString(errors);
}

// ---- Decoders ----

TEST(LoadBalancingAttribute, MemberCountIsClampedToTheEntriesPresent) {
    rtslib_lb_options opts;
    opts.mode = 5;
    opts.state = 3;
    opts.members = {{2, 2, -300, "mams-1/0/0"}, {2, 5, 7, "mams-1/1/0"}};
    std::vector<uint8_t> v = rtslib_lb_encode(opts);
    ASSERT_EQ(v.size(), 12u + 2 * 276);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(&v[12 + 16])), "mams-1/0/0");

    // The record claims five members but carries two.
    v[8] = 0, v[9] = 0, v[10] = 0, v[11] = 5;
    rtslib_lb_options out;
    ASSERT_TRUE(rtslib_lb_decode(ByteReader(v), out));
    EXPECT_EQ(out.member_count, 5u);
    ASSERT_EQ(out.members.size(), 2u);
    EXPECT_EQ(out.members[0].weight, -300);
    EXPECT_EQ(out.members[1].state, 5);
    EXPECT_EQ(out.members[1].name, "mams-1/1/0");

    // A partial second entry is not a member.
    ASSERT_TRUE(rtslib_lb_decode(ByteReader(v.data(), 12 + 276 + 100), out));
    EXPECT_EQ(out.members.size(), 1u);

    // A huge claim with one entry present.
    v[8] = 0xff, v[9] = 0xff, v[10] = 0xff, v[11] = 0xff;
    ASSERT_TRUE(rtslib_lb_decode(ByteReader(v.data(), 12 + 276), out));
    EXPECT_EQ(out.member_count, 0xffffffffu);
    EXPECT_EQ(out.members.size(), 1u);

    // Shorter than the header: nothing.
    EXPECT_FALSE(rtslib_lb_decode(ByteReader(v.data(), 11), out));
    EXPECT_TRUE(out.members.empty());
    EXPECT_EQ(out.mode, 0);
}

TEST(LoadBalancingAttribute, SwitchoverRequestNamesTheMember) {
    std::vector<uint8_t> v = rtslib_lb_switchover_encode("mams-3/1/0");
    ASSERT_EQ(v.size(), 556u);
    rtslib_lb_options out;
    ASSERT_TRUE(rtslib_lb_decode(ByteReader(v), out));
    EXPECT_EQ(out.mode, RTSLIB_LB_MODE_SWITCHOVER);
    EXPECT_EQ(out.member_count, 1u);
    ASSERT_EQ(out.members.size(), 1u);
    EXPECT_EQ(out.members[0].name, "mams-3/1/0");
    // A name longer than the field is cut and stays terminated.
    std::vector<uint8_t> l = rtslib_lb_switchover_encode(std::string(80, 'x'));
    ASSERT_TRUE(rtslib_lb_decode(ByteReader(l), out));
    EXPECT_EQ(out.members[0].name, std::string(59, 'x'));
}

TEST(RedundancyAttribute, ThreeNamesOrNothing) {
    rtslib_redundancy r{"ms-1/0/0", "ms-1/1/0", "ms-1/1/0"};
    std::vector<uint8_t> v = rtslib_redundancy_encode(r);
    ASSERT_EQ(v.size(), 180u);
    rtslib_redundancy out;
    ASSERT_TRUE(rtslib_redundancy_decode(ByteReader(v), out));
    EXPECT_EQ(out.secondary, "ms-1/1/0");
    EXPECT_FALSE(rtslib_redundancy_decode(ByteReader(v.data(), 179), out));
    EXPECT_EQ(out.primary, "");
    // An unterminated name ends at its field.
    std::vector<uint8_t> full(180, 'a');
    ASSERT_TRUE(rtslib_redundancy_decode(ByteReader(full), out));
    EXPECT_EQ(out.primary, std::string(60, 'a'));
    EXPECT_EQ(out.active, std::string(60, 'a'));
}

TEST(KernelWire, DecodersRefuseShortOrPaddedBodies) {
    namespace wire = vorel::rtslib_wire;
    rtslib_ifd_record rec;
    rec.index = 7;
    rec.name = "ms-1/0/0";
    rec.attrs = {{305, {1, 2, 3}}, {138, {}}};
    std::vector<uint8_t> b = wire::encode_ifd(rec);
    rtslib_ifd_record out;
    ASSERT_TRUE(wire::decode_ifd(ByteReader(b), out));
    EXPECT_EQ(out.attrs.size(), 2u);
    EXPECT_EQ(out.attrs[0].value, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_FALSE(wire::decode_ifd(ByteReader(b.data(), b.size() - 1), out));
    std::vector<uint8_t> padded = b;
    padded.push_back(0);
    EXPECT_FALSE(wire::decode_ifd(ByteReader(padded), out));
    // An attribute count beyond the attributes present.
    std::vector<uint8_t> more = b;
    size_t count_at = 2 + 2 + rec.name.size() + 1 + 4 + 2 * 4;
    more[count_at + 1] = 200;
    EXPECT_FALSE(wire::decode_ifd(ByteReader(more), out));

    wire::GencfgWire g;
    g.payload_length = 5;
    g.stored = {1, 2, 3};
    std::vector<uint8_t> gb = wire::encode_gencfg(g);
    EXPECT_EQ(gb.size(), wire::kGencfgHeaderSize + 3);
    wire::GencfgWire gout;
    EXPECT_FALSE(wire::decode_gencfg(ByteReader(gb), gout)); // lengths differ, not compressed
    g.header.flags = RTSLIB_GENCFG_F_COMPRESSED;
    gb = wire::encode_gencfg(g);
    ASSERT_TRUE(wire::decode_gencfg(ByteReader(gb), gout));
    EXPECT_EQ(gout.payload_length, 5u);
    EXPECT_EQ(gout.stored.size(), 3u);
}

} // namespace

TEST(KernelWalk, AWalkLongerThanOneExchangeMeetsEveryRecordOnce) {
    std::string scenario =
        "interfaces:\n  - {index: 10, name: ms-1/0/0, type: 102, fpc: 1, pic: 0}\n"
        "service_sets:\n";
    for (int i = 1; i <= 700; i++)
        scenario += "  - {name: s" + std::to_string(i) + ", id: " + std::to_string(i) +
                    ", pic: ms-1/0/0, compressed: " + (i % 2 ? "true" : "false") + "}\n";
    scenario += "kernel_faults:\n  - {op: gencfg_get, key: \"3/14\", after: 600, errno: EIO}\n";
    LabRun run(scenario);
    ASSERT_TRUE(run.started);
    rtslib_handle *h = rtslib_open(3);
    ASSERT_NE(h, nullptr);
    rtslib_init_blob_compression(h, nullptr, bz2_decompress);
    uint16_t key = 0;
    int seen = 0, rc = 0;
    for (;;) {
        rtslib_gencfg_query q;
        q.major = 3;
        q.minor = 14;
        q.key = &key;
        rtslib_gencfg_record *rec = nullptr;
        rc = rtslib_gencfg_get(h, &q, RTSLIB_OP_GET_NEXT, &rec, nullptr);
        if (rc)
            break;
        ASSERT_NE(rec, nullptr);
        EXPECT_EQ(rec->key, key + 1);
        EXPECT_EQ(rec->payload.size(), 728u);
        key = rec->key;
        seen++;
        rtslib_msg_idl_release(h, rec);
    }
    // The 601st step fails, as the fault says, whatever the exchanges were.
    EXPECT_EQ(seen, 600);
    EXPECT_EQ(rc, EIO);
    rtslib_close(h);
}
