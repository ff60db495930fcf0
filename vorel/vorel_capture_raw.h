// The raw capture file: what a capture download writes and the packet
// display reads.
//
//   header, 11 bytes, little-endian (the routing engine's own order):
//     0 u32 capture word   4 u32 largest packet (L)   8 u16 most log lines (N)
//     10 u8 log-line width (W)
//   records, as the PIC sends them, big-endian:
//     0 u32 packet id   4 u32 time (ms)   8 u32 data length (<= L)
//     12 u16 type (4 output, 0 captured by the services application, else
//     input)   14 u16 log lines (<= N)   16 data, then W x lines of log text
//
// The walk pairs each input record with the output record of the same
// packet that follows it within a window of 32 records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

constexpr size_t CAPTURE_RAW_HEADER_SIZE = 11;
constexpr size_t CAPTURE_RECORD_HEADER_SIZE = 16;
constexpr size_t CAPTURE_WINDOW = 32;
// What a header may ask a reader to hold per record: larger sizes are a
// damaged file, not a reason to allocate.
constexpr uint32_t CAPTURE_MAX_PACKET = 1u << 20;
constexpr size_t CAPTURE_MAX_LOG = 1u << 20;

constexpr uint16_t CAPTURE_TYPE_SERVICES_APP = 0;
constexpr uint16_t CAPTURE_TYPE_OUTPUT = 4;

struct capture_raw_header {
    uint32_t word = 0;
    uint32_t max_packet = 0;
    uint16_t max_log_lines = 0;
    uint8_t log_width = 0;
};

bool capture_raw_header_write(FILE *f, const capture_raw_header &h);
bool capture_raw_header_read(FILE *f, capture_raw_header *h);

struct capture_record {
    uint32_t seq; // 1, 2, ... in file order; 0 for an output record shown
                  // after its input record
    uint32_t id;
    uint32_t time_ms;
    uint32_t length;
    uint16_t type;
    uint16_t log_lines;
    const uint8_t *data;
    const uint8_t *log; // log_lines x log_width bytes
    uint8_t log_width;
    bool input; // any type but output
};

// The callback's answer: stop (the walk succeeds), fail, or go on.
enum capture_walk_answer { CAPTURE_STOP = 0, CAPTURE_CONTINUE = 1, CAPTURE_FAIL = 2 };
using capture_walk_fn = capture_walk_answer (*)(const capture_record &rec, void *ctx);

// Walks the records of an open raw file from its start: 0, or -1 when the
// file is damaged (a header that asks too much, a record longer than the
// header allows, a short record), an input record is paired with another
// input record, or the callback failed.  *passed counts the records handed
// to the callback.
int capture_raw_walk(FILE *f, capture_walk_fn fn, void *ctx, uint32_t *passed);

// The bytes of the PIC's encapsulation in front of a packet: 16 plus 4 x
// (byte 17 & 7) for an input record, 4 plus 4 x (byte 5 & 7) for an output
// record, 0 for the services application's own.  May exceed the record's
// length: the caller then shows no data.
size_t capture_encapsulation(const capture_record &rec);
