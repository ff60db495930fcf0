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
    FILE *open() {
        FILE *f = tmpfile();
        fwrite(bytes.data(), 1, bytes.size(), f);
        rewind(f);
        return f;
    }
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

TEST(CaptureRawFile, TheHeaderIsWrittenLittleEndianAndReadBack) {
    raw_file r;
    r.header(0x01020304, 0x0506, 7);
    EXPECT_EQ(r.bytes, (std::vector<uint8_t>{7, 0, 0, 0, 4, 3, 2, 1, 6, 5, 7}));
    FILE *f = r.open();
    capture_raw_header h;
    ASSERT_TRUE(capture_raw_header_read(f, &h));
    EXPECT_EQ(h.max_packet, 0x01020304u);
    EXPECT_EQ(h.max_log_lines, 0x0506);
    EXPECT_EQ(h.log_width, 7);
    fclose(f);
}

TEST(CaptureRawFile, AnInputRecordIsFollowedByItsOutputRecordWhereverItIsInTheWindow) {
    raw_file r;
    r.header(64, 2, 8);
    r.record(1, 1);
    r.record(2, 1);
    r.record(1, 4);
    r.record(3, 0);
    r.record(2, 4);
    FILE *f = r.open();
    seen s;
    uint32_t passed = 0;
    EXPECT_EQ(capture_raw_walk(f, note, &s, &passed), 0);
    EXPECT_EQ(s.calls, (std::vector<std::string>{"1:1:1", "0:1:4", "2:2:1", "0:2:4", "3:3:0"}));
    EXPECT_EQ(passed, 5u);
    fclose(f);
}

TEST(CaptureRawFile, PairingBeyondTheWindowOf32IsNotMade) {
    raw_file r;
    r.header(64, 0, 0);
    r.record(1, 1);
    for (uint32_t i = 0; i < 31; i++)
        r.record(100 + i, 0);
    r.record(1, 4); // the 33rd record: outside the first record's window
    FILE *f = r.open();
    seen s;
    uint32_t passed = 0;
    EXPECT_EQ(capture_raw_walk(f, note, &s, &passed), 0);
    ASSERT_EQ(s.calls.size(), 33u);
    EXPECT_EQ(s.calls[1], "2:100:0");
    EXPECT_EQ(s.calls.back(), "33:1:4");
    fclose(f);
}

TEST(CaptureRawFile, AnInputRecordPairedWithAnotherInputRecordAbortsTheWalk) {
    raw_file r;
    r.header(64, 0, 0);
    r.record(1, 1);
    r.record(1, 2);
    FILE *f = r.open();
    seen s;
    uint32_t passed = 0;
    testing::internal::CaptureStdout();
    EXPECT_EQ(capture_raw_walk(f, note, &s, &passed), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "[raw_capture_walk] WARNING: expecting an output packet but we're handling an "
              "Input packet. Something is wrong! Aborting!!\n");
    fclose(f);
}

