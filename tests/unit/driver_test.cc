// The per-PIC driver over a real snapshot and real channels.
#include "lab_fixture.h"
#include "vorel/vorel_db.h"
#include "vorel/vorel_driver.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

const char *kScenario = R"(
interfaces:
  - {index: 10, name: ms-1/0/0, type: 102, fpc: 1, pic: 0}
  - {index: 11, name: ms-1/1/0, type: 102, fpc: 1, pic: 1}
  - {index: 12, name: ms-2/0/0, type: 102, fpc: 2, pic: 0}
service_sets:
  - {name: a-first, id: 1, pic: ms-1/0/0}
  - {name: b-second, id: 2, pic: ms-1/0/0, rules: {word168: 1}}
  - {name: c-third, id: 3, pic: ms-1/0/0}
  - {name: d-other, id: 4, pic: ms-1/1/0}
  - {name: e-last, id: 5, pic: ms-2/0/0}
tunnel_groups:
  - {id: 9, name: tunnel, fpc: 1, pic: 0}
agents:
  - {pic: ms-1/0/0}
  - {pic: ms-1/1/0}
  - {pic: ms-2/0/0}
)";

struct calls {
    std::vector<std::string> log;
    int fail_on = -1; // the call (from 0) that answers -1
};

int record_open(vorel_ctx *, calls *c) {
    c->log.push_back("open");
    return 0;
}
int record_close(vorel_ctx *, calls *c) {
    c->log.push_back("close");
    return 0;
}
int record_query(vorel_ctx *, services_ui_conn *conn, asp_info *asp, svc_set_info *ss, calls *c) {
    int n = static_cast<int>(c->log.size()) - 1;
    c->log.push_back(std::string(asp->name) + (ss ? std::string(":") + ss->name : "") +
                     (conn ? "" : " (no channel)"));
    return n == c->fail_on ? -1 : 0;
}

const vorel_action<calls> table[] = {
    {"half", record_open, nullptr, record_query},
    {"walk", record_open, record_close, record_query},
    {nullptr, nullptr, nullptr, nullptr},
};

pic_walk per_pic_walk() {
    pic_walk w;
    w.open_channel = vorel_open_pic_xml_error;
    return w;
}

class Driver : public ::testing::Test {
  protected:
    void SetUp() override {
        vorel_db_clear();
        ASSERT_TRUE(lab.started);
        ASSERT_EQ(vorel_db_init(nullptr, nullptr, 0), 0);
    }
    void TearDown() override { vorel_db_clear(); }
    vorel::test::LabRun lab{kScenario};
    vorel_ctx ctx;
};

} // namespace

TEST_F(Driver, EveryPicOnceThenClose) {
    calls c;
    bool ran = false;
    EXPECT_EQ(vorel_run_action(table, "walk", per_pic_walk(), &ctx, &c, nullptr, &ran), 0);
    EXPECT_TRUE(ran);
    EXPECT_EQ(c.log,
              (std::vector<std::string>{"open", "ms-1/0/0", "ms-1/1/0", "ms-2/0/0", "close"}));
}

TEST_F(Driver, ARowWithoutCloseIsPassedOverAndTheActionIsUnknown) {
    calls c;
    bool ran = true;
    EXPECT_EQ(vorel_run_action(table, "half", per_pic_walk(), &ctx, &c, nullptr, &ran), -1);
    EXPECT_FALSE(ran);
    EXPECT_TRUE(c.log.empty());
    EXPECT_EQ(vorel_run_action(table, "nothing", per_pic_walk(), &ctx, &c, nullptr, &ran), -1);
    EXPECT_FALSE(ran);
}

TEST_F(Driver, AFailedQueryOnTheSecondPicStopsTheWalkBeforeClose) {
    calls c;
    c.fail_on = 1;
    bool ran = false;
    EXPECT_EQ(vorel_run_action(table, "walk", per_pic_walk(), &ctx, &c, nullptr, &ran), -1);
    EXPECT_EQ(c.log, (std::vector<std::string>{"open", "ms-1/0/0", "ms-1/1/0"}));
}

