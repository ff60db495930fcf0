// Chassis queries, the hardware database, the package listing through the
// real mvorel and the synchronisation monitor through the peer-connection
// client, against an in-process lab; the lab's chassis section.
#include "platform/bytes.h"
#include "platform/chassis.h"
#include "platform/pconn.h"
#include "platform/tools.h"
#include "tests/support/lab_fixture.h"

#include <cerrno>
#include <cstdlib>
#include <gtest/gtest.h>

namespace {

using vorel::test::LabRun;

const char *kScenario = R"(name: chassis-test
chassis:
  fpc_boards: {0: 0x0b06, 3: 1234}
  config_db:
    - "unified-edge gateways ggsn-pgw PGW1 system anchor-spics interface mams-1/0/0"
  packages:
    "ms-1/0/0": [jservices-hcm, jservices-lrf]
monitors:
  - pic: "ms-2/0/0"
    states: {"ms-1/0/0": 0xABC123}
)";

int run_mvorel(const std::vector<std::string> &args, std::string &out) {
    std::vector<std::string> argv{vorel::mvorel_path()};
    argv.insert(argv.end(), args.begin(), args.end());
    vorel::ProgramResult r;
    if (!vorel::run_program(argv, 4096, r))
        return -1;
    out = r.output;
    return r.status;
}

// The hardware database opens only read-only; mvorel runs only the package
// listing, without a shell.
TEST(Chassis, HardwareDatabaseAndPackageListing) {
    LabRun lab(kScenario);
    uint32_t id = 0;
    errno = 0;
    EXPECT_LT(hwdb_fpc_get_uint(0, FPC_I2C_ID, &id), 0); // not open yet
    EXPECT_EQ(errno, EBADF);
    EXPECT_LT(hwdb_open_db(nullptr, 0, 1), 0);
    EXPECT_EQ(errno, EINVAL);
    ASSERT_EQ(hwdb_open_db(nullptr, 0, HWDB_MODE_READONLY), 0);
    EXPECT_EQ(hwdb_fpc_get_uint(3, FPC_I2C_ID, &id), 0);
    EXPECT_EQ(id, 1234u);
    hwdb_close_db();
    EXPECT_FALSE(dax_path_exists(nullptr, "x"));
    struct {
        std::vector<std::string> args;
        int status;
        const char *out;
    } cases[] = {
        {{"-c", "/usr/sbin/pkg_info", "-i", "ms-1/0/0"}, 0, "jservices-hcm\njservices-lrf\n"},
        {{"-c", "pkg_info -i ms-1/0/0"}, 0, "jservices-hcm\njservices-lrf\n"},
        {{"-c", "pkg_info", "-i", "ms-9/0/0"}, 1, ""}, // unknown PIC
        {{"-c", "pkg_info"}, 1, ""},
        {{"-c", "/bin/ls", "-l"}, 127, ""},
        {{"-c", "pkg_info -i ms-1/0/0; rm -rf /tmp/x"}, 1, ""},
        {{"pkg_info"}, 2, ""},
    };
    for (const auto &c : cases) {
        std::string out;
        EXPECT_EQ(run_mvorel(c.args, out), c.status) << c.args.back();
        EXPECT_EQ(out, c.out) << c.args.back();
    }
}

TEST(Chassis, MonitorAnswersSyncStatesAndDropsOtherMessages) {
    LabRun lab(kScenario);
    pconn_client *c = pconn_client_connect(2, 0, PCONN_EP_MSVCS_SYNC_MONITOR);
    ASSERT_NE(c, nullptr);
    for (auto [member, state] : {std::pair{"ms-1/0/0", 11256099u}, {"ms-5/0/0", 11256102u}}) {
        vorel::ByteWriter w(188);
        w.text(128, 60, member);
        ASSERT_EQ(pconn_client_send(c, 15, w.buffer().data(), w.buffer().size()), 0);
        pconn_msg reply;
        ASSERT_EQ(pconn_client_recv(c, reply, 5000), 0);
        EXPECT_EQ(reply.type, 18);
        EXPECT_EQ(vorel::ByteReader(reply.body).be32(12), state) << member;
    }
    EXPECT_EQ(pconn_client_send(c, 99, "x", 1), 0);
    pconn_msg m;
    errno = 0;
    EXPECT_EQ(pconn_client_recv(c, m, 100), -1);
    EXPECT_EQ(errno, ETIMEDOUT);
    EXPECT_EQ(pconn_client_recv(c, m, 100), -1); // the connection was dropped
    EXPECT_LT(pconn_client_send(c, 15, "x", 1), 0);
    pconn_client_close(c);
    EXPECT_EQ(pconn_client_send(nullptr, 15, nullptr, 0), -1);
    errno = 0;
    EXPECT_EQ(pconn_client_connect(1, 0, PCONN_EP_MSVCS_SYNC_MONITOR), nullptr); // no monitor
    EXPECT_EQ(errno, ECONNREFUSED);
}

TEST(Chassis, NoLabEveryQueryFailsAtOnce) {
    setenv("VOREL_LAB_SOCKET", "/nonexistent/vorel/control.sock", 1);
    setenv("VOREL_LAB_NET", "253", 1);
    EXPECT_EQ(nmchassis_is_vc_or_single_re_protocol_master(), 0);
    EXPECT_EQ(is_usf_mode(), 0);
    EXPECT_EQ(get_re_type(), -1);
    int v;
    EXPECT_EQ(sysctl_get_int("hw.re.mobile_gateway", &v), -1);
    EXPECT_EQ(norix_product_info_get_chassis_max_fpc_slots(), 0);
    EXPECT_EQ(mchassis_get_lcc_number(), 0);
    EXPECT_EQ(mchassis_get_max_fpc_slots_per_lcc(), 0);
    EXPECT_FALSE(product_walks_all_fpcs());
    EXPECT_FALSE(product_inline_reass_board(0x0b06));
    EXPECT_EQ(product_max_forwarding_classes(), PRODUCT_DEFAULT_FORWARDING_CLASSES);
    EXPECT_LT(hwdb_open_db(nullptr, 0, HWDB_MODE_READONLY), 0);
    const char *err = nullptr;
    EXPECT_EQ(dax_open_db(&err), nullptr);
    EXPECT_STREQ(err, "configuration database not reachable (Connection refused)");
    std::vector<std::string> names;
    EXPECT_EQ(chassis_pic_packages("ms-1/0/0", names), ECONNREFUSED);
    std::string out;
    EXPECT_EQ(run_mvorel({"-c", "pkg_info", "-i", "ms-1/0/0"}, out), 1);
    EXPECT_EQ(pconn_client_connect(1, 0, PCONN_EP_MSVCS_SYNC_MONITOR), nullptr);
    EXPECT_STREQ(msvcspmon_sync_state_to_string(0xABC125), "No HA or no backup");
    EXPECT_STREQ(msvcspmon_sync_state_to_string(0xABC126), "State unavailable");
    unsetenv("VOREL_LAB_SOCKET");
    unsetenv("VOREL_LAB_NET");
}

} // namespace
