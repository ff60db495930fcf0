// The session plug-in registry.
#include "tests/support/lab_fixture.h"
#include "vorel/vorel_cmd_msp.h"
#include "vorel/vorel_plugins.h"

#include <cerrno>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<int> g_calls;
template <int N> int printer(vorel_ctx *, services_ui_conn *) {
    g_calls.push_back(N);
    return N == 9 ? 5 : 0;
}

std::string logged(void (*f)()) {
    vorel::test::TempDir dir;
    setenv("VOREL_LOG_FILE", dir.file("log").c_str(), 1);
    vorel_session_plugins_reset();
    f();
    unsetenv("VOREL_LOG_FILE");
    std::stringstream s;
    s << std::ifstream(dir.file("log")).rdbuf();
    return s.str();
}

TEST(Registry, RefusesADuplicateAndATwentySecondRow) {
    std::string log = logged([] {
        vorel_register_all_session_plugins();
        EXPECT_EQ(vorel_register_session_plugin(327, printer<1>), EBUSY);
        EXPECT_EQ(vorel_session_plugin_lookup(327), &vorel_nat_translation_print);
        EXPECT_EQ(vorel_session_plugin_lookup(328), nullptr);
        for (uint32_t t = 1; t <= 20; t++)
            ASSERT_EQ(vorel_register_session_plugin(t, printer<1>), 0);
        EXPECT_EQ(vorel_register_session_plugin(22, printer<2>), ENOMEM);
        EXPECT_EQ(vorel_session_plugins_count(), 21u);
        EXPECT_EQ(vorel_session_plugin_lookup(22), nullptr);
    });
    EXPECT_NE(log.find("<3> VOREL_COMMAND_TYPE_ENTRY [index] VOREL_COMMAND_TYPE_ENTRY: entry for "
                       "command type 327 already exists"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("VOREL_SESSION_PLGIN_REGISTER: Number of session plugin entries exceeds 21"),
              std::string::npos)
        << log;
}

// Printers run in list order, unknown types passed over, until a 0, the
// first failure or the 21st type.
TEST(Registry, DumpCallsPrintersInListOrder) {
    vorel_session_plugins_reset();
    vorel_register_session_plugin(10, printer<1>);
    vorel_register_session_plugin(20, printer<2>);
    vorel_register_session_plugin(30, printer<9>);
    struct {
        std::vector<uint16_t> types;
        int rc;
        std::vector<int> calls;
    } cases[] = {
        {{20, 99, 10, 20, 0, 10}, 0, {2, 1, 2}},
        {{10, 30, 10}, 5, {1, 9}},
        {std::vector<uint16_t>(40, 10), 0, std::vector<int>(21, 1)},
        {{}, 0, {}},
    };
    for (const auto &c : cases) {
        g_calls.clear();
        EXPECT_EQ(vorel_dump_session_plugins(nullptr, nullptr, c.types.data(), c.types.size()),
                  c.rc);
        EXPECT_EQ(g_calls, c.calls);
    }
    vorel_session_plugins_reset();
}

} // namespace
