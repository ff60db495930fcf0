#include "vorel/vorel_capture_raw.h"

#include "platform/bytes.h"

#include <deque>
#include <vector>

bool capture_raw_header_write(FILE *f, const capture_raw_header &h) {
    uint8_t b[CAPTURE_RAW_HEADER_SIZE];
    for (int i = 0; i < 4; i++) {
        b[i] = static_cast<uint8_t>(h.word >> (8 * i));
        b[4 + i] = static_cast<uint8_t>(h.max_packet >> (8 * i));
    }
    b[8] = static_cast<uint8_t>(h.max_log_lines);
    b[9] = static_cast<uint8_t>(h.max_log_lines >> 8);
    b[10] = h.log_width;
    return std::fwrite(b, sizeof b, 1, f) == 1;
}

bool capture_raw_header_read(FILE *f, capture_raw_header *h) {
    uint8_t b[CAPTURE_RAW_HEADER_SIZE];
    if (std::fread(b, sizeof b, 1, f) != 1)
        return false;
    vorel::ByteReader r(b, sizeof b);
    h->word = r.le32(0);
    h->max_packet = r.le32(4);
    h->max_log_lines = r.le16(8);
    h->log_width = r.u8(10);
    return true;
}

size_t capture_encapsulation(const capture_record &rec) {
    auto byte = [&](size_t i) -> size_t { return i < rec.length ? rec.data[i] : 0; };
    if (rec.type == CAPTURE_TYPE_SERVICES_APP)
        return 0;
    if (rec.type == CAPTURE_TYPE_OUTPUT)
        return 4 + 4 * (byte(5) & 7);
    return 16 + 4 * (byte(17) & 7);
}

namespace {

// One record of the window, its buffers sized once from the header.
struct slot {
    uint32_t id = 0, time_ms = 0, length = 0;
    uint16_t type = 0, log_lines = 0;
    bool used = false; // shown already as the output of an input record
    std::vector<uint8_t> data, log;
};

enum class read_result { record, end, damaged };

read_result read_record(FILE *f, const capture_raw_header &h, slot &s) {
    uint8_t b[CAPTURE_RECORD_HEADER_SIZE];
    size_t n = std::fread(b, 1, sizeof b, f);
    if (n == 0 && std::feof(f))
        return read_result::end;
    if (n != sizeof b)
        return read_result::damaged;
    vorel::ByteBlock<CAPTURE_RECORD_HEADER_SIZE> r;
    vorel::ByteReader(b, sizeof b).block(0, r);
    s.id = r.be32<0>();
    s.time_ms = r.be32<4>();
    s.length = r.be32<8>();
    s.type = r.be16<12>();
    s.log_lines = r.be16<14>();
    s.used = false;
    if (s.length > h.max_packet || s.log_lines > h.max_log_lines)
        return read_result::damaged;
    size_t log_bytes = size_t{s.log_lines} * h.log_width;
    if (std::fread(s.data.data(), 1, s.length, f) != s.length ||
        std::fread(s.log.data(), 1, log_bytes, f) != log_bytes)
        return read_result::damaged;
    if (log_bytes)
        s.log[log_bytes - 1] = 0; // the last byte ends the text
    return read_result::record;
}

capture_record as_record(const slot &s, uint32_t seq, uint8_t width) {
    return {seq,         s.id,          s.time_ms,    s.length, s.type,
            s.log_lines, s.data.data(), s.log.data(), width,    s.type != CAPTURE_TYPE_OUTPUT};
}

} // namespace

int capture_raw_walk(FILE *f, capture_walk_fn fn, void *ctx, uint32_t *passed) {
    *passed = 0;
    capture_raw_header h;
    if (std::fseek(f, 0, SEEK_SET) != 0 || !capture_raw_header_read(f, &h))
        return -1;
    size_t log_size = size_t{h.max_log_lines} * h.log_width;
    if (h.max_packet > CAPTURE_MAX_PACKET || log_size > CAPTURE_MAX_LOG)
        return -1;

    // Slots are reused: the oldest goes to the back once it is shown.
    std::deque<slot> window;
    std::vector<slot> spare(CAPTURE_WINDOW);
    for (slot &s : spare) {
        s.data.resize(h.max_packet);
        s.log.resize(log_size);
    }
    bool at_end = false;
    auto refill = [&]() {
        while (!at_end && window.size() < CAPTURE_WINDOW) {
            slot s = std::move(spare.back());
            spare.pop_back();
            read_result r = read_record(f, h, s);
            if (r != read_result::record) {
                spare.push_back(std::move(s));
                at_end = true;
                if (r == read_result::damaged)
                    return false;
                break;
            }
            window.push_back(std::move(s));
        }
        return true;
    };

    uint32_t seq = 0;
    if (!refill())
        return -1;
    while (!window.empty()) {
        slot &oldest = window.front();
        capture_walk_answer answer = CAPTURE_CONTINUE;
        if (!oldest.used) {
            answer = fn(as_record(oldest, ++seq, h.log_width), ctx);
            ++*passed;
            // The output record of an input record is shown with it, even when
            // the callback has seen what it wanted.
            if (answer != CAPTURE_FAIL && oldest.type != CAPTURE_TYPE_OUTPUT) {
                for (size_t i = 1; i < window.size(); i++) {
                    slot &later = window[i];
                    if (later.id != oldest.id || later.used)
                        continue;
                    if (later.type != CAPTURE_TYPE_OUTPUT) {
                        std::printf("[%s] WARNING: expecting an output packet but we're handling "
                                    "an Input packet. Something is wrong! Aborting!!\n",
                                    "raw_capture_walk");
                        return -1;
                    }
                    answer = fn(as_record(later, 0, h.log_width), ctx);
                    later.used = true;
                    ++*passed;
                    break;
                }
            }
        }
        if (answer == CAPTURE_STOP)
            return 0;
        if (answer == CAPTURE_FAIL)
            return -1;
        spare.push_back(std::move(window.front()));
        window.pop_front();
        if (!refill())
            return -1;
    }
    return 0;
}
