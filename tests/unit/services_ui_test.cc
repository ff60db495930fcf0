// The Services UI channel against the lab's agents, over real sockets: what
// the end-to-end runs cannot see (leftovers of an earlier answer, the bytes
// beyond msg_len, the flush before a wait).
#include "platform/bytes.h"
#include "platform/services_ui.h"
#include "tests/support/lab_fixture.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace vorel;

namespace {

const char *kScenario = R"(name: services-ui-test
agents:
  - pic: ms-1/0/0
    rules:
      - match: {type: 120}
        times: 1
        reply:
          - {bytes: "00 79 00 01 00 03 00 00 00 00 00 01"}
          - {bytes: "00 79 00 01 00 03 00 00 00 00 00 02"}
      - match: {type: 120}
        reply: [{bytes: "00 79 00 01 00 03 00 00 00 00 00 03"}]
      - match: {type: 30, bytes: {8: "42"}}
        reply: [{bytes: "00 1f 00 01 00 03 00 00 79 65 73 00"}]
  - pic: {fpc: 1, pic: 1}
    rules:
      - match: {type: 202}
        reply: [{bytes: "00 cb 00 01 00 02 00 00"}]
        fault: {kind: delay, seconds: 0.05}
)";

// A request of `size` bytes whose header says 16 bytes (msg_len 4).
std::vector<uint8_t> request(uint16_t type, size_t size = 16) {
    ByteWriter w(size);
    w.be16(0, type);
    w.be16(2, 1);
    w.be16(4, 4);
    return w.take();
}

std::string hex(const services_ui_reply &r) {
    return to_hex(r.data, r.size);
}

const services_ui_timer kShortTimers{5, 5, 10};

class ServicesUi : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(run.started);
        c = services_ui_open_timeout(1, 0, SERVICES_UI_PIC_PORT, nullptr, &kShortTimers);
        ASSERT_NE(c, nullptr);
    }
    void TearDown() override { services_ui_close(c); }
    int send(const std::vector<uint8_t> &req) {
        return services_ui_send(c, req.data(), req.size());
    }

    test::LabRun run{kScenario};
    services_ui_conn *c = nullptr;
};

} // namespace

// The caller stops reading; the second reply of the same type is still on
// its way and must not be taken for the answer to the next request.
TEST_F(ServicesUi, LeftoversOfAnEarlierAnswerAreDiscarded) {
    EXPECT_EQ(services_ui_open(1, 8, SERVICES_UI_PIC_PORT, nullptr), nullptr); // no slot 8
    ASSERT_EQ(send(request(120)), 0);
    EXPECT_EQ(hex(services_ui_receive(c, 121, 1)), "00 79 00 01 00 03 00 00 00 00 00 01");
    ASSERT_EQ(send(request(120)), 0);
    EXPECT_EQ(hex(services_ui_receive(c, 121, 1)), "00 79 00 01 00 03 00 00 00 00 00 03");
    EXPECT_FALSE(services_ui_receive(c, 121, 1));
    // Only msg_len's 16 bytes of a longer buffer go out.
    std::vector<uint8_t> longer = request(30, 32);
    longer[8] = 0x42;
    longer[20] = 0x99;
    ASSERT_EQ(send(longer), 0);
    EXPECT_EQ(hex(services_ui_receive(c, 31, 1)), "00 1f 00 01 00 03 00 00 79 65 73 00");
    EXPECT_NE(run.requests().find("pic 1/0 6200 00 1e 00 01 00 04 00 00 42 00 00 00 00 00 00 00\n"),
              std::string::npos)
        << run.requests();
}

TEST_F(ServicesUi, OutputSoFarIsFlushedBeforeWaitingOnAnAgent) {
    char path[] = "/tmp/vorel-ui-stdout-XXXXXX";
    int file = mkstemp(path);
    ASSERT_GE(file, 0);
    std::fflush(stdout);
    int saved = dup(STDOUT_FILENO);
    dup2(file, STDOUT_FILENO);
    std::printf("before the wait"); // no newline: stays buffered unless flushed
    services_ui_conn *late =
        services_ui_open_timeout(1, 1, SERVICES_UI_PIC_PORT, nullptr, &kShortTimers);
    std::vector<uint8_t> req = request(202);
    bool got = late && services_ui_send(late, req.data(), req.size()) == 0 &&
               services_ui_receive(late, 203, 1); // the agent answers late
    char seen[64] = {};
    ssize_t n = pread(file, seen, sizeof seen - 1, 0);
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    ::close(saved);
    ::close(file);
    ::unlink(path);
    services_ui_close(late);
    EXPECT_TRUE(got);
    EXPECT_EQ(std::string(seen, n > 0 ? static_cast<size_t>(n) : 0), "before the wait");
}
