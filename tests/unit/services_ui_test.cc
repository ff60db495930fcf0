// The Services UI channel against the lab's agents, over real sockets.
#include "lab/lab.h"
#include "lab/layouts.h"
#include "platform/bytes.h"
#include "platform/lab_link.h"
#include "platform/services_ui.h"
#include "platform/sockio.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

using namespace vorel;

namespace {

const char *kScenario = R"(name: services-ui-test
layouts:
  - name: record
    type: 131
    size: 200
    fields:
      - {name: seq, offset: 8, type: be32}
      - {name: tag, offset: 192, type: text, width: 8}
  - name: test_large_part
    type: 1
    size: 24
    fields:
      - {name: length, offset: 16, type: be32}
      - {name: data, offset: 20, type: bytes, width: 4}
agents:
  - pic: ms-1/0/0
    rules:
      - match: {type: 317, version: 1}
        reply:
          - layout: tcplog_conn_reply
            fields:
              entries:
                - {state: 3, local_addr: 10.0.0.1, remote_addr: "2001:db8::7", remote_port: 514, session_id: 42}
      - match: {type: 100}
        reply:
          - {bytes: "00 63 00 01 00 03 00 00 99 99 99 99"}
          - {bytes: "00 65 00 01 00 03 00 00 aa aa aa aa"}
          - {bytes: "00 65 00 01 00 03 00 00 bb bb bb bb"}
      - match: {type: 102}
        reply: [{bytes: "00 67 00 01 00 02 00 00"}]
        large_object:
          type: 104
          parts:
            - {layout: test_large_part, fields: {length: 4, data: "01 02 03 04"}}
            - {bytes: "00 69 00 01 00 02 00 00"}
            - {layout: test_large_part, fields: {length: 2, data: "05 06"}}
      - match: {type: 120}
        times: 1
        reply:
          - {bytes: "00 79 00 01 00 03 00 00 00 00 00 01"}
          - {bytes: "00 79 00 01 00 03 00 00 00 00 00 02"}
      - match: {type: 120}
        reply: [{bytes: "00 79 00 01 00 03 00 00 00 00 00 03"}]
      - match: {type: 130}
        reply:
          - {layout: record, fields: {tag: gen}, repeat: 100000, vary: {seq: {start: 1}}}
  - pic: {fpc: 1, pic: 1}
    rules:
      - match: {type: 200}
        fault: {kind: no_answer}
      - match: {type: 202}
        reply: [{bytes: "00 cb 00 01 00 02 00 00"}]
        fault: {kind: delay, seconds: 0.05}
      - match: {type: 204}
        reply:
          - {bytes: "00 cd 00 01 00 03 00 00 00 00 00 01"}
          - {bytes: "00 cd 00 01 00 03 00 00 00 00 00 02"}
        fault: {kind: close, after_bytes: 30}
      - match: {type: 206}
        reply: [{bytes: "00 cf 00 01 00 04 00 00 01 02 03 04 05 06 07 08"}]
        fault: {kind: truncate, after_bytes: 10}
      - match: {type: 208}
        reply: [{bytes: "00 d1 00 01 00 04 00 00 01 02 03 04 05 06 07 08"}]
        fault: {kind: lie_length, msg_len: 99}
      - match: {type: 210}
        reply: [{bytes: "00 d3 00 01 00 02 00 00"}]
        fault: {kind: wrong_type, type: 999}
      - match: {type: 212}
        reply: [{bytes: "00 d5 00 01 00 02 00 00"}]
        fault: {kind: drop_end}
  - pic: ms-1/2/0
    rules:
      - match: {type: 30, svc_set_id: 5, bytes: {8: "42"}}
        reply: [{bytes: "00 1f 00 01 00 03 00 00 79 65 73 00"}]
      - match: {type: 30}
        reply: [{bytes: "00 1f 00 01 00 03 00 00 6e 6f 00 00"}]
  - linecard: 2
    rules:
      - match: {type: 300}
        reply: [{bytes: "01 2d 00 01 00 02 00 00"}]
)";

std::vector<std::pair<int, std::string>> g_reports;

int record_error(int level, const char *fmt, ...) {
    char text[1024];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    g_reports.emplace_back(level, text);
    return 0;
}

