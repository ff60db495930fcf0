// Chassis and product queries, the hardware and configuration databases,
// the package listing through the real mvorel, and the synchronisation
// monitor through the peer-connection client, against an in-process lab.
#include "lab/chassis_module.h"
#include "lab/lab.h"
#include "lab/scenario.h"
#include "platform/bytes.h"
#include "platform/chassis.h"
#include "platform/pconn.h"
#include "platform/sockio.h"
#include "platform/tools.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>

namespace {

// A scenario in a temporary file.
class ScenarioFile {
  public:
    explicit ScenarioFile(const std::string &yaml) {
        char tmpl[] = "/tmp/vorel-chassis-test.XXXXXX";
        int fd = mkstemp(tmpl);
        path_ = tmpl;
        if (fd >= 0)
            close(fd);
        std::ofstream(path_) << yaml;
    }
    ~ScenarioFile() { unlink(path_.c_str()); }
    const std::string &path() const { return path_; }

  private:
    std::string path_;
};

// A lab serving a scenario, pointed at by the environment while it lives.
class RunningLab {
  public:
    explicit RunningLab(const std::string &yaml) : file_(yaml) {
        char dir[] = "/tmp/vorel-chassis-lab.XXXXXX";
        dir_ = mkdtemp(dir);
        socket_ = dir_ + "/control.sock";
        std::vector<std::string> errors;
        loaded_ = lab_.load(file_.path(), errors);
        for (const auto &e : errors)
            ADD_FAILURE() << e;
        std::string err;
        started_ = loaded_ && lab_.start(0, socket_, err);
        EXPECT_TRUE(started_) << err;
        setenv("VOREL_LAB_SOCKET", socket_.c_str(), 1);
        setenv("VOREL_LAB_NET", std::to_string(lab_.net()).c_str(), 1);
    }
    ~RunningLab() {
        lab_.stop();
        rmdir(dir_.c_str());
        unsetenv("VOREL_LAB_SOCKET");
        unsetenv("VOREL_LAB_NET");
    }
    bool ok() const { return started_; }
    vorel::lab::Lab &lab() { return lab_; }

  private:
    ScenarioFile file_;
    std::string dir_, socket_;
    vorel::lab::Lab lab_;
    bool loaded_ = false, started_ = false;
};

const char *kScenario = R"(name: chassis-test
chassis:
  master: false
  usf_mode: true
  re_type: 160
  mobile_gateway: 1
  product:
    walks_all_fpcs: true
    max_fpc_slots: 20
    lcc_number: 2
    max_fpc_per_lcc: 8
    forwarding_classes: 16
    inline_reass_boards: [0x0b06, 2817]
  fpc_boards: {0: 0x0b06, 3: 1234}
  config_db:
    - "unified-edge gateways ggsn-pgw PGW1 system anchor-spics interface mams-1/0/0"
  packages:
    "ms-1/0/0": [jservices-hcm, jservices-lrf]
    "ms-2/0/0": []
monitors:
  - pic: "ms-2/0/0"
    states: {"ms-1/0/0": 0xABC123, "ms-3/0/0": 11256100}
  - pic: {fpc: 4, pic: 1}
)";

TEST(Chassis, RoutingEngineValuesFromTheScenario) {
    RunningLab lab(kScenario);
    ASSERT_TRUE(lab.ok());
    EXPECT_EQ(nmchassis_is_vc_or_single_re_protocol_master(), 0);
    EXPECT_NE(is_usf_mode(), 0);
    EXPECT_EQ(get_re_type(), 160);
    int v = 0;
    EXPECT_EQ(sysctl_get_int("hw.re.mobile_gateway", &v), 0);
    EXPECT_EQ(v, 1);
    errno = 0;
    EXPECT_EQ(sysctl_get_int("hw.re.other", &v), -1);
    EXPECT_EQ(errno, ENOENT);
}

