// The shared output pieces every action uses: record sections, counter
// tables, and the checked reads of fixed records.
#include "platform/bytes.h"
#include "platform/xml.h"
#include "vorel/vorel_counters.h"
#include "vorel/vorel_section.h"

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

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
