// The shared output pieces every action uses: record sections, counter
// tables, and the checked reads of fixed records.
#include "platform/bytes.h"
#include "platform/xml.h"
#include "vorel/vorel_counters.h"
#include "vorel/vorel_section.h"
#include "vorel/vorel_tally.h"
#include "vorel/vorel_util.h"

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// Collects what the program writes, XML or text, in memory.
class Output : public ::testing::Test {
  protected:
    void SetUp() override {
        out_ = open_memstream(&buf_, &len_);
        ASSERT_NE(out_, nullptr);
        xml_set_output(out_);
    }
    void TearDown() override {
        xml_subtree_unwind();
        xml_set_mode(false);
        xml_set_output(nullptr);
        std::fclose(out_);
        std::free(buf_);
    }
    void xml(bool on) {
        ctx_.xml = on;
        xml_set_mode(on);
    }
    std::string xml_text() {
        std::fflush(out_);
        return std::string(buf_, len_);
    }

    vorel_ctx ctx_;
    FILE *out_ = nullptr;
    char *buf_ = nullptr;
    size_t len_ = 0;
};

TEST_F(Output, ASectionOpensOnceOnDemandAndClosesOnEveryWayOut) {
    xml(true);
    xml_subtree_open("root");
    int opened = 0;
    {
        vorel_section never(&ctx_, "never-rendered");
        vorel_section entry(&ctx_, "entry");
        for (int i = 0; i < 3; i++)
            if (entry.open())
                opened++;
        xml_send_all("leaf", "%d", 1);
        // Leaving the scope (an early return) closes what was opened.
    }
    xml_subtree_close();
    xml_subtree_once();
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(xml_text(), "<root>\n  <entry>\n    <leaf>1</leaf>\n  </entry>\n</root>\n");
    EXPECT_EQ(xml_depth(), 0u);
}

TEST_F(Output, ASectionInTextPrintsItsHeadingAndFooterOnce) {
    xml(false);
    testing::internal::CaptureStdout();
    {
        vorel_section s(&ctx_, "entry");
        s.on_text_open([] { std::printf("PIC: ms-1/0/0\n"); }).on_text_close([] {
            std::printf("--\n");
        });
        s.open();
        s.open();
        s.close();
        s.close();
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "PIC: ms-1/0/0\n--\n");
}

const vorel_counter kCounters[] = {
    {"first-counter", 0, 4, "First"},
    {"wide-counter", 4, 8, "Wide"},
    {"summed-counter", 12, 4, nullptr, 16},
    {"other-reply-counter", 0, 2, "Other", 0, 1},
};

TEST_F(Output, ACounterGroupInXmlHasEveryLeafAndSumsPairs) {
    xml(true);
    const uint8_t a[] = {0, 0, 0, 7, 0, 0, 0, 1, 0, 0, 0, 2, 0xff, 0xff, 0xff, 0xff, 0, 0, 0, 3};
    const uint8_t b[] = {1, 2};
    const vorel::ByteReader sources[] = {vorel::ByteReader(a, sizeof a),
                                         vorel::ByteReader(b, sizeof b)};
    xml_subtree_open("root");
    vorel_counters_emit(&ctx_, {"group", kCounters}, sources, nullptr);
    xml_subtree_close();
    xml_subtree_once();
    EXPECT_EQ(xml_text(), "<root>\n"
                          "  <group>\n"
                          "    <first-counter>7</first-counter>\n"
                          "    <wide-counter>4294967298</wide-counter>\n"
                          "    <summed-counter>4294967298</summed-counter>\n"
                          "    <other-reply-counter>258</other-reply-counter>\n"
                          "  </group>\n"
                          "</root>\n");
}

TEST_F(Output, ACounterGroupInTextShowsOnlyLabelledCountersAndZeroForShortReplies) {
    xml(false);
    const uint8_t a[] = {0, 0, 0, 9};
    testing::internal::CaptureStdout();
    vorel_counters_emit(&ctx_, {"group", kCounters}, vorel::ByteReader(a, sizeof a),
                        "  %-8s: %llu\n");
    // The fourth counter's reply was not handed over: it shows 0.
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "  First   : 9\n  Wide    : 0\n  Other   : 0\n");
}

TEST(CounterValue, ASumOfSixtyFourBitCountersStopsAtTheLargestValue) {
    uint8_t a[16];
    std::fill(a, a + 16, 0xff);
    vorel_counter c{"x", 0, 8, nullptr, 8};
    const vorel::ByteReader r(a, sizeof a);
    EXPECT_EQ(vorel_counter_value(c, std::span<const vorel::ByteReader>(&r, 1)), UINT64_MAX);
    vorel_counter missing_source{"x", 0, 4, nullptr, 0, 3};
    EXPECT_EQ(vorel_counter_value(missing_source, std::span<const vorel::ByteReader>(&r, 1)), 0u);
}