// A request of `size` bytes whose header says 16 bytes (msg_len 4).
std::vector<uint8_t> request(uint16_t type, uint16_t version = 1, uint16_t svc_set_id = 0,
                             size_t size = 16) {
    ByteWriter w(size);
    w.be16(0, type);
    w.be16(2, version);
    w.be16(4, 4);
    w.be16(6, svc_set_id);
    return w.take();
}

int send(services_ui_conn *c, const std::vector<uint8_t> &req) {
    return services_ui_send(c, req.data(), req.size());
}

std::string hex(const services_ui_reply &r) {
    return to_hex(r.data, r.size);
}

// Receive waits 1 s at most: the unit is 100 ms in these tests.
const services_ui_timer kShortTimers{5, 5, 10};

class ServicesUi : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        std::string base = "/tmp/vorel-ui-test-" + std::to_string(getpid());
        scenario_ = base + ".yaml";
        socket_ = base + ".sock";
        std::ofstream(scenario_) << kScenario;
        lab_ = new lab::Lab;
        std::vector<std::string> errors;
        ASSERT_TRUE(lab_->load(scenario_, errors)) << errors.front();
        std::string err;
        ASSERT_TRUE(lab_->start(0, socket_, err)) << err;
        setenv("VOREL_LAB_SOCKET", socket_.c_str(), 1);
        setenv("VOREL_LAB_NET", std::to_string(lab_->net()).c_str(), 1);
        setenv("VOREL_UI_TIME_UNIT_MS", "100", 1);
    }
    static void TearDownTestSuite() {
        lab_->stop();
        delete lab_;
        lab_ = nullptr;
        ::unlink(scenario_.c_str());
    }

    static lab::Lab *lab_;
    static std::string scenario_;
    static std::string socket_;
};

lab::Lab *ServicesUi::lab_ = nullptr;
std::string ServicesUi::scenario_;
std::string ServicesUi::socket_;

} // namespace

TEST_F(ServicesUi, TcplogReplyCrossesIntactWithItsTrueSize) {
    services_ui_conn *c = services_ui_open(1, 0, SERVICES_UI_PIC_PORT, record_error);
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(send(c, request(317)), 0);
    services_ui_reply r = services_ui_receive(c, 318, 1);
    ASSERT_TRUE(r);
    ASSERT_EQ(r.size, 14360u);
    ByteReader rd(r.data, r.size);
    EXPECT_EQ(rd.be16(0), 318);
    EXPECT_EQ(rd.be16(4), 3590);
    EXPECT_EQ(rd.be16(16), 1);
    EXPECT_EQ(rd.u8(24), 3);
    EXPECT_EQ(rd.be32(28), 0x0a000001u);
    EXPECT_EQ(to_hex(rd.data() + 48, 20),
              "20 01 0d b8 00 00 00 00 00 00 00 00 00 00 00 07 01 00 00 00");
    EXPECT_EQ(rd.be16(68), 514);
    EXPECT_EQ(rd.be64(72), 42u);
    for (size_t off = 80; off < rd.size(); off++)
        ASSERT_EQ(rd.u8(off), 0) << off;
    EXPECT_FALSE(services_ui_receive(c, 318, 1));
    EXPECT_EQ(services_ui_last_error(c), 0);
    services_ui_close(c);
}

TEST_F(ServicesUi, OtherTypesArePassedOverAndTheAnswerEndGivesNullAtOnce) {
    services_ui_conn *c =
        services_ui_open_timeout(1, 0, SERVICES_UI_PIC_PORT, record_error, &kShortTimers);
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(send(c, request(100)), 0);
    EXPECT_EQ(hex(services_ui_receive(c, 101, 1)), "00 65 00 01 00 03 00 00 aa aa aa aa");
    EXPECT_EQ(hex(services_ui_receive(c, 101, 1)), "00 65 00 01 00 03 00 00 bb bb bb bb");
    EXPECT_FALSE(services_ui_receive(c, 101, 1));
    EXPECT_EQ(services_ui_last_error(c), 0); // the agent's end marker, not the timer
    // After the end, a further receive does not wait for anything.
    EXPECT_FALSE(services_ui_receive(c, 101, 1));
    EXPECT_EQ(services_ui_last_error(c), 0);
    // The type passed over is gone too: the answer is over.
    EXPECT_FALSE(services_ui_receive(c, 99, 1));
    services_ui_close(c);
}

