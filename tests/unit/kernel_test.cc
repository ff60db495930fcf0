// The kernel interface library against the lab's kernel (a lab in the
// process, every record read back through rtslib over the control socket),
// and the decoders of the kernel's attributes.
#include "platform/bytes.h"
#include "platform/rtslib.h"
#include "platform/sockio.h"
#include "tests/support/lab_fixture.h"
#include "vorel/vorel_db.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using vorel::ByteReader;
using vorel::test::LabRun;
using vorel::test::TempDir;

namespace {

std::vector<std::string> hook_calls;
void record_hook(const char *text, int level) {
    hook_calls.push_back(std::to_string(level) + " " + text);
}

// A handle on the running lab's kernel, with the program's settings and decompressor.
struct Kernel {
    Kernel() : h(rtslib_open(3)) {
        hook_calls.clear();
        if (!h)
            return;
        rtslib_set_buffers(h, 524652, 524652);
        rtslib_lib_error_register(h, 0, record_hook);
        rtslib_init_blob_compression(h, nullptr, vorel_db_blob_decompress);
    }
    ~Kernel() {
        if (h)
            rtslib_close(h);
    }
    // One configuration record by key; its payload when asked for.
    int get(uint16_t major, uint16_t minor, uint16_t key, std::vector<uint8_t> *payload = nullptr,
            int op = RTSLIB_OP_GET) {
        rtslib_gencfg_query q{major, minor, 2, &key, true};
        rtslib_gencfg_record *r = nullptr;
        int rc = rtslib_gencfg_get(h, &q, op, &r, nullptr);
        if (r && payload)
            *payload = r->payload;
        if (r)
            rtslib_msg_idl_release(h, r);
        return rc;
    }
    // A walk from the start: the keys and minors met, and how it ended.
    std::vector<std::pair<uint16_t, uint16_t>> walk(uint16_t major, uint16_t minor, int *end,
                                                    bool bare = false) {
        std::vector<std::pair<uint16_t, uint16_t>> seen;
        uint16_t key = 0;
        rtslib_gencfg_query q{major, minor, 2, &key, false};
        q.other_minors_bare = bare;
        for (;;) {
            rtslib_gencfg_record *r = nullptr;
            *end = rtslib_gencfg_get(h, &q, RTSLIB_OP_GET_NEXT, &r, nullptr);
            if (*end)
                return seen;
            seen.emplace_back(r->key, bare ? r->payload.size() : r->minor);
            key = r->key;
            q.key_present = true;
            rtslib_msg_idl_release(h, r);
        }
    }
    rtslib_handle *h;
};

using Seen = std::vector<std::pair<uint16_t, uint16_t>>;

class KernelLab : public ::testing::Test {
  protected:
    LabRun run{LabRun::from_file{VOREL_TEST_DATA_DIR "/kernel.yaml"}};
    Kernel k;
};

// Key 7 holds a service set (minor 14) and a PIC-mode record (minor 19):
// each walk sees its own minor there, and every key once.
TEST_F(KernelLab, AWalkByKeyPrefersTheAskedMinor) {
    int end = 0;
    EXPECT_EQ(k.walk(3, 14, &end), (Seen{{3, 14}, {7, 14}, {12, 14}, {21, 14}, {30, 14}}));
    EXPECT_EQ(end, ENOENT);
    EXPECT_EQ(k.walk(3, 19, &end), (Seen{{3, 14}, {7, 19}, {12, 14}, {21, 14}, {30, 14}}));
    EXPECT_TRUE(k.walk(77, 1, &end).empty());
    std::vector<uint8_t> p;
    ASSERT_EQ(k.get(3, 14, 3, &p), 0); // compressed: decompressed whole
    EXPECT_EQ(ByteReader(p).text(12, 64), "sset-big");
    ASSERT_EQ(k.get(7, 1, 1, &p), 0); // compressed and empty
    EXPECT_TRUE(p.empty());
    EXPECT_TRUE(hook_calls.empty());
}

TEST_F(KernelLab, PayloadsAndChangesLargerThanTheBuffersAreRefused) {
    ASSERT_EQ(rtslib_set_buffers(k.h, 555, 727), 0);
    EXPECT_EQ(k.get(3, 14, 7), EMSGSIZE);
    EXPECT_EQ(k.get(3, 14, 3), EMSGSIZE); // compressed: its original length counts
    EXPECT_EQ(k.get(3, 14, 30), 0);
    std::vector<uint8_t> req = rtslib_lb_switchover_encode("mams-9/0/0");
    EXPECT_EQ(rtslib_ifdm_change_tlvs(k.h, 125, 0, req.data(), req.size()), EMSGSIZE);
    EXPECT_EQ(rtslib_set_buffers(k.h, 524652, 0), EINVAL);
}

TEST_F(KernelLab, CompressedPayloadWithoutDecompressorIsReported) {
    rtslib_init_blob_compression(k.h, nullptr, nullptr);
    EXPECT_EQ(k.get(3, 14, 3), EBADMSG);
    ASSERT_EQ(hook_calls.size(), 1u);
    EXPECT_EQ(hook_calls[0].rfind("2 ", 0), 0u);
    EXPECT_NE(hook_calls[0].find("no decompressor"), std::string::npos) << hook_calls[0];
}

TEST_F(KernelLab, CallsFailWhenTheLabGoesAway) {
    run.lab.stop();
    rtslib_ifd_record *r = nullptr;
    EXPECT_NE(rtslib_ifdm_get_by_index(k.h, 100, RTSLIB_OP_GET, &r, nullptr), 0);
    EXPECT_EQ(r, nullptr);
    EXPECT_NE(k.get(3, 14, 7), 0);
}

// A PIC-mode walk meets service-set records: with other_minors_bare they
// come without their payloads, so a damaged one is never decompressed.
TEST(KernelWalks, OtherMinorsComeBareWhenTheCallerPassesThemOver) {
    LabRun run(R"(config_records:
  - {major: 3, minor: 19, key: 1, payload: "aa"}
  - {major: 3, minor: 14, key: 2, compressed: true, payload: "01 02 03"}
  - {major: 3, minor: 14, key: 3, corrupt: true, payload: {size: 100}}
  - {major: 3, minor: 19, key: 4, compressed: true, payload: "bb cc"}
)");
    Kernel k;
    int end = 0;
    EXPECT_EQ(k.walk(3, 19, &end, true), (Seen{{1, 1}, {2, 0}, {3, 0}, {4, 2}}));
    EXPECT_TRUE(hook_calls.empty());
    EXPECT_EQ(k.walk(3, 19, &end).size(), 2u); // without it the damaged payload ends the walk
    EXPECT_EQ(end, EBADMSG);
    ASSERT_EQ(hook_calls.size(), 1u);
    EXPECT_NE(hook_calls[0].find("3/14 key 3"), std::string::npos) << hook_calls[0];
    EXPECT_NE(hook_calls[0].find("cannot decompress"), std::string::npos);
}

// The 601st step fails, as the fault says, whatever the exchanges were:
// in the configuration walk and in the interface walk.
TEST(KernelWalks, AWalkLongerThanOneExchangeMeetsEveryRecordOnce) {
    std::string scenario = "service_sets:\n", interfaces = "interfaces:\n";
    for (int i = 1; i <= 700; i++) {
        scenario += "  - {name: s" + std::to_string(i) + ", id: " + std::to_string(i) +
                    ", pic: ms-1/0/0, compressed: " + (i % 2 ? "true" : "false") + "}\n";
        interfaces += "  - {index: " + std::to_string(i + 100) + ", name: ge-0/0/" +
                      std::to_string(i) + ", type: 1}\n";
    }
    scenario += interfaces + "kernel_faults:\n  - {op: gencfg_get, key: \"3/14\", after: 600, "
                             "errno: EIO}\n  - {op: ifd_get, after: 600, errno: EIO}\n";
    LabRun run(scenario);
    Kernel k;
    int end = 0;
    Seen seen = k.walk(3, 14, &end);
    ASSERT_EQ(seen.size(), 600u);
    EXPECT_EQ(end, EIO);
    for (size_t i = 0; i < seen.size(); i++)
        ASSERT_EQ(seen[i].first, i + 1);
    std::vector<uint16_t> indexes;
    for (uint16_t index = 0;;) {
        rtslib_ifd_record *r = nullptr;
        end = rtslib_ifdm_get_by_index(k.h, index, RTSLIB_OP_GET_NEXT, &r, nullptr);
        if (end)
            break;
        index = r->index;
        indexes.push_back(index);
        rtslib_msg_idl_release(k.h, r);
    }
    ASSERT_EQ(indexes.size(), 600u);
    EXPECT_EQ(end, EIO);
    for (size_t i = 0; i < indexes.size(); i++)
        ASSERT_EQ(indexes[i], i + 101);
}

TEST(KernelNoLab, OpenFailsAtOnceWhenNoLabAnswers) {
    TempDir dir;
    ::setenv("VOREL_LAB_SOCKET", dir.file("missing.sock").c_str(), 1);
    errno = 0;
    EXPECT_EQ(rtslib_open(3), nullptr);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(vrf_getindexbyvrfname("default", nullptr, 2), 0xffffffffu);
    std::string stale = dir.file("stale.sock"); // a socket file nobody listens on
    ::close(vorel::unix_listen(stale));
    ::setenv("VOREL_LAB_SOCKET", stale.c_str(), 1);
    errno = 0;
    EXPECT_EQ(rtslib_open(2), nullptr);
    EXPECT_EQ(errno, ECONNREFUSED);
    ::unsetenv("VOREL_LAB_SOCKET");
}

// ---- Decoders ----

// The bundle's attribute is read as far as its entries go (lb_faults shows
// a count larger than the entries and a name filling its field, the
// switchover's request is in lb_show_switchover); one too short for its
// header is refused and leaves nothing of an earlier read, and so is a
// redundancy attribute too short for its three names.
TEST(LoadBalancingAttribute, ShortAttributesAreRefusedAndLeaveNothing) {
    rtslib_lb_options opts;
    opts.mode = 5;
    opts.members = {{2, 2, -300, "mams-1/0/0"}};
    std::vector<uint8_t> v = rtslib_lb_encode(opts);
    rtslib_lb_options out;
    ASSERT_TRUE(rtslib_lb_decode(ByteReader(v), out));
    EXPECT_EQ(out.members.at(0).weight, -300);
    EXPECT_FALSE(rtslib_lb_decode(ByteReader(v.data(), RTSLIB_LB_HEADER - 1), out));
    EXPECT_TRUE(out.members.empty());
    EXPECT_EQ(out.mode, 0);
    rtslib_redundancy red;
    EXPECT_FALSE(rtslib_redundancy_decode(ByteReader(v.data(), RTSLIB_REDUNDANCY_SIZE - 1), red));
}

} // namespace