TEST(Chassis, ProductValuesFromTheScenario) {
    RunningLab lab(kScenario);
    ASSERT_TRUE(lab.ok());
    EXPECT_EQ(norix_product_info_get_chassis_max_fpc_slots(), 20);
    EXPECT_EQ(mchassis_get_lcc_number(), 2);
    EXPECT_EQ(mchassis_get_max_fpc_slots_per_lcc(), 8);
    EXPECT_TRUE(product_walks_all_fpcs());
    EXPECT_TRUE(product_inline_reass_board(0x0b06));
    EXPECT_TRUE(product_inline_reass_board(2817));
    EXPECT_FALSE(product_inline_reass_board(1234));
    EXPECT_EQ(product_max_forwarding_classes(), 16u);
    uint32_t f;
    EXPECT_EQ(product_feature_get("no_such_feature", &f), ENOENT);
}

TEST(Chassis, DefaultsOfARouterWithoutAChassisSection) {
    RunningLab lab("name: bare\n");
    ASSERT_TRUE(lab.ok());
    EXPECT_EQ(nmchassis_is_vc_or_single_re_protocol_master(), 1);
    EXPECT_EQ(is_usf_mode(), 0);
    EXPECT_EQ(get_re_type(), -1);
    int v;
    EXPECT_EQ(sysctl_get_int("hw.re.mobile_gateway", &v), -1);
    EXPECT_EQ(norix_product_info_get_chassis_max_fpc_slots(), 12);
    EXPECT_EQ(mchassis_get_lcc_number(), 0);
    EXPECT_EQ(mchassis_get_max_fpc_slots_per_lcc(), 12);
    EXPECT_FALSE(product_walks_all_fpcs());
    EXPECT_FALSE(product_inline_reass_board(0));
    EXPECT_EQ(product_max_forwarding_classes(), PRODUCT_DEFAULT_FORWARDING_CLASSES);
    ASSERT_EQ(hwdb_open_db(nullptr, 0, HWDB_MODE_READONLY), 0);
    uint32_t id;
    EXPECT_LT(hwdb_fpc_get_uint(0, FPC_I2C_ID, &id), 0); // no boards
    hwdb_close_db();
    dax_db *db = dax_open_db(nullptr);
    ASSERT_NE(db, nullptr); // an empty database
    EXPECT_FALSE(dax_path_exists(db, "unified-edge"));
    dax_close_db(db);
}

TEST(Chassis, HardwareDatabaseBoardsPerSlot) {
    RunningLab lab(kScenario);
    ASSERT_TRUE(lab.ok());
    uint32_t id = 0;
    errno = 0;
    EXPECT_LT(hwdb_fpc_get_uint(0, FPC_I2C_ID, &id), 0); // not open yet
    EXPECT_EQ(errno, EBADF);
    EXPECT_LT(hwdb_open_db(nullptr, 0, 1), 0); // only read-only access
    ASSERT_EQ(hwdb_open_db(0, 0, 2), 0);
    EXPECT_EQ(hwdb_fpc_get_uint(0, FPC_I2C_ID, &id), 0);
    EXPECT_EQ(id, 0x0b06u);
    EXPECT_EQ(hwdb_fpc_get_uint(3, FPC_I2C_ID, &id), 0);
    EXPECT_EQ(id, 1234u);
    errno = 0;
    EXPECT_LT(hwdb_fpc_get_uint(1, FPC_I2C_ID, &id), 0); // empty slot
    EXPECT_EQ(errno, ENOENT);
    hwdb_close_db();
    EXPECT_LT(hwdb_fpc_get_uint(0, FPC_I2C_ID, &id), 0);
}

TEST(Chassis, NoHardwareDatabase) {
    RunningLab lab("chassis: {hwdb: false, fpc_boards: {0: 1}}\n");
    ASSERT_TRUE(lab.ok());
    EXPECT_LT(hwdb_open_db(nullptr, 0, HWDB_MODE_READONLY), 0);
}