TEST_F(ServicesUi, LeftoversOfAnEarlierAnswerAreDiscarded) {
    services_ui_conn *c =
        services_ui_open_timeout(1, 0, SERVICES_UI_PIC_PORT, record_error, &kShortTimers);
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(send(c, request(120)), 0);
    EXPECT_EQ(hex(services_ui_receive(c, 121, 1)), "00 79 00 01 00 03 00 00 00 00 00 01");
    // The caller stops reading; the second reply of the same type is still
    // on its way and must not be taken for the answer to the next request.
    ASSERT_EQ(send(c, request(120)), 0);
    EXPECT_EQ(hex(services_ui_receive(c, 121, 1)), "00 79 00 01 00 03 00 00 00 00 00 03");
    EXPECT_FALSE(services_ui_receive(c, 121, 1));
    EXPECT_EQ(services_ui_last_error(c), 0);
    services_ui_close(c);
}

TEST_F(ServicesUi, LargeObjectPartsAreIntactAndOwnedByTheCaller) {
    services_ui_conn *c =
        services_ui_open_timeout(1, 0, SERVICES_UI_PIC_PORT, record_error, &kShortTimers);
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(send(c, request(102)), 0);
    EXPECT_EQ(hex(services_ui_receive(c, 103, 1)), "00 67 00 01 00 02 00 00");
    auto first = services_ui_receive_large_obj(c, 104, 1);
    auto second = services_ui_receive_large_obj(c, 104, 1); // the part of type 105 is passed over
    EXPECT_EQ(services_ui_receive_large_obj(c, 104, 1), nullptr);
    EXPECT_EQ(services_ui_last_error(c), 0);
    EXPECT_FALSE(services_ui_receive(c, 103, 1));
    services_ui_close(c);
    // The parts outlive the channel and its buffer.
    ASSERT_TRUE(first && second);
    EXPECT_EQ(to_hex(first->data(), first->size()),
              "00 68 00 01 00 06 00 00 00 00 00 00 00 00 00 00 00 00 00 04 01 02 03 04");
    EXPECT_EQ(to_hex(second->data(), second->size()),
              "00 68 00 01 00 06 00 00 00 00 00 00 00 00 00 00 00 00 00 02 05 06 00 00");
}

TEST_F(ServicesUi, SilentAgentsEndTheReceiveAfterTheTimer) {
    services_ui_conn *c =
        services_ui_open_timeout(1, 1, SERVICES_UI_PIC_PORT, record_error, &kShortTimers);
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(send(c, request(200)), 0);
    EXPECT_FALSE(services_ui_receive(c, 201, 1));
    EXPECT_EQ(services_ui_last_error(c), ETIMEDOUT);
    services_ui_close(c);

    // Without its end marker an answer ends by the timer too, after its replies.
    c = services_ui_open_timeout(1, 1, SERVICES_UI_PIC_PORT, record_error, &kShortTimers);
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(send(c, request(212)), 0);
    EXPECT_EQ(hex(services_ui_receive(c, 213, 1)), "00 d5 00 01 00 02 00 00");
    EXPECT_FALSE(services_ui_receive(c, 213, 1));
    EXPECT_EQ(services_ui_last_error(c), ETIMEDOUT);
    services_ui_close(c);
}

TEST_F(ServicesUi, DelayUnderTheLimitIsReceived) {
    services_ui_conn *c =
        services_ui_open_timeout(1, 1, SERVICES_UI_PIC_PORT, record_error, &kShortTimers);
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(send(c, request(202)), 0);
    EXPECT_EQ(hex(services_ui_receive(c, 203, 1)), "00 cb 00 01 00 02 00 00");
    EXPECT_FALSE(services_ui_receive(c, 203, 1));
    EXPECT_EQ(services_ui_last_error(c), 0);
    services_ui_close(c);
}

