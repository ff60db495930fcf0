// Untrusted input at the edges: agent byte streams that break the
// channel's framing.
#include "platform/bytes.h"
#include "platform/services_ui.h"
#include "vorel/vorel_channel.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

// A channel whose agent has sent `stream` and closed its side.
struct ScriptedChannel {
    explicit ScriptedChannel(const std::vector<uint8_t> &stream) {
        int sv[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
        EXPECT_EQ(::write(sv[1], stream.data(), stream.size()),
                  static_cast<ssize_t>(stream.size()));
        ::shutdown(sv[1], SHUT_WR);
        peer = sv[1];
        services_ui_timer t{1, 1, 1};
        c = services_ui_attach(sv[0], &t);
        vorel::ByteWriter req = vorel_request(317, 1, 16);
        EXPECT_EQ(vorel_send(c, req), 0);
    }
    ~ScriptedChannel() {
        services_ui_close(c);
        ::close(peer);
    }
    services_ui_conn *c = nullptr;
    int peer = -1;
};

std::vector<uint8_t> frame(uint8_t kind, uint32_t length, std::vector<uint8_t> payload = {}) {
    vorel::ByteAppender a;
    a.u8(kind);
    a.u8(0);
    a.be16(0);
    a.be32(length);
    a.bytes(payload.data(), payload.size());
    return a.take();
}

} // namespace

// A frame of an unknown kind, one longer than the limit (refused before it
// arrives) and one cut by the agent's close break the channel; a message too
// short for its type is passed over.
TEST(ChannelFraming, BadFramesBreakTheChannelShortMessagesArePassedOver) {
    for (auto [stream, error] : std::initializer_list<std::pair<std::vector<uint8_t>, int>>{
             {frame(7, 0), EPROTO},
             {frame(SERVICES_UI_FRAME_REPLY, SERVICES_UI_MAX_FRAME + 1), EPROTO},
             {frame(SERVICES_UI_FRAME_REPLY, 100, {0x01, 0x3e, 0, 1}), EPIPE}}) {
        ScriptedChannel ch(stream);
        EXPECT_FALSE(services_ui_receive(ch.c, 318, 1));
        EXPECT_EQ(services_ui_last_error(ch.c), error);
        vorel::ByteWriter req = vorel_request(317, 1, 16);
        EXPECT_LT(vorel_send(ch.c, req), 0);
        EXPECT_EQ(errno, EPIPE);
    }
    std::vector<uint8_t> stream = frame(SERVICES_UI_FRAME_REPLY, 1, {0x01});
    for (auto f : {frame(SERVICES_UI_FRAME_REPLY, 8, {0x01, 0x3e, 0, 1, 0, 2, 0, 0}),
                   frame(SERVICES_UI_FRAME_ANSWER_END, 0)})
        stream.insert(stream.end(), f.begin(), f.end());
    ScriptedChannel ch(stream);
    services_ui_reply r = services_ui_receive(ch.c, 318, 1);
    ASSERT_TRUE(r);
    EXPECT_EQ(r.size, 8u);
    EXPECT_FALSE(services_ui_receive(ch.c, 318, 1));
    EXPECT_EQ(services_ui_last_error(ch.c), 0);
}