TEST_F(Driver, ServiceSetModePassesOnlyStyleBKindZeroAndTheNamedSet) {
    calls c;
    pic_walk w = per_pic_walk();
    w.loop = vorel_loop_svc_sets(nullptr);
    bool ran = false;
    vorel_run_action(table, "walk", w, &ctx, &c, nullptr, &ran);
    // b-second has kind 2 and the tunnel group style "D": neither is asked.
    EXPECT_EQ(c.log, (std::vector<std::string>{"open", "ms-1/0/0:a-first", "ms-1/0/0:c-third",
                                               "ms-1/1/0:d-other", "ms-2/0/0:e-last", "close"}));
    calls named;
    w.loop = vorel_loop_svc_sets("c-third");
    vorel_run_action(table, "walk", w, &ctx, &named, nullptr, &ran);
    EXPECT_EQ(named.log, (std::vector<std::string>{"open", "ms-1/0/0:c-third", "close"}));
}

TEST_F(Driver, NameFilterAndUnreachablePics) {
    calls c;
    pic_walk w = per_pic_walk();
    w.pic_name = "ms-1/1/0";
    bool ran = false;
    vorel_run_action(table, "walk", w, &ctx, &c, nullptr, &ran);
    EXPECT_EQ(c.log, (std::vector<std::string>{"open", "ms-1/1/0", "close"}));

    // A PIC whose channel cannot be opened is skipped, or stops the walk.
    calls skipped;
    pic_walk unreachable = per_pic_walk();
    unreachable.open_channel = [](const asp_info &a) -> services_ui_conn * {
        return a.pic_slot == 1 ? nullptr : vorel_open_pic_xml_error(a);
    };
    vorel_run_action(table, "walk", unreachable, &ctx, &skipped, nullptr, &ran);
    EXPECT_EQ(skipped.log, (std::vector<std::string>{"open", "ms-1/0/0", "ms-2/0/0", "close"}));
    calls stopped;
    unreachable.on_open_failure = open_failure::stop_walk;
    EXPECT_EQ(vorel_run_action(table, "walk", unreachable, &ctx, &stopped, nullptr, &ran), -1);
    EXPECT_EQ(stopped.log, (std::vector<std::string>{"open", "ms-1/0/0"}));
}

TEST(DriverEmpty, AnEmptySnapshotStillOpensAndCloses) {
    vorel_db_clear();
    calls c;
    vorel_ctx ctx;
    bool ran = false;
    pic_walk w;
    EXPECT_EQ(vorel_run_action(table, "walk", w, &ctx, &c, nullptr, &ran), 0);
    EXPECT_EQ(c.log, (std::vector<std::string>{"open", "close"}));
}

TEST(Snapshot, NamesMatchWholeWithinTheirField) {
    vorel_db_clear();
    auto rec = std::make_unique<asp_info>();
    rec->fpc_slot = 1;
    std::string name(59, 'n');
    std::memcpy(rec->name, name.c_str(), name.size() + 1);
    vorel_db_asp_add(std::move(rec), false);
    EXPECT_NE(vorel_db_asp_find_by_name(name.c_str()), nullptr);
    EXPECT_EQ(vorel_db_asp_find_by_name((name + "x").c_str()), nullptr);
    EXPECT_EQ(vorel_db_asp_find_by_name("n"), nullptr);

    // An inline service interface is never an ASP record.
    auto si = std::make_unique<asp_info>();
    si->fpc_slot = 5;
    si->flags = ASP_F_SI;
    std::memcpy(si->name, "si-5/0/0", 9);
    vorel_db_asp_add(std::move(si), false);
    EXPECT_STREQ(vorel_db_asp_find_next(nullptr)->name, name.c_str());
    EXPECT_EQ(vorel_db_asp_find_next(vorel_db_asp_find_next(nullptr)), nullptr);
    EXPECT_STREQ(vorel_db_si_find_next(nullptr)->name, "si-5/0/0");
    vorel_db_clear();
}