TEST_F(ServicesUi, CloseMidAnswerEndsTheChannel) {
    services_ui_conn *c =
        services_ui_open_timeout(1, 1, SERVICES_UI_PIC_PORT, record_error, &kShortTimers);
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(send(c, request(204)), 0);
    // The first frame (20 bytes) arrived whole; the second is cut after 10.
    EXPECT_EQ(hex(services_ui_receive(c, 205, 1)), "00 cd 00 01 00 03 00 00 00 00 00 01");
    EXPECT_FALSE(services_ui_receive(c, 205, 1));
    EXPECT_EQ(services_ui_last_error(c), EPIPE);
    EXPECT_LT(send(c, request(204)), 0);
    // Messages name the agent the channel was opened to.
    EXPECT_STREQ(services_ui_peer(c), "fpc 1 pic 1");
    services_ui_close(c);
}

TEST_F(ServicesUi, CutAndLyingMessagesAreDeliveredAsSent) {
    services_ui_conn *c =
        services_ui_open_timeout(1, 1, SERVICES_UI_PIC_PORT, record_error, &kShortTimers);
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(send(c, request(206)), 0);
    services_ui_reply r = services_ui_receive(c, 207, 1);
    EXPECT_EQ(r.size, 10u); // the true size, not what msg_len claims
    EXPECT_EQ(hex(r), "00 cf 00 01 00 04 00 00 01 02");
    EXPECT_FALSE(services_ui_receive(c, 207, 1));

    ASSERT_EQ(send(c, request(208)), 0);
    EXPECT_EQ(hex(services_ui_receive(c, 209, 1)),
              "00 d1 00 01 00 63 00 00 01 02 03 04 05 06 07 08");

    // A reply of another type than asked for is passed over: no reply.
    ASSERT_EQ(send(c, request(210)), 0);
    EXPECT_FALSE(services_ui_receive(c, 211, 1));
    EXPECT_EQ(services_ui_last_error(c), 0);
    services_ui_close(c);
}

TEST_F(ServicesUi, MissingAgentFailsTheOpenAndReportsAtLevelOne) {
    g_reports.clear();
    EXPECT_EQ(services_ui_open_timeout(3, 5, SERVICES_UI_PIC_PORT, record_error, &kShortTimers),
              nullptr);
    EXPECT_EQ(services_inline_ui_open(9, SERVICES_UI_INLINE_PORT, record_error), nullptr);
    ASSERT_EQ(g_reports.size(), 2u);
    EXPECT_EQ(g_reports[0].first, 1);
    EXPECT_EQ(g_reports[0].second,
              "services_ui: cannot connect to fpc 3 pic 5 port 6200: Connection refused\n");
    EXPECT_EQ(g_reports[1].first, 1);
    EXPECT_EQ(g_reports[1].second,
              "services_ui: cannot connect to fpc 9 port 33019: Connection refused\n");
    EXPECT_EQ(services_ui_open(1, 8, SERVICES_UI_PIC_PORT, nullptr),
              nullptr); // no slot 8: no address
}

TEST_F(ServicesUi, RequestLogNamesEveryRequestExactly) {
    services_ui_conn *c =
        services_ui_open_timeout(1, 2, SERVICES_UI_PIC_PORT, record_error, &kShortTimers);
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(send(c, request(317)), 0);
    EXPECT_FALSE(services_ui_receive(c, 318, 1)); // no rule: just the answer end
    EXPECT_EQ(services_ui_last_error(c), 0);
    std::vector<uint8_t> svc = request(30, 2, 5, 32); // only msg_len's 16 bytes go out
    svc[8] = 'B';
    ASSERT_EQ(send(c, svc), 0);
    EXPECT_EQ(hex(services_ui_receive(c, 31, 1)), "00 1f 00 01 00 03 00 00 79 65 73 00");
    ASSERT_EQ(send(c, request(30, 2, 6)), 0);
    EXPECT_EQ(hex(services_ui_receive(c, 31, 1)), "00 1f 00 01 00 03 00 00 6e 6f 00 00");
    services_ui_close(c);

    c = services_inline_ui_open(2, SERVICES_UI_INLINE_PORT, record_error);
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(send(c, request(300)), 0);
    EXPECT_EQ(hex(services_ui_receive(c, 301, 1)), "01 2d 00 01 00 02 00 00");
    services_ui_close(c);

    lab_link::Answer a = lab_link::call_once(lab_link::kLab, lab_link::kRequestLog, {});
    ASSERT_EQ(a.status, 0);
    ByteCursor cur{ByteReader(a.body)};
    uint32_t len = cur.be32();
    ByteReader text = cur.bytes(len);
    std::istringstream lines(std::string(reinterpret_cast<const char *>(text.data()), text.size()));
    std::string mine;
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("pic 1/2 ", 0) == 0 || line.rfind("linecard 2 ", 0) == 0)
            mine += line + "\n";
    EXPECT_EQ(mine, "pic 1/2 6200 01 3d 00 01 00 04 00 00 00 00 00 00 00 00 00 00\n"
                    "pic 1/2 6200 00 1e 00 02 00 04 00 05 42 00 00 00 00 00 00 00\n"
                    "pic 1/2 6200 00 1e 00 02 00 04 00 06 00 00 00 00 00 00 00 00\n"
                    "linecard 2 33019 01 2c 00 01 00 04 00 00 00 00 00 00 00 00 00 00\n");
}