TEST(Chassis, ConfigurationDatabasePaths) {
    RunningLab lab(kScenario);
    ASSERT_TRUE(lab.ok());
    const char *err = nullptr;
    dax_db *db = dax_open_db(&err);
    ASSERT_NE(db, nullptr) << err;
    const char *pgw = "unified-edge gateways ggsn-pgw $gw system anchor-spics interface mams-1/0/0";
    const char *sgw = "unified-edge gateways sgw $gw system anchor-spics interface mams-1/0/0";
    EXPECT_TRUE(dax_path_exists(db, pgw));
    EXPECT_FALSE(dax_path_exists(db, sgw));
    EXPECT_FALSE(dax_path_exists(
        db, "unified-edge gateways ggsn-pgw $gw system anchor-spics interface mams-2/0/0"));
    EXPECT_TRUE(dax_path_exists(db, "unified-edge gateways ggsn-pgw PGW1")); // a configured subtree
    EXPECT_FALSE(dax_path_exists(db, "unified-edge gateways ggsn-pgw PGW2"));
    EXPECT_FALSE(dax_path_exists(db, ""));
    dax_close_db(db);
}

TEST(Chassis, ConfigurationDatabaseThatCannotBeOpened) {
    {
        RunningLab lab("chassis: {config_db: unavailable}\n");
        ASSERT_TRUE(lab.ok());
        const char *err = nullptr;
        EXPECT_EQ(dax_open_db(&err), nullptr);
        EXPECT_STREQ(err, "no configuration database");
    }
    setenv("VOREL_LAB_SOCKET", "/nonexistent/vorel/control.sock", 1);
    const char *err = nullptr;
    EXPECT_EQ(dax_open_db(&err), nullptr);
    EXPECT_STREQ(err, "configuration database not reachable (Connection refused)");
    unsetenv("VOREL_LAB_SOCKET");
}

int run_mvorel(const std::vector<std::string> &args, std::string &out) {
    std::vector<std::string> argv{vorel::mvorel_path()};
    argv.insert(argv.end(), args.begin(), args.end());
    vorel::ProgramResult r;
    if (!vorel::run_program(argv, 4096, r))
        return -1;
    out = r.output;
    return r.status;
}

TEST(Chassis, PackageListingThroughMvorel) {
    RunningLab lab(kScenario);
    ASSERT_TRUE(lab.ok());
    std::string out;
    EXPECT_EQ(run_mvorel({"-c", "/usr/sbin/pkg_info", "-i", "ms-1/0/0"}, out), 0);
    EXPECT_EQ(out, "jservices-hcm\njservices-lrf\n");
    EXPECT_EQ(run_mvorel({"-c", "pkg_info -i ms-1/0/0"}, out), 0);
    EXPECT_EQ(out, "jservices-hcm\njservices-lrf\n");
    EXPECT_EQ(run_mvorel({"-c", "pkg_info", "-i", "ms-2/0/0"}, out), 0);
    EXPECT_EQ(out, "");
    EXPECT_EQ(run_mvorel({"-c", "pkg_info", "-i", "ms-9/0/0"}, out), 1); // unknown PIC
    EXPECT_EQ(out, "");
    EXPECT_EQ(run_mvorel({"-c", "pkg_info"}, out), 1);
    EXPECT_EQ(run_mvorel({"-c", "/bin/ls", "-l"}, out), 127);
    EXPECT_EQ(run_mvorel({"-c", "pkg_info -i ms-1/0/0; rm -rf /tmp/x"}, out), 1); // no shell
    EXPECT_EQ(run_mvorel({"pkg_info"}, out), 2);
}

std::vector<uint8_t> sync_state_request(const std::string &member) {
    vorel::ByteWriter w(188);
    w.text(128, 60, member);
    return w.take();
}