TEST(ByteBlock, WideSignedLittleEndianAndTextReads) {
    const uint8_t bytes[] = {0x80, 0, 0, 0, 0, 0, 0, 1, 0xff, 0xfe, 0x34, 0x12, 'a', 'b', 'c', 'd'};
    vorel::ByteReader r(bytes, sizeof bytes);
    vorel::ByteBlock<16> b;
    ASSERT_TRUE(r.block(0, b));
    EXPECT_EQ(b.be64<0>(), 0x8000000000000001ull);
    EXPECT_EQ(b.sbe16<8>(), -2);
    EXPECT_EQ(b.le16<10>(), 0x1234);
    // A name that fills its field has no NUL and stops at the field's end.
    EXPECT_EQ((b.text<12, 4>()), "abcd");
    EXPECT_EQ((b.text<10, 4>()), std::string_view("\x34\x12"
                                                  "ab",
                                                  4));
    vorel::ByteBlock<4> nul;
    const uint8_t with_nul[] = {'x', 0, 'y', 'z'};
    ASSERT_TRUE(vorel::ByteReader(with_nul, 4).block(0, nul));
    EXPECT_EQ((nul.text<0, 4>()), "x");
}

} // namespace

// A service set's section names the PIC and the service set as it opens;
// a table section nested in it closes first, also on an early way out.
TEST_F(Output, AServiceSetSectionLeadsWithItsNamesAndClosesAfterItsTable) {
    xml(true);
    {
        vorel_svc_set_section section(&ctx_, "per-set", "ms-1/0/0", "sset-a", "\n");
        vorel_section table(&ctx_, "table");
        for (int i = 0; i < 2; i++) {
            if (section.open())
                table.open();
            xml_send_all("row", "%d", i);
        }
    }
    EXPECT_EQ(xml_text(), "<per-set>\n  <interface-name>ms-1/0/0</interface-name>\n"
                          "  <service-set-name>sset-a</service-set-name>\n  <table>\n"
                          "    <row>0</row>\n    <row>1</row>\n  </table>\n</per-set>\n");
    EXPECT_EQ(xml_depth(), 0u);

    xml(false);
    testing::internal::CaptureStdout();
    {
        vorel_svc_set_section never(&ctx_, "per-set", "ms-1/0/0", "sset-b", "\n");
        vorel_svc_set_section section(&ctx_, "per-set", "ms-1/0/0", "sset-a", "columns\n");
        section.open();
        section.open();
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "PIC: ms-1/0/0, Service set: sset-a \ncolumns\n");
}

TEST_F(Output, ACountRowInTextAndAsAnElement) {
    xml(false);
    testing::internal::CaptureStdout();
    vorel_tally_entry(&ctx_, "ms-1/0/0", "sset-a", 4294967295u, "count-element", "flow-count");
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "ms-1/0/0        sset-a                                              4294967295\n");
    xml(true);
    vorel_tally_entry(&ctx_, "ms-1/0/0", "sset-a", 7, "count-element", "flow-count");
    EXPECT_EQ(xml_text(), "<count-element>\n  <interface-name>ms-1/0/0</interface-name>\n"
                          "  <service-set-name>sset-a</service-set-name>\n"
                          "  <flow-count>7</flow-count>\n</count-element>\n");
}

// A record read at an offset of a reply is decoded only when it is all
// there; otherwise the caller gets an empty record and false.
TEST(RecordRead, WholeRecordsOnly) {
    struct rec {
        uint32_t word = 0;
        vorel_addr addr;
    };
    auto decode = [](const vorel::ByteBlock<24> &b) {
        return rec{b.be32<0>(), vorel_addr_decode<4>(b)};
    };
    std::vector<uint8_t> bytes(30, 0);
    bytes[6] = 0x12;
    bytes[10] = 10;
    bytes[26] = 1; // the IPv6 flag of the address at 10
    vorel::ByteReader r(bytes);
    rec out;
    ASSERT_TRUE((vorel_record_read<24, rec>(r, 6, &out, +decode)));
    EXPECT_EQ(out.word, 0x12000000u);
    EXPECT_EQ(out.addr.words[0], 0x0a000000u);
    EXPECT_EQ(out.addr.is_v6, 1);
    out.word = 5;
    EXPECT_FALSE((vorel_record_read<24, rec>(r, 7, &out, +decode)));
    EXPECT_EQ(out.word, 0u);
}