TEST_F(ServicesUi, GeneratedAnswerArrivesComplete) {
    services_ui_conn *c = services_ui_open(1, 0, SERVICES_UI_PIC_PORT, record_error);
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(send(c, request(130)), 0);
    uint32_t n = 0;
    while (services_ui_reply r = services_ui_receive(c, 131, 1)) {
        ByteReader rd(r.data, r.size);
        ASSERT_EQ(r.size, 200u);
        ASSERT_EQ(rd.be16(4), 50);
        ASSERT_EQ(rd.be32(8), ++n);
        ASSERT_EQ(rd.text(192, 8), "gen");
    }
    EXPECT_EQ(services_ui_last_error(c), 0);
    EXPECT_EQ(n, 100000u);
    services_ui_close(c);
}

TEST_F(ServicesUi, AgentClosesOnARequestShorterThanItsHeader) {
    in_addr addr;
    ASSERT_TRUE(lab_link::pic_agent_address(1, 0, addr));
    int fd = tcp_connect(addr, lab_link::kPicPort, 1000);
    ASSERT_GE(fd, 0);
    set_socket_timeouts(fd, 2000, 2000);
    const uint8_t bad[8] = {0x01, 0x3d, 0, 1, 0, 1, 0, 0}; // msg_len 1
    ASSERT_TRUE(write_full(fd, bad, sizeof bad));
    uint8_t b;
    EXPECT_EQ(read_full(fd, &b, 1), 0); // closed, nothing answered
    ::close(fd);
}

TEST_F(ServicesUi, ASecondLabCannotTakeTheSameNetwork) {
    lab::Lab other;
    std::vector<std::string> errors;
    ASSERT_TRUE(other.load(scenario_, errors));
    std::string err;
    EXPECT_FALSE(other.start(lab_->net(), socket_ + ".2", err));
    EXPECT_NE(err.find("Address already in use"), std::string::npos) << err;
}

TEST_F(ServicesUi, OutputSoFarIsFlushedBeforeWaitingOnAnAgent) {
    char path[] = "/tmp/vorel-ui-stdout-XXXXXX";
    int file = mkstemp(path);
    ASSERT_GE(file, 0);
    std::fflush(stdout);
    int saved = dup(STDOUT_FILENO);
    dup2(file, STDOUT_FILENO);
    std::printf("before the wait"); // no newline: stays buffered unless flushed
    services_ui_conn *c =
        services_ui_open_timeout(1, 1, SERVICES_UI_PIC_PORT, record_error, &kShortTimers);
    bool got =
        c && send(c, request(202)) == 0 && services_ui_receive(c, 203, 1); // the agent answers late
    char seen[64] = {};
    ssize_t n = pread(file, seen, sizeof seen - 1, 0);
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    ::close(saved);
    ::close(file);
    ::unlink(path);
    services_ui_close(c);
    EXPECT_TRUE(got);
    EXPECT_EQ(std::string(seen, n > 0 ? static_cast<size_t>(n) : 0), "before the wait");
}