// Asks the monitor on an open connection for a member's state.
uint32_t ask_state(pconn_client *c, const std::string &member) {
    auto body = sync_state_request(member);
    EXPECT_EQ(pconn_client_send(c, 15, body.data(), body.size()), 0);
    pconn_msg reply;
    EXPECT_EQ(pconn_client_recv(c, reply, 5000), 0);
    EXPECT_EQ(reply.type, 18);
    vorel::ByteReader r(reply.body);
    uint32_t state = r.be32(12);
    EXPECT_TRUE(r.ok());
    return state;
}

TEST(Chassis, MonitorAnswersSyncStatesOverThePeerConnection) {
    RunningLab lab(kScenario);
    ASSERT_TRUE(lab.ok());
    pconn_client *c = pconn_client_connect(2, 0, PCONN_EP_MSVCS_SYNC_MONITOR);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(ask_state(c, "ms-1/0/0"), 11256099u);
    EXPECT_EQ(ask_state(c, "ms-3/0/0"), 11256100u);
    EXPECT_EQ(ask_state(c, "ms-5/0/0"), 11256102u); // not known to the monitor
    pconn_client_close(c);

    std::string log = lab.lab().runtime().request_log.text();
    auto hex = sync_state_request("ms-1/0/0");
    std::string first =
        "monitor 2/0 6201 00 0f 00 00 00 00 00 bc " + vorel::to_hex(hex.data(), hex.size()) + "\n";
    EXPECT_EQ(log.substr(0, first.size()), first);
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 3);

    c = pconn_client_connect(4, 1, PCONN_EP_MSVCS_SYNC_MONITOR);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(ask_state(c, "ms-1/0/0"), 11256102u);
    pconn_client_close(c);

    errno = 0;
    EXPECT_EQ(pconn_client_connect(1, 0, PCONN_EP_MSVCS_SYNC_MONITOR), nullptr); // no monitor
    EXPECT_EQ(errno, ECONNREFUSED);
}

TEST(Chassis, MonitorIgnoresOtherMessagesAndTheClientTimesOut) {
    RunningLab lab(kScenario);
    ASSERT_TRUE(lab.ok());
    pconn_client *c = pconn_client_connect(2, 0, PCONN_EP_MSVCS_SYNC_MONITOR);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(pconn_client_send(c, 99, "x", 1), 0);
    pconn_msg m;
    errno = 0;
    EXPECT_EQ(pconn_client_recv(c, m, 100), -1);
    EXPECT_EQ(errno, ETIMEDOUT);
    EXPECT_EQ(pconn_client_recv(c, m, 100), -1); // the connection was dropped
    EXPECT_LT(pconn_client_send(c, 15, "x", 1), 0);
    pconn_client_close(c);
    EXPECT_EQ(pconn_client_send(nullptr, 15, nullptr, 0), -1);
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
    std::vector<std::string> names;
    EXPECT_EQ(chassis_pic_packages("ms-1/0/0", names), ECONNREFUSED);
    std::string out;
    EXPECT_EQ(run_mvorel({"-c", "pkg_info", "-i", "ms-1/0/0"}, out), 1);
    EXPECT_EQ(pconn_client_connect(1, 0, PCONN_EP_MSVCS_SYNC_MONITOR), nullptr);
    unsetenv("VOREL_LAB_SOCKET");
    unsetenv("VOREL_LAB_NET");
}

TEST(Chassis, SyncStateTexts) {
    EXPECT_STREQ(msvcspmon_sync_state_to_string(0xABC123), "In sync");
    EXPECT_STREQ(msvcspmon_sync_state_to_string(0xABC124), "Sync in progress");
    EXPECT_STREQ(msvcspmon_sync_state_to_string(0xABC125), "No HA or no backup");
    EXPECT_STREQ(msvcspmon_sync_state_to_string(0xABC126), "State unavailable");
    EXPECT_STREQ(msvcspmon_sync_state_to_string(0xABC127), "Unknown");
    EXPECT_STREQ(msvcspmon_sync_state_to_string(0), "Unknown");
}