TEST(CaptureRawFile, StopAndFailAnswersEndTheWalkAfterThePairedOutput) {
    raw_file r;
    r.header(64, 0, 0);
    r.record(1, 1);
    r.record(1, 4);
    r.record(2, 1);
    for (capture_walk_answer a : {CAPTURE_STOP, CAPTURE_FAIL}) {
        FILE *f = r.open();
        seen s;
        s.answer = a;
        uint32_t passed = 0;
        EXPECT_EQ(capture_raw_walk(f, note, &s, &passed), a == CAPTURE_STOP ? 0 : -1);
        // A failing callback is not asked about the output record.
        EXPECT_EQ(s.calls.size(), a == CAPTURE_STOP ? 2u : 1u);
        fclose(f);
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

TEST(CaptureRawFile, LogTextEndsWithinItsLineAndEncapsulationNeverPassesTheData) {
    raw_file r;
    r.header(64, 1, 4);
    r.record(1, 0, {9}, {"abcd"}, 4);
    FILE *f = r.open();
    std::string log;
    auto keep = [](const capture_record &rec, void *ctx) {
        *static_cast<std::string *>(ctx) = reinterpret_cast<const char *>(rec.log);
        return CAPTURE_CONTINUE;
    };
    uint32_t passed = 0;
    EXPECT_EQ(capture_raw_walk(f, keep, &log, &passed), 0);
    EXPECT_EQ(log, "abc"); // the line's last byte is its end
    fclose(f);

    uint8_t data[20] = {};
    data[17] = 0xff; // 7 words of pseudo-header: 44 bytes, past the data
    capture_record in{1, 1, 0, sizeof data, 1, 0, data, nullptr, 0, true};
    EXPECT_EQ(capture_encapsulation(in), 16u + 28u);
    capture_record out{1, 1, 0, 5, 4, 0, data, nullptr, 0, false};
    EXPECT_EQ(capture_encapsulation(out), 4u); // byte 5 is not in a 5-byte record
}

} // namespace

// ---------------------------------------------------------------------------
// The download against a lab: the pcap file read back by libpcap, and a
// symbolic link planted where a capture file goes.

#include "lab_fixture.h"
#include "platform/tools.h"

#include <climits>
#include <pcap/pcap.h>
#include <unistd.h>

namespace {

std::string vorel_path() {
    char self[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return "vorel";
    self[n] = '\0';
    return std::filesystem::path(self).parent_path() / "vorel";
}

// An input record of 16 header bytes, a 12-byte pseudo-header (byte 1 says
// 3 words) and a 20-byte packet; its output record with 4 header bytes; a
// record of the services application; an output record shorter than its
// header.
const char *kCaptureScenario = R"(name: capture download
interfaces:
  - {index: 11, name: sp-1/1/0, type: 65, fpc: 1, pic: 1}
service_sets:
  - {name: s1, id: 1, pic: sp-1/1/0}
agents:
  - pic: sp-1/1/0
    rules:
      - match: {type: 252}
        reply:
          - {layout: capture_info_reply, fields: {word: 1, max_packet: 100, max_log_lines: 0, log_width: 0}}
        large_object:
          type: 254
          parts:
            - layout: capture_part
              fields:
                length: 64
                data: "00 00 00 07 00 00 04 d2 00 00 00 30 00 01 00 00
                       00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00
                       00 03 00 00 00 00 00 00 00 00 00 00
                       45 00 00 14 00 00 00 00 40 00 00 00 0a 00 00 01 0a 00 00 02"
            - layout: capture_part
              fields:
                length: 107
                data: "00 00 00 07 00 00 04 d3 00 00 00 24 00 04 00 00
                       00 00 00 00
                       00 03 00 00 00 00 00 00 00 00 00 00
                       45 00 00 14 00 00 00 00 40 00 00 00 0a 00 00 03 0a 00 00 02
                       00 00 00 08 00 01 86 a0 00 00 00 14 00 00 00 00
                       45 00 00 14 00 00 00 00 40 00 00 00 0a 00 00 04 0a 00 00 02
                       00 00 00 09 00 01 86 a1 00 00 00 03 00 04 00 00
                       aa bb cc"
)";

struct pcap_packet {
    long sec, usec;
    uint32_t caplen;
    std::vector<uint8_t> data;
};

std::vector<pcap_packet> read_pcap(const std::string &path, int *linktype) {
    char err[PCAP_ERRBUF_SIZE];
    std::vector<pcap_packet> out;
    pcap_t *p = pcap_open_offline(path.c_str(), err);
    if (!p)
        return out;
    *linktype = pcap_datalink(p);
    struct pcap_pkthdr *h;
    const u_char *d;
    while (pcap_next_ex(p, &h, &d) == 1)
        out.push_back({h->ts.tv_sec, h->ts.tv_usec, h->caplen, {d, d + h->caplen}});
    pcap_close(p);
    return out;
}

TEST(CaptureDownload, ThePcapFileHoldsThePacketsWithoutTheirEncapsulation) {
    vorel::test::LabRun run(kCaptureScenario);
    ASSERT_TRUE(run.started);
    const std::string name = "vorel-unit-capture-" + std::to_string(::getpid());
    vorel::ProgramResult r;
    ASSERT_TRUE(vorel::run_program({vorel_path(), "-C", "capture", "-S", "req_capture", "-F", name},
                                   1 << 16, r));
    EXPECT_NE(r.output.find("Total packets captured: 4\n"), std::string::npos) << r.output;
    int linktype = 0;
    auto packets = read_pcap("/var/tmp/" + name + ".pcap", &linktype);
    EXPECT_EQ(linktype, 12);
    ASSERT_EQ(packets.size(), 4u);
    // 1234 ms: 1 s and 234 000 us; the packet alone.
    EXPECT_EQ(packets[0].sec, 1);
    EXPECT_EQ(packets[0].usec, 234000);
    ASSERT_EQ(packets[0].caplen, 20u);
    EXPECT_EQ(packets[0].data[15], 1); // 10.0.0.1
    ASSERT_EQ(packets[1].caplen, 20u);
    EXPECT_EQ(packets[1].data[15], 3);
    // The services application's own record is written whole.
    EXPECT_EQ(packets[2].sec, 100);
    ASSERT_EQ(packets[2].caplen, 20u);
    EXPECT_EQ(packets[2].data[15], 4);
    // Shorter than its encapsulation: no data.
    EXPECT_EQ(packets[3].caplen, 0u);
    ::unlink(("/var/tmp/" + name + ".raw").c_str());
    ::unlink(("/var/tmp/" + name + ".pcap").c_str());
}

TEST(CaptureDownload, ALinkPlantedWhereTheRawFileGoesIsNotFollowed) {
    vorel::test::LabRun run(kCaptureScenario);
    ASSERT_TRUE(run.started);
    const std::string name = "vorel-unit-link-" + std::to_string(::getpid());
    const std::string raw = "/var/tmp/" + name + ".raw";
    std::string target = run.dir.file("target", "precious\n");
    ASSERT_EQ(::symlink(target.c_str(), raw.c_str()), 0);
    vorel::ProgramResult r;
    ASSERT_TRUE(vorel::run_program({vorel_path(), "-C", "capture", "-S", "req_capture", "-F", name},
                                   1 << 16, r));
    EXPECT_EQ(r.output, "");
    std::ifstream in(target);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "precious\n");
    // The display refuses to read through it too.
    ASSERT_TRUE(vorel::run_program(
        {vorel_path(), "-C", "capture", "-S", "dump_capture", "-F", name}, 1 << 16, r));
    EXPECT_EQ(r.output, "");
    ::unlink(raw.c_str());
}

} // namespace
