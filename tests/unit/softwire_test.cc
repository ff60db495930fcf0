// The softwire command lines (what an address option takes) and the
// decoder of the flow-table records.
#include "platform/bytes.h"
#include "tests/support/argv.h"
#include "vorel/vorel_cmd_sw.h"
#include "vorel/vorel_getopt.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using vorel::testing::Argv;

// The parameters the words give; the parse must succeed.
softwire_params parsed(std::vector<std::string> words) {
    words.insert(words.begin(), "vorel");
    Argv a(words);
    vorel_ctx ctx;
    ctx.optstring = vorel_optstring;
    vorel_getopt_reset();
    vorel_opterr = 0;
    softwire_params p;
    EXPECT_EQ(softwire_parse_options(a.argc(), a.argv(), &ctx, &p), 0);
    vorel_opterr = 1;
    return p;
}

// ---- Address options ----

// A letter other than g or b still takes its word, as "-F sport" does, so
// a "-c" after it is no option (the prefixes, the addresses, their bits
// and the refusals are seen end to end in softwire_state, softwire_tables
// and softwire_stats).
TEST(SoftwireAddress, AnUnknownLetterStillTakesItsWord) {
    EXPECT_EQ(parsed({"-K", "x", "-c"}).count_only, 0);
    EXPECT_EQ(parsed({"-F", "sport", "-c"}).count_only, 0);
    EXPECT_EQ(parsed({"-c"}).count_only, 1);
}

// ---- Records ----

// A reply one byte short of a record holds none; the fields' places are
// seen on every flow page end to end.
TEST(SoftwireRecord, AReplyShortOfARecordHoldsNone) {
    std::vector<uint8_t> bytes(SW_FLOW_RECORD_OFFSET + SW_FLOW_RECORD_LEN - 1, 0);
    sw_flow_record rec;
    EXPECT_FALSE(sw_flow_record_read(vorel::ByteReader(bytes), SW_FLOW_RECORD_OFFSET, &rec));
    bytes.push_back(2); // softwire type, the record's last byte
    ASSERT_TRUE(sw_flow_record_read(vorel::ByteReader(bytes), SW_FLOW_RECORD_OFFSET, &rec));
    EXPECT_EQ(rec.sw_type, 2);
}

} // namespace
