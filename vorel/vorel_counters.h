// Counter tables: the statistics pages of the commands are lists of
// counters, each at a fixed offset of a reply, shown as one XML leaf and,
// where the text shows one line per counter, one labelled text line.  A
// page is written as a table of vorel_counter rows and emitted by one
// function, so no page spells out its fetches one by one.
#pragma once

#include "platform/bytes.h"
#include "vorel/vorel_ctx.h"

#include <cstdint>
#include <initializer_list>
#include <span>

struct vorel_counter {
    const char *element;         // the XML leaf
    uint16_t offset;             // from the start of the reply
    uint8_t width = 4;           // 1, 2, 4 or 8 bytes, big-endian
    const char *label = nullptr; // the text line's label; null: no text line
    // Nonzero: the value shown is the sum of the counters at offset and at
    // plus (same width), as pages that add two of the PIC's counters do.
    uint16_t plus = 0;
    // Which of the replies handed to the emitter holds the counter (pages
    // made of several replies).
    uint8_t source = 0;
};

// The counter's value, 0 when its reply is too short or absent; a sum that
// would pass 64 bits stays at the largest value.
uint64_t vorel_counter_value(const vorel_counter &c, std::span<const vorel::ByteReader> sources);

struct vorel_counter_group {
    const char *element; // the group's XML element; null: the leaves go straight
                         // into the element that is open
    std::span<const vorel_counter> counters;
    const char *style = nullptr; // the element's style attribute; null: none
};

// Emits a group: in XML its element with one leaf per counter (the value
// in decimal); in text one line per labelled counter, made with text_fmt
// (one %s for the label, then one %llu for the value).  text_fmt null:
// nothing in text.
void vorel_counters_emit(const vorel_ctx *ctxt, const vorel_counter_group &group,
                         std::span<const vorel::ByteReader> sources, const char *text_fmt);
inline void vorel_counters_emit(const vorel_ctx *ctxt, const vorel_counter_group &group,
                                const vorel::ByteReader &reply, const char *text_fmt) {
    vorel_counters_emit(ctxt, group, std::span<const vorel::ByteReader>(&reply, 1), text_fmt);
}
