// The raw capture file: its header, the walk's window that pairs an input
// record with its output record, and what a damaged file does.
#include "vorel/vorel_capture_raw.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

struct raw_file {
    std::vector<uint8_t> bytes;
    void header(uint32_t max_packet, uint16_t max_lines, uint8_t width) {
        FILE *f = tmpfile();
        capture_raw_header_write(f, {7, max_packet, max_lines, width});
        bytes.resize(CAPTURE_RAW_HEADER_SIZE);
        rewind(f);
        ASSERT_EQ(fread(bytes.data(), 1, bytes.size(), f), bytes.size());
        fclose(f);
    }
    void be(uint64_t v, int n) {
        for (int i = n - 1; i >= 0; i--)
            bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    void record(uint32_t id, uint16_t type, std::vector<uint8_t> data = {1, 2, 3},
                std::vector<std::string> logs = {}, uint8_t width = 0) {
        be(id, 4);
        be(1000 + id, 4);
        be(data.size(), 4);
        be(type, 2);
        be(logs.size(), 2);
        bytes.insert(bytes.end(), data.begin(), data.end());
        for (const std::string &l : logs) {
            std::string field = l;
            field.resize(width, '\0');
            bytes.insert(bytes.end(), field.begin(), field.end());
        }
    }
    FILE *open() { return fmemopen(bytes.data(), bytes.size(), "rb"); }
};

struct seen {
    std::vector<std::string> calls;
    capture_walk_answer answer = CAPTURE_CONTINUE;
};

capture_walk_answer note(const capture_record &r, void *ctx) {
    auto *s = static_cast<seen *>(ctx);
    s->calls.push_back(std::to_string(r.seq) + ":" + std::to_string(r.id) + ":" +
                       std::to_string(r.type));
    return s->answer;
}

// The calls a walk makes ("seq:id:type", seq 0 for a paired output record)
// and its result: an input record (type 1) is followed by its output record
// (type 4) wherever that is in the window of 32; a second input record in
// its place aborts the walk; a stop or a failure ends it after the pair.
TEST(CaptureRawFile, TheWindowPairsAnInputRecordWithItsOutputRecord) {
    // An input record, n other records, then its output record.
    auto apart = [](uint32_t n) {
        std::vector<std::pair<uint32_t, uint16_t>> records{{1, 1}};
        for (uint32_t i = 0; i < n; i++)
            records.push_back({100 + i, 0});
        records.push_back({1, 4});
        return records;
    };
    struct {
        std::vector<std::pair<uint32_t, uint16_t>> records;
        capture_walk_answer answer;
        int rc;
        std::vector<std::string> calls; // the first ones
        size_t count;
    } cases[] = {
        {{{1, 1}, {2, 1}, {1, 4}, {3, 0}, {2, 4}},
         CAPTURE_CONTINUE,
         0,
         {"1:1:1", "0:1:4", "2:2:1", "0:2:4", "3:3:0"},
         5},
        // The 32nd record is the last of the first record's window, the 33rd
        // is outside it.
        {apart(30), CAPTURE_CONTINUE, 0, {"1:1:1", "0:1:4", "2:100:0"}, 32},
        {apart(31), CAPTURE_CONTINUE, 0, {"1:1:1", "2:100:0"}, 33},
        {{{1, 1}, {1, 2}}, CAPTURE_CONTINUE, -1, {"1:1:1"}, 1},
        {{{1, 1}, {1, 4}, {2, 1}}, CAPTURE_STOP, 0, {"1:1:1", "0:1:4"}, 2},
        {{{1, 1}, {1, 4}, {2, 1}}, CAPTURE_FAIL, -1, {"1:1:1"}, 1}, // not asked about the output
    };
    for (const auto &c : cases) {
        raw_file r;
        r.header(64, 0, 0);
        for (auto [id, type] : c.records)
            r.record(id, type);
        FILE *f = r.open();
        seen s;
        s.answer = c.answer;
        uint32_t passed = 0;
        testing::internal::CaptureStdout();
        EXPECT_EQ(capture_raw_walk(f, note, &s, &passed), c.rc);
        std::string out = testing::internal::GetCapturedStdout();
        fclose(f);
        EXPECT_EQ(s.calls.size(), c.count);
        if (c.count == 33) {
            EXPECT_EQ(s.calls.back(), "33:1:4");
        }
        s.calls.resize(c.calls.size());
        EXPECT_EQ(s.calls, c.calls);
        if (c.records[1].second == 2) {
            EXPECT_EQ(out, "[raw_capture_walk] WARNING: expecting an output packet but we're "
                           "handling an Input packet. Something is wrong! Aborting!!\n");
        }
    }
}

TEST(CaptureRawFile, DamagedFilesEndTheWalkWithAFailure) {
    struct {
        const char *what;
        raw_file file;
    } cases[4];
    cases[0].what = "a record longer than the header allows";
    cases[0].file.header(2, 0, 0);
    cases[0].file.record(1, 0, {1, 2, 3});
    cases[1].what = "more log lines than the header allows";
    cases[1].file.header(64, 1, 4);
    cases[1].file.record(1, 0, {1}, {"a", "b"}, 4);
    cases[2].what = "a record cut short";
    cases[2].file.header(64, 0, 0);
    cases[2].file.record(1, 0, {1, 2, 3});
    cases[2].file.bytes.pop_back();
    cases[3].what = "a header that asks for more than a record may hold";
    cases[3].file.header(CAPTURE_MAX_PACKET + 1, 0, 0);
    for (auto &c : cases) {
        FILE *f = c.file.open();
        seen s;
        uint32_t passed = 0;
        EXPECT_EQ(capture_raw_walk(f, note, &s, &passed), -1) << c.what;
        fclose(f);
    }
}

} // namespace