// Frames that one read brings together are handed out one by one; a frame
// cut short by the peer's close is an error, not a frame.
TEST(Frames, FramesSharingAReadComeOutOneByOne) {
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    const uint8_t bytes[] = {0, 0, 0, 3, 'a', 'b', 'c', 0, 0, 0, 0, 0, 0, 0, 2, 'd'};
    ASSERT_EQ(write(sv[1], bytes, sizeof bytes), static_cast<ssize_t>(sizeof bytes));
    close(sv[1]);
    vorel::StreamReader reader(sv[0]);
    std::vector<uint8_t> got;
    EXPECT_TRUE(vorel::read_frame(reader, got, 16));
    EXPECT_EQ(got, (std::vector<uint8_t>{'a', 'b', 'c'}));
    EXPECT_TRUE(vorel::read_frame(reader, got, 16));
    EXPECT_TRUE(got.empty());
    EXPECT_FALSE(vorel::read_frame(reader, got, 16));
    close(sv[0]);
}

// A frame larger than the socket takes at once goes out in pieces, the
// header first; over a pipe (not a socket) as two writes.  Either way the
// reader gets it whole.
TEST(Frames, AFrameArrivesWholeOverASocketAndOverAPipe) {
    std::vector<uint8_t> big(1 << 20);
    for (size_t i = 0; i < big.size(); i++)
        big[i] = static_cast<uint8_t>(i * 7);
    int sv[2], pv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    ASSERT_EQ(pipe(pv), 0);
    int small = 4096;
    setsockopt(sv[1], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    for (auto [in, out] : {std::pair{sv[0], sv[1]}, std::pair{pv[0], pv[1]}}) {
        bool sent = false;
        std::thread writer([&, out = out] {
            sent = vorel::write_frame(out, big.data(), big.size());
            close(out);
        });
        std::vector<uint8_t> got;
        vorel::StreamReader reader(in);
        EXPECT_TRUE(vorel::read_frame(reader, got, big.size()));
        close(in); // a writer sending more than the frame fails, a short one meets EOF
        writer.join();
        EXPECT_TRUE(sent);
        EXPECT_EQ(got, big);
    }
}