// The module alone: a monitor address already taken makes start answer
// EADDRINUSE (the lab then moves to another net) and release what it took.
TEST(ChassisModule, BusyMonitorAddressAnswersAddressInUse) {
    const unsigned net = 251;
    in_addr second;
    ASSERT_TRUE(vorel::lab_link::pic_agent_address(2, 1, second, net));
    int busy = vorel::tcp_listen(second, vorel::lab_link::kMonitorPort);
    ASSERT_GE(busy, 0) << vorel::errno_text(errno);

    vorel::lab::ScenarioReader reader("inline");
    YAML::Node root = YAML::Load("monitors: [{pic: ms-2/0/0}, {pic: ms-2/1/0}]");
    auto module = vorel::lab::make_chassis_module();
    module->load(root, reader);
    ASSERT_FALSE(reader.failed());
    vorel::lab::Runtime rt;
    rt.net = net;
    std::string err;
    EXPECT_EQ(module->start(rt, err), EADDRINUSE);
    EXPECT_NE(err.find("Address already in use"), std::string::npos) << err;
    close(busy);

    in_addr first;
    ASSERT_TRUE(vorel::lab_link::pic_agent_address(2, 0, first, net));
    int again = vorel::tcp_listen(first, vorel::lab_link::kMonitorPort);
    EXPECT_GE(again, 0) << "the first monitor's address was not released";
    if (again >= 0)
        close(again);
}

TEST(ChassisModule, ScenarioFaultsNameTheirLine) {
    ScenarioFile f("chassis:\n"
                   "  master: maybe\n"
                   "  product: {max_fpc_slots: 300, colour: red}\n"
                   "  fpc_boards: {x: 1}\n"
                   "  config_db: 7\n"
                   "  packages: {bogus: [a b]}\n"
                   "monitors:\n"
                   "  - pic: ms-1/9/0\n"
                   "  - pic: {fpc: 1, pic: 0}\n"
                   "    states: {ms-1/0/0: -1}\n"
                   "  - pic: ms-1/0/0\n");
    vorel::lab::Lab lab;
    std::vector<std::string> errors;
    EXPECT_FALSE(lab.load(f.path(), errors));
    std::string all;
    for (const auto &e : errors)
        all += e + "\n";
    for (const char *want :
         {":2:11: field 'master' must be true or false", ":3:28: number 300 is larger than 255",
          ":3:33: unknown field 'colour'", ":4:16: expected a number, found 'x'",
          ":5:14: field 'config_db' must be a list", ":6:14: 'bogus' is not a PIC name",
          ":6:22: a package name is one word", ":8:10: 'ms-1/9/0' is not a PIC name",
          ":10:24: expected a number, found '-1'", ":11:10: a second monitor on PIC 1/0"})
        EXPECT_NE(all.find(want), std::string::npos) << "missing: " << want << "\nin:\n" << all;
}

} // namespace

TEST(TimeDifference, HoursDaysAndWeeks) {
    EXPECT_EQ(time_diff_format(0), "00:00:00");
    EXPECT_EQ(time_diff_format(59), "00:00:59");
    EXPECT_EQ(time_diff_format(86399), "23:59:59");
    EXPECT_EQ(time_diff_format(86400), "1d 00:00:00");
    EXPECT_EQ(time_diff_format(93784), "1d 02:03:04");
    EXPECT_EQ(time_diff_format(604800), "1w0d 00:00:00");
    EXPECT_EQ(time_diff_format(2 * 604800 + 3 * 86400 + 45296), "2w3d 12:34:56");
    // A time in the future is no time ago.
    EXPECT_EQ(time_diff_format(-5), "00:00:00");
    EXPECT_EQ(time_diff_format(INT64_MAX), "15250284452471w3d 15:30:07");
}
